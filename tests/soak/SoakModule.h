#pragma once

#include "FaultScript.h"
#include "RecordingPrompts.h"

#include <QByteArray>
#include <QStringList>
#include <functional>

class FakeSerial;
class SimWorld;

// Records like RecordingDisplay and reports every state the moment it is shown.
class TimedDisplay : public RecordingDisplay {
public:
    std::function<void(DisplayState)> onState;
    void showState(DisplayState s) override {
        RecordingDisplay::showState(s);
        if (onState)
            onState(s);
    }
};

// A module on the simulated line that answers as its session's fault script says, and an
// observer that holds the host to the protocol's times at every step: it knows when each
// answer became readable for the host and when each of the host's waits began, so it can
// tell when the host had to accept, had to give up, or was free to do either.
class SoakModule {
public:
    SoakModule(SimWorld& world, FakeSerial& serial, TimedDisplay& display, RecordingPrompts& prompts);

    // A new session on the same rig: answers of earlier sessions still on the clock are dropped.
    void begin(const FaultScript& script, const QByteArray& paddedImage);

    bool tracing = false;
    // Leaves bytes that an earlier session left unread for the next session to find.
    bool keepLeftovers = false;
    QStringList trace;
    QStringList violations;

    int probes = 0;
    int announcements = 0; // as received by the module
    int hostAttempts = 0;  // transfers the host began
    int timeOuts = 0;
    int successes = 0;
    bool identified = false;
    bool lineLost = false;
    qint64 lineLostAt = -1;    // when the line went away
    bool endAccepted = false;  // the end mark of the current attempt was readable in time
    qint64 endAcceptedAt = -1; // when it became readable
    qint64 boxAt = -1;
    qint64 attemptBegunAt = -1; // the host's last transfer start
    int nearLimitAccepted = 0;  // replies readable 3.99 s or more after the wait began, taken
    int nearLimitMissed = 0;    // replies readable up to 4.02 s after it, after the host gave up
    qint64 receivedBytes = 0;   // image bytes of the module's current attempt
    bool intact = true;         // and all of them equal to the padded image

    static const QString FinalBox;

private:
    enum class Wait { None, Waiting, Accepted, TimedOut };
    enum class Probe { SwitchedOff, Rejected, Accepted };

    void onWrite(const QByteArray& bytes);
    void onProbe();
    void onAnnouncement(int count);
    void onBlock(const QByteArray& block);
    void onState(DisplayState state);
    void onBox(const Message& message);
    void onTimeOut(bool final);
    void judgeProbe(bool announced);
    void beginWait(int index);
    void send(const Answer& answer, qint64 from);
    void deliver(const QByteArray& bytes, quint64 session, int attempt);
    void readable(const QByteArray& chunk);
    void lose();

    qint64 now() const;
    void fail(const QString& what);
    void note(const QString& what);
    void within(const char* what, qint64 at, qint64 from, qint64 to);

    SimWorld& world;
    FakeSerial& serial;
    TimedDisplay& display;
    RecordingPrompts& prompts;

    FaultScript script;
    QByteArray image;
    quint64 session = 0;
    qint64 start = 0;

    // Identification: the last probe and what became readable since.
    qint64 probeAt = -1;
    QList<QPair<qint64, QByteArray>> sinceProbe;

    // Transfer: the host's receive buffer as far as the module can know it, and the wait.
    QByteArray hostBuffer;
    Wait wait = Wait::None;
    int waitIndex = 0;
    qint64 waitStart = -1; // -1: the host's wait began where the module could not see it
    qint64 readableAt = -1;
    int blocks = 0; // of the sector being sent
    qint64 timedOutAt = -1;
    qint64 successAt = -1;
    bool lossScheduled = false;
};
