// Every file writer and the settings reader against every hostile state of the file.
#include "AddFile.h"
#include "FakeDeviceListing.h"
#include "HostileFiles.h"
#include "PortAssignment.h"
#include "RecordingPrompts.h"
#include "SafeFileWrite.h"
#include "SettingsFile.h"
#include "SimWorld.h"
#include "UpdateRecord.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using hostile::HostileFile;
using hostile::State;

enum class Writer { Settings, PortAssignment, Record, AddFile, WholeFile };
Q_DECLARE_METATYPE(Writer)
Q_DECLARE_METATYPE(hostile::State)
Q_DECLARE_METATYPE(SessionOutcome)

namespace {
// A page of old bytes: on the small tmpfs a writer then needs a page of its own, which is not there.
QByteArray padded(const QByteArray& head, const QByteArray& tail) {
    return head + QByteArray(4096 - head.size() - tail.size(), 'x') + tail;
}

QByteArray oldBytesFor(Writer writer) {
    switch (writer) {
    case Writer::Settings:
    case Writer::PortAssignment:
        return padded("; bench 2\n[Ports]\nCOM1=/dev/ttyUSB7\n; ", "\n");
    case Writer::Record:
        return padded(R"({"result":"success","message":")", "\"}\n");
    case Writer::AddFile:
    case Writer::WholeFile:
        break;
    }
    return QByteArray(4096, 'o');
}

const QByteArray NewImage(8192, 'n');
const QString AdapterName = QStringLiteral("/dev/serial/by-id/usb-Bench_Adapter_A-if00-port0");

UpdateRecordEntry someEntry() {
    SessionReport report;
    report.outcome = SessionOutcome::Success;
    report.imagePath = QStringLiteral("/srv/images/QVL-GEN-2.bin");
    report.imageBytes = 196608;
    report.sectors = 3;
    return updateRecordEntry(report, RecordFrontEnd::CommandLine, QStringLiteral("COM1"),
                             QStringLiteral("/dev/ttyUSB0"));
}

class FixedDialog : public AddFilePrompts {
public:
    explicit FixedDialog(QString path)
        : path(std::move(path)) {}
    QString openBinFile() override { return path; }
    QString path;
};

// Runs the writer on the file; true when it says it wrote.
bool write(Writer writer, const HostileFile& file, const QString& source, QString& error) {
    switch (writer) {
    case Writer::Settings:
        return storeSettingsValue(file.path(), QStringLiteral("Settings"), QStringLiteral("COM-Port"),
                                  QStringLiteral("3"), error);
    case Writer::PortAssignment: {
        FakeDeviceListing listing;
        listing.present = {{AdapterName, QStringLiteral("/dev/ttyUSB0"), {}, {}, {}}};
        const PortAssignmentResult result = applyPortAssignment(file.path(), listing);
        error = result.writeError;
        // The assignment holds for the run whether or not it could be stored.
        return error.isEmpty() && result.map.deviceFor(2) == AdapterName;
    }
    case Writer::Record:
        return appendUpdateRecord(file.path(), someEntry(), error);
    case Writer::AddFile: {
        FixedDialog dialog(source);
        RecordingPrompts prompts; // answers OK to "Overwrite?"
        SimWorld world;
        const QFileInfo target(file.path());
        const AddFileResult result = addFirmwareFile(target.absolutePath(), dialog, prompts, world);
        if (result != AddFileResult::Copied && !prompts.messages.isEmpty())
            error = prompts.messages.last().text;
        return result == AddFileResult::Copied;
    }
    case Writer::WholeFile:
        return writeFileWhole(file.pathBytes(), NewImage, error);
    }
    return false;
}

