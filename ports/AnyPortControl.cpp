// One serial control for local devices and network addresses alike, chosen at each open by the port map.
#include "AnyPortControl.h"

#include "NetworkPortAddress.h"

AnyPortControl::AnyPortControl(EventPass& events, const Clock& clock, PortMap portFor, QObject* parent)
    : SerialControl(parent)
    , portFor(std::move(portFor))
    , local(std::make_unique<SerialPortControl>(events, [this](int port) { return this->portFor(port); }))
    , network(
          std::make_unique<NetworkControl>(events, clock, [this](int port) { return this->portFor(port); })) {
    for (SerialControl* inner :
         {static_cast<SerialControl*>(local.get()), static_cast<SerialControl*>(network.get())}) {
        connect(inner, &SerialControl::OnComm, this, [this, inner] { forwardComm(inner); });
        connect(inner, &SerialControl::lineLost, this, [this, inner] { forwardLineLost(inner); });
    }
}

AnyPortControl::~AnyPortControl() {
    // The inner controls' signals must not reach a half-destroyed front.
    local->disconnect(this);
    network->disconnect(this);
}

bool AnyPortControl::isNetworkPort(int port) const {
    return looksLikeNetworkPort(portFor(port));
}

void AnyPortControl::handOver(SerialControl& inner) const {
    // The front end sets these on the control it holds, before the open or between blocks;
    // the inner control raises events and paces output by its own copies.
    inner.setCommPort(CommPort());
    inner.setInBufferSize(InBufferSize());
    inner.setInputLen(InputLen());
    inner.setOutBufferSize(OutBufferSize());
    inner.setRThreshold(RThreshold());
    inner.setPortLabel(SerialControl::describePort());
}

bool AnyPortControl::setPortOpen(bool open) {
    if (!open) {
        if (active)
            active->setPortOpen(false);
        return true;
    }
    // Another number was chosen while open: the old line is let go first. The same number is
    // asked of its control again, which keeps the line only if it still leads where the map says.
    if (active && active->PortOpen() && active->CommPort() != CommPort())
        active->setPortOpen(false);
    SerialControl* chosen = isNetworkPort(CommPort()) ? static_cast<SerialControl*>(network.get())
                                                      : static_cast<SerialControl*>(local.get());
    SerialControl* other = chosen == network.get() ? static_cast<SerialControl*>(local.get())
                                                   : static_cast<SerialControl*>(network.get());
    // One line at a time: whatever the other control still holds (a connection left by an
    // open that was interrupted, say) is let go, so no byte can reach its module later.
    if (other->PortOpen())
        other->setPortOpen(false);
    active = chosen;
    handOver(*chosen);
    if (chosen->setPortOpen(true)) {
        setOpenFailure(OpenFailure::None, QString());
        return true;
    }
    setOpenFailure(chosen->openFailure(), chosen->openFailureText(), chosen->openFailureReason());
    return false;
}

bool AnyPortControl::PortOpen() const {
    return active && active->PortOpen();
}

void AnyPortControl::Output(const QByteArray& text) {
    if (!PortOpen())
        return;
    handOver(*active);
    active->Output(text);
}

QByteArray AnyPortControl::Input() {
    return PortOpen() ? active->Input() : QByteArray();
}

void AnyPortControl::forwardComm(const SerialControl* from) {
    if (from != active)
        return;
    // A threshold lowered to 0 while open stops receive events, as on a single control.
    if (from->CommEvent() == comEvReceive && RThreshold() <= 0)
        return;
    raise(from->CommEvent());
}

void AnyPortControl::forwardLineLost(const SerialControl* from) {
    if (from == active)
        emit lineLost();
}

QString AnyPortControl::describePort() const {
    const QString label = SerialControl::describePort();
    const QString name = portFor(CommPort());
    NetworkPortAddress address;
    QString where = name;
    if (looksLikeNetworkPort(name))
        where = parseNetworkPort(name, &address) ? address.text() : escapeControlCharacters(name);
    return where.isEmpty() || where == label ? label : QStringLiteral("%1 (%2)").arg(label, where);
}

QString AnyPortControl::lineLossCause() const {
    return isNetworkPort(CommPort()) ? network->lineLossCause() : local->lineLossCause();
}

QString AnyPortControl::refusesImageBytes() const {
    return PortOpen() ? active->refusesImageBytes() : QString();
}

QString AnyPortControl::portDetails(int port) const {
    const QString name = portFor(port);
    if (!looksLikeNetworkPort(name))
        return name;
    // The open connection knows what its server acknowledged; another number is told from its address.
    if (network->PortOpen() && network->CommPort() != port)
        return NetworkControl::addressDetails(name);
    if (!network->PortOpen())
        network->setCommPort(port);
    return network->portDetails();
}

std::unique_ptr<AnyPortControl> makeAnyPortControl(EventPass& events, const Clock& clock,
                                                   AnyPortControl::PortMap portFor, QObject* parent) {
    return std::make_unique<AnyPortControl>(events, clock, std::move(portFor), parent);
}
