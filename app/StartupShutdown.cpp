// Start-up and shut-down: the version, the port scan, the stored port, and storing it at the end.
#include "Form1.h"

#include "AutoSizeLabel.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "SettingsFile.h"
#include "UpdateEngine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>

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

    assignComPorts();
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
    if (sessionRunning) {
        // The process ends inside the update and never comes back to record it.
        engine().abandonSession(
            QStringLiteral("The utility was closed during the update on %1.").arg(serial.describePort()));
        recordSession();
    }
    if (serial.PortOpen())
        serial.setPortOpen(false);
    engine().closeImage();
    storePortNumber();
}

void Form1::storePortNumber() {
    // Only this one line is written: the hand-made [Ports] entries and comments stay as they are.
    QString error;
    if (!storeSettingsValue(io.settingsFile, QStringLiteral("Settings"), QStringLiteral("COM-Port"),
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