// Whether the file now holds what the writer writes, whole.
bool wholeNewContent(Writer writer, const HostileFile& file) {
    const QByteArray now = file.bytesNow();
    switch (writer) {
    case Writer::Settings:
        return now == file.oldBytes() + "\n[Settings]\nCOM-Port=3\n";
    case Writer::PortAssignment:
        // At the end of [Ports], after the operator's comment.
        return now == file.oldBytes() + "COM2=" + AdapterName.toUtf8() + '\n';
    case Writer::Record:
        return now.startsWith(file.oldBytes()) && now.endsWith("\"}\n") &&
               now.count('\n') == file.oldBytes().count('\n') + 1;
    case Writer::AddFile:
    case Writer::WholeFile:
        return now == NewImage;
    }
    return false;
}
// The settings lock leaves its file behind on purpose: empty, regular, the owner's only. Removed
// here so that the rest of the folder can be compared.
bool takeLockFile(const QByteArray& path) {
    struct stat seen {};
    if (::lstat(path.constData(), &seen) != 0)
        return errno == ENOENT; // a folder nobody may write in holds none
    return S_ISREG(seen.st_mode) && seen.st_size == 0 && (seen.st_mode & 07777) == 0600 &&
           ::unlink(path.constData()) == 0;
}

bool storeIn(const QString& file, const QString& key, const QString& value, QString& error) {
    return storeSettingsValue(file, QStringLiteral("Settings"), key, value, error);
}
} // namespace

class TestFileWriters : public QObject {
    Q_OBJECT
private slots:
    void writerInHostileState_data();
    void writerInHostileState();
    void settingsLockInHostileState_data();
    void settingsLockInHostileState();
    void settingsStoresAtOnceBothLand();
    void settingsReaderInHostileState_data();
    void settingsReaderInHostileState();
    void recordTakesWholeLines_data();
    void recordTakesWholeLines();
    void recordWithTwoWriters_data();
    void recordWithTwoWriters();
    void safeWriteFlushesBeforeTheRename();
    void resultNames_data();
    void resultNames();
};

void TestFileWriters::writerInHostileState_data() {
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("reason"); // empty: the writer must write the whole new content

    const QList<std::pair<Writer, QString>> writers = {
        {Writer::Settings, QStringLiteral("settings store")},
        {Writer::PortAssignment, QStringLiteral("port assignment")},
        {Writer::Record, QStringLiteral("record append")},
        {Writer::AddFile, QStringLiteral("Add File copy")},
        {Writer::WholeFile, QStringLiteral("safe write")}};
    const QString notRegular = QStringLiteral("it is not a regular file");
    for (const auto& [writer, name] : writers) {
        const bool settings = writer == Writer::Settings || writer == Writer::PortAssignment;
        const bool replaces = writer == Writer::AddFile || writer == Writer::WholeFile;
        const auto row = [&](State state, const QString& reason) {
            QTest::addRow("%s, %s", qPrintable(name), qPrintable(hostile::stateName(state)))
                << writer << state << reason;
        };
        row(State::Plain, QString());
        row(State::FullDisk, QStringLiteral("File too large"));
        row(State::FullTmpfs, QStringLiteral("No space left on device"));
        row(State::ReadOnlyFile, QStringLiteral("it is read-only"));
        // Appending needs no new name in the folder: a writable record in it takes its line.
        row(State::ReadOnlyFolder, writer == Writer::Record ? QString() : QStringLiteral("is read-only"));
        row(State::Fifo, notRegular);
        // A link in the library is not written through: the copy would land outside it.
        row(State::LinkToNull, replaces ? QStringLiteral("it is a symbolic link") : notRegular);
        row(State::LinkToZero, replaces ? QStringLiteral("it is a symbolic link") : notRegular);
        row(State::Directory, notRegular);
        if (settings)
            row(State::Oversize, QStringLiteral("it is larger than 1 MiB"));
        if (writer == Writer::WholeFile)
            row(State::NonUtf8Name, QString());
    }
}

