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
#include <QtTest>

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
} // namespace

class TestFileWriters : public QObject {
    Q_OBJECT
private slots:
    void writerInHostileState_data();
    void writerInHostileState();
    void settingsReaderInHostileState_data();
    void settingsReaderInHostileState();
    void recordTakesWholeLines_data();
    void recordTakesWholeLines();
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
    const QString changes = file.changes();
    QVERIFY2(changes.isEmpty(), qPrintable(changes));
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
