// The port menu: the scan at start-up, the selection of a port, and a line lost outside a session.
#include "Form1.h"

#include "AnyPortControl.h"
#include "DeviceFolderWatch.h"
#include "LineSettings.h"
#include "NetworkPortAddress.h"
#include "NetworkProbe.h"
#include "PortAssignment.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "UpdateEngine.h"

#include <QAction>
#include <QLabel>

bool Form1::PortTest(const qint16& COMPortNummer) {
    if (COMPortNummer > 0)
        serial.setCommPort(COMPortNummer);
    // Any failure of the open makes the port unusable; the probe reports nothing itself.
    const bool usable = serial.setPortOpen(true);
    const int probed = serial.CommPort();
    if (probed >= 1 && probed <= 9)
        portFailures[probed] = usable ? QString() : serial.openFailureText();
    serial.setPortOpen(false);
    return usable;
}

void Form1::assignComPorts() {
    const PortAssignmentResult assignment = applyPortAssignment(io.settingsFile, deviceListing);
    // Written to the file or not, the numbers hold for this run; an unwritable file is
    // reported by the store at shut-down.
    ports = assignment.map;
    QStringList unassigned;
    for (const PresentDevice& device : assignment.unassigned)
        unassigned << QStringLiteral("no COM number left for %1 (all nine are taken)").arg(device.stableName);
    const QString left = unassigned.join(QLatin1Char('\n'));
    assignmentNote = assignment.map.present.isEmpty() ? QStringLiteral("no serial device found") : left;
    for (int i = 1; i <= 9; ++i)
        setComToolTip(i, left.isEmpty() ? ports.toolTip(i) : ports.toolTip(i) + QLatin1Char('\n') + left);
    com[0]->setToolTip(assignmentNote);
}

bool Form1::isNetworkCom(int index) const {
    return looksLikeNetworkPort(ports.deviceFor(index));
}

// Network COMs are tried all at once within one second: silent hosts cost the start-up that
// second, not three seconds each. One that does not connect is hidden for the run, as an absent
// device is; the one chosen later connects with the full limit.
void Form1::ScanComPorts() {
    QStringList addresses;
    QList<int> networkComs;
    for (int i = 1; i <= 9; ++i)
        if (isNetworkCom(i)) {
            networkComs << i;
            addresses << ports.deviceFor(i);
        }
    const QList<NetworkProbeResult> reached =
        addresses.isEmpty() ? QList<NetworkProbeResult>() : io.probeNetwork(addresses, StartupConnectLimitMs);
    noteSameLines(networkComs, reached);
    for (qint16 i = 1; i <= 9; ++i) {
        const qsizetype network = networkComs.indexOf(i);
        bool usable = false;
        if (network < 0) {
            usable = PortTest(i);
        } else {
            usable = network < reached.size() && reached[network].connected;
            portFailures[i] =
                usable ? QString()
                : network < reached.size()
                    ? reached[network].reason
                    : QStringLiteral("%1 was not tried").arg(escapeControlCharacters(addresses[network]));
        }
        if (usable) {
            com[0]->setVisible(false);
            com[i]->setVisible(true);
        } else {
            com[i]->setVisible(false);
        }
    }
    if (com[0]->isVisible()) {
        QString detail = assignmentNote.isEmpty() ? QString() : assignmentNote + QLatin1Char('\n');
        for (int i = 1; i <= 9; ++i)
            detail += QStringLiteral("COM%1: %2\n").arg(i).arg(portFailures[i]);
        prompts.showMessage({QStringLiteral("No Com Ports available!"), QStringLiteral("ComPortError"),
                             MessageIcon::Critical, MessageButtons::Ok, detail.trimmed()});
    }
}

