// The station's launcher, as the systemd unit starts it: the arguments it gives kestrune-update
// for the settings of the environment file, and the station it refuses to start (exit 2).
// A stand-in kestrune-update beside it writes down the arguments it was given.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString ConfText = QStringLiteral("/etc/kestrune-update/station.conf");
// Marks a row whose settings file is not there at all.
const QByteArray NoSettings = QByteArrayLiteral("<none>");

struct LauncherRun {
    int exitCode = -1;
    QString errors;
    bool stationRan = false;
    QStringList arguments;
};
} // namespace

class TestStationLauncher : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;

    QString launcher() const { return dir.filePath("bin/kestrune-update-station"); }

    LauncherRun run(const QStringList& environment, const QByteArray& settings, int stationExit) {
        const QString config = dir.filePath("config");
        QDir(config).removeRecursively();
        QFile::remove(dir.filePath("arguments"));
        if (settings != NoSettings) {
            QDir().mkpath(config + "/Kestrune_Update_Utility");
            QFile file(config + "/Kestrune_Update_Utility/Kestrune_Update_Utility.ini");
            if (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size())
                qFatal("cannot write the settings file");
        }
        // As systemd starts it: no inherited environment beyond what the unit gives.
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("STUB_EXIT", QString::number(stationExit));
        env.insert("STUB_ARGUMENTS", dir.filePath("arguments"));
        for (const QString& entry : environment)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        QProcess process;
        process.setProcessEnvironment(env);
        // A folder with files a pattern in PORTS would match.
        process.setWorkingDirectory(dir.filePath("patterns"));
        process.start(launcher(), {ConfText});
        if (!process.waitForFinished(10000))
            qFatal("the launcher did not end");

        LauncherRun result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.errors = QString::fromUtf8(process.readAllStandardError());
        QFile written(dir.filePath("arguments"));
        result.stationRan = written.open(QIODevice::ReadOnly);
        if (result.stationRan) {
            QList<QByteArray> parts = written.readAll().split('\0');
            parts.removeLast(); // after the last terminator
            for (const QByteArray& part : parts)
                result.arguments << QString::fromUtf8(part);
        }
        return result;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY(QDir().mkpath(dir.filePath("bin")));
        QVERIFY(QDir().mkpath(dir.filePath("patterns")));
        for (const char* name : {"tty1", "tty2"}) {
            QFile file(dir.filePath(QString("patterns/") + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::copy(KUU_STATION_LAUNCHER, launcher()));
        QFile stub(dir.filePath("bin/kestrune-update"));
        QVERIFY(stub.open(QIODevice::WriteOnly));
        stub.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$STUB_ARGUMENTS\"\nexit \"$STUB_EXIT\"\n");
        stub.close();
        const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(launcher(), executable));
        QVERIFY(QFile::setPermissions(stub.fileName(), executable));
    }

    void startsTheStation_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("arguments");
        const QStringList station{"--station", "--json"};
        QTest::newRow("ports split at spaces, tabs and line ends; no image given")
            << QStringList{"PORTS= /dev/ttyUSB0\t rfc2217://rack2:4001 \n socket://[::1]:4002 "} << NoSettings
            << station + QStringList{"--", "/dev/ttyUSB0", "rfc2217://rack2:4001", "socket://[::1]:4002"};
        QTest::newRow("a port that looks like a pattern stays as written")
            << QStringList{"PORTS=tty*"} << NoSettings << station + QStringList{"--", "tty*"};
        QTest::newRow("image with spaces, and the time for gone")
            << QStringList{"PORTS=/dev/ttyUSB0", "IMAGE=/srv/line 2/QVL-GEN *.bin", "GONE_AFTER=7.5"}
            << NoSettings
            << station +
                   QStringList{"--image=/srv/line 2/QVL-GEN *.bin", "--gone-after=7.5", "--", "/dev/ttyUSB0"};
        QTest::newRow("image named like an option stays the image")
            << QStringList{"PORTS=/dev/ttyUSB0", "IMAGE=--count"} << NoSettings
            << station + QStringList{"--image=--count", "--", "/dev/ttyUSB0"};
        QTest::newRow("empty IMAGE and GONE_AFTER are left out")
            << QStringList{"PORTS=/dev/ttyUSB0", "IMAGE=", "GONE_AFTER="} << NoSettings
            << station + QStringList{"--", "/dev/ttyUSB0"};
        QTest::newRow("COM with its [Ports] line")
            << QStringList{"PORTS=COM3 /dev/ttyUSB1"} << QByteArray("[Ports]\nCOM3=/dev/ttyUSB0\n")
            << station + QStringList{"--", "COM3", "/dev/ttyUSB1"};
        QTest::newRow("com3 in lower case; settings with CRLF, blanks and no last line end")
            << QStringList{"PORTS=com3"}
            << QByteArray("[Settings]\r\nCOM-Port=1\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\nCOM3 = /dev/ttyUSB0")
            << station + QStringList{"--", "com3"};
    }
    void startsTheStation() {
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, arguments);
        const LauncherRun result = run(environment, settings, 0);
        QVERIFY2(result.stationRan, qPrintable(result.errors));
        QCOMPARE(result.arguments, arguments);
        QCOMPARE(result.exitCode, 0);
    }

    void refusesAndDoesNotStart_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("no PORTS") << QStringList{} << NoSettings
                                  << QStringList{"set PORTS in " + ConfText, "systemctl restart"};
        QTest::newRow("PORTS of blanks only")
            << QStringList{"PORTS= \t \n"} << NoSettings << QStringList{"set PORTS in " + ConfText};
        QTest::newRow("COM without a settings file")
            << QStringList{"PORTS=/dev/ttyUSB0 COM3"} << NoSettings
            << QStringList{"COM3 in PORTS has no device", "COM3=DEVICE in the [Ports] section",
                           "Kestrune_Update_Utility.ini"};
        QTest::newRow("COM line outside [Ports]")
            << QStringList{"PORTS=COM3"}
            << QByteArray("[Settings]\nCOM3=/dev/ttyUSB0\n[Ports]\nCOM4=/dev/ttyUSB1\n")
            << QStringList{"COM3 in PORTS has no device"};
        QTest::newRow("COM mapped to nothing") << QStringList{"PORTS=COM3"} << QByteArray("[Ports]\nCOM3=\n")
                                               << QStringList{"COM3 in PORTS has no device"};
        QTest::newRow("COM30 is not COM3")
            << QStringList{"PORTS=COM3"} << QByteArray("[Ports]\nCOM30=/dev/ttyUSB0\n")
            << QStringList{"COM3 in PORTS has no device"};
    }
    void refusesAndDoesNotStart() {
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, says);
        const LauncherRun result = run(environment, settings, 0);
        // 2 is the status the unit does not restart on: an unconfigured station must not loop.
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(!result.stationRan, qPrintable(result.arguments.join(' ')));
        for (const QString& text : says)
            QVERIFY2(result.errors.contains(text), qPrintable(result.errors));
    }

    // The unit restarts on the station's statuses 1 and 3 and not on 2: the launcher must pass
    // them on unchanged.
    void passesOnTheStationsExitStatus() {
        for (const int status : {1, 2, 3})
            QCOMPARE(run({"PORTS=/dev/ttyUSB0"}, NoSettings, status).exitCode, status);
    }
};

QTEST_GUILESS_MAIN(TestStationLauncher)
#include "tst_station_launcher.moc"
