// Tests of the update session on the simulated clock: identification, transfer, restarts, endings.
#include "EngineRig.h"

#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    void lineLostAfterTheEndMark_data();
    void lineLostAfterTheEndMark();
    void strayByteDoesNotShiftLaterAnswers();
    void endAfterTheEndMark_data();
    void endAfterTheEndMark();
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
// of what arrived, the end mark only as the first two, and only from the last block on.
void TestUpdateEngine::requestAndEndMarks_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("end");
    // after the data, early, early and after, during block k of the last sector (alone when "only")
    QTest::addColumn<QString>("endWhen");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("plain") << QByteArray("OK") << QByteArray("EN") << "after" << true;
    QTest::newRow("noise before request") << QByteArray("#~OK") << QByteArray("EN") << "after" << true;
    QTest::newRow("request then CR") << QByteArray("OK\r") << QByteArray("EN") << "after" << false;
    QTest::newRow("end mark followed by text") << QByteArray("OK") << QByteArray("EN\r\n") << "after" << true;
    QTest::newRow("end mark after text") << QByteArray("OK") << QByteArray("OKEN") << "after" << false;
    QTest::newRow("lower case") << QByteArray("ok") << QByteArray("en") << "after" << false;
    QTest::newRow("end mark before the last data only")
        << QByteArray("OK") << QByteArray("EN") << "early" << false;
    QTest::newRow("end mark before and after the last data")
        << QByteArray("OK") << QByteArray("EN") << "early and after" << true;
    QTest::newRow("end mark while the last block is written")
        << QByteArray("OK") << QByteArray("EN") << "during 3" << true;
    // The module answers the start of the last sector, not its end: the receive buffer must be
    // emptied just before the last block, not before the sector's first.
    QTest::newRow("end mark only while block 1 of the last sector is written")
        << QByteArray("OK") << QByteArray("EN") << "during 1 only" << false;
}

void TestUpdateEngine::requestAndEndMarks() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, end);
    QFETCH(QString, endWhen);
    QFETCH(bool, succeeds);
    EngineRig rig;
    const QByteArray image = rig.makeImage(2 * 65536);
    rig.module.script.requestText = request;
    rig.module.script.endText = end;
    rig.module.script.endAfterLastRequest = endWhen.startsWith("early");
    if (endWhen.startsWith("during"))
        rig.module.script.endDuringLastSectorBlock = endWhen.section(' ', 1, 1).toInt();
    if (endWhen == "early" || endWhen.endsWith("only"))
        rig.module.script.dropEnd = {1, 2, 3, 4};
    rig.engine.StartUpdate();
    QCOMPARE(rig.display.states.contains(DisplayState::Success), succeeds);
    QCOMPARE(rig.prompts.texts().contains("Update error\rUpdate Fehler"), !succeeds);
    QCOMPARE(rig.announcementCount(), succeeds ? 1 : 4);
    QCOMPARE(rig.engine.lastReport().outcome, succeeds ? SessionOutcome::Success : SessionOutcome::Failed);
    // An early end mark leaves every attempt waiting for the end of the last sector: each
    // attempt sends the whole image and times out.
    if (!succeeds && endWhen != "after")
        QCOMPARE(rig.transferWrites().size(), 4 * (1 + 2 * 4));
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
    QTest::newRow("255 sectors, the most one announcement can carry") << qint64(255) * 65536 << 255;
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
    QTest::addColumn<QString>("kind");  // file, missing, fifo, folder, latin1 (a name not valid UTF-8)
    QTest::addColumn<qint64>("length"); // of a file
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << "file" << qint64(0) << "is empty";
    QTest::newRow("255 sectors and a byte") << "file" << qint64(255) * 65536 + 1 << "larger than 255 sectors";
    QTest::newRow("missing") << "missing" << qint64(0) << "cannot be opened: it does not exist.";
    QTest::newRow("a FIFO a writer waits on") << "fifo" << qint64(0) << "cannot be opened: it is not a file.";
    QTest::newRow("a folder") << "folder" << qint64(0) << "cannot be opened: it is not a file.";
    QTest::newRow("a name not valid UTF-8")
        << "latin1" << qint64(0) << "the name QVL-GEN-Pr?f.bin is not valid UTF-8";
}

