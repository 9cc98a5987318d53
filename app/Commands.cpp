// The commands: toolbar, keys (with the window-wide key preview), Update, Expert, Add File, Exit.
#include "Form1.h"

#include "AddFile.h"
#include "PortAssignment.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "UpdateEngine.h"
#include "UpdateRecord.h"
#include "frmLogin.h"

#include <QAction>
#include <QDir>
#include <QKeyEvent>

namespace {
constexpr int vbKeyEscape = 27;
constexpr int vbKeyF1 = 112;
constexpr int vbKeyF2 = 113;
constexpr int CtrlT = 20;

int keyCodeOf(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Escape:
        return vbKeyEscape;
    case Qt::Key_F1:
        return vbKeyF1;
    case Qt::Key_F2:
        return vbKeyF2;
    default:
        return 0;
    }
}
} // namespace

void Form1::Toolbar1_ButtonClick(int index) {
    switch (index) {
    case AddFile:
        addFileCommand();
        break;
    case Update:
        updateCommand();
        break;
    case Expert:
        expertCommand();
        break;
    case Exit:
        exitCommand();
        break;
    default:
        break; // the placeholders and the separator do nothing
    }
}

// Modifier keys are not looked at: Shift+F1 is F1.
void Form1::Form_KeyDown(int keyCode, Qt::KeyboardModifiers) {
    switch (keyCode) {
    case vbKeyF1:
        updateCommand();
        break;
    case vbKeyF2:
        if (ExpertMode)
            updateCommand();
        else
            expertCommand();
        break;
    case vbKeyEscape:
        exitCommand();
        break;
    default:
        break;
    }
}

void Form1::Form_KeyPress(int keyAscii) {
    // The communication test would share the receive buffer with a running update and
    // close the image it reads, so it waits until the update has ended.
    // Nor does it run on a port still being connected.
    if (keyAscii == CtrlT && !ComTestRunning && !sessionRunning && !portOpening) {
        ComTestRunning = true;
        setSessionCommandsEnabled(false);
        engine().RunComTest();
        setSessionCommandsEnabled(true);
        ComTestRunning = false;
        afterSession();
    }
}

// Keys aimed at this window or one of its children; never those typed into a dialog or
// a message box, which are windows of their own.
bool Form1::isMainWindowKey(QObject* watched) const {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return widget && widget->window() == this;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !isMainWindowKey(watched))
        return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_T && (key->modifiers() & Qt::ControlModifier)) {
        Form_KeyPress(CtrlT);
        return true;
    }
    if (const int code = keyCodeOf(key->key())) {
        Form_KeyDown(code, key->modifiers());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::updateCommand() {
    // One session at a time: the keys stay live while the disabled button cannot be clicked.
    // A port still being connected is not ready for one either.
    if (sessionBusy() || portOpening)
        return;
    sessionRunning = true;
    setSessionCommandsEnabled(false);
    engine().StartUpdate();
    recordSession();
    setSessionCommandsEnabled(true);
    sessionRunning = false;
    afterSession();
}

// A click on a button that cannot act would be swallowed without a word, so the buttons of
// the commands refused during a session are greyed for its extent.
void Form1::setSessionCommandsEnabled(bool enabled) {
    for (const int index : {AddFile, Update, Expert})
        buttons[index]->setEnabled(enabled);
}

// A modal dialog holds the event loop for as long as it is open: a session's waits stand still
// under it, a module that asked for a sector gives up, and the window records a restart that
// blames the line. So no operator dialog opens while an update or the communication test runs.
bool Form1::sessionBusy() const {
    return sessionRunning || ComTestRunning;
}

// One line in the record of updates for every session; a record that cannot be written is
// said after the result, and never turns the module's result into another.
void Form1::recordSession() {
    if (io.recordFile.isEmpty())
        return;
    // No port selected: a session that ended at once with "No Com Port selected!".
    const int port = serial.CommPort();
    const bool named = port >= 1 && port <= 9;
    const UpdateRecordEntry entry = updateRecordEntry(engine().lastReport(), RecordFrontEnd::Window,
                                                      named ? QStringLiteral("COM%1").arg(port) : QString(),
                                                      named ? ports.deviceFor(port) : QString());
    QString error;
    if (!appendUpdateRecord(io.recordFile, entry, error))
        tell({QStringLiteral("The update could not be written to the record of updates %1: %2.")
                  .arg(QDir::toNativeSeparators(io.recordFile), error),
              applicationTitle(), MessageIcon::Critical});
}

void Form1::expertCommand() {
    if (sessionBusy())
        return;
    passwordPrompt.showLogin(PasswordAccepted, prompts);
    if (PasswordAccepted) {
        buttons[AddFile]->setVisible(true);
        buttons[Expert]->setVisible(false);
        ExpertMode = true;
    }
}

void Form1::addFileCommand() {
    if (sessionBusy())
        return;
    addFirmwareFile(io.programFolder, addFilePrompts, prompts, events);
}
