// A network port's checks: the address, name resolution, the TCP connect and the RFC 2217 agreement.
#include "NetworkChecks.h"

#include "NetworkPortAddress.h"
#include "TelnetCodec.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

namespace {
// How long the server has to agree to the options and acknowledge the line settings.
constexpr int AgreementLimitMs = 1500;

PortCheck check(const QString& name, PortCheck::Status status, const QString& text,
                const QString& fix = QString(), const QString& cause = QString()) {
    return {name, status, text, fix, cause};
}

// Runs the event loop until `done` or `limitMs` passed; false on the time-out.
template <typename Done> bool runUntil(int limitMs, Done done) {
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(10);
    while (!done()) {
        if (waited.elapsed() >= limitMs)
            return false;
        loop.exec();
    }
    return true;
}

QList<QHostAddress> resolve(const NetworkPortAddress& target, int limitMs, PortReport& report) {
    QHostAddress literal;
    if (literal.setAddress(target.host)) {
        report.checks << check(QStringLiteral("resolves"), PortCheck::Status::Ok,
                               QStringLiteral("%1 is an address").arg(target.host));
        return {literal};
    }
    bool answered = false;
    QHostInfo info;
    QObject context;
    const int id = QHostInfo::lookupHost(target.host, &context, [&](const QHostInfo& got) {
        info = got;
        answered = true;
    });
    if (!runUntil(limitMs, [&] { return answered; })) {
        QHostInfo::abortHostLookup(id);
        report.checks << check(QStringLiteral("resolves"), PortCheck::Status::Problem,
                               QStringLiteral("the name %1 did not resolve within %2 s")
                                   .arg(escapeControlCharacters(target.host))
                                   .arg(limitMs / 1000.0),
                               QStringLiteral("check the name server (`getent hosts %1`)").arg(target.host),
                               QStringLiteral("its host name does not resolve"));
        return {};
    }
    if (info.addresses().isEmpty()) {
        report.checks << check(
            QStringLiteral("resolves"), PortCheck::Status::Problem,
            QStringLiteral("the host name %1 does not resolve").arg(escapeControlCharacters(target.host)),
            QStringLiteral("check the spelling, or write the server's address"),
            QStringLiteral("its host name does not resolve"));
        return {};
    }
    QStringList shown;
    for (const QHostAddress& address : info.addresses())
        shown << address.toString();
    report.checks << check(QStringLiteral("resolves"), PortCheck::Status::Ok,
                           QStringLiteral("%1 resolves to %2")
                               .arg(escapeControlCharacters(target.host), shown.join(QStringLiteral(", "))));
    return info.addresses();
}

void checkAgreement(QTcpSocket& socket, PortReport& report) {
    TelnetCodec codec;
    socket.write(codec.start());
    const auto agreed = [&codec] {
        return codec.comPortRefused() || codec.binaryRefused() ||
               codec.acknowledgements().size() == TelnetCodec::wantedSettings().size();
    };
    runUntil(AgreementLimitMs, [&] {
        if (socket.bytesAvailable() > 0) {
            const TelnetCodec::Decoded decoded = codec.decode(socket.readAll());
            if (!decoded.reply.isEmpty())
                socket.write(decoded.reply);
        }
        return agreed() || socket.state() != QAbstractSocket::ConnectedState;
    });
    const QString accepter =
        QStringLiteral("a ser2net line needs the accepter `telnet(rfc2217),tcp,PORT` in "
                       "/etc/ser2net.yaml (a plain `telnet` accepter does not set the line)");
    const bool binary = codec.serverOption(Telnet::OptionBinary) && codec.clientOption(Telnet::OptionBinary);
    report.checks
        << (binary ? check(QStringLiteral("binary"), PortCheck::Status::Ok,
                           QStringLiteral("the server agreed to binary transmission both ways"))
                   : check(QStringLiteral("binary"), PortCheck::Status::Problem,
                           codec.binaryRefused()
                               ? QStringLiteral("the server refused binary transmission")
                               : QStringLiteral("the server did not agree to binary transmission both ways"),
                           accepter, QStringLiteral("the server does not agree to binary transmission")));
    const bool comPort = codec.clientOption(Telnet::OptionComPort) && !codec.comPortRefused();
    const QString acks = codec.acknowledgementText();
    bool allAcknowledged = comPort && codec.acknowledgements().size() == TelnetCodec::wantedSettings().size();
    for (const TelnetCodec::Setting& wanted : TelnetCodec::wantedSettings())
        allAcknowledged = allAcknowledged && codec.acknowledgements().value(wanted.command) == wanted.value;
    if (allAcknowledged)
        report.checks << check(QStringLiteral("rfc2217"), PortCheck::Status::Ok,
                               QStringLiteral("COM-PORT-OPTION agreed; %1").arg(acks));
    else
        report.checks << check(
            QStringLiteral("rfc2217"), PortCheck::Status::Problem,
            comPort
                ? QStringLiteral("COM-PORT-OPTION agreed, but 115200 8N1 was not acknowledged: %1").arg(acks)
            : codec.comPortRefused()
                ? QStringLiteral("the server refused COM-PORT-OPTION: it cannot set the line")
                : QStringLiteral("the server did not answer COM-PORT-OPTION"),
            accepter, QStringLiteral("the server does not set the line (RFC 2217)"));
}
} // namespace