// Old bytes intact or a whole new file; a refusal says why, in the system's words where the
// system refused; nothing waits (a FIFO would otherwise hold the writer for good).
void TestFileWriters::writerInHostileState() {
    QFETCH(Writer, writer);
    QFETCH(State, state);
    QFETCH(QString, reason);
    const QString name = writer == Writer::AddFile ? QStringLiteral("QVL-GEN-a.bin") : QStringLiteral("file");
    HostileFile file(state, name, oldBytesFor(writer));
    if (!file.setupError().isEmpty())
        QSKIP(qPrintable(file.setupError()));
    QTemporaryDir elsewhere;
    const QString source = elsewhere.path() + QLatin1Char('/') + name;
    QFile image(source);
    QVERIFY(image.open(QIODevice::WriteOnly) && image.write(NewImage) == NewImage.size());
    image.close();

    const hostile::Outcome outcome =
        file.run([&](QString& error) { return write(writer, file, source, error); });
    QVERIFY2(outcome.finished, "the writer did not return within 5 s");
    if (reason.isEmpty()) {
        QVERIFY2(outcome.ok, qPrintable(outcome.error));
        QVERIFY(wholeNewContent(writer, file));
        return;
    }
    QVERIFY2(!outcome.ok, "the writer said it wrote");
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    if (writer == Writer::Settings || writer == Writer::PortAssignment)
        QVERIFY(takeLockFile(file.pathBytes() + ".lock"));
    const QString changes = file.changes();
    QVERIFY2(changes.isEmpty(), qPrintable(changes));
}

void TestFileWriters::settingsLockInHostileState_data() {
    QTest::addColumn<State>("state"); // of the lock file beside the settings file
    QTest::addColumn<bool>("held");   // by another program, which never lets go
    QTest::newRow("lock file left from before") << State::Plain << false;
    QTest::newRow("lock held by a stuck program") << State::Plain << true;
    QTest::newRow("lock file is a FIFO") << State::Fifo << false;
    QTest::newRow("lock file links to /dev/zero") << State::LinkToZero << false;
    QTest::newRow("lock file links to /dev/null") << State::LinkToNull << false;
    QTest::newRow("folder in the lock file's place") << State::Directory << false;
}

// The lock never holds the store for long, whatever is in its place: the value lands, the lock's
// stand-in is left as it was.
void TestFileWriters::settingsLockInHostileState() {
    QFETCH(State, state);
    QFETCH(bool, held);
    const QString name = QStringLiteral("Kestrune_Update_Utility.ini");
    HostileFile lock(state, name + QStringLiteral(".lock"), QByteArray());
    QVERIFY(lock.setupError().isEmpty());
    const QString settings = QFileInfo(lock.path()).absolutePath() + QLatin1Char('/') + name;
    struct stat before {};
    QVERIFY(::lstat(lock.pathBytes().constData(), &before) == 0);
    const int holder = held ? ::open(lock.pathBytes().constData(), O_RDWR | O_CLOEXEC) : -1;
    QVERIFY(!held || ::flock(holder, LOCK_EX | LOCK_NB) == 0);

    QElapsedTimer took;
    took.start();
    const hostile::Outcome outcome =
        lock.run([&](QString& error) { return storeIn(settings, QStringLiteral("COM-Port"), "3", error); });
    if (holder >= 0)
        ::close(holder);
    QVERIFY2(outcome.finished, "the store did not return within 5 s");
    QVERIFY(took.elapsed() < (held ? 4500 : 1000));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QFile stored(settings);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), QByteArray("[Settings]\nCOM-Port=3\n"));
    struct stat after {};
    QVERIFY(::lstat(lock.pathBytes().constData(), &after) == 0);
    QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    QCOMPARE(after.st_ino, before.st_ino);
}

// A window and a command line storing at the same moment: neither loses the other's line.
void TestFileWriters::settingsStoresAtOnceBothLand() {
    for (int round = 0; round < 20; ++round) {
        HostileFile file(State::Plain, QStringLiteral("Kestrune_Update_Utility.ini"), "[Ports]\n");
        QVERIFY(file.setupError().isEmpty());
        const auto store = [&](const QString& key) {
            return [&file, key](QString& error) {
                return storeIn(file.path(), key, QStringLiteral("1"), error);
            };
        };
        // Two children at once: run() forks, so the second is started from a thread of our own.
        hostile::Outcome first;
        QThread* other = QThread::create([&] { first = file.run(store(QStringLiteral("First"))); });
        other->start();
        const hostile::Outcome second = file.run(store(QStringLiteral("Second")));
        other->wait();
        delete other;
        QVERIFY2(first.ok && second.ok, qPrintable(first.error + second.error));
        const QByteArray now = file.bytesNow();
        QVERIFY2(now.contains("First=1\n") && now.contains("Second=1\n"), now.constData());
    }
}