// A FIFO is refused without being opened: opening it would let a writer that waits on it go
// on (or, opened blocking, hold the session for good).
void TestUpdateEngine::refusedImages() {
    QFETCH(QString, kind);
    QFETCH(qint64, length);
    QFETCH(QString, says);
    EngineRig rig;
    std::atomic<bool> writerGotIn{false};
    std::thread writer;
    const QByteArray latin1 = QFile::encodeName(rig.folder.path()) + "/QVL-GEN-Pr\xFC"
                                                                     "f.bin";
    const QByteArray fifo = QFile::encodeName(rig.folder.path() + "/QVL-GEN-FIFO.bin");
    if (kind == "file") {
        rig.makeImage(length);
    } else if (kind == "missing") {
        rig.imagePath = rig.folder.path() + "/QVL-GEN-GONE.bin";
    } else if (kind == "folder") {
        rig.imagePath = rig.folder.path() + "/QVL-GEN-DIR.bin";
        QVERIFY(QDir().mkdir(rig.imagePath));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        rig.imagePath = QFile::decodeName(fifo);
        writer = std::thread([&] {
            const int fd = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC); // waits for a reader
            writerGotIn = true;
            if (fd >= 0)
                ::close(fd);
        });
        QThread::msleep(100); // the writer is waiting in open() by now
    } else {
        const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "image", 5), ssize_t(5));
        ::close(fd);
        rig.imagePath = QFile::decodeName(latin1);
        QVERIFY(rig.imagePath.contains(QChar::ReplacementCharacter));
    }
    QElapsedTimer took;
    took.start();
    rig.engine.StartUpdate();
    QVERIFY(took.elapsed() < 2000);
    ::unlink(latin1.constData()); // the temporary folder cannot remove it by its decoded name
    if (writer.joinable()) {
        QThread::msleep(100);
        const bool opened = writerGotIn;
        // Lets the writer go, whatever happened.
        const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer.join();
        ::close(fd);
        QVERIFY2(!opened, "the FIFO was opened before it was refused");
    }
    QCOMPARE(rig.announcementCount(), 0);
    QCOMPARE(rig.transferWrites().size(), 0);
    QCOMPARE(rig.prompts.messages.size(), 1);
    QVERIFY2(rig.prompts.messages.first().text.contains(says), qPrintable(rig.prompts.messages.first().text));
    QVERIFY(!rig.prompts.messages.first().text.contains("does not exist") || kind == "missing");
    QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::ImageRefused);
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
    QTest::addColumn<qint64>("timesShift");     // seconds the writer's clock is off: its files' times
    QTest::addColumn<QList<int>>("writesAtMs"); // the rest of the image, then a byte at each further time
    QTest::addColumn<bool>("preset");           // read before the session, as the command line does
    QTest::addColumn<bool>("sent");             // the whole image; else refused before any image byte
    QTest::addColumn<int>("firstBlockAtMs");    // 0: not checked

    const qint64 ahead = 86400, behind = -60;
    // Identification ends at 1.2 s: the snapshot is read then, the request comes 20 ms after the
    // announcement, and the first block one second after that.
    QTest::newRow("not being written: no time added") << ahead << QList<int>{} << false << true << 2220;
    QTest::newRow("not being written, read beforehand") << behind << QList<int>{} << true << true << 2220;
    QTest::newRow("times ahead, writer pauses, done before the read")
        << ahead << QList<int>{600} << false << true << 3220;
    QTest::newRow("times behind, writer pauses, done before the read")
        << behind << QList<int>{600} << false << true << 3220;
    QTest::newRow("times ahead, writer resumes after the read")
        << ahead << QList<int>{1700} << false << false << 0;
    QTest::newRow("times behind, writer resumes after the read")
        << behind << QList<int>{1700} << false << false << 0;
    QTest::newRow("times behind, writer resumes just before the first block")
        << behind << QList<int>{2210} << false << false << 0;
    QTest::newRow("writer resumes while the session waits for stillness")
        << ahead << QList<int>{600, 1800} << false << false << 0;
    QTest::newRow("read beforehand, times ahead, writer resumes during identification")
        << ahead << QList<int>{1000} << true << false << 0;
    QTest::newRow("read beforehand, times behind, writer resumes before the first block")
        << behind << QList<int>{2000} << true << false << 0;
    QList<int> endless;
    for (int piece = 1; piece <= 20; ++piece)
        endless << 1000 * piece;
    QTest::newRow("a copy that never stands still") << qint64(0) << endless << false << false << 0;
}