PortReport networkPortNotTried(const QString& label, const QString& address, const QString& mapping) {
    PortReport report;
    report.port = label;
    report.device = address;
    report.counts = false;
    report.checks << check(QStringLiteral("device"), PortCheck::Status::Ok,
                           mapping.isEmpty() ? address : mapping);
    report.checks << check(
        QStringLiteral("connects"), PortCheck::Status::Unknown,
        QStringLiteral("not tried: a device server may throw off its current client when another "
                       "connects"),
        QStringLiteral("kestrune-update --doctor %1 checks it").arg(label));
    return report;
}

PortReport checkNetworkPort(const QString& label, const QString& address, const QString& mapping,
                            int connectLimitMs) {
    PortReport report;
    report.port = label;
    report.device = address;
    NetworkPortAddress target;
    QString why;
    const bool readable = parseNetworkPort(address, &target, &why);
    report.checks << check(
        QStringLiteral("device"), readable ? PortCheck::Status::Ok : PortCheck::Status::Problem,
        readable ? (mapping.isEmpty() ? QString() : mapping + QStringLiteral("; ")) +
                       QStringLiteral("%1 port on host %2, TCP port %3")
                           .arg(target.kindName(), escapeControlCharacters(target.host))
                           .arg(target.port)
                 : why,
        readable ? QString() : QStringLiteral("write rfc2217://HOST:PORT or socket://HOST:PORT"),
        readable ? QString() : why);
    if (!readable)
        return report;
    const QList<QHostAddress> addresses = resolve(target, connectLimitMs, report);
    if (addresses.isEmpty())
        return report;

    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    QElapsedTimer took;
    took.start();
    bool failed = false;
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &socket, [&failed] { failed = true; });
    socket.connectToHost(addresses.first(), target.port);
    const bool settled =
        runUntil(connectLimitMs, [&] { return failed || socket.state() == QAbstractSocket::ConnectedState; });
    if (socket.state() != QAbstractSocket::ConnectedState) {
        const bool refused = settled && socket.error() == QAbstractSocket::ConnectionRefusedError;
        if (settled && socket.error() == QAbstractSocket::RemoteHostClosedError) {
            // ser2net takes the connection and drops it at once when it cannot open its device.
            report.checks << check(QStringLiteral("connects"), PortCheck::Status::Problem,
                                   QStringLiteral("the server closed the connection at once"),
                                   QStringLiteral("check the server's serial line (for ser2net: that the "
                                                  "connector's device exists and no other client holds it)"),
                                   QStringLiteral("the server closes the connection at once"));
            return report;
        }
        const QString text =
            refused ? QStringLiteral("the connection was refused: nothing listens on port %1 of %2")
                          .arg(target.port)
                          .arg(addresses.first().toString())
            : settled ? QStringLiteral("no connection: %1").arg(socket.errorString())
                      : QStringLiteral("no connection within %1 s: the host did not answer")
                            .arg(connectLimitMs / 1000.0);
        report.checks << check(
            QStringLiteral("connects"), PortCheck::Status::Problem, text,
            refused
                ? QStringLiteral("start the server, or check the TCP port in its configuration")
                : QStringLiteral("check that the server is on and reachable (`ping %1`)").arg(target.host),
            refused ? QStringLiteral("the connection was refused")
                    : QStringLiteral("the server does not answer"));
        socket.abort();
        return report;
    }
    report.checks << check(QStringLiteral("connects"), PortCheck::Status::Ok,
                           QStringLiteral("TCP connects to %1 port %2 in %3 ms")
                               .arg(addresses.first().toString())
                               .arg(target.port)
                               .arg(took.elapsed()));
    if (target.kind == NetworkPortAddress::Kind::Rfc2217)
        checkAgreement(socket, report);
    else
        report.checks << check(
            QStringLiteral("line"), PortCheck::Status::Ok,
            QStringLiteral("raw TCP: the server sets the line; it must be 115200 baud, 8N1, no "
                           "flow control"));
    socket.abort();
    return report;
}
