// Tests of the Add File command against awkward sources and program folders.
#include "AddFile.h"
#include "FirmwareTestFiles.h"
#include "RecordingPrompts.h"
#include "SimWorld.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace fwtest;

Q_DECLARE_METATYPE(AddFileResult)
Q_DECLARE_METATYPE(MessageAnswer)

namespace {
// The file-open dialog, answered by the test.
class FixedDialog : public AddFilePrompts {
public:
    explicit FixedDialog(QString path)
        : path(std::move(path)) {}
    QString openBinFile() override { return path; }
    QString path;
};

QByteArray randomBytes(int size) {
    QByteArray bytes(size + 3, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes.left(size);
}

const QByteArray LibraryContent = "the image already in the library, longer than the new one";
const QString ImageName = QStringLiteral("QVL-GEN-a.bin");
const QString Title = QStringLiteral("Kestrune_Update_Utility");
} // namespace

class TestAddFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void nothingToCopy_data();
    void nothingToCopy();
    void existingNameAsksFirst_data();
    void existingNameAsksFirst();
    void failedCopyIsReported_data();
    void failedCopyIsReported();
    void newNameIsCopiedOnceFree();
    void unusableSourceIsRefused_data();
    void unusableSourceIsRefused();
    void copyKeepsTimeAndLeavesLinksAlone_data();
    void copyKeepsTimeAndLeavesLinksAlone();

private:
    AddFileResult add(const QString& chosen) {
        FixedDialog dialog(chosen);
        return addFirmwareFile(program, dialog, prompts, world);
    }
    QString inProgram(const QString& name) const { return program + QLatin1Char('/') + name; }
    QString inOther(const QString& name) const { return other + QLatin1Char('/') + name; }
    QStringList programEntries() const {
        return QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> root;
    QString program;
    QString other;
    SimWorld world;
    RecordingPrompts prompts;
};

// A copy that never ends fails with EFBIG at 64 MiB instead of filling the disk.
void TestAddFile::initTestCase() {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 << 20, 64 << 20};
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

void TestAddFile::init() {
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    program = root->path() + QStringLiteral("/program");
    other = root->path() + QStringLiteral("/other");
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QDir().mkpath(other));
    world = SimWorld();
    prompts = RecordingPrompts();
}

void TestAddFile::nothingToCopy_data() {
    QTest::addColumn<QString>("chosen"); // below the test folder; empty: the dialog was cancelled
    QTest::addColumn<AddFileResult>("result");
    QTest::newRow("dialog cancelled") << QString() << AddFileResult::Cancelled;
    QTest::newRow("the library file, same path text") << "program/" + ImageName << AddFileResult::SameFile;
    QTest::newRow("a link elsewhere to the library file") << "other/" + ImageName << AddFileResult::SameFile;
}

void TestAddFile::nothingToCopy() {
    QFETCH(QString, chosen);
    QFETCH(AddFileResult, result);
    QVERIFY(writeFile(inProgram(ImageName), LibraryContent));
    QVERIFY(QFile::link(inProgram(ImageName), inOther(ImageName)));

    QCOMPARE(add(chosen.isEmpty() ? QString() : root->path() + QLatin1Char('/') + chosen), result);
    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(programEntries(), QStringList{ImageName});
    QCOMPARE(readFile(inProgram(ImageName)), LibraryContent);
}

void TestAddFile::existingNameAsksFirst_data() {
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<AddFileResult>("result");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("OK replaces") << MessageAnswer::Ok << AddFileResult::Copied << true;
    QTest::newRow("Cancel keeps") << MessageAnswer::Cancel << AddFileResult::Declined << false;
}

void TestAddFile::existingNameAsksFirst() {
    QFETCH(MessageAnswer, answer);
    QFETCH(AddFileResult, result);
    QFETCH(bool, replaced);
    QVERIFY(writeFile(inProgram(ImageName), LibraryContent));
    QVERIFY(writeFile(inOther(ImageName), "new"));
    prompts.answers = {answer};

    QCOMPARE(add(inOther(ImageName)), result);
    QCOMPARE(prompts.messages.size(), 1);
    const Message& asked = prompts.messages.first();
    QCOMPARE(asked.text, QStringLiteral("File already exists! Overwrite?"));
    QCOMPARE(asked.title, Title);
    QCOMPARE(asked.icon, MessageIcon::Question);
    QCOMPARE(asked.buttons, MessageButtons::OkCancel);
    QCOMPARE(readFile(inProgram(ImageName)), replaced ? QByteArray("new") : LibraryContent);
    QCOMPARE(programEntries(), QStringList{ImageName});
}

