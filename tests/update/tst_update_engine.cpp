// Tests of the update session on the simulated clock: identification, transfer, restarts, endings.
#include "EngineRig.h"

#include <QtTest>

class TestUpdateEngine : public QObject {
    Q_OBJECT
private slots:
    void transfersImageByteForByte();
    void requestAndEndMarks_data();
    void requestAndEndMarks();
    void replyLimitIsMoreThanFourSeconds_data();
    void replyLimitIsMoreThanFourSeconds();
    void silentModuleGivesFourAnnouncementsThenTheBox();
    void timeOutsAreCountedAcrossAttempts();
    void imageLengths_data();
    void imageLengths();
    void refusedImages_data();
    void refusedImages();
    void noImageChosen();
    void switchOffKeepsWarningAndProbesEvery200ms();
    void identificationAnswers_data();
    void identificationAnswers();
    void closedPortShowsBoxAndWritesNothing();
    void secondSessionStartsFromZero();
    void imageStillBeingWritten_data();
    void imageStillBeingWritten();
    void lostLineEndsTheSessionAtOnce_data();
    void lostLineEndsTheSessionAtOnce();
    void strayByteDoesNotShiftLaterAnswers();
};

void TestUpdateEngine::transfersImageByteForByte() {
    EngineRig rig;
    const QByteArray image = rig.makeImage(131072);
    rig.engine.StartUpdate();

    const QList<QByteArray> writes = rig.transferWrites();
    QCOMPARE(writes.size(), 9);
    QCOMPARE(writes[0], QByteArray("\x4F\x4B\x02", 3));
    for (int b = 0; b < 8; ++b)
        QCOMPARE(writes[b + 1], image.mid(b * 16384, 16384));
    QCOMPARE(rig.module.completedImage, image);
    QCOMPARE(rig.patterns, QStringList{QStringLiteral("QVL-GEN*.bin")});

    QCOMPARE(rig.display.percents,
             (QStringList{"0%", " 12%", " 25%", " 37%", " 50%", " 62%", " 75%", " 87%", " 100%", "0%"}));
    QVERIFY(rig.display.statusTexts.contains("Waiting for request..."));
    QVERIFY(rig.display.statusTexts.contains("Sending Sector 0   Block 0"));
    QVERIFY(rig.display.statusTexts.contains("Sending Sector 1   Block 3"));
    QVERIFY(rig.display.statusTexts.contains("Writing Sector 0"));
    QCOMPARE(rig.display.progressMax, 8);
    QCOMPARE(rig.display.progressValue, 0);
    QCOMPARE(rig.display.fileName, rig.imagePath);

    // Success shown, then ready, with one beep, the indicator green and the pointer normal.
    const int success = rig.display.states.lastIndexOf(DisplayState::Success);
    QVERIFY(success > 0);
    QCOMPARE(rig.display.states.last(), DisplayState::Ready);
    QCOMPARE(rig.display.beeps, 1);
    QCOMPARE(rig.display.activityColour, Colours::Green);
    QVERIFY(!rig.display.busy);
    QVERIFY(!rig.timer.isEnabled());
    QVERIFY(!rig.engine.imageOpen());
    QVERIFY(rig.prompts.messages.isEmpty());
}

// The module's words after the blocks: a request counts only as the last two characters
// of what arrived, the end mark only as the first two.
void TestUpdateEngine::requestAndEndMarks_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("plain") << QByteArray("OK") << QByteArray("EN") << true;
    QTest::newRow("noise before request") << QByteArray("#~OK") << QByteArray("EN") << true;
    QTest::newRow("request then CR") << QByteArray("OK\r") << QByteArray("EN") << false;
    QTest::newRow("end mark followed by text") << QByteArray("OK") << QByteArray("EN\r\n") << true;
    QTest::newRow("end mark after text") << QByteArray("OK") << QByteArray("OKEN") << false;
    QTest::newRow("lower case") << QByteArray("ok") << QByteArray("en") << false;
}