void Form1::com_Click(qint16 index) {
    if (index < 1)
        return;
    if (index > 9)
        return; // no menu item stands for it
    // A network port's connect runs the event loop for up to 3 s: a click that comes meanwhile
    // would let go of the half-made connection under the open and leave it to a later choice.
    if (portOpening)
        return;
    if (sessionRunning || ComTestRunning || engine().sessionActive()) {
        // The session would carry on over the new port into a module it never identified,
        // and leave the first one half-written. The box does not wait: the session goes on under it.
        prompts.showNotice(
            {QStringLiteral("Com%1 cannot be selected while %2 runs on %3.\n"
                            "Wait until it has ended, then select the port again.")
                 .arg(index)
                 .arg(ComTestRunning ? QStringLiteral("the communication test") : QStringLiteral("an update"),
                      serial.describePort()),
             QStringLiteral("ComPortError"), MessageIcon::Critical});
        return;
    }
    for (int i = 1; i <= 9; ++i) {
        if (com[i]->isChecked()) {
            com[i]->setChecked(false);
            if (serial.PortOpen())
                serial.setPortOpen(false);
        }
    }
    com[index]->setChecked(true);
    ModuleLine::apply(serial);
    serial.setCommPort(index);
    portOpening = true;
    const bool opened = serial.setPortOpen(true);
    portOpening = false;
    if (!opened) {
        // A mark always means an open port.
        com[index]->setChecked(false);
        showPortDetails(index);
        prompts.showMessage({QStringLiteral("%1 could not be opened: %2.")
                                 .arg(serial.describePort(), serial.openFailureReason()),
                             QStringLiteral("ComPortError"), MessageIcon::Critical});
    }
    showPortDetails(index);
    engine().discardReceived();
    afterSession(); // hardware that came or went while the port was being opened
}

// A network port's tooltip names its host and TCP port, and once open what an RFC 2217
// server acknowledged of the line's settings.
void Form1::showPortDetails(int index) {
    const auto* any = qobject_cast<const AnyPortControl*>(&serial);
    if (!any || !isNetworkCom(index))
        return;
    const QString details = any->CommPort() == index ? any->portDetails(index) : ports.toolTip(index);
    setComToolTip(index, details);
}

void Form1::setComToolTip(int index, const QString& text) {
    com[index]->setToolTip(sameLineNote[index].isEmpty() ? text
                                                         : text + QLatin1Char('\n') + sameLineNote[index]);
}

// Two COMs that reach one line (two spellings of one address, both schemes on one server port)
// both stay in the menu, but the operator must know that they lead to one module. The probe
// tried each such line once and gave every COM on it the one result.
void Form1::noteSameLines(const QList<int>& networkComs, const QList<NetworkProbeResult>& reached) {
    QList<int> lineOf; // per network COM: the first COM on its line
    for (qsizetype n = 0; n < networkComs.size(); ++n) {
        const int first = n < reached.size() ? reached[n].sameLineAs : -1;
        lineOf << (first >= 0 && first < networkComs.size() ? networkComs[first] : networkComs[n]);
    }
    for (qsizetype n = 0; n < networkComs.size(); ++n) {
        QStringList others;
        for (qsizetype m = 0; m < networkComs.size(); ++m)
            if (m != n && lineOf[m] == lineOf[n])
                others << QStringLiteral("COM%1").arg(networkComs[m]);
        const int i = networkComs[n];
        if (others.isEmpty() || !sameLineNote[i].isEmpty())
            continue;
        sameLineNote[i] = QStringLiteral("same line as %1").arg(others.join(QStringLiteral(", ")));
        com[i]->setToolTip(com[i]->toolTip() + QLatin1Char('\n') + sameLineNote[i]);
    }
}

// The port closed itself because its line went away. A session says so in its own box;
// outside one, the mark goes and the status bar tells which port was lost.
void Form1::showLineLost() {
    for (int i = 1; i <= 9; ++i)
        com[i]->setChecked(false);
    if (!engine().sessionActive())
        setStatusText(QStringLiteral("%1: line lost").arg(serial.describePort()));
    // An adapter pulled out: its port leaves the menu once the folders have settled.
    if (hardwareWatch)
        hardwareWatch->poke();
}
