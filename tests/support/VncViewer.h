#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// A minimal viewer of Qt's VNC platform, so that tests and the benchmark can drive and watch the
// window's own program as an operator would: protocol 3.3, no authentication, a shared screen,
// raw pixels. It reads the screen and presses keys from outside, never from inside the program.
class VncViewer {
public:
    VncViewer() = default;
    ~VncViewer() { close(); }
    VncViewer(const VncViewer&) = delete;
    VncViewer& operator=(const VncViewer&) = delete;

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

    // One attempt to reach the screen on `port`; reads wait at most `readLimitSeconds`.
    bool connectTo(int port, int readLimitSeconds) {
        close();
        vnc = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval limit{readLimitSeconds, 0};
        ::setsockopt(vnc, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(vnc, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        close();
        return false;
    }

    // The greeting, the shared screen's size and format; then the server is told to send raw
    // pixels in its own format (it encodes nothing until the viewer has named both).
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
        const QByteArray format = QByteArray(4, '\0') + bytes.mid(4, 16);
        const QByteArray encodings("\x02\x00\x00\x01\x00\x00\x00\x00", 8);
        return receive(bytes, number(bytes, 20, 4)) && sendAll(format.constData(), size_t(format.size())) &&
               sendAll(encodings.constData(), size_t(encodings.size()));
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

    // Asks for the whole screen; `drawn` becomes true when any pixel of it is not black.
    bool screenDrawn(bool& drawn) {
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
                drawn = true;
        }
        return true;
    }

    void close() {
        if (vnc >= 0)
            ::close(vnc);
        vnc = -1;
    }

private:
    static int number(const QByteArray& bytes, int at, int size) {
        int value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(bytes[at + i]);
        return value;
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

    int vnc = -1;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;
};
