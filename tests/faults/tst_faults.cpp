// Faults an operator can meet, each ending in the state the operator would expect: a clear
// message, the ready display, the Update button enabled, nothing lost, no hang.

#include "AddFile.h"
#include "AutoSizeLabel.h"
#include "FirmwareSelection.h"
#include "FormRig.h"
#include "UpdateEngine.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QtTest>
#include <sys/stat.h>

namespace {
int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                   .size());
}

void expectReady(Form1& form) {
    QCOMPARE(form.Label_title->text(), QStringLiteral("Ready"));
    QVERIFY(form.toolbarButton(Form1::Update)->isEnabled());
    QVERIFY(!form.engine().imageOpen());
    QVERIFY(!form.updateRunning());
}

// Deletes the image after it was chosen and before it is opened.
class VanishingChooser : public ImageChooser {
public:
    QString chooseImage(const QStringList& names) override {
        QFile::remove(folder + "/" + names.first());
        return names.first();
    }
    QString folder;
};
} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void answersOneByteAtATime();
    void imageChangedDuringTheTransfer_data();
    void imageChangedDuringTheTransfer();
    void imageDeletedAfterTheChoice();
    void settingsFileCannotBeRead();
    void settingsCannotBeStoredAtShutDown();
    void programFolderCannotBeWritten();
    void recordCannotBeWritten_data();
    void recordCannotBeWritten();
    void allPortsUnusable();
    void tenUpdatesLeaveNoDescriptorBehind();
};

void TestFaults::answersOneByteAtATime() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 3 * 65536);
    rig.module->script.splitAnswers = true;
    Form1& form = rig.start();
    QTest::keyClick(form.Text_Filename, Qt::Key_F1);
    QCOMPARE(rig.module->completedImage, image);
    QCOMPARE(form.engine().state().ErrorCount, qint16(0));
    expectReady(form);
}

void TestFaults::imageChangedDuringTheTransfer_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("restart"); // the module misses a request after the change
    QTest::newRow("rewritten in place") << "rewrite" << false;
    QTest::newRow("rewritten, then a restart") << "rewrite" << true;
    QTest::newRow("cut short") << "truncate" << false;
    QTest::newRow("made longer") << "append" << true;
    QTest::newRow("removed") << "remove" << true;
}

// An administrator copies a new image over the one being sent: the module still gets the
// image the session began with, byte for byte, restarts included.
void TestFaults::imageChangedDuringTheTransfer() {
    QFETCH(QString, change);
    QFETCH(bool, restart);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 3 * 65536);
    if (restart)
        rig.module->script.dropRequests = {{1, 2}};
    Form1& form = rig.start();
    const QString path = rig.programFolder() + "/QVL-GEN-A.bin";
    rig.world.at(3000, [&] {
        QFile file(path);
        if (change == "remove") {
            QVERIFY(file.remove());
        } else if (change == "truncate") {
            QVERIFY(file.resize(70000));
        } else {
            QVERIFY(file.open(change == "append" ? QIODevice::Append : QIODevice::ReadWrite));
            file.write(QByteArray(3 * 65536, 'N'));
        }
    });
    form.updateCommand();
    QCOMPARE(rig.prompts.texts(), QStringList());
    QCOMPARE(rig.module->completedTransfers, 1);
    QCOMPARE(rig.module->completedImage, image);
    QCOMPARE(form.engine().state().ErrorCount, qint16(restart ? 1 : 0));
    expectReady(form);
}

void TestFaults::imageDeletedAfterTheChoice() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    rig.writeImage("QVL-GEN-A.bin", 65536);
    rig.writeImage("QVL-GEN-B.bin", 65536);
    VanishingChooser chooser;
    chooser.folder = rig.programFolder();
    Form1Seams seams = rig.seams();
    seams.imageChooser = &chooser;
    Form1& form = rig.start(std::move(seams));
    form.ExpertMode = true;
    form.updateCommand();
    QCOMPARE(rig.prompts.messages.size(), 1);
    QVERIFY(rig.prompts.messages.first().text.contains("cannot be opened"));
    QCOMPARE(rig.module->announcements, 0);
    expectReady(form);
}

// A folder where the settings file should be: nothing can be read or written there.
void TestFaults::settingsFileCannotBeRead() {
    FormRig rig({2});
    QVERIFY(QDir().mkpath(rig.settingsFile()));
    Form1& form = rig.start();
    QCOMPARE(form.Label_title->text(), QStringLiteral("Ready"));
    QCOMPARE(rig.prompts.texts(),
             QStringList{QStringLiteral("The settings file %1 cannot be used: it is not a regular file; "
                                        "no settings are used.")
                             .arg(rig.settingsFile())});
    form.close();
    QCOMPARE(rig.processEnded, 1);
    QCOMPARE(rig.prompts.messages.size(), 2);
    QVERIFY(rig.prompts.messages.last().text.startsWith("The COM port number could not be stored"));
}

