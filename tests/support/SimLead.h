#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

class FakeSerial;
class ScriptedModule;
class SimWorld;

// One module put on a station's lead, on the simulated clock. After its end mark (or, for a mute
// one, after the announcement it never answers) it stays answering probes, then answers "XX"
// (switch turned off), then is silent (taken off); then the next module answers. A stay of -1
// is for good.
struct LeadModule {
    QByteArray type = "AA";
    int stayMs = -1;
    int switchOffMs = 0;
    int awayMs = 0;
    bool mute = false; // answers the probe, then nothing: its update fails
};

// The modules of a lead in turn, played through a scripted module. After the last one has gone,
// the lead is empty (silent). The first module is put on at `firstAtMs`.
class SimLead {
public:
    SimLead(SimWorld& world, FakeSerial& serial, ScriptedModule& module, QList<LeadModule> modules,
            qint64 firstAtMs = 0);

    int current() const { return index; } // index of the module on the lead; size(): empty

private:
    void onWrite(const QByteArray& bytes);
    void update();
    void putOn(int next);

    SimWorld& world;
    ScriptedModule& module;
    const QList<LeadModule> modules;
    const qint64 firstAtMs;
    int index = -1;
    qint64 leavingSince = -1; // when the module on the lead began to leave
    int transfersBefore = 0;
    int announcementsBefore = 0;
};
