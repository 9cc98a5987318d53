// Random fault scripts for the soak: what the module does wrong, and when.
#include "FaultScript.h"

#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>
#include <numeric>

namespace {

// Line noise never holds a letter of the protocol's words, so it cannot form one by accident.
const QByteArray NoiseBytes = [] {
    const char bytes[] = {'#',  '~',  '?',  '.',    '*',    '-',    '=', '\r',
                          '\n', '\t', '\0', '\x7F', '\xFF', '\x80', ';'};
    return QByteArray(bytes, int(sizeof bytes));
}();

using Range = QPair<int, int>; // inclusive

QByteArray noise(QRandomGenerator& r, int min, int max) {
    QByteArray out;
    const int n = min + int(r.bounded(max - min + 1));
    for (int i = 0; i < n; ++i)
        out.append(NoiseBytes.at(int(r.bounded(NoiseBytes.size()))));
    return out;
}

template <typename T> const T& pick(QRandomGenerator& r, const QList<T>& from) {
    return from.at(int(r.bounded(from.size())));
}

bool chance(QRandomGenerator& r, double p) {
    return r.generateDouble() < p;
}

int between(QRandomGenerator& r, int lo, int hi) {
    return lo + int(r.bounded(hi - lo + 1));
}

// Cuts text into one to five pieces at random points.
QList<QByteArray> cut(QRandomGenerator& r, const QByteArray& text, double splitChance) {
    if (text.size() < 2 || !chance(r, splitChance))
        return {text};
    const int count = 2 + int(r.bounded(qMin(int(text.size()) - 1, 4)));
    QList<int> cuts;
    while (cuts.size() < count - 1) {
        const int at = 1 + int(r.bounded(int(text.size()) - 1));
        if (!cuts.contains(at))
            cuts << at;
    }
    std::sort(cuts.begin(), cuts.end());
    QList<QByteArray> parts;
    int from = 0;
    for (int at : cuts) {
        parts << text.mid(from, at - from);
        from = at;
    }
    parts << text.mid(from);
    return parts;
}

// The host reads only when two bytes wait; a last piece that leaves one byte behind would
// hold it over into the next exchange. Such a piece is sent together with the one before.
void avoidStrayByte(Answer& a) {
    for (;;) {
        int waiting = 0;
        for (const auto& piece : a.pieces) {
            waiting += int(piece.second.size());
            if (waiting >= 2)
                waiting = 0;
        }
        if (waiting == 0 || a.pieces.size() < 2)
            return;
        const auto last = a.pieces.takeLast();
        a.pieces.last().first = last.first;
        a.pieces.last().second += last.second;
    }
}

// Pieces whose last one is sent `completeAt` ms after the host's write; earlier ones before it.
Answer endingAt(QRandomGenerator& r, const char* kind, const QByteArray& text, int completeAt) {
    Answer a;
    a.kind = kind;
    const QList<QByteArray> parts = cut(r, text, 0.3);
    QList<int> times(parts.size());
    times.last() = completeAt;
    for (int i = int(parts.size()) - 2; i >= 0; --i)
        times[i] = times[i + 1] - between(r, 1, 150);
    const int shift = times.first() < 0 ? -times.first() : 0;
    for (int i = 0; i < parts.size(); ++i)
        a.pieces << qMakePair(times[i] + shift, parts[i]);
    avoidStrayByte(a);
    return a;
}

// Pieces at distinct random times inside the given ranges.
Answer within(QRandomGenerator& r, const char* kind, const QByteArray& text, const QList<Range>& ranges) {
    Answer a;
    a.kind = kind;
    const QList<QByteArray> parts = cut(r, text, 0.3);
    int span = 0;
    for (const Range& range : ranges)
        span += range.second - range.first + 1;
    QList<int> times;
    while (times.size() < parts.size()) {
        int at = int(r.bounded(span));
        for (const Range& range : ranges) {
            const int width = range.second - range.first + 1;
            if (at < width) {
                at += range.first;
                break;
            }
            at -= width;
        }
        if (!times.contains(at))
            times << at;
    }
    std::sort(times.begin(), times.end());
    for (int i = 0; i < parts.size(); ++i)
        a.pieces << qMakePair(times[i], parts[i]);
    avoidStrayByte(a);
    return a;
}

// Identification windows, in ms after the probe: the switch-off check looks at what came
// within 200 ms, the type check at what came within 1.2 s. Nothing is sent close to either.
const QList<Range> Early{{5, 190}};
const QList<Range> Late{{220, 1180}};
const QList<Range> Anywhere{{5, 190}, {220, 1180}};

Answer probeJunk(QRandomGenerator& r) {
    static const QList<QByteArray> wrongCodes{"AD", "ab", " AB", "XA", "#AA", "A#",
                                              "QQ", "BA", "aa",  "OK", "EN"};
    switch (r.bounded(4)) {
    case 0:
        return within(r, "late switch-off", QByteArray(between(r, 2, 12), 'X'), Late);
    case 1:
        return Answer{};
    case 2: {
        QByteArray text = pick(r, wrongCodes);
        if (chance(r, 0.3))
            text += noise(r, 1, 3);
        return within(r, "wrong type", text, Anywhere);
    }
    default:
        return within(r, "noise", noise(r, 2, 6), Anywhere);
    }
}

Answer acceptedType(QRandomGenerator& r) {
    static const QList<QByteArray> codes{"AA", "AB", "AC", "UP"};
    QByteArray text = pick(r, codes);
    if (chance(r, 0.3)) {
        const int tail = int(r.bounded(3));
        text += tail == 0 ? QByteArray("DATE") : tail == 1 ? QByteArray("\r\n") : noise(r, 1, 3);
    }
    return within(r, "type code", text, Anywhere);
}

// A request (end == false) or the end mark, as the session's fault rate decides.
Answer reply(QRandomGenerator& r, bool end, double faultChance) {
    enum Kind { Prompt, Slow, Straddle, Late, Dropped, Garbled } kind = Prompt;
    if (chance(r, faultChance)) {
        const int roll = int(r.bounded(100));
        kind = roll < 25 ? Dropped : roll < 55 ? Straddle : roll < 75 ? Garbled : roll < 85 ? Late : Slow;
    } else if (chance(r, 0.12)) {
        kind = Slow;
    }
    if (kind == Dropped) {
        Answer a;
        a.kind = "dropped";
        return a;
    }

    QByteArray text;
    if (kind != Garbled) {
        if (end)
            text = QByteArray("EN") +
                   (chance(r, 0.2) ? pick(r, QList<QByteArray>{"\r\n", "D", noise(r, 1, 2)}) : QByteArray());
        else
            text = (chance(r, 0.2) ? noise(r, 1, 4) : QByteArray()) + "OK";
    } else if (end) {
        switch (r.bounded(5)) {
        case 0:
            text = noise(r, 1, 3) + "EN";
            break;
        case 1:
            text = "OKEN";
            break;
        case 2:
            text = "en";
            break;
        case 3:
            text = "NE";
            break;
        default:
            text = "E" + noise(r, 1, 2) + "N";
            break;
        }
    } else {
        switch (r.bounded(5)) {
        case 0:
            text = "OK" + noise(r, 1, 3);
            break;
        case 1:
            text = "ok";
            break;
        case 2:
            text = "KO";
            break;
        case 3:
            text = "O" + noise(r, 1, 2) + "K";
            break;
        default:
            text = noise(r, 2, 4);
            break;
        }
    }

    switch (kind) {
    case Slow:
        return endingAt(r, "slow", text, between(r, 151, 3899));
    case Straddle:
        // Half of them within a few ms of the limit, where the host's passes decide.
        return endingAt(r, "near the limit", text,
                        chance(r, 0.5) ? between(r, 3995, 4015) : between(r, 3900, 4100));
    case Late:
        // Still before the host, after its time-out and 2 s pause, announces again.
        return endingAt(r, "late", text, between(r, 4101, 5800));
    case Garbled:
        return endingAt(r, "garbled", text, between(r, 0, 300));
    default:
        return endingAt(r, "prompt", text, between(r, 0, 150));
    }
}

qint64 budgetFor(const FaultScript& s) {
    qint64 ms = 20;
    for (const Answer& a : s.probeAnswers)
        ms += (QByteArray(a.kind) == "switch-off") ? 215 : 1235;
    // Per attempt: the pause after a time-out, then per wait at most 4.01 s, the 1 s pause and the blocks.
    ms += 4 * (2015 + (s.sectors + 1) * (4015 + 1025 + 40));
    return ms + 5025 + 100;
}

} // namespace

