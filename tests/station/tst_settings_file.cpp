// Tests of the settings file, read and written byte for byte.
#include "SettingsFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void storesOnlyItsLine_data();
    void storesOnlyItsLine();
    void unwritablePlaceIsReported();
    void notAPlainFileIsNotRead_data();
    void notAPlainFileIsNotRead();
    void replacementKeepsModeAndLinks_data();
    void replacementKeepsModeAndLinks();
};

void TestSettingsFile::storesOnlyItsLine_data() {
    QTest::addColumn<QByteArray>("before"); // "-" : no file yet
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("no file") << QByteArray("-") << QByteArray("[Settings]\nCOM-Port=3\n");
    QTest::newRow("ports with comments")
        << QByteArray("; bench 2\n[Ports]\nCOM1=/dev/serial/by-id/usb-A ; left adapter\n")
        << QByteArray(
               "; bench 2\n[Ports]\nCOM1=/dev/serial/by-id/usb-A ; left adapter\n\n[Settings]\nCOM-Port=3\n");
    QTest::newRow("value replaced in place")
        << QByteArray("[Settings]\nCOM-Port=7\nOther=x\n\n[Ports]\nCOM-Port=9\n")
        << QByteArray("[Settings]\nCOM-Port=3\nOther=x\n\n[Ports]\nCOM-Port=9\n");
    QTest::newRow("added to its section")
        << QByteArray("[Settings]\nOther=x\n\n[Ports]\nCOM1=/dev/ttyUSB0\n")
        << QByteArray("[Settings]\nOther=x\nCOM-Port=3\n\n[Ports]\nCOM1=/dev/ttyUSB0\n");
    QTest::newRow("garbage kept") << QByteArray("\x01\x02 not ini\n[Settings]\nCOM-Port=abc\n")
                                  << QByteArray("\x01\x02 not ini\n[Settings]\nCOM-Port=3\n");
    QTest::newRow("Latin-1 comment, CRLF and BOM kept")
        << QByteArray("\xEF\xBB\xBF; Pr\xFC"
                      "fplatz 2\r\n[Settings]\r\nCOM-Port=7\r\n[Ports]\r\nCOM1=a,b\r\n")
        << QByteArray("\xEF\xBB\xBF; Pr\xFC"
                      "fplatz 2\r\n[Settings]\r\nCOM-Port=3\r\n[Ports]\r\nCOM1=a,b\r\n");
    QTest::newRow("appended with the file's line end")
        << QByteArray("\xEF\xBB\xBF[Ports]\r\nCOM1=a\r\n")
        << QByteArray("\xEF\xBB\xBF[Ports]\r\nCOM1=a\r\n\r\n[Settings]\r\nCOM-Port=3\r\n");
    QTest::newRow("last line without its end")
        << QByteArray("[Settings]\nOther=x") << QByteArray("[Settings]\nOther=x\nCOM-Port=3\n");
    QTest::newRow("two sections, key in the second")
        << QByteArray("[Settings]\nOther=x\n[Ports]\n[Settings]\nCOM-Port=7\n")
        << QByteArray("[Settings]\nOther=x\n[Ports]\n[Settings]\nCOM-Port=3\n");
    QTest::newRow("two sections, key in neither")
        << QByteArray("[Settings]\nOther=x\n[Ports]\n[Settings]\nMore=y\n")
        << QByteArray("[Settings]\nOther=x\nCOM-Port=3\n[Ports]\n[Settings]\nMore=y\n");
    QTest::newRow("two sections, key in both")
        << QByteArray("[Settings]\n COM-Port = 7\n[Settings]\nCOM-Port=8\n")
        << QByteArray("[Settings]\nCOM-Port=3\n[Settings]\nCOM-Port=8\n");
}

void TestSettingsFile::storesOnlyItsLine() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.path() + "/sub/Kestrune_Update_Utility.ini";
    if (before != "-") {
        QDir().mkpath(dir.path() + "/sub");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    QString error;
    QVERIFY(storeSettingsValue(path, "Settings", "COM-Port", "3", error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), after);
    // What the utility reads back at the next start.
    QCOMPARE(readSettingsValue(path, "Settings", "COM-Port"), QStringLiteral("3"));
}

