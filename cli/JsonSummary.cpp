// The JSON document of a one-shot run with --json.
#include "JsonSummary.h"

#include "ConsoleText.h"
#include "UpdateRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

JsonSummary::JsonSummary(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out)
    : image(image)
    , out(out)
    , ports(ports)
    , reports(ports.size()) {}

void JsonSummary::end() {
    QJsonArray results;
    for (int i = 0; i < ports.size(); ++i) {
        const SessionReport& report = reports[i];
        results.append(QJsonObject{
            {QStringLiteral("port"), ports[i].label},
            {QStringLiteral("device"), ports[i].device},
            {QStringLiteral("result"), resultName(report.outcome)},
            {QStringLiteral("module"), report.module},
            {QStringLiteral("restarts"), report.restarts},
            {QStringLiteral("seconds"), qRound64(report.seconds * 1000) / 1000.0},
            {QStringLiteral("message"), ConsoleText::oneLine(report.message)},
        });
    }
    const QJsonObject imageObject{
        {QStringLiteral("path"), image.path()},
        {QStringLiteral("bytes"), image.fileBytes()},
        {QStringLiteral("sectors"), image.sectorCount()},
        {QStringLiteral("sha256"), QString::fromLatin1(image.sha256())},
    };
    const QJsonDocument document(
        QJsonObject{{QStringLiteral("image"), imageObject}, {QStringLiteral("ports"), results}});
    out.write(document.toJson(QJsonDocument::Indented));
    out.flush();
}
