// The settings file as bytes: finding, reading and rewriting one key=value line.
#include "SettingsFile.h"

#include "SafeFileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {
// Far more than nine ports and an operator's comments ever take.
constexpr qsizetype MaxSettingsBytes = 1 << 20;

QString notRegularText() {
    return QStringLiteral("it is not a regular file");
}

QString oversizeText() {
    return QStringLiteral("it is larger than 1 MiB");
}
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

namespace {
QString systemError() {
    return systemErrorText(errno);
}

// The file's bytes, read only when it is a plain file of a sensible size: a FIFO or a link to a
// device put in its place must not hold the program at start-up (nor a sparse giant fill its
// memory). A device is not even opened: opening a serial device raises its DTR line.
bool readSettingsBytes(const QByteArray& path, QByteArray& bytes, QString& error) {
    struct stat named {};
    if (::stat(path.constData(), &named) != 0) {
        if (errno == ENOENT)
            return true; // no file yet (a link to nothing counts as none): no settings, nothing wrong
        error = systemError();
        return false;
    }
    if (!S_ISREG(named.st_mode)) {
        error = notRegularText();
        return false;
    }
    if (named.st_size > MaxSettingsBytes) {
        error = oversizeText();
        return false;
    }
    // Without waiting, and checked again once open: the name may have been swapped meanwhile.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError();
        return false;
    }
    struct stat seen {};
    if (::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode) || seen.st_size > MaxSettingsBytes) {
        error = !S_ISREG(seen.st_mode) ? notRegularText() : oversizeText();
        ::close(fd);
        return false;
    }
    // Bounded even when the file grows while it is read.
    bytes.resize(MaxSettingsBytes + 1);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t part = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (part < 0 && errno == EINTR)
            continue;
        if (part < 0) {
            error = systemError();
            ::close(fd);
            bytes.clear();
            return false;
        }
        if (part == 0)
            break;
        got += part;
    }
    ::close(fd);
    bytes.truncate(got);
    if (got > MaxSettingsBytes) {
        error = oversizeText();
        bytes.clear();
        return false;
    }
    return true;
}
} // namespace

QString defaultSettingsFile() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid and must be ignored, as for every XDG base directory.
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Kestrune_Update_Utility/Kestrune_Update_Utility.ini");
}

bool loadSettingsText(const QString& file, SettingsText& settings, QString& error) {
    QByteArray bytes;
    const bool read = readSettingsBytes(QFile::encodeName(file), bytes, error);
    settings = SettingsText(bytes);
    return read;
}

QString settingsFileNote(const QString& file) {
    SettingsText ignored;
    QString why;
    if (loadSettingsText(file, ignored, why))
        return QString();
    return QStringLiteral("The settings file %1 cannot be used: %2; no settings are used.")
        .arg(QDir::toNativeSeparators(file), why);
}

bool saveSettingsText(const QString& file, const SettingsText& settings, QString& error) {
    if (settings.bytes().size() > MaxSettingsBytes) {
        error = QStringLiteral("the settings would be larger than 1 MiB");
        return false;
    }
    QByteArray target = QFile::encodeName(file);
    // An operator who keeps the file elsewhere and links it here keeps the link: the new
    // content replaces the file the link leads to. The temporary file is never opened through
    // a link.
    struct stat named {};
    if (::lstat(target.constData(), &named) == 0 && S_ISLNK(named.st_mode)) {
        char* resolved = ::realpath(target.constData(), nullptr);
        if (resolved == nullptr) {
            error = errno == ENOENT ? QStringLiteral("it is a symbolic link to a file that does not exist")
                                    : systemError();
            return false;
        }
        target = QByteArray(resolved);
        std::free(resolved);
    } else if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        error = QStringLiteral("its folder cannot be made");
        return false;
    }
    return writeFileWhole(target, settings.bytes(), error);
}

QString readSettingsValue(const QString& file, const QString& section, const QString& key, QString* note) {
    SettingsText settings;
    QString why;
    if (!loadSettingsText(file, settings, why)) {
        if (note != nullptr)
            *note = why;
        return QString();
    }
    return settings.value(section, key);
}

namespace {
// Long enough for another front end's read-change-write of a small file, short enough that an
// operator never waits on a lock left by a stopped process.
constexpr qint64 LockWaitNanoseconds = 3'000'000'000;
constexpr useconds_t LockRetryMicroseconds = 10'000;

qint64 monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
} // namespace

// A lock on a file of our own beside the settings file, opened without waiting: whatever stands
// in its place (a FIFO, a link to a device, a folder) must neither hold nor feed the program, so
// anything but a regular file is gone without. The file stays when the lock is let go: removing
// it would let a third program lock a new file of that name while the second one holds the old.
SettingsLock::SettingsLock(const QString& file) {
    // A settings file that is never written (not a plain file, too large) needs no lock, and its
    // folder is left as the operator has it.
    struct stat named {};
    if (::stat(QFile::encodeName(file).constData(), &named) == 0 &&
        (!S_ISREG(named.st_mode) || named.st_size > MaxSettingsBytes))
        return;
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return;
    const QByteArray path = QFile::encodeName(file) + ".lock";
    int opened = -1;
    do
        opened =
            ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    while (opened < 0 && errno == EINTR);
    if (opened < 0)
        return;
    struct stat seen {};
    if (::fstat(opened, &seen) != 0 || !S_ISREG(seen.st_mode)) {
        ::close(opened);
        return;
    }
    const qint64 deadline = monotonicNanoseconds() + LockWaitNanoseconds;
    for (;;) {
        if (::flock(opened, LOCK_EX | LOCK_NB) == 0) {
            fd = opened;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || monotonicNanoseconds() >= deadline)
            break;
        ::usleep(LockRetryMicroseconds);
    }
    ::close(opened);
}

SettingsLock::~SettingsLock() {
    // Closing the only descriptor lets the lock go.
    if (fd >= 0)
        ::close(fd);
}

bool storeSettingsValue(const QString& file, const QString& section, const QString& key, const QString& value,
                        QString& error) {
    const SettingsLock held(file);
    SettingsText settings;
    // A file that cannot be read (not a plain file, too large) is never written over.
    if (!loadSettingsText(file, settings, error))
        return false;
    const QByteArray before = settings.bytes();
    if (!settings.setValue(section, key, value)) {
        error = QStringLiteral("the value for %1 holds a line break").arg(key);
        return false;
    }
    // Nothing to change is nothing to write: a file the operator made read-only to pin the
    // port stays untouched and raises no complaint.
    struct stat existing {};
    if (settings.bytes() == before && ::stat(QFile::encodeName(file).constData(), &existing) == 0)
        return true;
    return saveSettingsText(file, settings, error);
}

qint16 storedPortNumber(const QString& settingsFile, QString* note) {
    QString text =
        readSettingsValue(settingsFile, QStringLiteral("Settings"), QStringLiteral("COM-Port"), note);
    if (text.isNull())
        text = QStringLiteral("0");
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,2}$"));
    if (!digits.match(text).hasMatch())
        return 0;
    const int value = text.toInt();
    return value <= 9 ? qint16(value) : qint16(0);
}
