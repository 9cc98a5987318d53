// The settings file as bytes: finding, reading and rewriting one key=value line.
#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Far more than nine ports and an operator's comments ever take.
constexpr qint64 MaxSettingsBytes = 1 << 20;
const QByteArray Bom("\xEF\xBB\xBF");

struct Line {
    qsizetype start;
    qsizetype contentEnd; // before the CR/LF
    qsizetype end;        // after the CR/LF
};

QList<Line> linesOf(const QByteArray& text) {
    QList<Line> lines;
    qsizetype start = text.startsWith(Bom) ? Bom.size() : 0;
    while (start < text.size()) {
        const qsizetype newline = text.indexOf('\n', start);
        const qsizetype end = newline < 0 ? text.size() : newline + 1;
        qsizetype contentEnd = newline < 0 ? text.size() : newline;
        if (contentEnd > start && text.at(contentEnd - 1) == '\r')
            --contentEnd;
        lines.append({start, contentEnd, end});
        start = end;
    }
    return lines;
}

// Where a key is, or where it goes: the first line with the key in any section of that name,
// else after the last non-blank line of the first such section.
struct Place {
    qsizetype keyLine = -1;
    qsizetype insertAfter = -1; // -1: no section of that name
    qsizetype equals = -1;      // offset of the key line's '='
};

Place find(const QByteArray& text, const QList<Line>& lines, const QString& section, const QString& key) {
    const QByteArray header = '[' + section.toUtf8() + ']';
    const QByteArray wantedKey = key.toUtf8();
    Place place;
    bool inSection = false;
    int sectionsSeen = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray content = text.mid(lines[i].start, lines[i].contentEnd - lines[i].start);
        const QByteArray trimmed = content.trimmed();
        if (trimmed.startsWith('[')) {
            inSection = trimmed == header;
            if (inSection && ++sectionsSeen == 1)
                place.insertAfter = i;
            continue;
        }
        if (!inSection)
            continue;
        if (sectionsSeen == 1 && !trimmed.isEmpty())
            place.insertAfter = i;
        const qsizetype equals = content.indexOf('=');
        if (equals >= 0 && content.left(equals).trimmed() == wantedKey) {
            place.keyLine = i;
            place.equals = lines[i].start + equals;
            return place;
        }
    }
    return place;
}

QByteArray lineEndOf(const QByteArray& text) {
    const qsizetype newline = text.indexOf('\n');
    return newline > 0 && text.at(newline - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}
} // namespace

SettingsText::SettingsText(QByteArray bytes)
    : text(std::move(bytes)) {}

QString SettingsText::value(const QString& section, const QString& key) const {
    const QList<Line> lines = linesOf(text);
    const Place place = find(text, lines, section, key);
    if (place.keyLine < 0)
        return QString();
    const Line& line = lines[place.keyLine];
    const QByteArray value = text.mid(place.equals + 1, line.contentEnd - place.equals - 1).trimmed();
    // Values are device paths: decoded as file names are. An empty value is still a value.
    return value.isEmpty() ? QString(0, QChar()) : QFile::decodeName(value);
}

bool SettingsText::setValue(const QString& section, const QString& key, const QString& value) {
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return false;
    const QByteArray entry = key.toUtf8() + '=' + QFile::encodeName(value);
    const QByteArray lineEnd = lineEndOf(text);
    const QList<Line> lines = linesOf(text);
    const Place place = find(text, lines, section, key);
    if (place.keyLine >= 0) {
        const Line& line = lines[place.keyLine];
        text.replace(line.start, line.contentEnd - line.start, entry);
    } else if (place.insertAfter >= 0) {
        const Line& line = lines[place.insertAfter];
        const bool ended = line.end > line.contentEnd;
        text.insert(line.end, (ended ? QByteArray() : lineEnd) + entry + lineEnd);
    } else {
        QByteArray added;
        if (!lines.isEmpty()) {
            const Line& last = lines.last();
            if (last.end == last.contentEnd)
                added += lineEnd;
            // A blank line between the operator's last section and ours, as a hand-written file has.
            if (!text.mid(last.start, last.contentEnd - last.start).trimmed().isEmpty())
                added += lineEnd;
        }
        text += added + '[' + section.toUtf8() + ']' + lineEnd + entry + lineEnd;
    }
    return true;
}

bool loadSettingsText(const QString& file, SettingsText& settings, QString& error) {
    QFile existing(file);
    if (!existing.exists()) {
        settings = SettingsText();
        return true;
    }
    // Opened without waiting and read only when it is a plain file of a sensible size: a FIFO
    // or a link to a device put in its place must not hold the program at start-up. A serial
    // device is not even opened (opening raises its DTR line).
    struct stat entry {};
    if (::stat(QFile::encodeName(file).constData(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        error = QStringLiteral("it is not a regular file");
        return false;
    }
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat seen {};
    if (fd < 0 || ::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode) || seen.st_size > MaxSettingsBytes) {
        error = fd < 0                   ? QString::fromLocal8Bit(std::strerror(errno))
                : !S_ISREG(seen.st_mode) ? QStringLiteral("it is not a regular file")
                                         : QStringLiteral("it is larger than any settings file");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (!existing.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = existing.errorString();
        ::close(fd);
        return false;
    }
    settings = SettingsText(existing.read(MaxSettingsBytes));
    return true;
}

bool saveSettingsText(const QString& file, const SettingsText& settings, QString& error) {
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        error = QStringLiteral("its folder cannot be made");
        return false;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        error = out.errorString();
        return false;
    }
    if (out.write(settings.bytes()) != settings.bytes().size() || !out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

QString readSettingsValue(const QString& file, const QString& section, const QString& key) {
    SettingsText settings;
    QString ignored;
    if (!loadSettingsText(file, settings, ignored))
        return QString();
    return settings.value(section, key);
}

SettingsLock::SettingsLock(const QString& file) {
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return;
    lock = std::make_unique<QLockFile>(file + QStringLiteral(".lock"));
    if (!lock->tryLock(3000))
        lock.reset();
}

SettingsLock::~SettingsLock() = default;

bool storeSettingsValue(const QString& file, const QString& section, const QString& key, const QString& value,
                        QString& error) {
    const SettingsLock held(file);
    SettingsText settings;
    if (!loadSettingsText(file, settings, error))
        return false;
    if (!settings.setValue(section, key, value)) {
        error = QStringLiteral("the value for %1 holds a line break").arg(key);
        return false;
    }
    return saveSettingsText(file, settings, error);
}

qint16 storedPortNumber(const QString& settingsFile) {
    QString text = readSettingsValue(settingsFile, QStringLiteral("Settings"), QStringLiteral("COM-Port"));
    if (text.isNull())
        text = QStringLiteral("0");
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,2}$"));
    if (!digits.match(text).hasMatch())
        return 0;
    const int value = text.toInt();
    return value <= 9 ? qint16(value) : qint16(0);
}
