// kestrune-update --station itself against module simulators that play a lead of modules: two
// slots of three modules each, a module that goes mute, an image changed during the run, the
// board on a pseudo-terminal, the event lines and JSON Lines in pipes.
#include "FileAge.h"
#include "Pty.h"
#include "RecordLines.h"
#include "SimulatorProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {
QByteArray sampleImage(int bytes) {
    QByteArray image(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        image[i] = char((i * 13 + i / 509) & 0xFF);
    return image;
}

// A JSON line of standard output, parsed as it arrived, and whether the station still ran then.
struct Arrival {
    QJsonObject object;
    bool whileRunning = false;
};
} // namespace

class TestCliStation : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QByteArray image = sampleImage(70000); // two sectors, the second one padded
    QString imagePath;

    void verifyImage(const QString& file) {
        QFile received(file);
        QVERIFY2(received.open(QIODevice::ReadOnly), qPrintable(file));
        const QByteArray bytes = received.readAll();
        QCOMPARE(bytes.size(), 2 * 65536);
        QVERIFY(bytes.left(image.size()) == image);
        QVERIFY(bytes.mid(image.size()) == QByteArray(bytes.size() - image.size(), '\xFF'));
    }

    // Standard output read line by line while the station runs; each line must be one JSON object.
    static QList<Arrival> readJsonLines(QProcess& cli, int timeoutMs) {
        QList<Arrival> lines;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < timeoutMs) {
            const bool running = cli.state() == QProcess::Running;
            while (cli.canReadLine()) {
                const QByteArray line = cli.readLine();
                QJsonParseError error{};
                lines << Arrival{QJsonDocument::fromJson(line, &error).object(), running};
                if (error.error != QJsonParseError::NoError)
                    qWarning("not a JSON line: %s", line.constData());
            }
            if (!running)
                break;
            cli.waitForReadyRead(100);
        }
        return lines;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        imagePath = dir.filePath("QVL-GEN-station.bin");
        QFile file(imagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image);
        file.close();
        makeOld(imagePath);
    }

    // Two slots, three modules each (one gone by XX, one by silence), and beside them a station
    // whose module goes mute after its identification: both run at once to keep the test short.
    void twoSlotsOfThreeModules() {
        SimulatorProcess a, b, mute;
        const QStringList quick{"--quiet", "--flash-time", "0.01"};
        // The XX comes after the host's 2 s settle pause.
        const QString slotA =
            a.start(quick + QStringList{"--lead", "3", "--stay", "2.5", "--switch-off", "1.5", "--away",
                                        "0.5", "--types", "AA,AB", "--out", dir.filePath("a%d.bin")});
        const QString slotB = b.start(quick + QStringList{"--lead", "3", "--stay", "2.5", "--away", "3.5",
                                                          "--types", "AC", "--out", dir.filePath("b%d.bin")});
        QStringList muteArgs = quick;
        for (int attempt = 0; attempt < 4; ++attempt)
            muteArgs << "--drop-request"
                     << "0";
        const QString slotMute = mute.start(muteArgs);
        QVERIFY(!slotA.isEmpty() && !slotB.isEmpty() && !slotMute.isEmpty());

        const QString record = dir.filePath("six.jsonl");
        const QString muteRecord = dir.filePath("mute.jsonl");
        QProcess cli, muted;
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  {"--station", "--json", "--count", "6", "--gone-after", "2.4", "--image", imagePath,
                   "--record", record, slotA, slotB});
        muted.start(qEnvironmentVariable("KUU_CLI"),
                    {"--station", "--count", "1", "--image", imagePath, "--record", muteRecord, slotMute});
        QVERIFY(cli.waitForStarted());
        const QList<Arrival> lines = readJsonLines(cli, 80000);
        QVERIFY(cli.state() == QProcess::NotRunning || cli.waitForFinished(5000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        const QByteArray events = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 0);

        QCOMPARE(lines.size(), 6);
        QMap<QString, QStringList> modulesOf;
        for (const Arrival& line : lines) {
            QCOMPARE(line.object.value("result").toString(), QString("success"));
            QCOMPARE(line.object.value("sha256").toString().size(), 64);
            QCOMPARE(line.object.value("image").toString(), imagePath);
            modulesOf[line.object.value("port").toString()] << line.object.value("module").toString();
        }
        // Flushed as each update ended, not at the end of the run.
        QVERIFY(lines.first().whileRunning);
        QCOMPARE(modulesOf.value(slotA), (QStringList{"AA", "AB", "AA"}));
        QCOMPARE(modulesOf.value(slotB), (QStringList{"AC", "AC", "AC"}));
        QCOMPARE(recordLines(record).size(), 6);
        for (const char* name : {"a1", "a2", "a3", "b1", "b2", "b3"})
            verifyImage(dir.filePath(QString(name) + ".bin"));

        // Without a terminal: one line per event, with its ISO 8601 time.
        const QRegularExpression line(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d) "
                           "(\\S+) (.*)$"));
        QMap<QString, QStringList> said;
        for (const QByteArray& text : events.split('\n')) {
            if (text.isEmpty())
                continue;
            const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
            QVERIFY2(match.hasMatch(), text.constData());
            said[match.captured(2)] << match.captured(3);
        }
        const QStringList ofA = said.value(slotA);
        QCOMPARE(ofA.filter(QRegularExpression("^module (AA|AB) found$")).size(), 3);
        QCOMPARE(ofA.filter(QRegularExpression("^success 0:00:\\d\\d$")).size(), 3);
        QCOMPARE(ofA.filter("module removed").size(), 2);
        QVERIFY(ofA.contains("switch off"));

        QVERIFY(muted.state() == QProcess::NotRunning || muted.waitForFinished(60000));
        QCOMPARE(muted.exitStatus(), QProcess::NormalExit);
        QCOMPARE(muted.exitCode(), 1);
        const QList<QJsonObject> failed = recordLines(muteRecord);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().value("result").toString(), QString("failed"));
        QCOMPARE(failed.first().value("restarts").toInt(), 3);
    }

    // A new image copied over the old one during an update: that update goes on with what it
    // read, no other starts, and the station ends with 3 for its service to start it again.
    void imageChangedDuringTheRun() {
        const QString changing = dir.filePath("QVL-GEN-changing.bin");
        QVERIFY(QFile::copy(imagePath, changing));
        makeOld(changing);
        SimulatorProcess sim;
        const QString device =
            sim.start({"--flash-time", "0.01", "--wire-rate", "--out", dir.filePath("c.bin")});
        QVERIFY(!device.isEmpty());
        const QString record = dir.filePath("changed.jsonl");
        QProcess cli;
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  {"--station", "--json", "--image", changing, "--record", record, device});
        QTRY_VERIFY_WITH_TIMEOUT(sim.events().contains("request 0"), 10000);
        {
            QFile file(changing);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(sampleImage(65536));
        }
        QVERIFY(cli.waitForFinished(40000));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 3);
        QVERIFY2(err.contains("changed on disk"), err.constData());
        const QList<QJsonObject> lines = recordLines(record);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().value("result").toString(), QString("success"));
        verifyImage(dir.filePath("c.bin"));
    }

    // The board on a terminal: header, the slot's line through its states, PASS in green (unless
    // NO_COLOR), the bell at the result.
    void boardOnATerminal_data() {
        QTest::addColumn<bool>("noColor");
        QTest::newRow("colours") << false;
        QTest::newRow("NO_COLOR") << true;
    }
    void boardOnATerminal() {
        QFETCH(bool, noColor);
        SimulatorProcess sim;
        const QString device = sim.start({"--quiet", "--flash-time", "0.01"});
        QVERIFY(!device.isEmpty());
        Pty terminal;
        QVERIFY(terminal.isValid());
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TERM", "xterm");
        if (noColor)
            env.insert("NO_COLOR", "1");
        else
            env.remove("NO_COLOR");
        cli.setProcessEnvironment(env);
        const int slave = terminal.slave();
        cli.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
        cli.start(qEnvironmentVariable("KUU_CLI"), {"--station", "--count", "1", "--image", imagePath,
                                                    "--record", dir.filePath("board.jsonl"), device});
        QByteArray screen;
        QElapsedTimer waited;
        waited.start();
        while (cli.state() != QProcess::NotRunning && waited.elapsed() < 30000) {
            screen += terminal.read(1 << 16, 100);
            cli.waitForFinished(10);
        }
        screen += terminal.read(1 << 16, 200);
        QCOMPARE(cli.exitCode(), 0);
        const QString text = QString::fromUtf8(screen);
        QVERIFY2(text.contains("Station  " + imagePath + "  2 sectors  SHA-256 "), qPrintable(text));
        QVERIFY(text.contains("passed 1  failed 0"));
        const QString label = QRegularExpression::escape(device);
        // The slot's line redrawn in place through its states.
        for (const QString& state :
             {QString("empty - put on next"), QString("updating\\s+\\[#*-*\\]\\s+AA"),
              QString("PASS - remove module\\s+AA\\s+last success \\d\\d:\\d\\d:\\d\\d\\s+"
                      "passed 1 failed 0")})
            QVERIFY2(text.contains(QRegularExpression("\r\x1b\\[2K(\x1b\\[32m)?" + label + "\\s+" + state)),
                     qPrintable(state));
        QVERIFY(text.contains("\x1b[2A") || text.contains(QRegularExpression("\x1b\\[\\dA")));
        QCOMPARE(text.contains("\x1b[32m"), !noColor);
        QVERIFY(text.contains('\a'));
    }
};

QTEST_GUILESS_MAIN(TestCliStation)
#include "tst_cli_station.moc"