void TestUpdateEngine::requestAndEndMarks() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, end);
    QFETCH(bool, succeeds);
    EngineRig rig;
    rig.makeImage(65536);
    rig.module.script.requestText = request;
    rig.module.script.endText = end;
    rig.engine.StartUpdate();
    QCOMPARE(rig.display.states.contains(DisplayState::Success), succeeds);
    QCOMPARE(rig.prompts.texts().contains("Update error\rUpdate Fehler"), !succeeds);
    QCOMPARE(rig.announcementCount(), succeeds ? 1 : 4);
}

void TestUpdateEngine::replyLimitIsMoreThanFourSeconds_data() {
    QTest::addColumn<int>("requestAfterMs");
    QTest::addColumn<bool>("taken");
    QTest::newRow("4.000 s") << 4000 << true;
    QTest::newRow("4.001 s") << 4001 << true;
    QTest::newRow("4.002 s") << 4002 << false;
}

// The request wait begins with the announcement at 1.2 s; the 100 ms tick wakes the wait at
// exactly 4.000 s, which is not yet "more than 4 s", so a request one millisecond later
// still counts and one two milliseconds later is too late.
void TestUpdateEngine::replyLimitIsMoreThanFourSeconds() {
    QFETCH(int, requestAfterMs);
    QFETCH(bool, taken);
    EngineRig rig;
    const QByteArray image = rig.makeImage(65536);
    rig.module.script.requestDelayMs = requestAfterMs;
    rig.engine.StartUpdate();
    QCOMPARE(rig.engine.state().ErrorCount, qint16(taken ? 0 : 4));
    QCOMPARE(rig.module.completedImage, taken ? image : QByteArray());
    QCOMPARE(rig.engine.lastReport().outcome, taken ? SessionOutcome::Success : SessionOutcome::Failed);
}

void TestUpdateEngine::silentModuleGivesFourAnnouncementsThenTheBox() {
    EngineRig rig;
    rig.makeImage(65536);
    rig.module.script.silentAfterIdentify = true;
    qint64 boxAt = 0;
    rig.prompts.whileShown = [&](const Message&) { boxAt = rig.world.now(); };
    rig.engine.StartUpdate();

    QCOMPARE(rig.announcementCount(), 4);
    QCOMPARE(rig.prompts.messages.size(), 1);
    const Message& box = rig.prompts.messages.first();
    QCOMPARE(box.text, QStringLiteral("Update error\rUpdate Fehler"));
    QCOMPARE(box.title, QStringLiteral("Update Error"));
    QCOMPARE(box.icon, MessageIcon::Critical);
    QCOMPARE(rig.display.states.count(DisplayState::Error), 3);
    QCOMPARE(rig.engine.state().ErrorCount, qint16(4));
    // Identification takes 1.2 s; then four waits of just over 4 s with three 2 s pauses between.
    QVERIFY(boxAt > 1200 + 4 * 4000 + 3 * 2000);
    QVERIFY(boxAt < 1200 + 4 * 4000 + 3 * 2000 + 400);
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QCOMPARE(rig.display.activityColour, Colours::Green);
    QCOMPARE(rig.display.percent, QStringLiteral("0%"));
    QVERIFY(!rig.timer.isEnabled());
    QVERIFY(!rig.engine.imageOpen());
    QVERIFY(!rig.display.busy);
    QCOMPARE(rig.display.beeps, 0);
}

void TestUpdateEngine::timeOutsAreCountedAcrossAttempts() {
    EngineRig rig;
    const QByteArray image = rig.makeImage(6 * 65536);
    rig.module.script.dropRequests = {{1, 5}};
    rig.module.script.dropEnd = {2};
    rig.engine.StartUpdate();
    QCOMPARE(rig.announcementCount(), 3);
    QCOMPARE(rig.engine.state().ErrorCount, qint16(2));
    QCOMPARE(rig.module.completedImage, image);
    QVERIFY(rig.display.states.contains(DisplayState::Success));
    QVERIFY(rig.prompts.messages.isEmpty());
}

