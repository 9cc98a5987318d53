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
    QTest::newRow("FIFO") << "fifo";              // would wait for a writer for good
    QTest::newRow("link to /dev/zero") << "zero"; // would grow without end
}

// Start-up reads the file before the window shows: what is not a plain file reads as no
// settings at once, and storing into it is refused.
void TestSettingsFile::notAPlainFileIsNotRead() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.path() + "/Kestrune_Update_Utility.ini";
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QFile::link("/dev/zero", path));
    QElapsedTimer took;
    took.start();
    QCOMPARE(storedPortNumber(path), qint16(0));
    QVERIFY(readSettingsValue(path, "Ports", "COM1").isNull());
    QString error;
    QVERIFY(!storeSettingsValue(path, "Settings", "COM-Port", "3", error));
    QCOMPARE(error, QStringLiteral("it is not a regular file"));
    QVERIFY(took.elapsed() < 5000);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
