#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <functional>

class FakeSerial;
class SimWorld;

// How the simulated module behaves. Attempts count announcements from 1.
struct ModuleScript {
    QByteArray typeCode = "AA";
    int xxProbes = 0;       // answer "XX" (switch off) to this many probes first
    int answerDelayMs = 50; // probe to answer
    bool silent = false;    // answers nothing at all
    bool silentAfterIdentify = false;
    int requestDelayMs = 20;            // announcement to first request
    int flashMs = 100;                  // last byte of a sector to the next request or the end mark
    QSet<QPair<int, int>> dropRequests; // (attempt, sector): that request is not sent
    QSet<int> dropEnd;                  // attempts whose end mark is not sent
    QByteArray requestText = "OK";
    QByteArray endText = "EN";
    bool splitAnswers = false; // every answer arrives one byte at a time
    // The end mark also comes right after the last request, before that sector's data.
    bool endAfterLastRequest = false;
    // An end mark arrives while the host is still writing this block of the last sector (-1:
    // none). During the last block (3) it is the end mark; earlier it is an extra one, and the
    // end mark still follows the data unless dropped.
    int endDuringLastSectorBlock = -1;
};

// A module on the simulated line: answers probes, requests sectors, takes the image and
// ends with its end mark, as the script says.
class ScriptedModule {
public:
    ScriptedModule(SimWorld& world, FakeSerial& serial, ModuleScript script = {});

    ModuleScript script;
    int probes = 0;
    int announcements = 0;
    QList<int> announcedCounts;
    QByteArray received;       // image bytes of the current attempt
    QByteArray completedImage; // image of the last attempt that got its end mark
    int completedTransfers = 0;

    void send(const QByteArray& text, int delayMs);

private:
    void onWrite(const QByteArray& bytes);
    void request(int sector);

    SimWorld& world;
    FakeSerial& serial;
    int expectedSectors = 0;
    int currentSector = 0;
    bool receiving = false;
};
