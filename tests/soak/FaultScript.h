#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// What the module sends in answer to one thing the host did: pieces at offsets in ms from
// that moment. The offsets strictly increase, so every piece arrives in an event pass of its
// own; no pieces is silence. No answer leaves a single byte unread below the receive threshold.
struct Answer {
    const char* kind = "silent";
    QList<QPair<int, QByteArray>> pieces;

    QString describe() const;
};

// Everything random about one session, drawn from its seed alone.
struct FaultScript {
    quint32 seed = 0;
    bool freshRig = false; // a new rig even when the previous one could be used again
    quint64 tickBase = 0;  // tick count at simulated time 0, for a new rig
    int image = 0;         // index into soakImageSizes()
    int sectors = 0;
    QList<Answer> probeAnswers; // answer to the n-th probe; only the last is an accepted type code
    // [attempt][wait]: wait k < sectors is the request for sector k, wait == sectors the end mark.
    QList<QList<Answer>> waits;
    int lineLostWait = -1; // the line is lost lineLostAfterMs after this wait first begins
    int lineLostAfterMs = 0;
    qint64 budgetMs = 0; // the longest the session can take when the host keeps its times

    static FaultScript make(quint32 seed);
    // Deterministic sessions for the boundary tests: a clean identification, one sector.
    static FaultScript plain(int sectorImage);
    QString describe() const;
};

// Image lengths of the soak, most of them one sector or less.
const QList<qint64>& soakImageSizes();
QString printable(const QByteArray& bytes);
