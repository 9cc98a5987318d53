// The station's launcher as its systemd unit starts it, beside a stand-in kestrune-update that
// prints its arguments: what it passes on for the environment file's settings, and the
// unconfigured station it refuses with exit status 2, the one the unit does not restart on.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestStationLauncher : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void launches_data() {
        QVERIFY(QDir().mkpath(dir.filePath("patterns/tty1")) && QDir().mkpath(dir.filePath("patterns/tty2")));
        QVERIFY(QFile::copy(KUU_STATION_LAUNCHER, dir.filePath("kestrune-update-station")));
        QFile stub(dir.filePath("kestrune-update"));
        QVERIFY(stub.open(QIODevice::WriteOnly) &&
                stub.write("#!/bin/sh\nprintf '%s|' \"$@\"\nexit $STUB_EXIT\n"));
        for (const QString& name : {stub.fileName(), dir.filePath("kestrune-update-station")})
            QVERIFY(QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // The environment as KEY=VALUE|...; the arguments after --station --json, none when it must not
        // start.
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QByteArray>("settingsFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("PORTS of blanks only") << "PORTS= \t\n"
                                              << QByteArray() << 2 << ""
                                              << "set PORTS in /etc/";
        QTest::newRow("split at blanks, no image")
            << "PORTS= /dev/ttyUSB0\t rfc2217://rack2:4001 \n socket://[::1]:4002 " << QByteArray() << 0
            << "--|/dev/ttyUSB0|rfc2217://rack2:4001|socket://[::1]:4002|"
            << "";
        QTest::newRow("a pattern stays as written") << "PORTS=tty*" << QByteArray() << 0 << "--|tty*|"
                                                    << "";
        QTest::newRow("image with spaces and dashes, gone-after, status 3 passed on")
            << "PORTS=/dev/ttyUSB0|IMAGE=--srv/line 2/QVL *.bin|GONE_AFTER=7.5|STUB_EXIT=3" << QByteArray()
            << 3 << "--image=--srv/line 2/QVL *.bin|--gone-after=7.5|--|/dev/ttyUSB0|"
            << "";
        QTest::newRow("com3 mapped; CRLF, blanks, no last line end")
            << "PORTS=com3" << QByteArray("[Settings]\r\nCOM-Port=1\r\n[Ports]\r\nCOM3 = /dev/ttyUSB0") << 0
            << "--|com3|"
            << "";
        // Outside [Ports], a longer number, an empty device: none of them maps COM3.
        QTest::newRow("COM3 only nearly mapped")
            << "PORTS=COM3" << QByteArray("[Settings]\nCOM3=/dev/a\n[Ports]\nCOM30=/dev/b\nCOM3=\n") << 2
            << ""
            << "COM3 in PORTS has no device: give the device path instead, or a line COM3=DEVICE in the "
               "[Ports]";
    }
    void launches() {
        QFETCH(QString, environment);
        QFETCH(QByteArray, settingsFile);
        QFETCH(int, exitCode);
        QFETCH(QString, arguments);
        QFETCH(QString, says);
        const QString folder = dir.filePath("config/Kestrune_Update_Utility");
        QDir(folder).removeRecursively();
        QFile file(folder + "/Kestrune_Update_Utility.ini");
        if (!settingsFile.isEmpty())
            QVERIFY(QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && file.write(settingsFile) > 0);
        file.close();
        QProcessEnvironment env; // as systemd starts it: nothing inherited beyond what the unit gives
        for (const QString& entry :
             ("PATH=/usr/bin:/bin|STUB_EXIT=0|XDG_CONFIG_HOME=" + dir.filePath("config") + "|" + environment)
                 .split('|'))
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setWorkingDirectory(dir.filePath("patterns")); // where tty* would match
        launcher.start(dir.filePath("kestrune-update-station"), {"/etc/kestrune-update/station.conf"});
        QVERIFY(launcher.waitForFinished(10000));
        QCOMPARE(launcher.exitCode(), exitCode);
        QVERIFY2(QString(launcher.readAllStandardError()).contains(says), qPrintable(says));
        QCOMPARE(QString(launcher.readAllStandardOutput()),
                 arguments.isEmpty() ? "" : "--station|--json|" + arguments);
    }
};

QTEST_GUILESS_MAIN(TestStationLauncher)
#include "tst_station_launcher.moc"
