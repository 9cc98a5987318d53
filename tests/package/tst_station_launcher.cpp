// The station's launcher as its systemd unit starts it, beside a stand-in kestrune-update that
// writes down its arguments: what it passes on for the environment file's settings, and the
// unconfigured station it refuses with exit status 2, the one the unit does not restart on.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Conf = QStringLiteral("/etc/kestrune-update/station.conf");
const QByteArray NoSettings; // no settings file at all
} // namespace

class TestStationLauncher : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(dir.filePath("patterns/tty1")) && QDir().mkpath(dir.filePath("patterns/tty2")));
        QVERIFY(QFile::copy(KUU_STATION_LAUNCHER, dir.filePath("kestrune-update-station")));
        QFile stub(dir.filePath("kestrune-update"));
        QVERIFY(stub.open(QIODevice::WriteOnly));
        stub.write("#!/bin/sh\nprintf '%s\\0' \"$@\"\nexit \"$STUB_EXIT\"\n");
        stub.close();
        for (const QString& name : {stub.fileName(), dir.filePath("kestrune-update-station")})
            QVERIFY(QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void launches_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("exitCode");
        // The arguments after "--station --json"; none when the station must not start.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("PORTS of blanks only")
            << QStringList{"PORTS= \t\n"} << NoSettings << 2 << QStringList{} << "set PORTS in " + Conf;
        QTest::newRow("split at blanks, no image")
            << QStringList{"PORTS= /dev/ttyUSB0\t rfc2217://rack2:4001 \n socket://[::1]:4002 "} << NoSettings
            << 0 << QStringList{"--", "/dev/ttyUSB0", "rfc2217://rack2:4001", "socket://[::1]:4002"} << "";
        QTest::newRow("a pattern stays as written")
            << QStringList{"PORTS=tty*"} << NoSettings << 0 << QStringList{"--", "tty*"} << "";
        QTest::newRow("image with spaces, gone-after, status 3 passed on")
            << QStringList{"PORTS=/dev/ttyUSB0", "IMAGE=/srv/line 2/QVL *.bin", "GONE_AFTER=7.5",
                           "STUB_EXIT=3"}
            << NoSettings << 3
            << QStringList{"--image=/srv/line 2/QVL *.bin", "--gone-after=7.5", "--", "/dev/ttyUSB0"} << "";
        QTest::newRow("com3 mapped; CRLF, blanks, no last line end")
            << QStringList{"PORTS=com3"}
            << QByteArray("[Settings]\r\nCOM-Port=1\r\n[Ports]\r\nCOM3 = /dev/ttyUSB0") << 0
            << QStringList{"--", "com3"} << "";
        // Outside [Ports], a longer number, an empty device: none of them maps COM3.
        QTest::newRow("COM3 only nearly mapped")
            << QStringList{"PORTS=COM3"}
            << QByteArray("[Settings]\nCOM3=/dev/a\n[Ports]\nCOM30=/dev/b\nCOM3=\n") << 2 << QStringList{}
            << "COM3 in PORTS has no device: give the device path instead, or a line COM3=DEVICE in the "
               "[Ports]";
    }
    void launches() {
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, settings);
        QFETCH(int, exitCode);
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        const QString settingsFolder = dir.filePath("config/Kestrune_Update_Utility");
        QDir(dir.filePath("config")).removeRecursively();
        QFile file(settingsFolder + "/Kestrune_Update_Utility.ini");
        if (!settings.isEmpty())
            QVERIFY(QDir().mkpath(settingsFolder) && file.open(QIODevice::WriteOnly) &&
                    file.write(settings) > 0);
        file.close();
        // As systemd starts it: nothing inherited beyond what the unit gives.
        QProcessEnvironment env;
        for (const QString& entry :
             QStringList{"PATH=/usr/bin:/bin", "STUB_EXIT=0", "XDG_CONFIG_HOME=" + dir.filePath("config")} +
                 environment)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setWorkingDirectory(dir.filePath("patterns")); // where tty* would match
        launcher.start(dir.filePath("kestrune-update-station"), {Conf});
        QVERIFY(launcher.waitForFinished(10000));
        const QString errors = QString::fromUtf8(launcher.readAllStandardError());
        QCOMPARE(launcher.exitCode(), exitCode);
        QVERIFY2(errors.contains(says), qPrintable(errors));
        QStringList given = QString::fromUtf8(launcher.readAllStandardOutput()).split(QChar(0));
        given.removeLast(); // after the last terminator, or all of nothing
        QCOMPARE(given, arguments.isEmpty() ? arguments : QStringList({"--station", "--json"}) + arguments);
    }
};

QTEST_GUILESS_MAIN(TestStationLauncher)
#include "tst_station_launcher.moc"
