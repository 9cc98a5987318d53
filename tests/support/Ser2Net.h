#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real serial device server for end-to-end tests: the Debian ser2net on 127.0.0.1, one
// connection per line, each raw TCP or RFC 2217, on free ports the test does not have to
// choose. Two lines may name one device: while a client holds it through one, the other
// answers "Port's device already in use" and closes. It is killed with this object.
class Ser2Net {
public:
    // Telnet: a plain Telnet accepter, which does not take RFC 2217's line settings.
    enum class Kind { Raw, Rfc2217, Telnet };
    struct Line {
        QString device; // a pseudo-terminal or a link to one
        Kind kind;
    };

    static constexpr const char* Program = "/usr/sbin/ser2net";

    Ser2Net() = default;
    ~Ser2Net();
    Ser2Net(const Ser2Net&) = delete;
    Ser2Net& operator=(const Ser2Net&) = delete;

    // Empty when the server can run here; else why not, for QSKIP.
    static QString unavailable();

    // Writes the configuration, starts the server and waits until every line's port listens.
    // Returns an error text, empty on success.
    QString start(const QList<Line>& lines);
    // "socket://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT" (a Telnet line too: the operator's
    // mistake) for line `index`.
    QString address(int index) const;
    quint16 port(int index) const { return ports.value(index); }
    // Ends the server at once, as a power cut of the device server would (no goodbye).
    void kill();
    // What it printed, for a failure's message.
    QString output();

private:
    QTemporaryDir dir;
    QProcess process;
    QList<Line> served;
    QList<quint16> ports;
    QString printed;
};
