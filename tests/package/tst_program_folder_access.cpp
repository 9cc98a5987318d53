// An installed program folder belongs to whoever installed it (root for the Debian package):
// the operator's Add File must then fail at once with a message that names the folder's file
// and the reason, and leave the folder as it was; where the operator owns the folder, the
// same command copies the image.

#include "FormRig.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileDevice>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Runs as an ordinary user for its lifetime when the test runs as root (permissions do not
// stop root); the saved user id keeps the way back.
class AsOperator {
public:
    AsOperator()
    {
        if (::geteuid() == 0)
            dropped = ::setresuid(65534, 65534, 0) == 0;
    }
    ~AsOperator()
    {
        if (dropped && ::setresuid(0, 0, 0) != 0)
            qFatal("cannot become root again");
    }
    bool ok() const { return ::geteuid() != 0; }

private:
    bool dropped = false;
};

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

class TestProgramFolderAccess : public QObject {
    Q_OBJECT
private slots:
    void addFile_data();
    void addFile();
};

void TestProgramFolderAccess::addFile_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("folder of the installer, not writable by the operator") << false;
    QTest::newRow("folder owned by the operator") << true;
}

void TestProgramFolderAccess::addFile()
{
    QFETCH(bool, writable);
    FormRig rig;
    const QString program = rig.programFolder();
    const QString images = rig.dir.path() + "/delivery";
    QVERIFY(QDir().mkpath(images));
    const QString source = images + "/QVL-GEN-V2.5.bin";
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(3000, '\x5a'));
    }
    rig.writeImage("QVL-GEN-V2.4.bin", 1000);
    const QStringList before = entries(program);

    // As installed: everyone may enter and read; only the owner may write.
    QVERIFY(setMode(rig.dir.path(), 0755));
    QVERIFY(setMode(images, 0755));
    QVERIFY(setMode(source, 0644));
    QVERIFY(setMode(program, writable ? 0777 : 0755));
    if (!writable && ::geteuid() != 0)
        QVERIFY(setMode(program, 0555)); // not root: the test's user stands for the operator

    rig.password.answer = ScriptedPassword::Answer::Accept;
    rig.fileDialog.path = source;
    Form1& form = rig.start();
    form.Toolbar1_ButtonClick(Form1::Expert);
    QVERIFY(form.ExpertMode);
    QVERIFY(form.toolbarButton(Form1::AddFile)->isVisible());

    QElapsedTimer took;
    qint64 simulated = 0;
    {
        AsOperator operatorUser;
        if (!operatorUser.ok())
            QSKIP("running as root and cannot drop root: permissions do not apply");
        const qint64 start = rig.world.now();
        took.start();
        form.Toolbar1_ButtonClick(Form1::AddFile);
        simulated = rig.world.now() - start;
    }
    setMode(program, 0755); // lets the temporary folder be removed

    QCOMPARE(rig.fileDialog.shown, 1);
    QVERIFY2(took.elapsed() < 2000, "Add File took too long");
    QCOMPARE(simulated, qint64(0)); // no waiting for a file that will never come
    if (writable) {
        QVERIFY2(rig.prompts.messages.isEmpty(), qPrintable(rig.prompts.texts().join(" | ")));
        QCOMPARE(entries(program), QStringList({"QVL-GEN-V2.4.bin", "QVL-GEN-V2.5.bin"}));
        return;
    }
    QCOMPARE(rig.prompts.messages.size(), 1);
    const Message& report = rig.prompts.messages.first();
    QCOMPARE(report.icon, MessageIcon::Critical);
    QVERIFY2(report.text.startsWith("The file could not be added."), qPrintable(report.text));
    QVERIFY2(report.text.contains(program + "/QVL-GEN-V2.5.bin"), qPrintable(report.text));
    QVERIFY2(report.text.contains("Permission denied", Qt::CaseInsensitive), qPrintable(report.text));
    QCOMPARE(entries(program), before); // nothing half-written left behind
}

QTEST_MAIN(TestProgramFolderAccess)
#include "tst_program_folder_access.moc"
