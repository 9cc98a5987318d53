// The verdicts of the port checks and what a report of them sums up to.
#include "PortCheck.h"

#include <algorithm>

QString PortCheck::statusName(Status status) {
    switch (status) {
    case Status::Ok:
        return QStringLiteral("ok");
    case Status::Problem:
        return QStringLiteral("problem");
    case Status::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

bool PortReport::usable() const {
    return std::none_of(checks.cbegin(), checks.cend(),
                        [](const PortCheck& check) { return check.status == PortCheck::Status::Problem; });
}

const PortCheck* PortReport::find(const QString& name) const {
    for (const PortCheck& check : checks)
        if (check.name == name)
            return &check;
    return nullptr;
}

QString PortReport::firstCause() const {
    for (const PortCheck& check : checks)
        if (check.status == PortCheck::Status::Problem && !check.cause.isEmpty())
            return check.cause;
    return QString();
}
