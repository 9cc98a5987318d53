#include "IniValue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {
bool isSectionHeader(const QString& line) {
    const QString trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
}

QString keyOf(const QString& line) {
    const int equals = line.indexOf(QLatin1Char('='));
    return equals < 0 ? QString() : line.left(equals).trimmed();
}
} // namespace

bool storeIniValue(const QString& file, const QString& section, const QString& key, const QString& value,
                   QString& error) {
    QStringList lines;
    QFile existing(file);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly)) {
            error = existing.errorString();
            return false;
        }
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
        existing.close();
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }

    const QString header = QLatin1Char('[') + section + QLatin1Char(']');
    const QString entry = key + QLatin1Char('=') + value;
    int sectionAt = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed() == header) {
            sectionAt = i;
            break;
        }
    if (sectionAt < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << header << entry;
    } else {
        int insertAt = sectionAt + 1;
        bool replaced = false;
        for (int i = sectionAt + 1; i < lines.size() && !isSectionHeader(lines[i]); ++i) {
            if (keyOf(lines[i]) == key) {
                lines[i] = entry;
                replaced = true;
                break;
            }
            if (!lines[i].trimmed().isEmpty())
                insertAt = i + 1;
        }
        if (!replaced)
            lines.insert(insertAt, entry);
    }

    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        error = QStringLiteral("its folder cannot be made");
        return false;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        error = out.errorString();
        return false;
    }
    out.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}
