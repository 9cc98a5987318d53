// The soak's module: plays a fault script and holds the host to the protocol's times.
#include "SoakModule.h"

#include "FakeSerial.h"
#include "SimWorld.h"
#include "UpdateEngine.h"

#include <cstring>

namespace {
constexpr int SectorSize = 65536;
constexpr int BlockSize = 16384;
constexpr int BlocksPerSector = SectorSize / BlockSize;

bool acceptedCode(const QByteArray& two) {
    return two == "AA" || two == "AB" || two == "AC" || two == "UP";
}
} // namespace

const QString SoakModule::FinalBox = QStringLiteral("Update error\rUpdate Fehler");

SoakModule::SoakModule(SimWorld& world, FakeSerial& serial, TimedDisplay& display, RecordingPrompts& prompts)
    : world(world)
    , serial(serial)
    , display(display)
    , prompts(prompts) {
    serial.onWrite = [this](const QByteArray& bytes) { onWrite(bytes); };
    display.onState = [this](DisplayState state) { onState(state); };
    prompts.whileShown = [this](const Message& message) { onBox(message); };
}

void SoakModule::begin(const FaultScript& s, const QByteArray& paddedImage) {
    script = s;
    image = paddedImage;
    ++session;
    start = world.now();
    trace.clear();
    // An answer cut off by the end of the last session may have left a byte unread on the line.
    if (!keepLeftovers)
        serial.pending.clear();
    violations.clear();
    probes = announcements = hostAttempts = timeOuts = successes = 0;
    nearLimitAccepted = nearLimitMissed = 0;
    identified = lineLost = endAccepted = false;
    endAcceptedAt = boxAt = attemptBegunAt = -1;
    receivedBytes = 0;
    intact = true;
    probeAt = -1;
    sinceProbe.clear();
    hostBuffer.clear();
    wait = Wait::None;
    waitIndex = 0;
    waitStart = readableAt = timedOutAt = successAt = -1;
    blocks = 0;
    lossScheduled = false;
}

qint64 SoakModule::now() const {
    return world.now();
}

void SoakModule::fail(const QString& what) {
    if (violations.size() >= 20)
        return;
    const QString line = QStringLiteral("at +%1 ms: %2").arg(now() - start).arg(what);
    violations << line;
    if (tracing)
        trace << QStringLiteral("!! ") + line;
}

void SoakModule::note(const QString& what) {
    trace << QStringLiteral("+%1  %2").arg(now() - start, 7).arg(what);
}

void SoakModule::within(const char* what, qint64 at, qint64 from, qint64 to) {
    if (at < from || at > to)
        fail(QStringLiteral("%1 at +%2 ms, due between +%3 and +%4 ms")
                 .arg(QLatin1String(what))
                 .arg(at - start)
                 .arg(from - start)
                 .arg(to - start));
}

void SoakModule::onWrite(const QByteArray& bytes) {
    if (bytes == UpdateEngine::ModuleProbe)
        onProbe();
    else if (bytes.size() == 3 && bytes.startsWith("OK"))
        onAnnouncement(quint8(bytes[2]));
    else if (bytes.size() == BlockSize)
        onBlock(bytes);
    else
        fail(QStringLiteral("the host wrote %1 bytes '%2'").arg(bytes.size()).arg(printable(bytes.left(16))));
}

void SoakModule::onProbe() {
    if (identified) {
        fail(QStringLiteral("the host probed during the transfer"));
        return;
    }
    if (probeAt >= 0)
        judgeProbe(false);
    ++probes;
    probeAt = now();
    sinceProbe.clear();
    if (tracing)
        note(QStringLiteral("host: probe %1").arg(probes));
    // Past the script the module keeps giving its type code, as a module does; a byte left
    // on the line by an earlier session can spoil one answer.
    if (!script.probeAnswers.isEmpty())
        send(script.probeAnswers[qMin(probes, int(script.probeAnswers.size())) - 1], probeAt);
}

// What the host must have made of the answer to its last probe, now that it acts again.
void SoakModule::judgeProbe(bool announced) {
    QByteArray early;
    QByteArray all;
    for (const auto& chunk : sinceProbe) {
        all += chunk.second;
        if (chunk.first <= probeAt + 200)
            early += chunk.second;
    }
    const Probe decision = early.startsWith("XX")      ? Probe::SwitchedOff
                           : acceptedCode(all.left(2)) ? Probe::Accepted
                                                       : Probe::Rejected;
    const QString answer = printable(all);
    switch (decision) {
    case Probe::SwitchedOff:
        if (announced)
            fail(QStringLiteral("the host announced after the switch-off answer '%1'").arg(answer));
        else
            within("probe after a switch-off answer", now(), probeAt + 200, probeAt + 210);
        if (display.state != DisplayState::Warning)
            fail(QStringLiteral("a switch-off answer was not shown as a warning"));
        break;
    case Probe::Accepted:
        if (!announced)
            fail(QStringLiteral("the host probed again after the type code '%1'").arg(answer));
        else
            within("announcement after the type code", now(), probeAt + 1200, probeAt + 1220);
        break;
    case Probe::Rejected:
        if (announced)
            fail(QStringLiteral("the host announced after the answer '%1'").arg(answer));
        else
            within("probe after a rejected answer", now(), probeAt + 1200, probeAt + 1230);
        if (display.state != DisplayState::Checking)
            fail(QStringLiteral("checking not shown while identifying"));
        break;
    }
}

