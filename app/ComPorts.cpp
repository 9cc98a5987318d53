#include "Form1.h"

#include "Prompts.h"
#include "SerialControl.h"
#include "SerialPortControl.h"
#include "UpdateEngine.h"

#include <QAction>

bool Form1::PortTest(const qint16& COMPortNummer) {
    if (COMPortNummer > 0)
        serial->setCommPort(COMPortNummer);
    // Any failure of the open makes the port unusable; the probe reports nothing itself.
    const bool usable = serial->setPortOpen(true);
    const int probed = serial->CommPort();
    if (probed >= 1 && probed <= 9)
        portFailures[probed] = usable ? QString() : serial->openFailureText();
    serial->setPortOpen(false);
    return usable;
}

void Form1::ScanComPorts() {
    for (qint16 i = 1; i <= 9; ++i) {
        if (PortTest(i)) {
            com[0]->setVisible(false);
            com[i]->setVisible(true);
        } else {
            com[i]->setVisible(false);
        }
    }
    if (com[0]->isVisible()) {
        QString detail;
        for (int i = 1; i <= 9; ++i)
            detail += QStringLiteral("COM%1: %2\n").arg(i).arg(portFailures[i]);
        prompts->showMessage({QStringLiteral("No Com Ports available!"), QStringLiteral("ComPortError"),
                              MessageIcon::Critical, MessageButtons::Ok, detail.trimmed()});
    }
}

void Form1::com_Click(qint16 index) {
    if (index < 1)
        return;
    if (index > 9)
        return; // no menu item stands for it
    for (int i = 1; i <= 9; ++i) {
        if (com[i]->isChecked()) {
            com[i]->setChecked(false);
            if (serial->PortOpen())
                serial->setPortOpen(false);
        }
    }
    com[index]->setChecked(true);
    serial->setInBufferSize(2);
    serial->setInputLen(0);
    serial->setOutBufferSize(16384);
    serial->setRThreshold(2);
    serial->setCommPort(index);
    if (!serial->setPortOpen(true)) {
        // A mark always means an open port.
        com[index]->setChecked(false);
        prompts->showMessage(
            {QStringLiteral("Com%1 could not be opened: %2.").arg(index).arg(serial->openFailureText()),
             QStringLiteral("ComPortError"), MessageIcon::Critical});
    }
    engine().state().RxBuffer.clear();
}

void Form1::showLineLost() {
    for (int i = 1; i <= 9; ++i)
        com[i]->setChecked(false);
}