void TestAddFile::failedCopyIsReported_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("libraryFileExists"); // then the question comes first, answered OK
    QTest::newRow("source missing, name in the library") << "source-missing" << true;
    QTest::newRow("source fails while read, name in the library") << "read-error" << true;
    QTest::newRow("source grows while copied, name in the library") << "grows" << true;
    QTest::newRow("source cut while copied") << "shrinks" << false;
    QTest::newRow("source rewritten in place while copied") << "rewritten" << false;
    QTest::newRow("program folder missing") << "program-missing" << false;
    QTest::newRow("name taken by a folder in the library") << "destination-folder" << false;
}

void TestAddFile::failedCopyIsReported() {
    QFETCH(QString, how);
    QFETCH(bool, libraryFileExists);
    QString name = ImageName;
    QString source = inOther(ImageName);
    if (how == QLatin1String("read-error")) {
        // Reports no size, and would fail at the first read: nothing is mapped at offset 0.
        name = QStringLiteral("mem");
        source = QStringLiteral("/proc/self/mem");
    } else if (how == QLatin1String("grows") || how == QLatin1String("shrinks") ||
               how == QLatin1String("rewritten")) {
        // Another writer changes the source after the first buffer was copied; a rewrite in
        // place keeps the length, so only the file's own times give it away.
        QVERIFY(writeFile(source, randomBytes(2 * 65536)));
        {
            // An hour old, so the rewrite gives it another time even on a coarse clock.
            QFile aged(source);
            QVERIFY(aged.open(QIODevice::ReadWrite));
            QVERIFY(aged.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
        }
        world.after(0, [source, how] {
            QFile changed(source);
            if (how == QLatin1String("rewritten")) {
                QVERIFY(changed.open(QIODevice::ReadWrite));
                QVERIFY(changed.write(QByteArray(2 * 65536, 'N')) == 2 * 65536);
                return;
            }
            QVERIFY(changed.open(QIODevice::Append));
            QVERIFY(how == QLatin1String("grows") ? changed.write("more") == 4 : changed.resize(100000));
        });
    } else if (how != QLatin1String("source-missing")) {
        QVERIFY(writeFile(source, "image"));
    }
    if (how == QLatin1String("program-missing"))
        program = root->path() + QStringLiteral("/not-there");
    if (how == QLatin1String("destination-folder"))
        QVERIFY(QDir().mkpath(inProgram(ImageName)));
    if (libraryFileExists)
        QVERIFY(writeFile(inProgram(name), LibraryContent));
    const QStringList entriesBefore = programEntries();

    QCOMPARE(add(source), AddFileResult::Failed);
    QCOMPARE(prompts.messages.size(), libraryFileExists ? 2 : 1);
    QCOMPARE(prompts.messages.first().icon,
             libraryFileExists ? MessageIcon::Question : MessageIcon::Critical);
    const Message& report = prompts.messages.last();
    QCOMPARE(report.icon, MessageIcon::Critical);
    QCOMPARE(report.buttons, MessageButtons::Ok);
    QCOMPARE(report.title, Title);
    QCOMPARE(world.passes(), 0); // reported at once, no wait for the file
    QCOMPARE(programEntries(), entriesBefore);
    if (libraryFileExists)
        QCOMPARE(readFile(inProgram(name)), LibraryContent);
}

// A new name is copied without a question: binary content over several copy buffers and a short
// last one, under a name that needs encoding. Another process (an indexer, say) opens the new file
// while it is written and holds it; the lock moves along with the rename, so the command keeps the
// event pass running and returns as soon as the file is free.
void TestAddFile::newNameIsCopiedOnceFree() {
    const QString name = QStringLiteral("QVL-GEN Größe ü.bin");
    const QByteArray content = QByteArray("\r\n\0\xff", 4) + randomBytes(3 * 65536 + 13);
    QVERIFY(writeFile(inOther(name), content));
    LockHolder other;
    world.after(0, [&] {
        const QStringList written = QDir(program).entryList({QLatin1Char('.') + name + QStringLiteral(".*")},
                                                            QDir::Files | QDir::Hidden);
        QCOMPARE(written.size(), 1);
        QVERIFY2(other.hold(inProgram(written.first())), "could not start a process that locks the file");
    });
    qint64 releasedAt = -1;
    world.after(50, [&] {
        QVERIFY(QFileInfo::exists(inProgram(name)));
        other.release();
        releasedAt = world.now();
    });
    QCOMPARE(add(inOther(name)), AddFileResult::Copied);

    QCOMPARE(releasedAt, qint64(50));
    QVERIFY(world.now() <= 60); // returned soon after the lock went
    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(readFile(inProgram(name)), content);
    QCOMPARE(programEntries(), QStringList{name});
}

void TestAddFile::unusableSourceIsRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const QString notAFile = QStringLiteral("cannot be opened: it is not a file.");
    QTest::newRow("FIFO without a writer") << "fifo" << notAFile;
    QTest::newRow("link to /dev/zero") << "zero" << notAFile;
    QTest::newRow("0 bytes") << "empty"
                             << "is empty and cannot be sent.";
    QTest::newRow("one byte over 255 sectors") << "large"
                                               << "is larger than 255 sectors of 64 KiB and cannot be sent.";
}

