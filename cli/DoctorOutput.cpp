// --doctor's output: a block of check lines a port on a terminal, or one JSON document.
#include "DoctorOutput.h"

#include "OutputStream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {
constexpr int StatusWidth = 8;
constexpr int NameWidth = 14;

QString headingLine(const DoctorHeading& heading) {
    return heading.underSudo
               ? QStringLiteral("Checked for %1 (SUDO_USER: run under sudo, so every process is seen); "
                                "COM numbers from %2\n")
                     .arg(heading.user, heading.settingsFile)
               : QStringLiteral("Checked for %1; COM numbers from %2\n")
                     .arg(heading.user, heading.settingsFile);
}
} // namespace

void writeDoctorText(const DoctorHeading& heading, const QList<PortReport>& reports, OutputStream& out) {
    out.write(headingLine(heading));
    const QString indent(2 + StatusWidth + 1 + NameWidth + 1, QLatin1Char(' '));
    for (const PortReport& report : reports) {
        // Joined, not put through arg(): a path may hold a '%'.
        out.write(QStringLiteral("\n") + report.port + QStringLiteral("  ") + report.device +
                  QLatin1Char('\n'));
        for (const PortCheck& check : report.checks) {
            out.write(QStringLiteral("  ") + PortCheck::statusName(check.status).leftJustified(StatusWidth) +
                      QLatin1Char(' ') + check.name.leftJustified(NameWidth) + QLatin1Char(' ') + check.text +
                      QLatin1Char('\n'));
            if (!check.fix.isEmpty())
                out.write(indent + QStringLiteral("fix: ") + check.fix + QLatin1Char('\n'));
        }
    }
    QStringList usable, unusable;
    for (const PortReport& report : reports)
        if (report.counts)
            (report.usable() ? usable : unusable) << report.port;
    out.write(QStringLiteral("\nUsable: %1; not usable: %2\n")
                  .arg(usable.isEmpty() ? QStringLiteral("none") : usable.join(QStringLiteral(", ")),
                       unusable.isEmpty() ? QStringLiteral("none") : unusable.join(QStringLiteral(", "))));
}

void writeDoctorJson(const DoctorHeading& heading, const QList<PortReport>& reports, OutputStream& out) {
    QJsonArray ports;
    for (const PortReport& report : reports) {
        QJsonArray checks;
        for (const PortCheck& check : report.checks)
            checks.append(QJsonObject{{QStringLiteral("name"), check.name},
                                      {QStringLiteral("status"), PortCheck::statusName(check.status)},
                                      {QStringLiteral("text"), check.text},
                                      {QStringLiteral("fix"), check.fix}});
        ports.append(QJsonObject{{QStringLiteral("port"), report.port},
                                 {QStringLiteral("device"), report.device},
                                 {QStringLiteral("usable"), report.usable()},
                                 {QStringLiteral("counted"), report.counts},
                                 {QStringLiteral("checks"), checks}});
    }
    const bool usable = std::all_of(reports.cbegin(), reports.cend(), [](const PortReport& report) {
        return !report.counts || report.usable();
    });
    const QJsonObject document{{QStringLiteral("user"), heading.user},
                               {QStringLiteral("sudo"), heading.underSudo},
                               {QStringLiteral("settings"), heading.settingsFile},
                               {QStringLiteral("usable"), usable},
                               {QStringLiteral("ports"), ports}};
    out.write(QJsonDocument(document).toJson(QJsonDocument::Indented));
}