const QList<qint64>& soakImageSizes() {
    static const QList<qint64> sizes{1,     2,     1000,   40000,  65535,  65536,
                                     65537, 98304, 131072, 131073, 196608, 262144};
    return sizes;
}

FaultScript FaultScript::make(quint32 seed) {
    QRandomGenerator r(seed);
    FaultScript s;
    s.seed = seed;
    s.freshRig = chance(r, 0.2);
    // Now and then the 32-bit tick count crosses its sign bit or wraps within the first sessions.
    const int ticks = int(r.bounded(4));
    s.tickBase = ticks < 2 ? 0 : (quint64(1) << (ticks == 2 ? 31 : 32)) - quint64(between(r, 1, 120000));

    static const QList<int> weights{6, 4, 6, 6, 6, 10, 5, 5, 4, 3, 2, 2};
    int roll = int(r.bounded(std::accumulate(weights.begin(), weights.end(), 0)));
    s.image = 0;
    while (roll >= weights[s.image])
        roll -= weights[s.image++];
    s.sectors = int((soakImageSizes()[s.image] + 65535) / 65536);

    // Identification: a switch-off phase and some junk, in random order, then a good type code.
    const int switchedOff = chance(r, 0.45) ? 0 : between(r, 1, between(r, 1, 30));
    const int junk = chance(r, 0.7) ? 0 : between(r, 1, 3);
    for (int i = 0; i < switchedOff; ++i)
        s.probeAnswers << within(r, "switch-off", QByteArray(between(r, 2, 12), 'X'), Early);
    for (int i = 0; i < junk; ++i)
        s.probeAnswers << probeJunk(r);
    for (int i = int(s.probeAnswers.size()) - 1; i > 0; --i)
        s.probeAnswers.swapItemsAt(i, int(r.bounded(i + 1)));
    s.probeAnswers << acceptedType(r);

    const int profile = int(r.bounded(100));
    const double faultChance = profile < 35 ? 0.0 : profile < 70 ? 0.12 : 0.45;
    for (int attempt = 0; attempt < 4; ++attempt) {
        QList<Answer> waits;
        for (int w = 0; w <= s.sectors; ++w)
            waits << reply(r, w == s.sectors, faultChance);
        s.waits << waits;
    }
    if (chance(r, 0.04)) {
        s.lineLostWait = int(r.bounded(s.sectors + 1));
        s.lineLostAfterMs = int(r.bounded(5000));
    }
    s.budgetMs = budgetFor(s);
    return s;
}

