#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class AddFilePrompts;
class Clock;
class EventPass;
class FileDialogPrompts;
class FileListChooser;
class ImageChooser;
class IntervalTimer;
class LoginDialogPrompt;
class MessageBoxPrompts;
class PasswordPrompt;
class Prompts;
class QWidget;
class SerialControl;
class StatusDisplay;
class SystemView;
struct NetworkProbeResult;
class SerialDeviceListing;
struct PortMap;

// What the main window reaches outside itself. Tests put in a simulated clock, a scripted
// module and answered prompts; UtilitySeams plugs the real thing into whatever is left empty.
struct Form1Seams {
    QString settingsFile;     // the INI file holding [Settings] and [Ports]
    QString programFolder;    // where the firmware images live
    QString recordFile;       // the record of updates; empty: none is kept
    PortMap* ports = nullptr; // what each COM number stands for in this run
    SerialDeviceListing* deviceListing = nullptr;
    // The folders whose changes mean a device came or went; the deepest first, each one's
    // parent after it, so that a folder made later is watched from then on.
    QStringList watchedFolders;
    Clock* clock = nullptr;
    EventPass* events = nullptr;
    IntervalTimer* timer = nullptr;
    SerialControl* serial = nullptr;
    // Tries a port plugged in while the window runs, on the same COM numbers as `serial`,
    // which may hold another port open meanwhile.
    SerialControl* portProbe = nullptr;
    Prompts* prompts = nullptr;
    ImageChooser* imageChooser = nullptr;
    AddFilePrompts* addFilePrompts = nullptr;
    PasswordPrompt* passwordPrompt = nullptr;
    // Tries the network COMs' addresses at once within one limit (ms); one result per address.
    std::function<QList<NetworkProbeResult>(const QStringList& addresses, int limitMs)> probeNetwork;
    // What the port checks find of a local device: why it will not open, in words that follow
    // "Com3 could not be opened: ", and its identity for the menu's tooltip; empty when they
    // find nothing.
    std::function<QString(const QString& device)> portCause;
    std::function<QString(const QString& device)> deviceIdentity;
    // Ends the process at once after a shut-down; never returns in the real program.
    std::function<void()> endProcess;
};

// The composition root of the window: it owns the production seams (the system clock, Qt's
// event loop and timer, the serial port, message boxes and dialogs) and hands them out.
class UtilitySeams {
public:
    // Fills every seam that `seams` leaves empty with the production one.
    explicit UtilitySeams(Form1Seams& seams);
    ~UtilitySeams();
    UtilitySeams(const UtilitySeams&) = delete;
    UtilitySeams& operator=(const UtilitySeams&) = delete;

    // Dialogs and boxes open above the window, and the file choice switches its pointer.
    void attachWindow(QWidget* window, StatusDisplay& display);

private:
    std::unique_ptr<PortMap> ports;
    std::unique_ptr<SerialDeviceListing> deviceListing;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<EventPass> events;
    std::unique_ptr<EventPass> networkEvents;
    std::unique_ptr<IntervalTimer> timer;
    std::unique_ptr<SerialControl> serial;
    std::unique_ptr<SerialControl> portProbe;
    std::unique_ptr<MessageBoxPrompts> prompts;
    std::unique_ptr<FileListChooser> chooser;
    std::unique_ptr<FileDialogPrompts> addFilePrompts;
    std::unique_ptr<LoginDialogPrompt> passwordPrompt;
    std::unique_ptr<SystemView> system;
};
