#include "AddFile.h"
#include "FirmwareTestFiles.h"
#include "RecordingPrompts.h"
#include "SimWorld.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

using namespace fwtest;

Q_DECLARE_METATYPE(AddFileResult)
Q_DECLARE_METATYPE(MessageAnswer)

namespace {
// The file-open dialog, answered by the test.
class FixedDialog : public AddFilePrompts {
public:
    explicit FixedDialog(QString path)
        : path(std::move(path)) {}
    QString openBinFile() override {
        ++calls;
        return path;
    }
    QString path;
    int calls = 0;
};

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

const QByteArray LibraryContent = "the image already in the library, longer than the new one";
const QString ImageName = QStringLiteral("QVL-GEN-a.bin");
} // namespace

class TestAddFile : public QObject {
    Q_OBJECT
private slots:
    void init();

    void cancelledDialogDoesNothing();
    void sameFileIsNotCopied_data();
    void sameFileIsNotCopied();
    void newNameIsCopiedWithoutQuestion_data();
    void newNameIsCopiedWithoutQuestion();
    void existingNameAsksFirst_data();
    void existingNameAsksFirst();
    void failedCopyIsReported_data();
    void failedCopyIsReported();
    void waitsUntilTheCopyIsFree();

private:
    QString inProgram(const QString& name) const { return program + QLatin1Char('/') + name; }
    QString inOther(const QString& name) const { return other + QLatin1Char('/') + name; }
    QStringList programEntries() const {
        return QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                       QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> root;
    QString program;
    QString other;
    SimWorld world;
    RecordingPrompts prompts;
};

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

void TestAddFile::cancelledDialogDoesNothing() {
    QVERIFY(writeFile(inProgram(ImageName), LibraryContent));
    FixedDialog dialog{QString()};
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), AddFileResult::Cancelled);
    QCOMPARE(dialog.calls, 1);
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(programEntries(), QStringList{ImageName});
    QCOMPARE(readFile(inProgram(ImageName)), LibraryContent);
}

void TestAddFile::sameFileIsNotCopied_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("same path text") << "same";
    QTest::newRow("dot in the path") << "dot";
    QTest::newRow("doubled slash") << "slashes";
    QTest::newRow("parent step in the path") << "parent";
    QTest::newRow("link in another folder to the library file") << "link-to-library";
    QTest::newRow("program folder reached through a link") << "folder-link";
    QTest::newRow("hard link in another folder") << "hard-link";
    QTest::newRow("library entry is a link to the chosen file") << "library-is-link";
}

void TestAddFile::sameFileIsNotCopied() {
    QFETCH(QString, how);
    QString library = inProgram(ImageName);
    QString chosen;
    if (how == QLatin1String("library-is-link")) {
        QVERIFY(writeFile(inOther(ImageName), LibraryContent));
        QVERIFY(QFile::link(inOther(ImageName), library));
        chosen = inOther(ImageName);
        library = chosen;
    } else {
        QVERIFY(writeFile(library, LibraryContent));
        if (how == QLatin1String("same")) {
            chosen = library;
        } else if (how == QLatin1String("dot")) {
            chosen = program + QStringLiteral("/./") + ImageName;
        } else if (how == QLatin1String("slashes")) {
            chosen = program + QStringLiteral("//") + ImageName;
        } else if (how == QLatin1String("parent")) {
            chosen = other + QStringLiteral("/../program/") + ImageName;
        } else if (how == QLatin1String("link-to-library")) {
            chosen = inOther(ImageName);
            QVERIFY(QFile::link(library, chosen));
        } else if (how == QLatin1String("folder-link")) {
            QVERIFY(QFile::link(program, root->path() + QStringLiteral("/shortcut")));
            chosen = root->path() + QStringLiteral("/shortcut/") + ImageName;
        } else if (how == QLatin1String("hard-link")) {
            chosen = inOther(ImageName);
            QCOMPARE(::link(QFile::encodeName(library).constData(), QFile::encodeName(chosen).constData()),
                     0);
        }
    }
    const QStringList entriesBefore = programEntries();
    const QString linkTargetBefore = QFileInfo(inProgram(ImageName)).symLinkTarget();

    FixedDialog dialog(chosen);
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), AddFileResult::SameFile);

    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(readFile(inProgram(ImageName)), LibraryContent);
    QCOMPARE(readFile(chosen), LibraryContent);
    QCOMPARE(programEntries(), entriesBefore);
    QCOMPARE(QFileInfo(inProgram(ImageName)).symLinkTarget(), linkTargetBefore);
}

