// Whether the device opens now: a plain non-blocking open and close, nothing set on the line.
#include "LocalChecks.h"

#include "SerialPortControl.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

PortCheck openCheck(const DeviceFacts& facts, bool held) {
    PortCheck check{QStringLiteral("opens"), PortCheck::Status::Ok, QString(), QString(), QString()};
    if (held) {
        check.status = PortCheck::Status::Unknown;
        check.text = QStringLiteral("not tried: another program holds it");
        return check;
    }
    // Made a line of this program, the own terminal would take the keyboard.
    if (SerialPortControl::isOwnTerminal(facts.resolved)) {
        check.status = PortCheck::Status::Problem;
        check.text = QStringLiteral("not tried: %1 is this program's own terminal").arg(facts.resolved);
        check.fix = QStringLiteral("give the port of a module");
        check.cause = QStringLiteral("it is this program's own terminal");
        return check;
    }
    // O_NOCTTY: the line must not become this process's terminal; O_NONBLOCK: a modem line
    // without carrier must not hold the open. The close sets nothing either.
    const int fd =
        ::open(QFile::encodeName(facts.resolved).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        check.status = PortCheck::Status::Problem;
        check.text = QStringLiteral("it does not open now: %1").arg(why);
        check.fix = errno == EIO ? QStringLiteral("no hardware answers behind this device: check the adapter "
                                                  "or the board's serial port")
                                 : QStringLiteral("see the checks above");
        check.cause = QStringLiteral("it does not open: %1").arg(why);
        return check;
    }
    ::close(fd);
    check.text = QStringLiteral("it opens now");
    return check;
}
