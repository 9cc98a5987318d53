#include "FileTests.h"
#include "FirmwareTestFiles.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

using namespace fwtest;

namespace {
int openDescriptorCount() {
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}
} // namespace

class TestFileTests : public QObject {
    Q_OBJECT
private slots:
    void init();

    void fileExists_data();
    void fileExists();

    void isFileReady_data();
    void isFileReady();
    void isFileReadyFollowsTheOtherProcessLock_data();
    void isFileReadyFollowsTheOtherProcessLock();
    void isFileReadyLeavesNothingOpenOrLocked();

private:
    QString path(const QString& name) const { return dir->path() + QLatin1Char('/') + name; }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFileTests::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(writeFile(path(QStringLiteral("plain.bin")), "image"));
    QVERIFY(writeFile(path(QStringLiteral("readonly.bin")), "image"));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("readonly.bin")), QFileDevice::ReadOwner));
    QVERIFY(writeFile(path(QStringLiteral(".hidden.bin")), "image"));
    QVERIFY(writeFile(path(QStringLiteral("empty.bin")), QByteArray()));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder.bin")));
    QVERIFY(QFile::link(path(QStringLiteral("plain.bin")), path(QStringLiteral("link.bin"))));
    QVERIFY(QFile::link(path(QStringLiteral("folder.bin")), path(QStringLiteral("folderlink"))));
    QVERIFY(QFile::link(path(QStringLiteral("gone.bin")), path(QStringLiteral("dangling.bin"))));
}

// Paths are given relative to the test folder; "<empty>" stands for the empty path.
void TestFileTests::fileExists_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("plain file") << "plain.bin" << true;
    QTest::newRow("read-only file") << "readonly.bin" << true;
    QTest::newRow("hidden file") << ".hidden.bin" << true;
    QTest::newRow("empty file") << "empty.bin" << true;
    QTest::newRow("link to a file") << "link.bin" << true;
    QTest::newRow("folder") << "folder.bin" << false;
    QTest::newRow("folder with trailing slash") << "folder.bin/" << false;
    QTest::newRow("link to a folder") << "folderlink" << false;
    QTest::newRow("the test folder itself") << "." << false;
    QTest::newRow("missing file") << "missing.bin" << false;
    QTest::newRow("file in a missing folder") << "nowhere/plain.bin" << false;
    QTest::newRow("file below a file") << "plain.bin/x.bin" << false;
    QTest::newRow("file with trailing slash") << "plain.bin/" << false;
    QTest::newRow("dangling link") << "dangling.bin" << false;
    QTest::newRow("empty path") << "<empty>" << false;
}

void TestFileTests::fileExists() {
    QFETCH(QString, name);
    QFETCH(bool, expected);
    const QString target = name == QLatin1String("<empty>") ? QString() : path(name);
    QCOMPARE(FileExists(target), expected);
}

void TestFileTests::isFileReady_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("plain file") << "plain.bin" << true;
    QTest::newRow("read-only file") << "readonly.bin" << true;
    QTest::newRow("empty file") << "empty.bin" << true;
    QTest::newRow("missing file") << "missing.bin" << false;
    QTest::newRow("file in a missing folder") << "nowhere/plain.bin" << false;
    QTest::newRow("dangling link") << "dangling.bin" << false;
    QTest::newRow("empty path") << "<empty>" << false;
}

void TestFileTests::isFileReady() {
    QFETCH(QString, name);
    QFETCH(bool, expected);
    const QString target = name == QLatin1String("<empty>") ? QString() : path(name);
    QCOMPARE(IsFileReady(target), expected);
}

void TestFileTests::isFileReadyFollowsTheOtherProcessLock_data() {
    QTest::addColumn<bool>("shared");
    QTest::addColumn<bool>("throughLink");

    QTest::newRow("writer's exclusive lock") << false << false;
    QTest::newRow("reader's shared lock") << true << false;
    QTest::newRow("exclusive lock, asked through a link") << false << true;
}

void TestFileTests::isFileReadyFollowsTheOtherProcessLock() {
    QFETCH(bool, shared);
    QFETCH(bool, throughLink);
    const QString file = path(QStringLiteral("plain.bin"));
    const QString asked = throughLink ? path(QStringLiteral("link.bin")) : file;

    QVERIFY(IsFileReady(asked));
    LockHolder other;
    QVERIFY2(other.hold(file, shared), "could not start a process that locks the file (sh, flock)");
    QVERIFY(!IsFileReady(asked));
    QVERIFY(!IsFileReady(asked)); // asking again does not take the lock away
    QVERIFY(other.holding());

    other.release();
    QVERIFY(IsFileReady(asked));
    QCOMPARE(readFile(file), QByteArray("image"));
}

// Every call closes its handle again: afterwards this process can lock the file itself,
// and no descriptor is left behind, whatever the answer was.
void TestFileTests::isFileReadyLeavesNothingOpenOrLocked() {
    const QString file = path(QStringLiteral("plain.bin"));
    {
        LockHolder other;
        QVERIFY(other.hold(file));
        const int before = openDescriptorCount();
        for (int i = 0; i < 20; ++i)
            QVERIFY(!IsFileReady(file));
        QCOMPARE(openDescriptorCount(), before);
    }
    const int before = openDescriptorCount();
    for (int i = 0; i < 20; ++i) {
        QVERIFY(IsFileReady(file));
        QVERIFY(!IsFileReady(path(QStringLiteral("missing.bin"))));
    }
    QCOMPARE(openDescriptorCount(), before);

    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    QVERIFY(locked);
}

QTEST_GUILESS_MAIN(TestFileTests)
#include "tst_file_tests.moc"