// No byte of an image is ever dropped: the count is rounded up and the last sector
// filled with erased-flash bytes.
void TestUpdateEngine::imageLengths_data() {
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("sectors");
    QTest::newRow("one sector") << qint64(65536) << 1;
    QTest::newRow("one byte") << qint64(1) << 1;
    QTest::newRow("1.5 sectors") << qint64(98304) << 2;
    QTest::newRow("2.5 sectors") << qint64(163840) << 3;
    QTest::newRow("one byte over") << qint64(65537) << 2;
}

void TestUpdateEngine::imageLengths() {
    QFETCH(qint64, length);
    QFETCH(int, sectors);
    EngineRig rig;
    const QByteArray image = rig.makeImage(length);
    rig.engine.StartUpdate();
    QCOMPARE(rig.module.announcedCounts, QList<int>{sectors});
    const QByteArray sent = rig.module.completedImage;
    QCOMPARE(sent.size(), sectors * 65536);
    QCOMPARE(sent.left(int(length)), image);
    QCOMPARE(sent.mid(int(length)), QByteArray(sectors * 65536 - int(length), char(0xFF)));
}

void TestUpdateEngine::refusedImages_data() {
    QTest::addColumn<qint64>("length"); // -1: no file at all
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << qint64(0) << "is empty";
    QTest::newRow("256 sectors") << qint64(255) * 65536 + 1 << "larger than 255 sectors";
    QTest::newRow("missing") << qint64(-1) << "cannot be opened";
}

void TestUpdateEngine::refusedImages() {
    QFETCH(qint64, length);
    QFETCH(QString, says);
    EngineRig rig;
    if (length >= 0)
        rig.makeImage(length);
    else
        rig.imagePath = rig.folder.path() + "/QVL-GEN-GONE.bin";
    rig.engine.StartUpdate();
    QCOMPARE(rig.announcementCount(), 0);
    QCOMPARE(rig.transferWrites().size(), 0);
    QCOMPARE(rig.prompts.messages.size(), 1);
    QVERIFY2(rig.prompts.messages.first().text.contains(says), qPrintable(rig.prompts.messages.first().text));
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QCOMPARE(rig.display.activityColour, Colours::Green);
    QVERIFY(!rig.display.busy);
    QVERIFY(!rig.timer.isEnabled());
    QVERIFY(!rig.engine.imageOpen());
}

void TestUpdateEngine::noImageChosen() {
    EngineRig rig;
    rig.imagePath.clear();
    rig.engine.StartUpdate();
    QCOMPARE(rig.transferWrites().size(), 0);
    QCOMPARE(rig.prompts.messages.size(), 1);
    const QString text = rig.prompts.messages.first().text;
    QVERIFY(text.contains(rig.folder.path()));
    QVERIFY(text.contains("QVL-GEN*.bin"));
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QVERIFY(!rig.display.busy);
}

void TestUpdateEngine::switchOffKeepsWarningAndProbesEvery200ms() {
    EngineRig rig;
    rig.makeImage(65536);
    rig.module.script.xxProbes = 10;
    QList<qint64> probeTimes;
    QList<DisplayState> statesAtProbe;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        if (bytes == UpdateEngine::ModuleProbe) {
            probeTimes << rig.world.now();
            statesAtProbe << rig.display.state;
        }
        inner(bytes);
    };
    rig.engine.StartUpdate();
    QCOMPARE(rig.module.probes, 11);
    for (int i = 1; i < 11; ++i) {
        const qint64 gap = probeTimes[i] - probeTimes[i - 1];
        QVERIFY2(gap >= 200 && gap <= 215, qPrintable(QString::number(gap)));
    }
    QCOMPARE(statesAtProbe[1], DisplayState::Warning);
    QCOMPARE(statesAtProbe[10], DisplayState::Warning);
    QVERIFY(rig.display.states.contains(DisplayState::Success));
}

