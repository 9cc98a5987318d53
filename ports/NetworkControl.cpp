// The serial control over TCP: connecting with reasons, Telnet for RFC 2217 ports, paced output, a lost line.
#include "NetworkControl.h"

#include "Clock.h"
#include "ConnectFailure.h"
#include "EventPass.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

NetworkControl::NetworkControl(EventPass& events, const Clock& clock, AddressMap addressForPort,
                               QObject* parent)
    : SerialControl(parent)
    , events(events)
    , clock(clock)
    , addressForPort(std::move(addressForPort))
    , pacer(clock) {
    // The connection goes where the operator wrote, never through a proxy that the
    // environment (http_proxy) or the application names: Qt would otherwise consult both.
    socket.setProxy(QNetworkProxy::NoProxy);
    connect(&socket, &QTcpSocket::readyRead, this, &NetworkControl::handleReadyRead);
    connect(&socket, &QTcpSocket::errorOccurred, this, &NetworkControl::handleError);
    connect(&socket, &QTcpSocket::disconnected, this, &NetworkControl::loseLine);
    connect(&socket, &QTcpSocket::connected, this, &NetworkControl::handleReconnected);
    reconnectTimer.setSingleShot(true);
    connect(&reconnectTimer, &QTimer::timeout, this, [this] {
        // The address the open reached: the same line, without a second look-up.
        if (connected && reconnecting)
            socket.connectToHost(reached, target.port);
    });
}

NetworkControl::~NetworkControl() {
    connected = false;
    socket.abort();
}

QString NetworkControl::targetText() const {
    return target.text();
}

bool NetworkControl::setPortOpen(bool open) {
    if (!open) {
        if (opening) {
            openAbandoned = true;
            socket.abort();
        }
        if (connected) {
            stopReconnecting();
            connected = false;
            // Hand the kernel what Qt still holds; it sends that before the end of the connection.
            socket.flush();
            socket.abort();
            codec.reset();
            received.clear();
        }
        return true;
    }
    if (connected) {
        // Still the same server: the connection stays. Another address under this number (the
        // port map changed, or the number did while this stayed open) is a new connection: what
        // follows must not reach the rack of the old one.
        NetworkPortAddress wanted;
        if (parseNetworkPort(addressForPort(CommPort()), &wanted) && wanted.kind == target.kind &&
            wanted.text() == target.text())
            return true;
        setPortOpen(false);
    }
    if (opening) {
        setOpenFailure(OpenFailure::Busy, tr("%1 is still being connected").arg(targetText()));
        return false;
    }

    setOpenFailure(OpenFailure::None, QString());
    NetworkPortAddress wanted;
    QString why;
    if (!parseNetworkPort(addressForPort(CommPort()), &wanted, &why)) {
        setOpenFailure(OpenFailure::Other, why);
        return false;
    }
    target = wanted;
    telnet = target.kind == NetworkPortAddress::Kind::Rfc2217;
    settingsSent = false;
    if (isReservedInvalidHost(target.host)) {
        const ConnectFailure failure = unresolvableHost(target);
        setOpenFailure(failure.kind, failure.text, failure.reason);
        return false;
    }
    if (!connectTo(target))
        return false;

    lossCause.clear();
    reached = socket.peerAddress();
    firstCloseAt = -1;
    connected = true;
    beginConnection();
    return connected;
}

// A connection just made, at the open or again after an early close.
void NetworkControl::beginConnection() {
    configureSocket();
    received.clear();
    serverSaid.clear();
    pacer.reset();
    firstOutputAt = -1;
    binaryDataSent = false;
    refusalHandled = false;
    if (telnet) {
        // The settings go out with the offer, and the session does not wait for their
        // acknowledgements: some servers never answer some of them.
        socket.write(codec.start());
        socket.flush();
        settingsSent = true;
    }
    // Whatever the server sent with its greeting is handled now, not left for the next read.
    if (socket.bytesAvailable() > 0)
        handleReadyRead();
}