void SoakModule::onAnnouncement(int count) {
    if (!identified) {
        if (probeAt < 0)
            fail(QStringLiteral("the host announced without probing"));
        else
            judgeProbe(true);
        identified = true;
    } else if (wait != Wait::TimedOut) {
        fail(QStringLiteral("the host announced again without a time-out"));
    }
    ++announcements;
    if (tracing)
        note(QStringLiteral("host: announcement %1 of %2 sectors").arg(announcements).arg(count));
    if (announcements > 4)
        fail(QStringLiteral("announcement %1 in one session").arg(announcements));
    if (count != script.sectors)
        fail(QStringLiteral("%1 sectors announced for an image of %2").arg(count).arg(script.sectors));
    receivedBytes = 0;
    intact = true;
    hostBuffer.clear();
    beginWait(0);
}

void SoakModule::beginWait(int index) {
    wait = Wait::Waiting;
    waitIndex = index;
    waitStart = now();
    readableAt = -1;
    blocks = 0;
    if (tracing)
        note(index == script.sectors ? QStringLiteral("waiting for the end mark")
                                     : QStringLiteral("waiting for request %1").arg(index));
    if (announcements >= 1 && announcements <= script.waits.size())
        send(script.waits[announcements - 1][index], waitStart);
    if (index == script.lineLostWait && !lossScheduled) {
        lossScheduled = true;
        world.at(waitStart + script.lineLostAfterMs, [this, s = session] {
            if (s == session)
                lose();
        });
    }
}

void SoakModule::send(const Answer& answer, qint64 from) {
    for (const auto& piece : answer.pieces)
        world.at(from + piece.first, [this, bytes = piece.second, s = session, attempt = announcements] {
            deliver(bytes, s, attempt);
        });
}

void SoakModule::deliver(const QByteArray& bytes, quint64 s, int attempt) {
    // Answers of an earlier session or attempt: that module has been reset.
    if (s != session || attempt != announcements)
        return;
    if (!serial.PortOpen()) {
        if (tracing)
            note(QStringLiteral("module: '%1' lost with the line").arg(printable(bytes)));
        return;
    }
    const QByteArray waiting = serial.pending;
    serial.deliver(bytes);
    if (tracing)
        note(QStringLiteral("module: '%1'").arg(printable(bytes)));
    if (serial.pending.isEmpty())
        readable(waiting + bytes);
}

// The host read `chunk` in this pass and checks its buffer before the clock moves on.
void SoakModule::readable(const QByteArray& chunk) {
    if (tracing)
        note(QStringLiteral("host reads '%1'").arg(printable(chunk)));
    if (!identified) {
        sinceProbe << qMakePair(now(), chunk);
        return;
    }
    hostBuffer += chunk;
    if (wait == Wait::TimedOut && waitStart >= 0 && now() <= waitStart + 4020)
        ++nearLimitMissed; // possibly a reply, but too late
    if (wait != Wait::Waiting)
        return;
    const bool nearLimit = now() >= waitStart + 3990;
    if (waitIndex < script.sectors && hostBuffer.endsWith("OK")) {
        nearLimitAccepted += nearLimit ? 1 : 0;
        wait = Wait::Accepted;
        readableAt = now();
        hostBuffer.clear();
        if (tracing)
            note(QStringLiteral("request %1 readable").arg(waitIndex));
    } else if (waitIndex == script.sectors && hostBuffer.startsWith("EN")) {
        nearLimitAccepted += nearLimit ? 1 : 0;
        wait = Wait::Accepted;
        readableAt = endAcceptedAt = now();
        endAccepted = true;
        if (tracing)
            note(QStringLiteral("end mark readable"));
    }
}

