#pragma once

#include "UpdateEngine.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <sys/types.h>

// The record of updates: one JSON object per line for every finished session, appended by
// every front end to the same file, so a bench can tell afterwards what was written where.

namespace RecordFrontEnd {
inline const QString Window = QStringLiteral("window");
inline const QString CommandLine = QStringLiteral("command-line");
} // namespace RecordFrontEnd

struct UpdateRecordEntry {
    QDateTime time; // when the session ended, written in UTC
    QString frontEnd;
    QString port;   // as the front end names it: "COM3", or a device path
    QString device; // the device the port stands for
    QString imagePath;
    qint64 bytes = 0;
    int sectors = 0;
    QString sha256; // of the image file, hex
    QString module; // the module's type answer, empty when none came
    int restarts = 0;
    double seconds = 0;
    QString result; // resultName() of the outcome
    QString message;

    QJsonObject toJson() const;
};

// success, failed, no-module, port-error, line-lost, interrupted; image-refused for a session
// that ended before sending because its image could not be sent; none for a session that
// never ended (not written by the front ends).
QString resultName(SessionOutcome outcome);

UpdateRecordEntry updateRecordEntry(const SessionReport& report, const QString& frontEnd, const QString& port,
                                    const QString& device,
                                    const QDateTime& time = QDateTime::currentDateTimeUtc());

// $XDG_STATE_HOME/Kestrune_Update_Utility/updates.jsonl; ~/.local/state/... when the variable
// is unset, empty or not an absolute path.
QString defaultRecordFile();

// Appends the entry as one line, making the folder when it is missing. The record is only ever
// appended to, by every front end at once: the line goes out in append mode under an exclusive
// lock on the file (given up after 5 s), so sessions that end at the same moment (several ports
// of the command line, the window beside it) never interleave their lines. It always starts on
// a line of its own, and it is flushed to disk before this returns. A line that does not go out
// whole (a full disk) is cut off again, so the record keeps its old bytes. Only a regular file
// (or a symbolic link to one) is opened. False, with the reason alone ("No space left on
// device", "it is not a regular file"), when the record cannot be written.
bool appendUpdateRecord(const QString& file, const UpdateRecordEntry& entry, QString& error);
// The same, the line's bytes going out through `put` (with ::write's contract) instead of
// ::write: how a test cuts a line short while another writer appends.
using RecordWrite = std::function<ssize_t(int fd, const char* data, size_t length)>;
bool appendUpdateRecord(const QString& file, const UpdateRecordEntry& entry, QString& error,
                        const RecordWrite& put);
