// A module on the simulated line that follows a script.
#include "ScriptedModule.h"

#include "FakeSerial.h"
#include "SimWorld.h"

namespace {
constexpr int SectorSize = 65536;
constexpr int BlockSize = SectorSize / 4;
} // namespace

ScriptedModule::ScriptedModule(SimWorld& world, FakeSerial& serial, ModuleScript script)
    : script(std::move(script))
    , world(world)
    , serial(serial) {
    serial.onWrite = [this](const QByteArray& bytes) { onWrite(bytes); };
}

void ScriptedModule::send(const QByteArray& text, int delayMs) {
    if (!script.splitAnswers) {
        world.after(delayMs, [this, text] { serial.deliver(text); });
        return;
    }
    for (int i = 0; i < text.size(); ++i)
        world.after(delayMs + i * 3, [this, byte = text.mid(i, 1)] { serial.deliver(byte); });
}

void ScriptedModule::onWrite(const QByteArray& bytes) {
    if (script.silent)
        return;
    if (bytes == "XXXXXXXXXXXX") {
        ++probes;
        send(probes <= script.xxProbes ? QByteArray("XX") : script.typeCode, script.answerDelayMs);
        return;
    }
    if (bytes.size() == 3 && bytes.startsWith("OK") && !receiving) {
        ++announcements;
        expectedSectors = quint8(bytes[2]);
        announcedCounts << expectedSectors;
        received.clear();
        currentSector = 0;
        if (script.silentAfterIdentify)
            return;
        world.after(script.requestDelayMs, [this] { request(0); });
        return;
    }
    if (!receiving)
        return;
    received.append(bytes);
    const int block = script.endDuringLastSectorBlock;
    const bool endNow = currentSector == expectedSectors - 1 && block >= 0 &&
                        received.size() == qsizetype(currentSector) * SectorSize + (block + 1) * BlockSize;
    if (received.size() == (currentSector + 1) * SectorSize) {
        receiving = false;
        ++currentSector;
        if (currentSector < expectedSectors) {
            world.after(script.flashMs, [this, next = currentSector] { request(next); });
        } else if (!script.dropEnd.contains(announcements)) {
            completedImage = received;
            ++completedTransfers;
            if (endNow)
                serial.deliver(script.endText);
            else
                send(script.endText, script.flashMs);
        }
    } else if (endNow) {
        serial.deliver(script.endText);
    }
}

void ScriptedModule::request(int sector) {
    if (script.dropRequests.contains({announcements, sector}))
        return;
    receiving = true;
    send(script.requestText, 0);
    if (script.endAfterLastRequest && sector == expectedSectors - 1)
        send(script.endText, 5);
}
