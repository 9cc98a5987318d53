#pragma once

#include "FirmwareImage.h"
#include "SessionState.h"

#include <QObject>
#include <QString>
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

// One update from the Update command to its end: module identification, the transfer
// with its automatic restarts, and the receive handling, waits and elapsed time they run on.
class UpdateEngine : public QObject {
    Q_OBJECT
public:
    static inline const QString ImagePattern = QStringLiteral("QVL-GEN*.bin");
    static inline const QByteArray ModuleProbe = QByteArrayLiteral("XXXXXXXXXXXX");

    explicit UpdateEngine(const EngineSeams& seams, QObject* parent = nullptr);

    void StartUpdate();
    void SendFirmware();
    // Lets at least `Pausenlaenge` seconds pass while the event loop keeps running.
    void warte(double Pausenlaenge);
    void MSComm1_OnComm();
    void Timer1_Timer();

    // Closes the image file if a transfer still has it open.
    void closeImage() { image.close(); }
    bool imageOpen() const { return image.isOpen(); }

    SessionState& state() { return session; }
    const SessionState& state() const { return session; }
    const QString& FirmwarePath() const { return firmwarePath; }
    void setFirmwarePath(const QString& path) { firmwarePath = path; }

private:
    void discardUnreadInput();
    void showPortError();
    bool identifyModule();
    bool awaitRequest();
    bool awaitEnd();
    void succeed();
    void onTimeOut();
    void refuseImage(FirmwareImage::Check why);
    void abortOnReadFailure();
    void returnToReady();
    void showPercent(int blocksSent, int totalBlocks);

    EngineSeams io;
    SessionState session;
    QString firmwarePath;
    FirmwareImage image;
};
