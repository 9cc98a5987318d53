// Start-up and shut-down: the version, the port scan, the stored port, and storing it at the end.
#include "Form1.h"

#include "AutoSizeLabel.h"
#include "IniValue.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "UpdateEngine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>

namespace {
const QString PortKey = QStringLiteral("Settings/COM-Port");

// The stored port number. Only the utility writes it, as a bare number from 0 to 9;
// anything else (a hand edit, a damaged file) counts as "no port".
qint16 storedPortNumber(const QString& settingsFile) {
    const QSettings settings(settingsFile, QSettings::IniFormat);
    const QString text = settings.value(PortKey, QStringLiteral("0")).toString().trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,2}$"));
    if (!digits.match(text).hasMatch())
        return 0;
    const int value = text.toInt();
    return value <= 9 ? qint16(value) : qint16(0);
}
} // namespace

// Key preview: the window's key handlers see every key aimed at it, whichever child
// has the focus.
void Form1::Form_Initialize() {
    qApp->installEventFilter(this);
}

void Form1::Form_Load() {
    panels[3]->setText(
        QStringLiteral("V%1.%2.%3").arg(KUU_VERSION_MAJOR).arg(KUU_VERSION_MINOR).arg(KUU_VERSION_PATCH));

    lblZeit->setText(engine().elapsedText());

    ComTestRunning = false;
    ExpertMode = false;

    ScanComPorts();

    engine().discardReceived();

    const qint16 stored = storedPortNumber(io.settingsFile);
    if (PortTest(stored))
        com_Click(storedPortNumber(io.settingsFile));

    Label_title->setCaption(QStringLiteral("Ready"));
    Label_englisch->setCaption(QStringLiteral("To start update procedure press Update button"));
    Label_deutsch->setCaption(QStringLiteral("Um den Update-Vorgang zu starten, Update Button drücken"));
    Label1->setText(QStringLiteral("0%"));
    Label1->repaint();
}

void Form1::Form_Unload() {
    if (serial.PortOpen())
        serial.setPortOpen(false);
    engine().closeImage();
    storePortNumber();
}

void Form1::storePortNumber() {
    // Only this one line is written: the hand-made [Ports] entries and comments stay as they are.
    QString error;
    if (!storeIniValue(io.settingsFile, QStringLiteral("Settings"), QStringLiteral("COM-Port"),
                       QString::number(serial.CommPort()), error))
        // The operator would otherwise find another port selected at the next start.
        prompts.showMessage({QStringLiteral("The COM port number could not be stored in %1: %2.\n"
                                            "The next start will not select COM%3 by itself.")
                                 .arg(QDir::toNativeSeparators(io.settingsFile), error)
                                 .arg(serial.CommPort()),
                             applicationTitle(), MessageIcon::Critical});
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded) {
        unloaded = true;
        Form_Unload();
    }
    event->accept();
    // The close box may be pressed while an update waits for the module; the process
    // ends here rather than return into the wait.
    io.endProcess();
}

void Form1::exitCommand() {
    Form_Unload();
    // The close below would run the same steps again; once is enough.
    unloaded = true;
    close();
    io.endProcess();
}