// Whatever the times of an image file say, a copy that pauses is never sent in part: the file
// must be as it was read and have stood still for 2 s on the session's own clock when the first
// block goes out, or the update is refused before any byte of the image is sent.
void TestUpdateEngine::imageStillBeingWritten() {
    QFETCH(qint64, timesShift);
    QFETCH(QList<int>, writesAtMs);
    QFETCH(bool, preset);
    QFETCH(bool, sent);
    QFETCH(int, firstBlockAtMs);
    EngineRig rig;
    const QByteArray whole = rig.makeImage(2 * 65536);
    const QByteArray name = QFile::encodeName(rig.imagePath);
    // What a file server whose clock is off leaves behind after each write.
    const auto stamp = [&] {
        timespec times[2]{};
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec += timesShift;
        times[1] = times[0];
        QCOMPARE(::utimensat(AT_FDCWD, name.constData(), times, 0), 0);
    };
    if (!writesAtMs.isEmpty())
        QVERIFY(QFile(rig.imagePath).resize(65536)); // the copy has paused after its first half
    stamp();
    for (int piece = 0; piece < writesAtMs.size(); ++piece)
        rig.world.at(writesAtMs[piece], [&, piece] {
            QFile more(rig.imagePath);
            QVERIFY(more.open(QIODevice::Append));
            more.write(piece == 0 ? whole.mid(65536) : QByteArray(1, 'x'));
            more.close();
            stamp();
        });
    if (preset) {
        FirmwareImage image;
        QCOMPARE(image.load(rig.imagePath), FirmwareImage::Check::Ok);
        rig.engine.useImage(image);
    }
    qint64 firstBlockAt = 0;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        if (bytes.size() > 3 && firstBlockAt == 0)
            firstBlockAt = rig.world.now();
        inner(bytes);
    };
    rig.engine.StartUpdate();
    if (sent) {
        QCOMPARE(rig.prompts.texts(), QStringList());
        QCOMPARE(rig.module.completedImage, whole);
        QCOMPARE(rig.module.announcedCounts, QList<int>{2});
        QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::Success);
        QCOMPARE(firstBlockAt, qint64(firstBlockAtMs));
        QCOMPARE(rig.display.statusTexts.contains("Waiting for the image file to be complete..."),
                 firstBlockAtMs > 2220);
    } else {
        QCOMPARE(rig.prompts.messages.size(), 1);
        QVERIFY(rig.prompts.messages.first().text.contains("kept changing"));
        QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::ImageRefused);
        QCOMPARE(firstBlockAt, qint64(0));
        QVERIFY(rig.module.received.isEmpty());
        QVERIFY(rig.announcementCount() <= 1);
        QCOMPARE(rig.display.state, DisplayState::Ready);
        QVERIFY(!rig.timer.isEnabled());
        QVERIFY(!rig.engine.imageOpen());
    }
}

void TestUpdateEngine::lostLineEndsTheSessionAtOnce_data() {
    QTest::addColumn<int>("lostAtMs");
    QTest::addColumn<bool>("probing");
    QTest::addColumn<bool>("interrupted"); // stopped by the operator instead of losing the line
    QTest::newRow("while probing") << 5000 << true << false;
    QTest::newRow("awaiting a request") << 1200 + 10 << false << false;
    QTest::newRow("mid-sector") << 1200 + 20 + 1000 + 1 << false << false;
    // The first sector went out; the request for the second never comes.
    QTest::newRow("pausing before a restart") << 2220 + 4001 + 500 << false << false;
    QTest::newRow("interrupted while probing") << 5000 << true << true;
    QTest::newRow("interrupted mid-sector") << 1200 + 20 + 1000 + 1 << false << true;
    QTest::newRow("interrupted pausing before a restart") << 2220 + 4001 + 500 << false << true;
    QTest::newRow("interrupted waiting for the image to stand still") << 2000 << false << true;
}