void TestAddFile::unusableSourceIsRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QString source = inOther(ImageName);
    if (kind == QLatin1String("fifo"))
        QCOMPARE(mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    if (kind == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), source));
    if (kind == QLatin1String("empty"))
        QVERIFY(writeFile(source, {}));
    if (kind == QLatin1String("large")) {
        QFile sparse(source);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(255 * 65536 + 1));
    }

    QCOMPARE(add(source), AddFileResult::Failed);
    QCOMPARE(prompts.texts(),
             QStringList{QStringLiteral("The file could not be added.\nThe firmware image %1 %2")
                             .arg(QDir::toNativeSeparators(source), why)});
    QCOMPARE(prompts.messages.first().icon, MessageIcon::Critical);
    QCOMPARE(programEntries(), QStringList());
}

void TestAddFile::copyKeepsTimeAndLeavesLinksAlone_data() {
    QTest::addColumn<bool>("libraryFileExists");
    QTest::addColumn<int>("size");
    QTest::newRow("new name") << false << 65536 + 5;
    QTest::newRow("replacing, answered OK") << true << 65536 + 5;
    QTest::newRow("exactly 255 sectors") << false << 255 * 65536;
}

// A "<name>.part" link planted in a shared program folder must not lead the copy to its target.
void TestAddFile::copyKeepsTimeAndLeavesLinksAlone() {
    QFETCH(bool, libraryFileExists);
    QFETCH(int, size);
    const QByteArray content = randomBytes(size);
    const QDateTime past(QDate(2009, 3, 14), QTime(15, 9, 26), Qt::UTC);
    QVERIFY(writeFile(inOther(ImageName), content, past));
    QVERIFY(writeFile(inOther(QStringLiteral("victim")), LibraryContent));
    const QString planted = inProgram(ImageName + QStringLiteral(".part"));
    QVERIFY(QFile::link(inOther(QStringLiteral("victim")), planted));
    if (libraryFileExists)
        QVERIFY(writeFile(inProgram(ImageName), LibraryContent));

    QCOMPARE(add(inOther(ImageName)), AddFileResult::Copied);
    QCOMPARE(readFile(inProgram(ImageName)), content);
    QVERIFY(!QFileInfo(inProgram(ImageName)).isSymLink());
    QCOMPARE(QFileInfo(inProgram(ImageName)).lastModified(), past);
    QCOMPARE(QFileInfo(planted).symLinkTarget(), inOther(QStringLiteral("victim")));
    QCOMPARE(readFile(inOther(QStringLiteral("victim"))), LibraryContent);
    QCOMPARE(programEntries(), (QStringList{ImageName, ImageName + QStringLiteral(".part")}));
}

QTEST_GUILESS_MAIN(TestAddFile)
#include "tst_add_file.moc"
