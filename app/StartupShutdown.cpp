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

#include <cstdio>

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
    startFollowingHardware();

    engine().discardReceived();

    const qint16 stored = storedPortNumber(io.settingsFile);
    // A network port was tried by the scan a moment ago, together with the others: a second
    // try would add a silent host's wait to the start-up. (No stored port tries the port the
    // scan ended on.)
    const int tried = stored > 0 ? stored : serial.CommPort();
    const bool storedUsable =
        tried >= 1 && tried <= 9 && isNetworkCom(tried) ? com[tried]->isVisible() : PortTest(stored);
    if (storedUsable)
        com_Click(storedPortNumber(io.settingsFile));

    // A settings file that is a FIFO, a device, a folder or huge is neither read nor written:
    // the operator learns why the stored port and the [Ports] lines are not in force.
    const QString settingsNote = settingsFileNote(io.settingsFile);
    if (!settingsNote.isEmpty())
        tell({settingsNote, applicationTitle(), MessageIcon::Information});

    Label_title->setCaption(QStringLiteral("Ready"));
    Label_englisch->setCaption(QStringLiteral("To start update procedure press Update button"));
    Label_deutsch->setCaption(QStringLiteral("Um den Update-Vorgang zu starten, Update Button drücken"));
    Label1->setText(QStringLiteral("0%"));
    Label1->repaint();
}

void Form1::Form_Unload() {
    if (sessionRunning) {
        // The process ends inside the update and never comes back to record it. A session that
        // already reached its result (the success display) keeps it.
        const QString how =
            endedBy.isEmpty() ? QStringLiteral("closed") : QStringLiteral("ended by %1").arg(endedBy);
        engine().abandonSession(
            QStringLiteral("The utility was %1 during the update on %2.").arg(how, serial.describePort()));
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
        tell({QStringLiteral("The COM port number could not be stored in %1: %2.\n"
                             "The next start will not select COM%3 by itself.")
                  .arg(QDir::toNativeSeparators(io.settingsFile), error)
                  .arg(serial.CommPort()),
              applicationTitle(), MessageIcon::Critical});
}

// A box normally; after a signal nobody may be left to answer one (the session closed, the
// desktop logging out), and an unanswered box would keep the process from ending.
void Form1::tell(const Message& message) {
    if (endedBy.isEmpty()) {
        prompts.showMessage(message);
        return;
    }
    const QByteArray text = (applicationTitle() + QStringLiteral(": ") + message.text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
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
    // The close below would run the same steps again; once is enough. Marked before the steps
    // run: a box shown by one of them lets a close or a signal in, which must not repeat them.
    if (!unloaded) {
        unloaded = true;
        Form_Unload();
    }
    close();
    io.endProcess();
}

// SIGTERM and SIGHUP are Exit. A signal that comes while the shut-down already runs (its
// box open, say) ends the process at once: the steps were taken, or are being taken.
void Form1::exitOnSignal(const QString& signalName) {
    if (unloaded) {
        io.endProcess();
        return;
    }
    endedBy = signalName;
    exitCommand();
}