void TestFileWriters::settingsReaderInHostileState_data() {
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("reason"); // empty: read as usual
    QTest::newRow("plain file") << State::Plain << QString();
    QTest::newRow("FIFO") << State::Fifo << "it is not a regular file";
    QTest::newRow("link to /dev/null") << State::LinkToNull << "it is not a regular file";
    QTest::newRow("link to /dev/zero") << State::LinkToZero << "it is not a regular file";
    QTest::newRow("folder in its place") << State::Directory << "it is not a regular file";
    QTest::newRow("sparse 1 GiB") << State::Oversize << "it is larger than 1 MiB";
}

// What the front ends read before anything else: no settings at once, with the note they show.
void TestFileWriters::settingsReaderInHostileState() {
    QFETCH(State, state);
    QFETCH(QString, reason);
    HostileFile file(state, QStringLiteral("Kestrune_Update_Utility.ini"), "[Ports]\nCOM1=/dev/ttyUSB7\n");
    QVERIFY(file.setupError().isEmpty());

    QElapsedTimer took;
    took.start();
    const hostile::Outcome outcome = file.run(
        [&](QString& said) {
            QString note;
            const QString value =
                readSettingsValue(file.path(), QStringLiteral("Ports"), QStringLiteral("COM1"), &note);
            said = value + QLatin1Char('|') + note + QLatin1Char('|') + settingsFileNote(file.path());
            return storedPortNumber(file.path()) == 0;
        },
        2000);
    QVERIFY2(outcome.finished, "the reader did not return within 2 s");
    QVERIFY(took.elapsed() < 1000);
    QVERIFY(outcome.ok);
    const QString expected =
        reason.isEmpty()
            ? QStringLiteral("/dev/ttyUSB7||")
            : QStringLiteral("|%1|The settings file %2 cannot be used: %1; no settings are used.")
                  .arg(reason, file.path());
    QCOMPARE(outcome.error, expected);
    const QString changes = file.changes();
    QVERIFY2(changes.isEmpty(), qPrintable(changes));
}

void TestFileWriters::recordTakesWholeLines_data() {
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<qint64>("room");        // bytes the disk takes beyond the old ones; -1: no limit
    QTest::addColumn<QByteArray>("between"); // what goes before the new line; "-": the line is refused
    const QByteArray line = "{\"result\":\"failed\"}\n";
    QTest::newRow("empty record") << QByteArray() << qint64(-1) << QByteArray();
    QTest::newRow("last line whole") << line << qint64(-1) << QByteArray();
    QTest::newRow("last line cut short") << QByteArray("{\"result\":\"fai") << qint64(-1) << QByteArray("\n");
    QTest::newRow("short write") << line << qint64(40) << QByteArray("-");
    QTest::newRow("short write after a cut line")
        << QByteArray("{\"result\":\"fai") << qint64(40) << QByteArray("-");
}

// The record takes whole lines only, each on a line of its own.
void TestFileWriters::recordTakesWholeLines() {
    QFETCH(QByteArray, old);
    QFETCH(qint64, room);
    QFETCH(QByteArray, between);
    HostileFile file(room < 0 ? State::Plain : State::FullDisk, QStringLiteral("updates.jsonl"), old);
    QVERIFY(file.setupError().isEmpty());
    file.setFileSizeLimit(old.size() + room);
    const UpdateRecordEntry entry = someEntry();
    const hostile::Outcome outcome =
        file.run([&](QString& error) { return appendUpdateRecord(file.path(), entry, error); });
    QVERIFY(outcome.finished);
    if (between == "-") {
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.error, QStringLiteral("File too large"));
        QCOMPARE(file.bytesNow(), old);
        return;
    }
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const QByteArray added = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    QCOMPARE(file.bytesNow(), old + between + added);
}