void TestFaults::settingsCannotBeStoredAtShutDown() {
    FormRig rig({2});
    rig.storeSetting("Settings/COM-Port", "2");
    Form1& form = rig.start();
    QVERIFY(form.comItem(2)->isChecked());
    // The settings folder turns into something no file can be written in.
    QDir(rig.dir.path() + "/settings").removeRecursively();
    QFile blocker(rig.dir.path() + "/settings");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTest::keyClick(form.Text_Filename, Qt::Key_Escape);
    QCOMPARE(rig.prompts.messages.size(), 1);
    QVERIFY(rig.prompts.messages.first().text.contains("COM2"));
    QVERIFY(!rig.serial.PortOpen());
    QVERIFY(rig.processEnded >= 1);
}

void TestFaults::programFolderCannotBeWritten() {
    FormRig rig({1});
    const QString source = rig.dir.path() + "/QVL-GEN-NEW.bin";
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1000, 'x'));
    file.close();
    // A folder under the image's name cannot be replaced by the copy, also for root.
    QVERIFY(QDir().mkpath(rig.programFolder() + "/QVL-GEN-NEW.bin"));
    rig.fileDialog.path = source;
    Form1& form = rig.start();
    form.toolbarButton(Form1::AddFile)->setVisible(true);
    form.toolbarButton(Form1::AddFile)->trigger();
    QCOMPARE(rig.prompts.messages.size(), 1);
    QCOMPARE(rig.prompts.messages.first().icon, MessageIcon::Critical);
    QVERIFY(rig.prompts.messages.first().text.startsWith("The file could not be added."));
    QVERIFY(QFileInfo(rig.programFolder() + "/QVL-GEN-NEW.bin").isDir());
}

// A full disk or a file in the way of the record's folder: the operator hears of it after
// the result, and the module's success stays a success.
void TestFaults::recordCannotBeWritten_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a file where its folder should be") << false;
    QTest::newRow("a FIFO in its place") << true; // must not hold the window for good
}

void TestFaults::recordCannotBeWritten() {
    QFETCH(bool, fifo);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 65536);
    if (fifo) {
        QVERIFY(QDir().mkpath(QFileInfo(rig.recordFile()).absolutePath()));
        QCOMPARE(::mkfifo(QFile::encodeName(rig.recordFile()).constData(), 0600), 0);
    } else {
        QFile blocker(QFileInfo(rig.recordFile()).absolutePath());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
    }
    Form1& form = rig.start();
    form.updateCommand();
    QCOMPARE(rig.module->completedImage, image);
    QCOMPARE(form.engine().lastReport().outcome, SessionOutcome::Success);
    QCOMPARE(rig.prompts.messages.size(), 1);
    QVERIFY(rig.prompts.messages.first().text.startsWith("The update could not be written to the record"));
    expectReady(form);
}

void TestFaults::allPortsUnusable() {
    FormRig rig(QSet<int>{});
    for (int port = 1; port <= 9; ++port)
        rig.serial.failures[port] =
            port % 2 ? SerialControl::OpenFailure::Busy : SerialControl::OpenFailure::Absent;
    Form1& form = rig.start();
    QCOMPARE(rig.prompts.texts(), QStringList{"No Com Ports available!"});
    QCOMPARE(rig.prompts.messages.first().detail.count("in use"), 5);
    QCOMPARE(rig.prompts.messages.first().detail.count("does not exist"), 4);
    QTest::keyClick(form.Text_Filename, Qt::Key_F1);
    QCOMPARE(rig.prompts.texts(), (QStringList{"No Com Ports available!", "No Com Port selected!"}));
    QVERIFY(rig.serial.wire.isEmpty());
    expectReady(form);
}

void TestFaults::tenUpdatesLeaveNoDescriptorBehind() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    rig.writeImage("QVL-GEN-A.bin", 65536);
    Form1& form = rig.start();
    form.updateCommand(); // the first one may open what stays open for the run
    const int before = openDescriptors();
    for (int i = 0; i < 10; ++i) {
        rig.module->script.dropEnd = {rig.module->announcements + 1}; // one restart in each
        form.updateCommand();
    }
    QCOMPARE(rig.module->completedTransfers, 11);
    QCOMPARE(openDescriptors(), before);
    expectReady(form);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