void TestAddFile::newNameIsCopiedWithoutQuestion_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("sourceIsLink");
    QTest::addColumn<bool>("staleTemporary"); // a longer "<name>.part" left by an earlier run

    QTest::newRow("small image") << ImageName << QByteArray("\x00\x01\xff image\r\n", 11) << false << false;
    QTest::newRow("empty file") << ImageName << QByteArray() << false << false;
    QTest::newRow("several copy buffers") << ImageName << randomBytes(3 * 65536 + 17) << false << false;
    QTest::newRow("exactly one sector") << ImageName << randomBytes(65536) << false << false;
    QTest::newRow("any name is taken")
        << QStringLiteral("notes.txt") << QByteArray("not an image") << false << false;
    QTest::newRow("spaces and accents")
        << QStringLiteral("QVL-GEN Größe ü.bin") << QByteArray("image") << false << false;
    QTest::newRow("chosen through a link") << ImageName << randomBytes(1000) << true << false;
    QTest::newRow("over a stale temporary file") << ImageName << randomBytes(1000) << false << true;
}

void TestAddFile::newNameIsCopiedWithoutQuestion() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, sourceIsLink);
    QFETCH(bool, staleTemporary);
    QVERIFY(writeFile(inProgram(QStringLiteral("QVL-GEN-other.bin")), LibraryContent));
    QString source = inOther(name);
    QVERIFY(writeFile(source, content));
    if (sourceIsLink) {
        QVERIFY(QDir().mkpath(other + QStringLiteral("/links")));
        const QString link = other + QStringLiteral("/links/") + name;
        QVERIFY(QFile::link(source, link));
        source = link;
    }
    if (staleTemporary)
        QVERIFY(writeFile(inProgram(name + QStringLiteral(".part")), randomBytes(5000)));

    FixedDialog dialog(source);
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), AddFileResult::Copied);

    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(readFile(inProgram(name)), content);
    QCOMPARE(readFile(source), content);
    QVERIFY(!QFileInfo(inProgram(name)).isSymLink());
    QStringList expectedEntries{name, QStringLiteral("QVL-GEN-other.bin")};
    expectedEntries.sort();
    QCOMPARE(programEntries(), expectedEntries);
    QCOMPARE(readFile(inProgram(QStringLiteral("QVL-GEN-other.bin"))), LibraryContent);
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
    const QByteArray newContent = "new";
    QVERIFY(writeFile(inProgram(ImageName), LibraryContent));
    QVERIFY(writeFile(inOther(ImageName), newContent));

    QByteArray libraryWhileAsked;
    prompts.whileShown = [&](const Message&) { libraryWhileAsked = readFile(inProgram(ImageName)); };
    prompts.answers = {answer};
    FixedDialog dialog(inOther(ImageName));
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), result);

    QCOMPARE(prompts.messages.size(), 1);
    const Message& asked = prompts.messages.first();
    QCOMPARE(asked.text, QStringLiteral("File already exists! Overwrite?"));
    QCOMPARE(asked.title, QStringLiteral("Kestrune_Update_Utility"));
    QCOMPARE(asked.icon, MessageIcon::Question);
    QCOMPARE(asked.buttons, MessageButtons::OkCancel);
    QCOMPARE(libraryWhileAsked, LibraryContent);

    QCOMPARE(readFile(inProgram(ImageName)), replaced ? newContent : LibraryContent);
    QCOMPARE(readFile(inOther(ImageName)), newContent);
    QCOMPARE(programEntries(), QStringList{ImageName});
}

