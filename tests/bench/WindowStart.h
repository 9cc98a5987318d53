#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// The window's own program started as an operator starts it, on Qt's VNC platform, and the time
// until its screen first shows anything but black: the window (or its first message box) drawn.
// The screen is read as a viewer reads it (protocol 3.3, raw pixels), never from inside.
class WindowStart {
public:
    ~WindowStart() {
        if (vnc >= 0)
            ::close(vnc);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // Milliseconds from the start of `program` until a drawn screen, its settings under
    // `configHome`; -1 with `error` set when it never came within 20 s.
    qint64 measure(const QString& program, const QString& folder, QString* error) {
        const int port = freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", QStringLiteral("vnc:port=%1:size=640x480").arg(port));
        env.insert("XDG_CONFIG_HOME", folder + "/config");
        env.insert("XDG_STATE_HOME", folder + "/state");
        env.insert("XDG_RUNTIME_DIR", folder + "/runtime");
        QDir().mkpath(folder + "/runtime");
        QFile::setPermissions(folder + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        process.setProcessEnvironment(env);
        QElapsedTimer since;
        since.start();
        process.start(program, {});
        if (!process.waitForStarted(5000))
            return fail(error, QStringLiteral("the program does not start: %1").arg(process.errorString()));
        while (!connectTo(port)) {
            if (since.elapsed() > 20000 || process.state() == QProcess::NotRunning)
                return fail(error, QStringLiteral("no screen on port %1").arg(port));
            QThread::msleep(5);
        }
        if (!handshake())
            return fail(error, QStringLiteral("the screen's handshake failed"));
        while (since.elapsed() < 20000) {
            int drawn = 0;
            if (!screenDrawn(drawn))
                return fail(error, QStringLiteral("the screen could not be read"));
            if (drawn)
                return since.elapsed();
            QThread::msleep(10);
        }
        return fail(error, QStringLiteral("nothing drawn within 20 s"));
    }

private:
    static qint64 fail(QString* error, const QString& text) {
        if (error)
            *error = text;
        return -1;
    }

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
        const timeval limit{20, 0};
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

    static int number(const QByteArray& bytes, int at, int size) {
        int value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(bytes[at + i]);
        return value;
    }

    bool handshake() {
        QByteArray bytes;
        if (!receive(bytes, 12) || !bytes.startsWith("RFB 003."))
            return false;
        if (!sendAll("RFB 003.003\n", 12) || !receive(bytes, 4) || bytes != QByteArray("\0\0\0\1", 4))
            return false;
        const char shared = 1;
        if (!sendAll(&shared, 1) || !receive(bytes, 24))
            return false;
        width = number(bytes, 0, 2);
        height = number(bytes, 2, 2);
        bytesPerPixel = quint8(bytes[4]) / 8;
        // The server encodes nothing until the viewer has named its pixel format (the server's
        // own, given back) and its encodings (raw only).
        const QByteArray format = QByteArray(4, '\0') + bytes.mid(4, 16);
        const QByteArray encodings("\x02\x00\x00\x01\x00\x00\x00\x00", 8);
        return receive(bytes, number(bytes, 20, 4)) && sendAll(format.constData(), size_t(format.size())) &&
               sendAll(encodings.constData(), size_t(encodings.size()));
    }

    // Asks for the whole screen and says whether any pixel of it is not black.
    bool screenDrawn(int& drawn) {
        const unsigned char request[10] = {3,
                                           0,
                                           0,
                                           0,
                                           0,
                                           0,
                                           static_cast<unsigned char>(width >> 8),
                                           static_cast<unsigned char>(width),
                                           static_cast<unsigned char>(height >> 8),
                                           static_cast<unsigned char>(height)};
        QByteArray bytes;
        if (!sendAll(request, sizeof request) || !receive(bytes, 4) || bytes[0] != 0)
            return false;
        const int rectangles = number(bytes, 2, 2);
        for (int i = 0; i < rectangles; ++i) {
            if (!receive(bytes, 12) || number(bytes, 8, 4) != 0)
                return false;
            const int size = number(bytes, 4, 2) * number(bytes, 6, 2) * bytesPerPixel;
            if (!receive(bytes, size))
                return false;
            if (bytes.count('\0') != bytes.size())
                drawn = 1;
        }
        return true;
    }

    QProcess process;
    int vnc = -1;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;
};
