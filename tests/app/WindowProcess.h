#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// The window's own program as a child process, on Qt's VNC platform so that the test can press
// its keys as an operator would. The program is copied into `folder`, which so becomes its
// program folder (the images are looked for beside it); its settings and its record of updates
// are kept under `folder` through the XDG base directories.
class WindowProcess {
public:
    explicit WindowProcess(const QString& folder)
        : folder(folder) {}
    ~WindowProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
        if (vnc >= 0)
            ::close(vnc);
    }

    QString settingsFile() const {
        return folder + "/config/Kestrune_Update_Utility/Kestrune_Update_Utility.ini";
    }
    QString recordFile() const { return folder + "/state/Kestrune_Update_Utility/updates.jsonl"; }

    // Starts the program and connects to its screen; empty text, or what went wrong.
    QString start() {
        const QString program = folder + "/kestrune-update-utility";
        if (!QFile::copy(qEnvironmentVariable("KUU_APP"), program))
            return QStringLiteral("the program %1 cannot be copied").arg(qEnvironmentVariable("KUU_APP"));
        const int port = freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", QStringLiteral("vnc:port=%1").arg(port));
        env.insert("XDG_CONFIG_HOME", folder + "/config");
        env.insert("XDG_STATE_HOME", folder + "/state");
        env.insert("XDG_RUNTIME_DIR", folder + "/runtime");
        QDir().mkpath(folder + "/runtime");
        QFile::setPermissions(folder + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        process.setProcessEnvironment(env);
        process.start(program, {});
        if (!process.waitForStarted(5000))
            return QStringLiteral("the program does not start: %1").arg(process.errorString());
        QElapsedTimer waited;
        waited.start();
        while (!connectTo(port)) {
            if (waited.elapsed() > 5000 || process.state() == QProcess::NotRunning)
                return QStringLiteral("no screen on port %1: %2")
                    .arg(port)
                    .arg(QString::fromLocal8Bit(process.readAllStandardError()));
            QThread::msleep(50);
        }
        return handshake() ? QString() : QStringLiteral("the screen's handshake failed");
    }

    // A key pressed and let go (an X11 keysym: 0xFFBE is F1, 0xFF1B Escape).
    bool press(std::uint32_t keysym) {
        for (const unsigned char down : {1, 0}) {
            const unsigned char event[8] = {4,
                                            down,
                                            0,
                                            0,
                                            static_cast<unsigned char>(keysym >> 24),
                                            static_cast<unsigned char>(keysym >> 16),
                                            static_cast<unsigned char>(keysym >> 8),
                                            static_cast<unsigned char>(keysym)};
            if (!sendAll(event, sizeof event))
                return false;
        }
        return true;
    }

    QProcess process;

private:
    // A port the system gave out a moment ago and took back: free, as good as it gets.
    static int freePort() {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(probe);
        return ntohs(address.sin_port);
    }

    bool connectTo(int port) {
        vnc = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval limit{5, 0};
        ::setsockopt(vnc, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(vnc, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        ::close(vnc);
        vnc = -1;
        return false;
    }

    bool sendAll(const void* data, size_t size) {
        return ::send(vnc, data, size, MSG_NOSIGNAL) == ssize_t(size);
    }

    bool receive(QByteArray& into, int size) {
        into.resize(size);
        int got = 0;
        while (got < size) {
            const ssize_t n = ::recv(vnc, into.data() + got, size_t(size - got), 0);
            if (n <= 0)
                return false;
            got += int(n);
        }
        return true;
    }

    // The protocol's version 3.3 as the server offers it: no authentication, a shared screen.
    bool handshake() {
        QByteArray bytes;
        if (!receive(bytes, 12) || !bytes.startsWith("RFB 003."))
            return false;
        if (!sendAll("RFB 003.003\n", 12) || !receive(bytes, 4) || bytes != QByteArray("\0\0\0\1", 4))
            return false;
        const char shared = 1;
        if (!sendAll(&shared, 1) || !receive(bytes, 24))
            return false;
        const auto* header = reinterpret_cast<const unsigned char*>(bytes.constData());
        const int nameLength =
            int(header[20]) << 24 | int(header[21]) << 16 | int(header[22]) << 8 | header[23];
        return receive(bytes, nameLength);
    }

    QString folder;
    int vnc = -1;
};