void TestAddFile::failedCopyIsReported_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("libraryFileExists"); // then the question comes first, answered OK

    QTest::newRow("source missing") << "source-missing" << false;
    QTest::newRow("source missing, name in the library") << "source-missing" << true;
    QTest::newRow("source is a folder") << "source-folder" << false;
    QTest::newRow("source fails while read") << "read-error" << true;
    QTest::newRow("program folder missing") << "program-missing" << false;
    QTest::newRow("temporary name taken by a folder") << "temp-blocked" << true;
    QTest::newRow("name taken by a folder in the library") << "destination-folder" << false;
}

void TestAddFile::failedCopyIsReported() {
    QFETCH(QString, how);
    QFETCH(bool, libraryFileExists);
    QString name = ImageName;
    QString source = inOther(ImageName);
    if (how == QLatin1String("source-missing")) {
        // nothing at the source
    } else if (how == QLatin1String("source-folder")) {
        QVERIFY(QDir().mkpath(source));
    } else if (how == QLatin1String("read-error")) {
        // Opens, then fails at the first read: nothing is mapped at offset 0.
        name = QStringLiteral("mem");
        source = QStringLiteral("/proc/self/mem");
    } else if (how == QLatin1String("program-missing")) {
        QVERIFY(writeFile(source, "image"));
        program = root->path() + QStringLiteral("/not-there");
    } else if (how == QLatin1String("temp-blocked")) {
        QVERIFY(writeFile(source, "image"));
        QVERIFY(QDir().mkpath(inProgram(ImageName + QStringLiteral(".part"))));
    } else if (how == QLatin1String("destination-folder")) {
        QVERIFY(writeFile(source, "image"));
        QVERIFY(QDir().mkpath(inProgram(ImageName)));
    }
    if (libraryFileExists)
        QVERIFY(writeFile(inProgram(name), LibraryContent));
    const QStringList entriesBefore = programEntries();

    FixedDialog dialog(source);
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), AddFileResult::Failed);

    QCOMPARE(prompts.messages.size(), libraryFileExists ? 2 : 1);
    if (libraryFileExists)
        QCOMPARE(prompts.messages.first().icon, MessageIcon::Question);
    const Message& report = prompts.messages.last();
    QCOMPARE(report.icon, MessageIcon::Critical);
    QCOMPARE(report.buttons, MessageButtons::Ok);
    QCOMPARE(report.title, QStringLiteral("Kestrune_Update_Utility"));
    QVERIFY(!report.text.isEmpty());
    QCOMPARE(world.passes(), 0); // reported at once, no wait for the file
    QCOMPARE(programEntries(), entriesBefore);
    if (libraryFileExists)
        QCOMPARE(readFile(inProgram(name)), LibraryContent);
    if (how == QLatin1String("program-missing"))
        QVERIFY(!QFileInfo::exists(program));
}

// Another process still holds the new file: the command keeps the event pass running and
// returns as soon as the file is free. The copy is written through "<name>.part" and
// renamed over the library name, so a lock on an existing "<name>.part" moves along with it.
void TestAddFile::waitsUntilTheCopyIsFree() {
    const QByteArray content = randomBytes(70000);
    QVERIFY(writeFile(inOther(ImageName), content));
    const QString temporary = inProgram(ImageName + QStringLiteral(".part"));
    QVERIFY(writeFile(temporary, LibraryContent + LibraryContent));
    LockHolder other;
    QVERIFY2(other.hold(temporary), "could not start a process that locks the file (sh, flock)");

    qint64 releasedAt = -1;
    world.after(50, [&] {
        QVERIFY(QFileInfo::exists(inProgram(ImageName)));
        other.release();
        releasedAt = world.now();
    });
    FixedDialog dialog(inOther(ImageName));
    QCOMPARE(addFirmwareFile(program, dialog, prompts, world), AddFileResult::Copied);

    QCOMPARE(releasedAt, qint64(50));
    QVERIFY(world.passes() >= 5);
    QVERIFY(world.now() <= 60); // returned soon after the lock went
    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(readFile(inProgram(ImageName)), content);
    QCOMPARE(programEntries(), QStringList{ImageName});
}

QTEST_GUILESS_MAIN(TestAddFile)
#include "tst_add_file.moc"