void TestFileWriters::recordWithTwoWriters_data() {
    QTest::addColumn<bool>("cutShort"); // the first writer's line does not go out whole
    QTest::newRow("another program appends while a line goes out") << false;
    QTest::newRow("another program appends while a line is cut short") << true;
}

// A line goes out in two parts; between them another program appends a line of its own. It must
// wait for the first writer, so that lines never mix and a line cut short is taken back without
// taking the other program's line with it.
void TestFileWriters::recordWithTwoWriters() {
    QFETCH(bool, cutShort);
    QTemporaryDir dir;
    const QString path = dir.filePath("updates.jsonl");
    const UpdateRecordEntry first = someEntry();
    UpdateRecordEntry other = first;
    other.frontEnd = RecordFrontEnd::Window;
    QString otherError;
    bool otherOk = false;
    std::unique_ptr<QThread> otherWriter(
        QThread::create([&] { otherOk = appendUpdateRecord(path, other, otherError); }));
    int parts = 0;
    const auto put = [&](int fd, const char* data, size_t length) -> ssize_t {
        if (++parts == 1) {
            const ssize_t written = ::write(fd, data, length / 2);
            otherWriter->start();
            otherWriter->wait(300); // done by then unless the record is held
            return written;
        }
        errno = ENOSPC;
        return cutShort ? -1 : ::write(fd, data, length);
    };
    QString error;
    QCOMPARE(appendUpdateRecord(path, first, error, put), !cutShort);
    QVERIFY(otherWriter->wait(6000));
    QVERIFY2(otherOk, qPrintable(otherError));
    QFile record(path);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const auto line = [](const UpdateRecordEntry& entry) {
        return QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    };
    QCOMPARE(record.readAll(), cutShort ? line(other) : line(first) + line(other));
}

// A power cut right after the rename must find the new bytes on disk, not an empty file: the
// temporary file is flushed, whole, while the old file still stands.
void TestFileWriters::safeWriteFlushesBeforeTheRename() {
    QTemporaryDir dir;
    const QByteArray target = QFile::encodeName(dir.filePath("settings.ini"));
    QString error;
    QVERIFY(writeFileWhole(target, "old", error));
    bool flushedFirst = false;
    SafeFileWrite out(target, [&](int fd) {
        struct stat seen {};
        QFile old(QFile::decodeName(target));
        flushedFirst = flushedFirst || (::fstat(fd, &seen) == 0 && seen.st_size == NewImage.size() &&
                                        old.open(QIODevice::ReadOnly) && old.readAll() == "old");
        return ::fsync(fd);
    });
    QVERIFY(out.open(error) && out.write(NewImage, error) && out.commit(error));
    QVERIFY(flushedFirst);
}

void TestFileWriters::resultNames_data() {
    QTest::addColumn<SessionOutcome>("outcome");
    QTest::addColumn<QString>("name");
    QTest::newRow("success") << SessionOutcome::Success << "success";
    QTest::newRow("failed") << SessionOutcome::Failed << "failed";
    QTest::newRow("no module") << SessionOutcome::NoModule << "no-module";
    QTest::newRow("port error") << SessionOutcome::PortError << "port-error";
    QTest::newRow("line lost") << SessionOutcome::LineLost << "line-lost";
    QTest::newRow("interrupted") << SessionOutcome::Interrupted << "interrupted";
    QTest::newRow("image refused") << SessionOutcome::ImageRefused << "image-refused";
    QTest::newRow("none") << SessionOutcome::None << "none";
}

// The names the record's readers (and the README's query) select on.
void TestFileWriters::resultNames() {
    QFETCH(SessionOutcome, outcome);
    QFETCH(QString, name);
    QCOMPARE(resultName(outcome), name);
    SessionReport report;
    report.outcome = outcome;
    QCOMPARE(updateRecordEntry(report, RecordFrontEnd::Window, {}, {}).toJson().value("result").toString(),
             name);
}

QTEST_GUILESS_MAIN(TestFileWriters)
#include "tst_file_writers.moc"
