#pragma once

#include "StatusDisplay.h"

#include <QMainWindow>
#include <QVector>
#include <functional>
#include <memory>

class ActivityInd;
class Clock;
class EventPass;
class FileListChooser;
class ImageChooser;
class IntervalTimer;
class Prompts;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolBar;
class SerialControl;
class UpdateEngine;
class AutoSizeLabel;
class AddFilePrompts;
class PasswordPrompt;

// What the main window reaches outside itself. Anything left null is the real thing;
// tests put in a simulated clock, a scripted module and answered prompts.
struct Form1Seams {
    QString settingsFile;  // the INI file holding [Settings] and [Ports]
    QString programFolder; // where the firmware images live
    Clock* clock = nullptr;
    EventPass* events = nullptr;
    IntervalTimer* timer = nullptr;
    SerialControl* serial = nullptr;
    Prompts* prompts = nullptr;
    ImageChooser* imageChooser = nullptr;
    AddFilePrompts* addFilePrompts = nullptr;
    PasswordPrompt* passwordPrompt = nullptr;
    // Ends the process at once after a shut-down; never returns in the real program.
    std::function<void()> endProcess;
};

// The main window: it owns every widget, the serial control and the window-wide state.
class Form1 : public QMainWindow, public StatusDisplay {
    Q_OBJECT
public:
    enum ToolbarIndex {
        Placeholder1 = 1,
        Placeholder2 = 2,
        AddFile = 3,
        Update = 4,
        Expert = 5,
        Separator = 6,
        Exit = 7
    };

    explicit Form1(Form1Seams seams, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and shut-down.
    void Form_Load();
    void Form_Unload();

    // Ports.
    bool PortTest(const qint16& COMPortNummer);
    void ScanComPorts();
    void com_Click(qint16 index);

    // Commands.
    void Toolbar1_ButtonClick(int index);
    void Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    void Form_KeyPress(int keyAscii);
    void updateCommand();
    void expertCommand();
    void addFileCommand();
    void exitCommand();
    void RunComTest();

    // StatusDisplay
    void showState(DisplayState state) override;
    void setStatusText(const QString& text) override;
    void setFileName(const QString& path) override;
    void setProgressMax(int max) override;
    void setProgressValue(int value) override;
    void setPercentText(const QString& text) override;
    void setElapsedText(const QString& text) override;
    void setActivityForeColor(quint32 colour) override;
    int activityStep() const override;
    void setActivityStep(int step) override;
    void setBusyCursor(bool busy) override;
    void beep() override;

    // State and widgets, for the procedures of the other folders and for tests.
    UpdateEngine& engine() { return *updateEngine; }
    SerialControl& MSComm1() { return *serial; }
    bool ExpertMode = false;
    bool PasswordAccepted = false;
    bool ComTestRunning = false;
    bool updateRunning() const { return sessionRunning; }
    QAction* toolbarButton(int index) const { return buttons.value(index); }
    QAction* comItem(int index) const { return com.value(index); }
    QString statusPanelText(int panel) const;
    const QString& settingsFile() const { return io.settingsFile; }
    const QString& programFolder() const { return io.programFolder; }

    QToolBar* Toolbar1;
    QFrame* Frame1;
    QLabel* Label_Type;
    QLineEdit* Text_Filename;
    ActivityInd* Activity1;
    AutoSizeLabel* Label_title;
    AutoSizeLabel* Label_englisch;
    AutoSizeLabel* Label_deutsch;
    QLabel* lblZeit;
    QProgressBar* ProgressBar1;
    QLabel* Label1;
    QWidget* StatusBar1;
    QVector<QLabel*> panels; // 1-based: panels[1..3]
    QMenu* Comport;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Initialize();
    void buildWidgets();
    void buildToolbar();
    void buildMenu();
    void buildStatusBar();
    void refreshDate();
    void storePortNumber();
    void showLineLost();
    bool isMainWindowKey(QObject* watched) const;

    Form1Seams io;
    std::unique_ptr<Clock> ownClock;
    std::unique_ptr<EventPass> ownEvents;
    std::unique_ptr<IntervalTimer> ownTimer;
    std::unique_ptr<SerialControl> ownSerial;
    std::unique_ptr<Prompts> ownPrompts;
    std::unique_ptr<ImageChooser> ownChooser;
    std::unique_ptr<AddFilePrompts> ownAddFilePrompts;
    std::unique_ptr<PasswordPrompt> ownPasswordPrompt;
    Clock* clock;
    EventPass* events;
    IntervalTimer* timer;
    SerialControl* serial;
    Prompts* prompts;
    ImageChooser* imageChooser;
    AddFilePrompts* addFilePrompts;
    PasswordPrompt* passwordPrompt;
    std::unique_ptr<UpdateEngine> updateEngine;
    QVector<QAction*> buttons; // 1-based: buttons[1..7]
    QVector<QAction*> com;     // com[0..9]
    QString portFailures[10];  // why each port failed the scan
    bool sessionRunning = false;
    bool busyPointer = false;
    bool unloaded = false;
};