bool NetworkControl::connectTo(const NetworkPortAddress& where) {
    opening = true;
    openAbandoned = false;
    // The name's addresses, when known, are tried one after the other, as Qt tries a looked-up
    // name's, all within the one limit; a null address stands for the name itself.
    const QList<QHostAddress> tried =
        where.host == knownHost && !knownAddresses.isEmpty() ? knownAddresses : QList<QHostAddress>{{}};
    // The event loop keeps running while the connection is made, so a window stays alive.
    QElapsedTimer waited;
    waited.start();
    for (const QHostAddress& address : tried) {
        socket.abort();
        if (address.isNull())
            socket.connectToHost(where.host, where.port);
        else
            socket.connectToHost(address, where.port);
        while (socket.state() == QAbstractSocket::HostLookupState ||
               socket.state() == QAbstractSocket::ConnectingState) {
            const qint64 left = connectLimit - waited.elapsed();
            if (left <= 0)
                break;
            events.runOnce(int(left));
        }
        if (socket.state() != QAbstractSocket::UnconnectedState || openAbandoned ||
            waited.elapsed() >= connectLimit)
            break;
    }
    opening = false;
    if (socket.state() == QAbstractSocket::ConnectedState && !openAbandoned)
        return true;

    if (openAbandoned) {
        setOpenFailure(OpenFailure::Other, tr("%1: the connection was given up").arg(targetText()),
                       tr("the connection was given up"));
    } else {
        const ConnectFailure failure =
            describeConnectFailure(where, socket.state(), socket.error(), socket.errorString(), connectLimit);
        setOpenFailure(failure.kind, failure.text, failure.reason);
    }
    socket.abort();
    return false;
}

void NetworkControl::setKnownAddresses(const QString& host, const QList<QHostAddress>& addresses) {
    knownHost = host;
    knownAddresses = addresses;
}

