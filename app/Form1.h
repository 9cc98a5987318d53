#pragma once

#include "StatusDisplay.h"
#include "UtilitySeams.h"

#include <QMainWindow>
#include <QSet>
#include <QVector>
#include <memory>

class ActivityInd;
class DeviceFolderWatch;
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
struct Message;
struct NetworkProbeResult;
struct PresentDevice;

// The main window: the widgets, the status display, the port menu and the commands. It
// drives the update engine and reaches the outside world only through its seams.
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

    // Every seam must be set (UtilitySeams fills the ones a caller leaves empty).
    explicit Form1(Form1Seams seams, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and shut-down.
    void Form_Load();
    void Form_Unload();

    // Ports.
    bool PortTest(const qint16& COMPortNummer);
    void ScanComPorts();
    // Gives the serial devices present their COM numbers and names them in the menu.
    void assignComPorts();
    void com_Click(qint16 index);
    // Whether the COM's [Ports] line names a network address.
    bool isNetworkCom(int index) const;
    // How long the start-up waits for all network COMs together.
    static constexpr int StartupConnectLimitMs = 1000;
    // The menu follows the devices plugged in and pulled out since the last look: a new one
    // gets its number and is tried once; one gone is hidden unless it is the open port.
    // During a session nothing changes until it has ended.
    void followHardware();

    // Commands.
    void Toolbar1_ButtonClick(int index);
    void Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    void Form_KeyPress(int keyAscii);
    void updateCommand();
    void expertCommand();
    void addFileCommand();
    void exitCommand();
    // SIGTERM or SIGHUP: Exit, with what goes wrong on the way said on standard error.
    void exitOnSignal(const QString& signalName);

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
    SerialControl& MSComm1() { return serial; }
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
    void showPortDetails(int index);
    void setComToolTip(int index, const QString& text);
    void noteSameLines(const QList<int>& networkComs, const QList<NetworkProbeResult>& reached);
    void startFollowingHardware();
    void afterSession();
    void showPortsOf(const QList<PresentDevice>& appeared);
    void hidePortsOf(const QList<PresentDevice>& vanished);
    void hideLeftovers();
    QStringList deviceKeys() const;
    void recordSession();
    void tell(const Message& message);
    void setSessionCommandsEnabled(bool enabled);
    bool sessionBusy() const;
    bool isMainWindowKey(QObject* watched) const;

    Form1Seams io;
    Clock& clock;
    EventPass& events;
    IntervalTimer& timer;
    SerialControl& serial;
    SerialControl& portProbe;
    PortMap& ports;
    SerialDeviceListing& deviceListing;
    Prompts& prompts;
    ImageChooser& imageChooser;
    AddFilePrompts& addFilePrompts;
    PasswordPrompt& passwordPrompt;
    std::unique_ptr<UpdateEngine> updateEngine;
    QVector<QAction*> buttons;  // 1-based: buttons[1..7]
    QVector<QAction*> com;      // com[0..9]
    QString portFailures[10];   // why each port failed the scan
    QString assignmentNote;     // devices present that got no COM number, or none found
    QString shownDevice[10];    // what each shown port's line led to when it was tried
    QString sameLineNote[10];   // "same line as COM2": the other network COMs that reach this one's line
    QStringList knownDevices;   // the devices the menu stands for, as deviceKeys() gives them
    QSet<int> keptOpen;         // ports whose device went while they were open
    bool hardwareWaits = false; // a change came during a session
    std::unique_ptr<DeviceFolderWatch> hardwareWatch;
    bool sessionRunning = false;
    bool portOpening = false; // a chosen port is being opened (a network one connects meanwhile)
    bool busyPointer = false;
    bool unloaded = false;
    QString endedBy; // the signal that ends the program, once one did
};