FaultScript FaultScript::plain(int image) {
    FaultScript s;
    s.freshRig = true;
    s.image = image;
    s.sectors = int((soakImageSizes()[image] + 65535) / 65536);
    Answer type;
    type.kind = "type code";
    type.pieces << qMakePair(50, QByteArray("AA"));
    s.probeAnswers << type;
    for (int attempt = 0; attempt < 4; ++attempt) {
        QList<Answer> waits;
        for (int w = 0; w <= s.sectors; ++w) {
            Answer a;
            a.kind = "prompt";
            a.pieces << qMakePair(20, QByteArray(w == s.sectors ? "EN" : "OK"));
            waits << a;
        }
        s.waits << waits;
    }
    s.budgetMs = budgetFor(s);
    return s;
}

QString printable(const QByteArray& bytes) {
    QString out;
    for (char c : bytes) {
        const uchar u = uchar(c);
        if (u >= 0x20 && u < 0x7F && c != '\'' && c != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString Answer::describe() const {
    QStringList parts;
    for (const auto& piece : pieces)
        parts << QStringLiteral("+%1 '%2'").arg(piece.first).arg(printable(piece.second));
    return QStringLiteral("%1%2%3").arg(
        QLatin1String(kind), parts.isEmpty() ? QString() : QStringLiteral(" "), parts.join(QLatin1Char(' ')));
}

QString FaultScript::describe() const {
    QStringList lines;
    lines << QStringLiteral("seed %1: image of %2 bytes (%3 sectors), %4 rig, tick base %5, budget %6 ms")
                 .arg(seed)
                 .arg(soakImageSizes()[image])
                 .arg(sectors)
                 .arg(freshRig ? QStringLiteral("new") : QStringLiteral("reused or new"))
                 .arg(tickBase)
                 .arg(budgetMs);
    if (lineLostWait >= 0)
        lines << QStringLiteral("  line lost %1 ms after wait %2 first begins")
                     .arg(lineLostAfterMs)
                     .arg(lineLostWait);
    for (int i = 0; i < probeAnswers.size(); ++i)
        lines << QStringLiteral("  probe %1: %2").arg(i + 1).arg(probeAnswers[i].describe());
    for (int attempt = 0; attempt < waits.size(); ++attempt)
        for (int w = 0; w < waits[attempt].size(); ++w)
            lines << QStringLiteral("  attempt %1 %2: %3")
                         .arg(attempt + 1)
                         .arg(w == sectors ? QStringLiteral("end mark") : QStringLiteral("request %1").arg(w))
                         .arg(waits[attempt][w].describe());
    return lines.join(QLatin1Char('\n'));
}
