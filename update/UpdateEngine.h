#pragma once

#include "FirmwareImage.h"
#include "SessionEvents.h"
#include "SessionState.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

class Clock;
class EventPass;
class IntervalTimer;
class Prompts;
class SerialControl;
class StatusDisplay;

// Returns the full path of the image to send for a name pattern, or empty text when
// there is none (no match, or the operator chose none).
using FirmwareSelector = std::function<QString(const QString& pattern)>;

// The outside world the engine reaches, and nothing more.
struct EngineSeams {
    SerialControl& MSComm1;
    Clock& clock;
    EventPass& events;
    IntervalTimer& Timer1;
    StatusDisplay& display;
    Prompts& prompts;
    FirmwareSelector SelectFirmwareFile;
    QString programFolder;
};

// How a session ended, for the front ends and the record of updates.
enum class SessionOutcome { None, Success, Failed, NoModule, PortError, LineLost, Interrupted, ImageRefused };

struct SessionReport {
    SessionOutcome outcome = SessionOutcome::None;
    QString imagePath;
    qint64 imageBytes = 0;
    int sectors = 0;
    QByteArray sha256; // of the image file, hex
    QString module;    // the module's type answer
    int restarts = 0;
    double seconds = 0;
    QString message; // what the operator was told, empty on success
};

// One probe outside a session: what came back within one pass of the probing loop.
struct ProbeAnswer {
    enum class Kind { Nothing, SwitchOff, Module };
    Kind kind = Kind::Nothing;
    QString type; // the module's type code, for Module
};

// One update from the Update command to its end: module identification, the transfer
// with its automatic restarts, the communication test, and the receive handling, waits
// and elapsed time they run on.
class UpdateEngine : public QObject {
    Q_OBJECT
public:
    static inline const QString ImagePattern = QStringLiteral("QVL-GEN*.bin");
    static inline const QByteArray ModuleProbe = QByteArrayLiteral("XXXXXXXXXXXX");

    explicit UpdateEngine(const EngineSeams& seams, QObject* parent = nullptr);

    // The update session, from the probe to success or the final failure.
    void StartUpdate();
    void SendFirmware();
    // The communication test; true when the module confirmed. The result box is shown.
    bool RunComTest();
    // Lets at least `Pausenlaenge` seconds pass while the event loop keeps running.
    void warte(double Pausenlaenge);
    void MSComm1_OnComm();
    void Timer1_Timer();

    // For front ends that choose and check the image before any port is touched: the
    // session sends this snapshot instead of asking SelectFirmwareFile. The file is watched
    // from the moment it was read: it must not change before the first block goes out.
    void useImage(const FirmwareImage& snapshot) { presetImage = snapshot; }
    // The same for a snapshot already seen to stand still for FirmwareImage::StillSeconds after it
    // was read (a station's): it is whole, so a session sends it whatever happens to the file later.
    void useSettledImage(const FirmwareImage& snapshot) {
        presetImage = snapshot;
        presetSettled = true;
    }
    // Probing gives up after this many seconds (0: never, as in the window).
    void setIdentifyLimit(double seconds) { identifyLimit = seconds; }
    // After the end mark the module needs its 2 s settle pause with the line open; the 3 s
    // success display that follows is for an operator's eyes only (the window's).
    void setSuccessDisplay(bool shown) { successDisplay = shown; }
    // Who is told what happens in each session (nobody by default); not owned.
    void setEvents(SessionEvents* observer) { events = observer ? observer : &noEvents; }
    // Asked once a module has answered with its type, before anything is sent to it: false ends
    // the session there, recorded as interrupted, with no box and nothing sent.
    void setModuleGate(std::function<bool(const QString& type)> gate) { moduleGate = std::move(gate); }
    // One probe and the waits of one pass of the probing loop, outside a session: "XX" (the
    // setup switch is off) after the first wait, else a type code or nothing after the second.
    // A stop asked for meanwhile ends the waits early and gives nothing.
    ProbeAnswer probeOnce();
    // Ends the running session at its next wait; safe to call from another thread.
    void interrupt();
    // The program ends in the middle of a session and will not return into it: the report says
    // so, for the record of updates.
    void abandonSession(const QString& why);

    bool sessionActive() const { return active; }
    const SessionReport& lastReport() const { return report; }
    // Drops what was received and not yet looked at (a new port, a start-up).
    void discardReceived();
    QString elapsedText() const { return session.elapsedText(); }
    // Releases the image of the last session.
    void closeImage() { image.clear(); }
    bool imageOpen() const { return image.isLoaded(); }

    SessionState& state() { return session; }
    const SessionState& state() const { return session; }
    const QString& FirmwarePath() const { return firmwarePath; }
    void setFirmwarePath(const QString& path) { firmwarePath = path; }

private:
    enum class Stop { None, LineLost, Interrupted };
    static constexpr int TimeOutsAllowed = 3;
    // The module wants this pause between its request and the data.
    static constexpr double PauseBeforeData = 1.0;
    // How often a file that must stand still is looked at while the session waits for it.
    static constexpr double StillCheckSeconds = 0.25;

    // Marks a session (an update or the communication test) as running for its whole extent.
    class SessionScope {
    public:
        explicit SessionScope(UpdateEngine& engine);
        ~SessionScope();
        SessionScope(const SessionScope&) = delete;
        SessionScope& operator=(const SessionScope&) = delete;

    private:
        UpdateEngine& engine;
    };

    static bool acceptedType(const QByteArray& answer);
    void runUpdate();
    bool identifyModule();
    void sendProbe();
    void observeImages();
    bool loadImage();
    bool holdImageUntil(double until);
    bool awaitReply(const std::function<bool(QByteArray& RxBuffer)>& test);
    void runUntil(double deadline);
    void discardUnreadInput();
    void succeed();
    void onTimeOut();
    void refuseImage(FirmwareImage::Check why);
    void showPortError();
    bool stopped() const { return stopReason.load() != int(Stop::None); }
    QString stoppedText() const;
    void endStopped();
    void onLineLost();
    void backToReady();
    void showPercent(int blocksSent, int totalBlocks);
    void finish(SessionOutcome outcome, const QString& message = QString());

    EngineSeams io;
    SessionEvents noEvents;
    SessionEvents* events = &noEvents;
    std::function<bool(const QString&)> moduleGate;
    SessionState session;
    QString firmwarePath;
    FirmwareImage image;
    FirmwareImage presetImage;
    // The image files as they were when the Update command began, and when that was.
    std::map<QByteArray, struct stat> observed;
    double observedAt = 0;
    // Since when the image file is known to have stood still; it must have done so for
    // FirmwareImage::StillSeconds when the first block of the first attempt goes out.
    double stillSince = 0;
    bool imageChecked = false;
    bool presetSettled = false;
    double identifyLimit = 0;
    bool successDisplay = true;
    bool active = false;
    std::atomic<int> stopReason{int(Stop::None)};
    double sessionStart = 0;
    SessionReport report;
};
