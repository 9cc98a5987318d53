// A lead of modules on the simulated clock: each stays, turns its switch off, is taken off, next.
#include "SimLead.h"

#include "FakeSerial.h"
#include "ScriptedModule.h"
#include "SimWorld.h"

#include <functional>

SimLead::SimLead(SimWorld& world, FakeSerial& serial, ScriptedModule& module, QList<LeadModule> modules,
                 qint64 firstAtMs)
    : world(world)
    , module(module)
    , modules(std::move(modules))
    , firstAtMs(firstAtMs) {
    module.script.silent = true;
    const std::function<void(const QByteArray&)> forward = serial.onWrite;
    serial.onWrite = [this, forward](const QByteArray& bytes) {
        update();
        forward(bytes);
        onWrite(bytes);
    };
}

void SimLead::putOn(int next) {
    index = next;
    leavingSince = -1;
    transfersBefore = module.completedTransfers;
    announcementsBefore = module.announcements;
    const bool present = index < modules.size();
    module.script.silent = !present;
    module.script.xxProbes = 0;
    module.probes = 0;
    if (present) {
        module.script.typeCode = modules[index].type;
        module.script.silentAfterIdentify = modules[index].mute;
    }
}

// Where the module on the lead is now, looked at whenever the host writes.
void SimLead::update() {
    if (index < 0) {
        if (world.now() >= firstAtMs)
            putOn(0);
        else
            return;
    }
    if (index >= modules.size() || leavingSince < 0)
        return;
    const LeadModule& on = modules[index];
    if (on.stayMs < 0)
        return;
    const qint64 since = world.now() - leavingSince;
    if (since >= on.stayMs + on.switchOffMs + on.awayMs) {
        putOn(index + 1);
    } else if (since >= on.stayMs + on.switchOffMs) {
        module.script.silent = true;
    } else if (since >= on.stayMs) {
        module.script.xxProbes = 1 << 30;
    }
}

void SimLead::onWrite(const QByteArray&) {
    if (index < 0 || index >= modules.size() || leavingSince >= 0)
        return;
    const bool ended = module.completedTransfers > transfersBefore;
    const bool wentMute = modules[index].mute && module.announcements > announcementsBefore;
    if (ended || wentMute)
        leavingSince = world.now();
}
