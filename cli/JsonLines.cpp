// The station's JSON Lines: a record entry per finished update, flushed at once.
#include "JsonLines.h"

#include "UpdateRecord.h"

#include <QJsonDocument>

void JsonLines::finished(int port, const SessionReport& report) {
    const UpdateRecordEntry entry =
        updateRecordEntry(report, RecordFrontEnd::CommandLine, ports[port].label, ports[port].device);
    out.write(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n');
    out.flush();
}