void TestSettingsFile::unwritablePlaceIsReported() {
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(!storeSettingsValue(dir.path() + "/file/settings.ini", "Settings", "COM-Port", "3", error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QDir().mkpath(dir.path() + "/folder.ini"));
    error.clear();
    QVERIFY(!storeSettingsValue(dir.path() + "/folder.ini", "Settings", "COM-Port", "3", error));
    QVERIFY(!error.isEmpty());
}

void TestSettingsFile::notAPlainFileIsNotRead_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const QString notRegular = QStringLiteral("it is not a regular file");
    QTest::newRow("FIFO") << "fifo" << notRegular;              // would wait for a writer for good
    QTest::newRow("link to /dev/zero") << "zero" << notRegular; // would grow without end
    QTest::newRow("sparse 1 GiB") << "huge"
                                  << "it is larger than 1 MiB"; // would fill the memory
}

// Start-up reads the file before the window shows: what is not a plain file reads as no
// settings at once, and storing into it is refused.
void TestSettingsFile::notAPlainFileIsNotRead() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString path = dir.path() + "/Kestrune_Update_Utility.ini";
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", path));
    else {
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30));
    }
    QElapsedTimer took;
    took.start();
    QCOMPARE(storedPortNumber(path), qint16(0));
    QVERIFY(readSettingsValue(path, "Ports", "COM1").isNull());
    QString error;
    QVERIFY(!storeSettingsValue(path, "Settings", "COM-Port", "3", error));
    QCOMPARE(error, why);
    QCOMPARE(settingsFileNote(path),
             QStringLiteral("The settings file %1 cannot be used: %2; no settings are used.").arg(path, why));
    QVERIFY(took.elapsed() < 5000);
}

void TestSettingsFile::replacementKeepsModeAndLinks_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("linked"); // the settings path is a link to the file kept elsewhere
    QTest::addColumn<bool>("stored");
    QTest::newRow("mode 0640") << 0640 << false << true;
    QTest::newRow("mode 0600 through a link") << 0600 << true << true;
    QTest::newRow("mode 0444: never rewritten, also as root") << 0444 << false << false;
    QTest::newRow("mode 0444 through a link") << 0444 << true << false;
}

// The file is replaced by rename, yet keeps its mode; a link stays a link to the same file.
void TestSettingsFile::replacementKeepsModeAndLinks() {
    QFETCH(int, mode);
    QFETCH(bool, linked);
    QFETCH(bool, stored);
    QTemporaryDir dir;
    const QByteArray before("[Settings]\nCOM-Port=7\n");
    const QString real = dir.path() + "/kept/settings.ini";
    QVERIFY(QDir().mkpath(dir.path() + "/kept"));
    QFile file(real);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), mode_t(mode)), 0);
    const QString path = linked ? dir.path() + "/Kestrune_Update_Utility.ini" : real;
    if (linked)
        QVERIFY(QFile::link(real, path));

    QString error;
    QCOMPARE(storeSettingsValue(path, "Settings", "COM-Port", "3", error), stored);
    QCOMPARE(error, stored ? QString() : QStringLiteral("it is read-only"));
    // Storing what is already there writes nothing and is no failure, read-only or not.
    QVERIFY(storeSettingsValue(path, "Settings", "COM-Port", stored ? "3" : "7", error));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), stored ? QByteArray("[Settings]\nCOM-Port=3\n") : before);
    struct stat seen {};
    QCOMPARE(::stat(QFile::encodeName(real).constData(), &seen), 0);
    QCOMPARE(int(seen.st_mode & 07777), mode);
    QCOMPARE(QFileInfo(path).isSymLink(), linked);
    // No temporary file left behind; the lock's file stays beside the name that was stored to.
    const QStringList expected =
        linked ? QStringList{"settings.ini"} : QStringList{"settings.ini", "settings.ini.lock"};
    QCOMPARE(QDir(dir.path() + "/kept")
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             expected);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
