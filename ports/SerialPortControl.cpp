// The serial control over QSerialPort: opening with reasons, held-back output, a lost line.
#include "SerialPortControl.h"

#include "EventPass.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The controlling terminal's device number, from the process's own status line (field 7,
// after the command name in parentheses, which may hold blanks); 0 when it has none.
dev_t controllingTerminal() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // state, ppid, pgrp, session, tty_nr
    return fields.size() > 4 ? dev_t(fields[4].toLongLong()) : 0;
}
} // namespace

SerialPortControl::SerialPortControl(EventPass& events, DeviceMap deviceForPort, QObject* parent)
    : SerialControl(parent)
    , events(events)
    , deviceForPort(std::move(deviceForPort)) {
    connect(&port, &QSerialPort::readyRead, this, &SerialPortControl::handleReadyRead);
    connect(&port, &QSerialPort::errorOccurred, this, &SerialPortControl::handleError);
}

SerialPortControl::~SerialPortControl() {
    if (port.isOpen())
        port.close();
}

bool SerialPortControl::isOwnTerminal(const QString& device) {
    struct stat target {};
    if (::stat(QFile::encodeName(device).constData(), &target) != 0 || !S_ISCHR(target.st_mode))
        return false;
    // /dev/tty is whatever the controlling terminal is, for every process that opens it.
    if (target.st_rdev == ::makedev(5, 0))
        return true;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat own {};
        if (::fstat(fd, &own) == 0 && S_ISCHR(own.st_mode) && own.st_rdev == target.st_rdev)
            return true;
    }
    const dev_t controlling = controllingTerminal();
    return controlling != 0 && controlling == target.st_rdev;
}

void SerialPortControl::refuse(OpenFailure why, const QString& text, const QString& reason) {
    setOpenFailure(why, text, reason);
}

bool SerialPortControl::setPortOpen(bool open) {
    if (!open) {
        // Qt puts back the line settings it found at the open (settingsRestoredOnClose).
        if (port.isOpen())
            port.close();
        return true;
    }
    if (port.isOpen())
        return true;

    setOpenFailure(OpenFailure::None, QString());
    const QString device = deviceForPort(CommPort());
    const QByteArray path = QFile::encodeName(device);
    if (device.isEmpty() || !QFileInfo::exists(device)) {
        refuse(OpenFailure::Absent, tr("%1 does not exist").arg(device), tr("it does not exist"));
        return false;
    }
    if (::access(path.constData(), R_OK | W_OK) != 0) {
        refuse(OpenFailure::PermissionDenied,
               tr("permission denied on %1 (the user may need to join the dialout group)").arg(device),
               tr("permission denied (the user may need to join the dialout group)"));
        return false;
    }
    if (isOwnTerminal(device)) {
        refuse(OpenFailure::Other, tr("%1 is this program's own terminal").arg(device),
               tr("it is this program's own terminal"));
        return false;
    }
    // The lock that keeps a second user off the device is taken per name: open the device by
    // its real name, so that a symbolic link to it (/dev/serial/by-id/...) is not a way around it.
    const QString realName = QFileInfo(device).canonicalFilePath();
    port.setPortName(realName.isEmpty() ? device : realName);
    if (!port.open(QIODevice::ReadWrite)) {
        const auto error = port.error();
        if (error == QSerialPort::DeviceNotFoundError)
            refuse(OpenFailure::Absent, tr("%1 does not exist").arg(device), tr("it does not exist"));
        else if (error == QSerialPort::PermissionError)
            // Access rights were checked above, so this is the lock of another program.
            refuse(OpenFailure::Busy, tr("%1 is in use by another program").arg(device),
                   tr("it is in use by another program"));
        else
            refuse(OpenFailure::Other, tr("%1 cannot be opened: %2").arg(device, port.errorString()),
                   port.errorString());
        port.clearError();
        return false;
    }
    port.setBaudRate(BaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    // Bytes left in the driver from before the open would be taken for the module's answer.
    port.clear(QSerialPort::AllDirections);
    port.clearError();
    return true;
}

qint64 SerialPortControl::bytesWaitingToGo() const {
    int kernelQueue = 0;
    if (port.isOpen() && ::ioctl(port.handle(), TIOCOUTQ, &kernelQueue) != 0)
        kernelQueue = 0;
    return port.bytesToWrite() + kernelQueue;
}

void SerialPortControl::Output(const QByteArray& text) {
    if (!port.isOpen())
        return;
    port.write(text);
    // Hold the caller back while more than one buffer's worth is still queued, so a reply
    // wait that starts after the call does not run while a whole sector is still on the wire.
    // The event loop keeps running meanwhile; a lost line closes the port and ends the wait.
    // A peer that stops taking bytes but keeps the line up must not hold the caller forever:
    // after a while without progress the queue is dropped, and the caller's reply wait times out.
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 waiting = bytesWaitingToGo();
    while (port.isOpen() && waiting > OutBufferSize()) {
        // Sleep for as long as the bytes beyond one buffer need on the wire; the port's own
        // write notifications wake the pass sooner when the driver takes bytes from Qt.
        const qint64 lineMs = ((waiting - OutBufferSize()) * BitsPerByte * 1000 + BaudRate - 1) / BaudRate;
        events.runOnce(int(qBound<qint64>(1, lineMs, StallLimitMs - sinceProgress.elapsed() + 1)));
        const qint64 now = bytesWaitingToGo();
        if (now < waiting)
            sinceProgress.restart();
        waiting = now;
        if (sinceProgress.elapsed() > StallLimitMs) {
            port.clear(QSerialPort::Output);
            break;
        }
    }
}

QString SerialPortControl::describePort() const {
    const QString device = deviceForPort(CommPort());
    const QString label = SerialControl::describePort();
    return device.isEmpty() || device == label ? label : QStringLiteral("%1 (%2)").arg(label, device);
}

QByteArray SerialPortControl::Input() {
    return port.isOpen() ? port.readAll() : QByteArray();
}

void SerialPortControl::handleReadyRead() {
    if (RThreshold() > 0 && port.bytesAvailable() >= RThreshold())
        raise(comEvReceive);
}

void SerialPortControl::handleError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // A hung-up line keeps reporting read errors at full speed while the port stays
        // open; close it at the first one and let the waits run into their time-outs.
        if (port.isOpen()) {
            port.close();
            raise(comEventLineLost);
            emit lineLost();
        }
        break;
    default:
        break;
    }
}