void SoakModule::onBlock(const QByteArray& block) {
    if (wait != Wait::Accepted || waitIndex >= script.sectors) {
        fail(QStringLiteral("the host sent image data without a readable request"));
        return;
    }
    if (blocks == 0)
        within("first block after the request", now(), readableAt + 1000, readableAt + 1020);
    if (tracing)
        note(QStringLiteral("host: block %1 of sector %2").arg(blocks).arg(waitIndex));
    const qint64 offset = receivedBytes;
    if (intact && std::memcmp(block.constData(), image.constData() + offset, BlockSize) != 0) {
        intact = false;
        int at = 0;
        while (block[at] == image[int(offset) + at])
            ++at;
        fail(QStringLiteral("image byte %1 sent as %2, is %3")
                 .arg(offset + at)
                 .arg(quint8(block[at]))
                 .arg(quint8(image[int(offset) + at])));
    }
    receivedBytes += BlockSize;
    // What came before the last block of the image cannot confirm it: the host drops it, so
    // only what follows counts for the end mark.
    if (blocks == BlocksPerSector - 1 && waitIndex == script.sectors - 1)
        hostBuffer.clear();
    if (++blocks == BlocksPerSector)
        beginWait(waitIndex + 1);
}

void SoakModule::onState(DisplayState state) {
    switch (state) {
    case DisplayState::Running:
        ++hostAttempts;
        attemptBegunAt = now();
        if (tracing)
            note(QStringLiteral("host: transfer %1 begins").arg(hostAttempts));
        if (hostAttempts > 4)
            fail(QStringLiteral("transfer %1 in one session").arg(hostAttempts));
        if (hostAttempts > 1) {
            if (wait != Wait::TimedOut)
                fail(QStringLiteral("the transfer began again without a time-out"));
            else
                within("restart after a time-out", now(), timedOutAt + 2000, timedOutAt + 2010);
        }
        if (lineLost) {
            // The announcement goes nowhere; the host now waits for a request that cannot come.
            wait = Wait::Waiting;
            waitIndex = 0;
            waitStart = now();
            readableAt = -1;
            blocks = 0;
        }
        break;
    case DisplayState::Error:
        onTimeOut(false);
        break;
    case DisplayState::Success:
        ++successes;
        successAt = now();
        if (tracing)
            note(QStringLiteral("host: success"));
        if (wait != Wait::Accepted || waitIndex != script.sectors)
            fail(QStringLiteral("success shown without a readable end mark"));
        else
            within("success after the end mark", now(), readableAt, readableAt + 5000);
        break;
    case DisplayState::Ready:
        if (successAt >= 0) {
            within("ready after success", now(), successAt + 1, successAt + 10000);
            successAt = -1;
        }
        break;
    case DisplayState::Warning:
    case DisplayState::Checking:
        if (identified)
            fail(QStringLiteral("identification states shown during the transfer"));
        break;
    }
}

void SoakModule::onBox(const Message& message) {
    if (lineLost && message.text.startsWith(QStringLiteral("The line to Com1 was lost"))) {
        // The session ends at once: no time-out, no restart against a closed port.
        boxAt = now();
        if (boxAt > lineLostAt + 10)
            fail(QStringLiteral("the lost line was told %1 ms after it went").arg(boxAt - lineLostAt));
        return;
    }
    if (message.text != FinalBox) {
        fail(QStringLiteral("box '%1'").arg(message.text));
        return;
    }
    boxAt = now();
    onTimeOut(true);
}

void SoakModule::onTimeOut(bool final) {
    ++timeOuts;
    if (tracing)
        note(QStringLiteral("host: time-out %1%2")
                 .arg(timeOuts)
                 .arg(final ? QStringLiteral(", final box") : QString()));
    if (!identified)
        fail(QStringLiteral("a time-out during identification"));
    switch (wait) {
    case Wait::Waiting:
        within("time-out", now(), waitStart + 4000, waitStart + 4010);
        break;
    case Wait::Accepted:
        // Only a lost line may hide the start of the host's next wait from the module.
        if (!lineLost || waitIndex == script.sectors)
            fail(QStringLiteral("time-out although the %1 was readable at +%2 ms")
                     .arg(waitIndex == script.sectors ? QStringLiteral("end mark")
                                                      : QStringLiteral("request %1").arg(waitIndex))
                     .arg(readableAt - start));
        break;
    case Wait::TimedOut:
    case Wait::None:
        fail(QStringLiteral("a time-out while no reply was awaited"));
        break;
    }
    if (final && timeOuts != 4)
        fail(QStringLiteral("the final box after %1 time-outs").arg(timeOuts));
    if (!final && timeOuts > 3)
        fail(QStringLiteral("time-out %1 restarted the transfer instead of ending it").arg(timeOuts));
    wait = Wait::TimedOut;
    timedOutAt = now();
}

void SoakModule::lose() {
    lineLost = true;
    lineLostAt = now();
    if (tracing)
        note(QStringLiteral("line lost"));
    serial.hangUp();
}