// An unplugged adapter closes the port, and an interrupted session is not to go on. No
// restart can help either: the session ends at once, says why, and goes back to ready.
void TestUpdateEngine::lostLineEndsTheSessionAtOnce() {
    QFETCH(int, lostAtMs);
    QFETCH(bool, probing);
    QFETCH(bool, interrupted);
    EngineRig rig;
    const QByteArray whole = rig.makeImage(3 * 65536);
    rig.module.script.silent = probing;
    const QByteArray tag(QTest::currentDataTag());
    if (tag.contains("restart"))
        rig.module.script.dropRequests = {{1, 1}};
    if (tag.contains("stand still")) {
        // Written on during identification: the session waits until 2.2 s before announcing.
        QVERIFY(QFile(rig.imagePath).resize(65536));
        rig.world.at(600, [&] {
            QFile more(rig.imagePath);
            QVERIFY(more.open(QIODevice::Append));
            more.write(whole.mid(65536));
        });
    }
    rig.world.at(lostAtMs, [&] {
        if (interrupted)
            rig.engine.interrupt();
        else
            rig.serial.hangUp();
    });
    rig.engine.StartUpdate();
    QVERIFY(rig.world.now() < lostAtMs + 300);
    QCOMPARE(rig.prompts.texts(),
             QStringList{interrupted ? "The session on Com1 was interrupted.\nThe module was not updated."
                                     : "The line to Com1 was lost (the adapter was unplugged or the "
                                       "cable pulled).\nThe module was not updated."});
    QCOMPARE(rig.announcementCount(), probing || tag.contains("stand still") ? 0 : 1);
    QCOMPARE(rig.engine.lastReport().outcome,
             interrupted ? SessionOutcome::Interrupted : SessionOutcome::LineLost);
    QCOMPARE(rig.engine.lastReport().restarts, tag.contains("restart") ? 1 : 0);
    QCOMPARE(rig.display.state, DisplayState::Ready);
    QVERIFY(!rig.timer.isEnabled());
    QVERIFY(!rig.display.busy);
    QVERIFY(!rig.engine.imageOpen());
    QVERIFY(!rig.engine.sessionActive());
}

void TestUpdateEngine::lineLostAfterTheEndMark_data() {
    QTest::addColumn<int>("afterEndMs");
    QTest::newRow("in the pause before the success display") << 500;
    QTest::newRow("while success is shown") << 3000;
}

// After the end mark the module has its image: a line lost then (the operator unplugs the
// adapter as soon as the module is done) leaves the success as it is, display and all.
void TestUpdateEngine::lineLostAfterTheEndMark() {
    QFETCH(int, afterEndMs);
    EngineRig rig;
    const QByteArray image = rig.makeImage(65536);
    qint64 endAt = 0;
    rig.module.script.endDuringLastSectorBlock = 3;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        inner(bytes);
        if (rig.module.completedTransfers == 1 && endAt == 0) {
            endAt = rig.world.now();
            rig.world.after(afterEndMs, [&] { rig.serial.hangUp(); });
        }
    };
    rig.engine.StartUpdate();
    QCOMPARE(rig.module.completedImage, image);
    QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::Success);
    QCOMPARE(rig.prompts.texts(), QStringList());
    QVERIFY(rig.display.states.contains(DisplayState::Success));
    QCOMPARE(rig.display.beeps, 1);
    // The success display ran its full course: 2 s, then 3 s of success.
    QVERIFY2(rig.world.now() - endAt >= 5000, qPrintable(QString::number(rig.world.now() - endAt)));
    QCOMPARE(rig.display.state, DisplayState::Ready);
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

// The module settles for 2 s after its end mark with the line open; only the window then shows
// success for 3 s more.
void TestUpdateEngine::endAfterTheEndMark_data() {
    QTest::addColumn<bool>("display");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("window: settle pause and success display") << true << 5000 << 5100;
    QTest::newRow("command line: settle pause only") << false << 2000 << 2100;
}

void TestUpdateEngine::endAfterTheEndMark() {
    QFETCH(bool, display);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    EngineRig rig;
    const QByteArray image = rig.makeImage(65536);
    rig.engine.setSuccessDisplay(display);
    qint64 endAt = 0;
    rig.serial.onWrite = [&, inner = rig.serial.onWrite](const QByteArray& bytes) {
        inner(bytes);
        if (rig.module.completedTransfers == 1 && endAt == 0)
            endAt = rig.world.now();
    };
    rig.engine.StartUpdate();
    QCOMPARE(rig.module.completedImage, image);
    QCOMPARE(rig.engine.lastReport().outcome, SessionOutcome::Success);
    const qint64 took = rig.world.now() - endAt;
    QVERIFY2(took >= minMs && took <= maxMs, qPrintable(QString::number(took)));
    QVERIFY(rig.serial.PortOpen());
    QVERIFY(!rig.display.busy);
    QCOMPARE(rig.display.beeps, display ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestUpdateEngine)
#include "tst_update_engine.moc"
