// Tests of the file existence and readiness checks.
#include "FileTests.h"
#include "FirmwareTestFiles.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace fwtest;

class TestFileTests : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fileTests_data();
    void fileTests();
    void isFileReadyFollowsTheOtherProcessLock_data();
    void isFileReadyFollowsTheOtherProcessLock();

private:
    QString path(const QString& name) const { return dir->path() + QLatin1Char('/') + name; }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFileTests::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    for (const char* name : {"plain.bin", "readonly.bin", ".hidden.bin"})
        QVERIFY(writeFile(path(QLatin1String(name)), "image"));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("readonly.bin")), QFileDevice::ReadOwner));
    QVERIFY(writeFile(path(QStringLiteral("empty.bin")), QByteArray()));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder.bin")));
}

// Both functions answer alike, except that IsFileReady is not asked about a folder.
void TestFileTests::fileTests_data() {
    QTest::addColumn<QString>("name"); // relative to the test folder; empty: the empty path
    QTest::addColumn<bool>("expected");

    QTest::newRow("read-only file") << "readonly.bin" << true;
    QTest::newRow("hidden file") << ".hidden.bin" << true;
    QTest::newRow("empty file") << "empty.bin" << true;
    QTest::newRow("folder") << "folder.bin" << false;
    QTest::newRow("file in a missing folder") << "nowhere/plain.bin" << false;
    QTest::newRow("empty path") << "" << false;
}

void TestFileTests::fileTests() {
    QFETCH(QString, name);
    QFETCH(bool, expected);
    const QString target = name.isEmpty() ? QString() : path(name);
    QCOMPARE(FileExists(target), expected);
    if (!name.startsWith(QLatin1String("folder")))
        QCOMPARE(IsFileReady(target), expected);
}

void TestFileTests::isFileReadyFollowsTheOtherProcessLock_data() {
    QTest::addColumn<bool>("shared");
    QTest::newRow("writer's exclusive lock") << false;
    QTest::newRow("reader's shared lock") << true;
}

// A handle left open by a "ready" answer would keep its lock, so the other process could
// not take the file; one left open by a "not ready" answer shows in /proc/self/fd.
void TestFileTests::isFileReadyFollowsTheOtherProcessLock() {
    QFETCH(bool, shared);
    const QString file = path(QStringLiteral("plain.bin"));
    const auto openFds = [] {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
            .size();
    };

    QVERIFY(IsFileReady(file));
    LockHolder other;
    QVERIFY2(other.hold(file, shared), "could not start a process that locks the file (sh, flock)");
    const auto openBefore = openFds();
    QVERIFY(!IsFileReady(file));
    QCOMPARE(openFds(), openBefore);

    other.release();
    QVERIFY(IsFileReady(file));
}

QTEST_GUILESS_MAIN(TestFileTests)
#include "tst_file_tests.moc"