void TestUpdateEngine::identificationAnswers_data() {
    QTest::addColumn<QByteArray>("firstAnswers"); // answer to the first three probes
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("probes");
    QTest::newRow("AA") << QByteArray("AA") << 50 << 1;
    QTest::newRow("AB after 0.5 s") << QByteArray("AB") << 500 << 1;
    QTest::newRow("AC") << QByteArray("AC") << 50 << 1;
    // "UP" is what a module sends when it asks for data by itself; such a module is ready to
    // take an image, so it counts as identified like the three type codes.
    QTest::newRow("UP and more") << QByteArray("UPDATE") << 50 << 1;
    QTest::newRow("lower case") << QByteArray("ab") << 50 << 4;
    QTest::newRow("leading space") << QByteArray(" AB") << 50 << 4;
    QTest::newRow("half a probe echo") << QByteArray("XA") << 50 << 4;
    QTest::newRow("other code") << QByteArray("AD") << 50 << 4;
}

void TestUpdateEngine::identificationAnswers() {
    QFETCH(QByteArray, firstAnswers);
    QFETCH(int, delayMs);
    QFETCH(int, probes);
    EngineRig rig;
    rig.makeImage(65536);
    int probe = 0;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        if (bytes != UpdateEngine::ModuleProbe)
            return inner(bytes);
        ++probe;
        // Answers to the first three probes as given; the fourth gets a good answer at once.
        if (probe <= 3)
            rig.world.after(delayMs, [&, firstAnswers] { rig.serial.deliver(firstAnswers); });
        else
            rig.world.after(20, [&] { rig.serial.deliver("AA"); });
    };
    rig.engine.StartUpdate();
    QCOMPARE(probe, probes);
    QCOMPARE(rig.patterns.size(), 1);
    QVERIFY(rig.display.states.contains(DisplayState::Success));
    QVERIFY(!rig.display.states.contains(DisplayState::Warning));
}

void TestUpdateEngine::closedPortShowsBoxAndWritesNothing() {
    EngineRig rig;
    rig.makeImage(65536);
    rig.serial.setPortOpen(false);
    rig.engine.StartUpdate();
    QVERIFY(rig.serial.wire.isEmpty());
    QCOMPARE(rig.prompts.messages.size(), 1);
    QCOMPARE(rig.prompts.messages.first().text, QStringLiteral("No Com Port selected!"));
    QCOMPARE(rig.prompts.messages.first().title, QStringLiteral("ComPortError"));
    QCOMPARE(rig.prompts.messages.first().icon, MessageIcon::Critical);
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QCOMPARE(rig.display.activityColour, Colours::Green);
    QCOMPARE(rig.display.percent, QStringLiteral("0%"));
    QCOMPARE(rig.display.statusText, QString());
    QVERIFY(!rig.display.busy);
    QVERIFY(rig.patterns.isEmpty());
}

void TestUpdateEngine::secondSessionStartsFromZero() {
    EngineRig rig;
    rig.makeImage(65536);
    rig.module.script.dropRequests = {{1, 0}};
    rig.engine.StartUpdate();
    QCOMPARE(rig.engine.state().ErrorCount, qint16(1));
    QVERIFY(rig.display.elapsed != "0:00:00");

    QString elapsedAtProbe;
    qint16 errorsAtProbe = -1;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        if (bytes == UpdateEngine::ModuleProbe && elapsedAtProbe.isEmpty()) {
            elapsedAtProbe = rig.display.elapsed;
            errorsAtProbe = rig.engine.state().ErrorCount;
        }
        inner(bytes);
    };
    rig.engine.StartUpdate();
    QCOMPARE(elapsedAtProbe, QStringLiteral("0:00:00"));
    QCOMPARE(errorsAtProbe, qint16(0));
    QCOMPARE(rig.engine.state().ErrorCount, qint16(0));
}

