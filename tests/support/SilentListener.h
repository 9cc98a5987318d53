#pragma once

#include <QList>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback listener that never accepts, its queue filled with connections nobody accepts
// until one stays unanswered: a silent host. A new connection to `port` hangs in SYN-SENT.
struct SilentListener {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QList<int> fillers;
    quint16 port = 0;
    bool full = false;

    SilentListener() {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof where;
        auto* any = reinterpret_cast<sockaddr*>(&where);
        if (::bind(listener, any, size) != 0 || ::listen(listener, 0) != 0 ||
            ::getsockname(listener, any, &size))
            return;
        port = ntohs(where.sin_port);
        for (int i = 0; i < 16 && !full; ++i) {
            fillers << ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fillers.last(), any, size);
            pollfd wait{fillers.last(), POLLOUT, 0};
            full = ::poll(&wait, 1, 200) == 0;
        }
    }
    ~SilentListener() {
        for (const int fd : fillers + QList<int>{listener})
            ::close(fd);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
};
