// Which paths are serial lines: character devices that the kernel lists as terminals.
#include "SerialLineStandIn.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

SerialLineVerdict judgeSerialLine(const QString& path, const QString& sysRoot) {
    struct stat seen {};
    if (::stat(QFile::encodeName(path).constData(), &seen) != 0)
        return {false, QStringLiteral("nothing (it does not exist)")};
    if (S_ISREG(seen.st_mode))
        return {false, QStringLiteral("a regular file")};
    if (S_ISDIR(seen.st_mode))
        return {false, QStringLiteral("a folder")};
    if (S_ISFIFO(seen.st_mode))
        return {false, QStringLiteral("a FIFO")};
    if (!S_ISCHR(seen.st_mode))
        return {false, QStringLiteral("not a character device")};
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.startsWith(QStringLiteral("/dev/pts/")))
        return {true, QStringLiteral("a pseudo-terminal")};
    const QString name = QFileInfo(real).fileName();
    if (!QFileInfo::exists(sysRoot + QStringLiteral("/class/tty/") + name + QStringLiteral("/device")))
        return {false, QStringLiteral("a character device that is no serial line")};
    return {true, QStringLiteral("a serial line (%1)").arg(name)};
}