void TestUpdateEngine::imageStillBeingWritten_data() {
    QTest::addColumn<int>("pieces"); // written one a second after the first, while the session waits
    QTest::newRow("a copy that pauses once") << 1;
    QTest::newRow("a copy that never stands still") << 20;
}

// An image written a moment ago may be a copy that has only paused: it is read again once it
// has stood still, and a file that never does is refused instead of sent half-written.
void TestUpdateEngine::imageStillBeingWritten() {
    QFETCH(int, pieces);
    EngineRig rig;
    const QByteArray whole = rig.makeImage(2 * 65536);
    QFile file(rig.imagePath);
    QVERIFY(file.resize(65536)); // the first half, written just now
    for (int piece = 1; piece <= pieces; ++piece)
        rig.world.at(1200 + 1000 * piece, [&, piece] {
            QFile more(rig.imagePath);
            QVERIFY(more.open(QIODevice::Append));
            more.write(piece == 1 ? whole.mid(65536) : QByteArray(1, 'x'));
        });
    rig.engine.StartUpdate();
    if (pieces == 1) {
        QCOMPARE(rig.prompts.texts(), QStringList());
        QCOMPARE(rig.module.completedImage, whole);
        QCOMPARE(rig.module.announcedCounts, QList<int>{2});
    } else {
        QCOMPARE(rig.prompts.messages.size(), 1);
        QVERIFY(rig.prompts.messages.first().text.contains("kept changing while it was read"));
        QCOMPARE(rig.announcementCount(), 0);
    }
}

void TestUpdateEngine::lostLineEndsTheSessionAtOnce_data() {
    QTest::addColumn<int>("lostAtMs");
    QTest::addColumn<bool>("probing");
    QTest::newRow("while probing") << 5000 << true;
    QTest::newRow("awaiting a request") << 1200 + 10 << false;
    QTest::newRow("mid-sector") << 1200 + 20 + 1000 + 1 << false;
    QTest::newRow("pausing before a restart") << 1200 + 20 + 4001 + 500 << false;
}

// An unplugged adapter closes the port. No restart can help a closed port: the session
// ends at once, says which line was lost, and goes back to ready.
void TestUpdateEngine::lostLineEndsTheSessionAtOnce() {
    QFETCH(int, lostAtMs);
    QFETCH(bool, probing);
    EngineRig rig;
    rig.makeImage(3 * 65536);
    rig.module.script.silent = probing;
    if (QByteArray(QTest::currentDataTag()).contains("restart"))
        rig.module.script.dropRequests = {{1, 0}};
    rig.world.at(lostAtMs, [&] { rig.serial.hangUp(); });
    rig.engine.StartUpdate();
    QVERIFY(rig.world.now() < lostAtMs + 300);
    QCOMPARE(rig.prompts.texts(), QStringList{"The line to Com1 was lost (the adapter was unplugged or the "
                                              "cable pulled).\nThe module was not updated."});
    QCOMPARE(rig.announcementCount(), probing ? 0 : 1);
    QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::LineLost);
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QVERIFY(!rig.timer.isEnabled());
    QVERIFY(!rig.display.busy);
    QVERIFY(!rig.engine.imageOpen());
    QVERIFY(!rig.engine.sessionActive());
}

// One byte below the receive threshold, left over from an earlier exchange, must not put
// every later answer one byte out of step.
void TestUpdateEngine::strayByteDoesNotShiftLaterAnswers() {
    EngineRig rig;
    const QByteArray image = rig.makeImage(65536);
    rig.serial.deliver("O");
    QVERIFY(rig.engine.state().RxBuffer.isEmpty());
    rig.engine.StartUpdate();
    QCOMPARE(rig.module.probes, 1);
    QCOMPARE(rig.module.completedImage, image);
    QCOMPARE(rig.engine.state().ErrorCount, qint16(0));
}

QTEST_GUILESS_MAIN(TestUpdateEngine)
#include "tst_update_engine.moc"
