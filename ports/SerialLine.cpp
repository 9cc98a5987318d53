// Whether a path is a serial line, told from its device number and sysfs without opening it.
#include "SerialLine.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
constexpr unsigned FirstPtySlaveMajor = 136;
constexpr unsigned LastPtySlaveMajor = 143;
constexpr unsigned VirtualConsoleMajor = 4;
constexpr unsigned FirstSerialMinorOfMajor4 = 64; // below it, major 4 are the virtual consoles

SerialLineVerdict notSerial(const QString& what) {
    return {false, what};
}

// Devices that are terminals or data sources everywhere but never a line to a module: a
// made-up or odd sysfs tree must not turn them into one.
bool knownNonLine(unsigned major, unsigned minor, QString& what) {
    const auto named = [&what](const char* path, const char* kind) {
        what = QStringLiteral("%1 (%2)").arg(QLatin1String(path), QLatin1String(kind));
        return true;
    };
    if (major == 1 && minor == 3)
        return named("/dev/null", "not a serial line");
    if (major == 1 && minor == 5)
        return named("/dev/zero", "not a serial line");
    if (major == 5 && minor == 0)
        return named("/dev/tty", "the controlling terminal, not a serial line");
    if (major == 5 && minor == 1)
        return named("/dev/console", "the system console, not a serial line");
    if (major == 5 && minor == 2)
        return named("/dev/ptmx", "the pseudo-terminal multiplexer, not a serial line");
    if (major == VirtualConsoleMajor && minor < FirstSerialMinorOfMajor4) {
        what = QStringLiteral("a virtual console (tty%1), not a serial line").arg(minor);
        return true;
    }
    return false;
}

QString kindOf(const QString& name) {
    if (name.startsWith(QLatin1String("ttyUSB")))
        return QStringLiteral("a USB serial adapter (%1)").arg(name);
    if (name.startsWith(QLatin1String("ttyACM")))
        return QStringLiteral("a USB ACM adapter (%1)").arg(name);
    if (name.startsWith(QLatin1String("ttyS")))
        return QStringLiteral("a UART (%1)").arg(name);
    return QStringLiteral("a serial line (%1)").arg(name);
}

// A character device by its sysfs entry: a tty with a device behind it is a line; a tty
// without one is a virtual terminal; anything else is some other driver's device.
SerialLineVerdict judgeBySysfs(unsigned major, unsigned minor, const QString& sysRoot) {
    const QString number = QStringLiteral("%1:%2").arg(major).arg(minor);
    const QFileInfo entry(sysRoot + QStringLiteral("/dev/char/") + number);
    const QString folder = entry.canonicalFilePath();
    if (folder.isEmpty())
        return notSerial(
            QStringLiteral("a character device (%1) unknown to sysfs, not a serial line").arg(number));
    const QString name = QFileInfo(folder).fileName();
    if (!QFileInfo::exists(sysRoot + QStringLiteral("/class/tty/") + name))
        return notSerial(QStringLiteral("a character device (%1) that is not a terminal").arg(name));
    if (!QFileInfo::exists(folder + QStringLiteral("/device")))
        return notSerial(QStringLiteral("a virtual terminal (%1), not a serial line").arg(name));
    return {true, kindOf(name)};
}

QString fileKind(mode_t mode) {
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a device");
}
} // namespace

SerialLineVerdict judgeSerialLine(const QString& path, const QString& sysRoot) {
    const QByteArray name = QFile::encodeName(path);
    struct stat seen {};
    if (name.isEmpty() || ::stat(name.constData(), &seen) != 0) {
        const int error = name.isEmpty() ? ENOENT : errno;
        if (error == ENOENT || error == ENOTDIR)
            return notSerial(QStringLiteral("does not exist"));
        return notSerial(
            QStringLiteral("cannot be looked at (%1)").arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    if (!S_ISCHR(seen.st_mode))
        return notSerial(fileKind(seen.st_mode));
    const unsigned major = ::major(seen.st_rdev);
    const unsigned minor = ::minor(seen.st_rdev);
    if (major >= FirstPtySlaveMajor && major <= LastPtySlaveMajor)
        return {true, QStringLiteral("a pseudo-terminal")};
    QString what;
    if (knownNonLine(major, minor, what))
        return notSerial(what);
    return judgeBySysfs(major, minor, sysRoot);
}