void NetworkControl::configureSocket() {
    socketOptionFailure.clear();
    // Two-byte answers and short announcements must not wait for more data to fill a segment.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A server that vanished without a word (power cut, cable pulled) is found by the kernel:
    // bytes unacknowledged for this long reset the connection, and the line is lost.
    const unsigned limit = UnacknowledgedLimitMs;
    if (::setsockopt(int(socket.socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, sizeof limit) !=
        0)
        socketOptionFailure = tr("the limit for unacknowledged bytes could not be set (%1)")
                                  .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

void NetworkControl::Output(const QByteArray& text) {
    // While the connection is made again nothing can reach the module; the probes repeat.
    if (!connected || reconnecting)
        return;
    if (firstOutputAt < 0)
        firstOutputAt = clock.seconds();
    for (const char byte : text)
        binaryDataSent = binaryDataSent || byte < 0x20 || byte > 0x7e;
    socket.write(telnet ? TelnetCodec::escape(text) : text);
    socket.flush();
    pacer.sent(text.size());
    // Hold the caller back while more than one buffer's line time is ahead on the remote line,
    // as a local line's queue would, so a reply wait that starts after the call does not run
    // while a whole sector is still in buffers on the way. The event loop runs meanwhile (Qt
    // keeps sending, a lost connection ends the wait); each pass sleeps until the line clock
    // says the time is up.
    for (;;) {
        const double wait = pacer.secondsToWait(OutBufferSize());
        if (!connected || wait < 1e-6)
            break;
        events.runOnce(EventPass::msUntil(0.0, wait));
    }
}

QByteArray NetworkControl::Input() {
    if (!connected)
        return QByteArray();
    QByteArray all;
    all.swap(received);
    return all;
}

void NetworkControl::handleReadyRead() {
    if (!connected)
        return;
    const QByteArray bytes = socket.readAll();
    QByteArray data;
    if (telnet) {
        TelnetCodec::Decoded decoded = codec.decode(bytes);
        if (!decoded.reply.isEmpty())
            socket.write(decoded.reply);
        if (codec.binaryRefused() && !refusalHandled) {
            refusalHandled = true;
            if (binaryDataSent) {
                refuseTextMode();
                return;
            }
        }
        data = std::move(decoded.data);
    } else {
        data = bytes;
    }
    if (data.isEmpty())
        return;
    if (serverSaid.size() < ServerWordsLimit + 2)
        serverSaid += data.left(ServerWordsLimit + 2 - serverSaid.size());
    received += data;
    // The module's replies are a few bytes, taken at each receive event. A server that sends
    // without end while nobody reads (no session runs, the threshold is 0) must not make this
    // buffer grow with it: only the newest bytes are kept, those a reply would be among.
    if (received.size() > MaxPendingBytes)
        received.remove(0, received.size() - MaxPendingBytes);
    if (RThreshold() > 0 && received.size() >= RThreshold())
        raise(comEvReceive);
}

void NetworkControl::handleError(QAbstractSocket::SocketError) {
    // Any error on an open connection (closed, reset, timed out) ends it; errors while
    // connecting are read by the open itself.
    if (connected)
        loseLine();
}

void NetworkControl::loseLine() {
    if (!connected)
        return;
    if (reconnecting) {
        // An attempt to connect again failed (refused, reset, closed at once).
        reconnectOrGiveUp();
        return;
    }
    // What the server sent before it went is still the module's: hand it on first.
    if (socket.bytesAvailable() > 0)
        handleReadyRead();
    if (!connected)
        return;
    if (closedBeforeFirstAnswer()) {
        earlyCloseCause = closedByServer(serverSaid);
        if (firstCloseAt < 0)
            firstCloseAt = clock.seconds();
        reconnectOrGiveUp();
        return;
    }
    endLine(QString());
}

// No answer from the module can have come yet: the server, not the line, ended the connection.
bool NetworkControl::closedBeforeFirstAnswer() const {
    return firstOutputAt < 0 || clock.seconds() < firstOutputAt + FirstAnswerDueSeconds;
}

void NetworkControl::reconnectOrGiveUp() {
    if (reconnectTimer.isActive())
        return; // the same failure told twice (an error, then the disconnection)
    if (clock.seconds() - firstCloseAt >= ReconnectForMs / 1000.0) {
        stopReconnecting();
        endLine(earlyCloseCause);
        return;
    }
    reconnecting = true;
    reconnectTimer.start(ReconnectEveryMs);
    socket.abort();
    codec.reset();
}

void NetworkControl::handleReconnected() {
    if (!connected || !reconnecting)
        return; // the open's own connect: setPortOpen carries on
    reconnecting = false;
    beginConnection();
}

void NetworkControl::stopReconnecting() {
    reconnecting = false;
    reconnectTimer.stop();
}

// The line is gone for the session: `cause` says why, empty for a server that closed, reset or
// went silent.
void NetworkControl::endLine(const QString& cause) {
    connected = false;
    socket.abort();
    codec.reset();
    received.clear();
    lossCause = cause;
    raise(comEventLineLost);
    emit lineLost();
}

// A server that will not carry 8-bit data unchanged is no line for an image: in text mode a
// Telnet server may turn CR NUL into CR and so drop bytes of the image. A refusal before any
// such byte went out is left to the check before the announcement, which ends the session
// before the module gets anything; one that comes once they are flowing ends the line at once.
void NetworkControl::refuseTextMode() {
    endLine(tr("the server refused binary transmission"));
}

QString NetworkControl::refusesImageBytes() const {
    if (!connected || !telnet || (codec.binaryAgreed() && !reconnecting))
        return QString();
    return tr("the server did not agree to binary transmission");
}

bool NetworkControl::waitForAcknowledgements(int limitMs) {
    const auto done = [this] {
        return !telnet || codec.comPortRefused() ||
               codec.acknowledgements().size() == TelnetCodec::wantedSettings().size();
    };
    const double deadline = clock.seconds() + limitMs / 1000.0;
    while (connected && !done() && clock.seconds() < deadline)
        events.runOnce(EventPass::msUntil(clock.seconds(), deadline));
    return telnet && codec.acknowledgements().size() == TelnetCodec::wantedSettings().size() &&
           !codec.comPortRefused();
}

QString NetworkControl::describePort() const {
    const QString label = SerialControl::describePort();
    NetworkPortAddress shown;
    const QString text = addressForPort(CommPort());
    const QString where = parseNetworkPort(text, &shown) ? shown.text() : escapeControlCharacters(text);
    return where.isEmpty() || where == label ? label : QStringLiteral("%1 (%2)").arg(label, where);
}

QString NetworkControl::addressDetails(const QString& text) {
    NetworkPortAddress shown;
    QString why;
    if (!parseNetworkPort(text, &shown, &why))
        return why;
    return tr("%1 port on host %2, TCP port %3")
        .arg(shown.kindName(), escapeControlCharacters(shown.host))
        .arg(shown.port);
}

QString NetworkControl::portDetails() const {
    NetworkPortAddress shown;
    if (!parseNetworkPort(addressForPort(CommPort()), &shown))
        return addressDetails(addressForPort(CommPort()));
    QString details = addressDetails(addressForPort(CommPort()));
    const bool sameTarget = shown.text() == target.text() && shown.kind == target.kind;
    if (sameTarget && settingsSent) {
        const QString acks = codec.acknowledgementText();
        if (!acks.isEmpty())
            details += QStringLiteral("; ") + acks;
        if (!codec.signature().isEmpty())
            details +=
                tr("; server: %1").arg(escapeControlCharacters(QString::fromLatin1(codec.signature())));
    }
    if (sameTarget && !socketOptionFailure.isEmpty())
        details += QStringLiteral("; ") + socketOptionFailure;
    return details;
}
