// kestrune-update itself against module simulators on pseudo-terminals: several ports at once,
// a module that never answers beside a good one, a refused image, and the update record.
#include "FileAge.h"
#include "Pty.h"
#include "SimulatorProcess.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
struct CliRun {
    int exitCode = -1;
    QJsonObject json;
    QByteArray err;
    qint64 ms = 0;
};

CliRun runCli(const QStringList& args) {
    QProcess cli;
    QElapsedTimer wall;
    wall.start();
    cli.start(qEnvironmentVariable("KUU_CLI"), args);
    cli.waitForFinished(60000);
    CliRun run;
    run.ms = wall.elapsed();
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    run.err = cli.readAllStandardError();
    return run;
}

QByteArray sampleImage(int bytes) {
    QByteArray image(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        image[i] = char((i * 7 + i / 251) & 0xFF);
    return image;
}

QJsonObject portResult(const CliRun& run, const QString& port) {
    for (const QJsonValue& value : run.json.value("ports").toArray())
        if (value.toObject().value("port").toString() == port)
            return value.toObject();
    return QJsonObject();
}
} // namespace

class TestCliEndToEnd : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QByteArray image = sampleImage(70000); // two sectors, the second one padded
    QString imagePath;

    QString startSim(SimulatorProcess& sim, const QStringList& args) {
        return sim.start(QStringList{"--quiet", "--flash-time", "0.01"} + args);
    }

    // What the simulator saved must be the image, then erased flash to the end of its last sector.
    void verifyReceived(const QString& file) {
        QFile received(file);
        QVERIFY2(received.open(QIODevice::ReadOnly), qPrintable(file));
        const QByteArray bytes = received.readAll();
        QCOMPARE(bytes.size(), 2 * 65536);
        QVERIFY(bytes.left(image.size()) == image);
        QVERIFY(bytes.mid(image.size()) == QByteArray(bytes.size() - image.size(), '\xFF'));
    }

private slots:
    void initTestCase() {
        QVERIFY(QFileInfo::exists(qEnvironmentVariable("KUU_CLI")));
        imagePath = dir.filePath("QVL-GEN-test.bin");
        QFile file(imagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image);
        file.close();
        QVERIFY(makeOld(imagePath));
    }

    void twoPortsAtOnceTakeAsLongAsOne() {
        const QString record = dir.filePath("state/two.jsonl");
        SimulatorProcess alone;
        const QString aloneDevice = startSim(alone, {"--out", dir.filePath("alone.bin")});
        QVERIFY(!aloneDevice.isEmpty());
        const CliRun one =
            runCli({"--json", "--image", imagePath, "--record", dir.filePath("one.jsonl"), aloneDevice});
        QCOMPARE(one.exitCode, 0);

        SimulatorProcess simA, simB;
        const QString a = startSim(simA, {"--out", dir.filePath("a.bin")});
        const QString b = startSim(simB, {"--out", dir.filePath("b.bin")});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        const CliRun two = runCli({"--json", "--image", imagePath, "--record", record, a, b});
        QVERIFY2(two.exitCode == 0, two.err.constData());
        QVERIFY2(two.ms < one.ms * 3 / 2,
                 qPrintable(QString("two ports %1 ms, one %2 ms").arg(two.ms).arg(one.ms)));
        QCOMPARE(portResult(two, a).value("result").toString(), QString("success"));
        QCOMPARE(portResult(two, b).value("result").toString(), QString("success"));
        QCOMPARE(portResult(two, a).value("module").toString(), QString("AA"));
        verifyReceived(dir.filePath("a.bin"));
        verifyReceived(dir.filePath("b.bin"));

        // The record: one line per session, the image's digest included.
        const QString sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        QCOMPARE(two.json.value("image").toObject().value("sha256").toString(), sha);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the end of the last
        QStringList ports;
        for (const QByteArray& line : lines.mid(0, 2)) {
            QJsonParseError error{};
            const QJsonObject entry = QJsonDocument::fromJson(line, &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            ports << entry.value("port").toString();
            QCOMPARE(entry.value("device").toString(), entry.value("port").toString());
            QCOMPARE(entry.value("frontEnd").toString(), QString("command-line"));
            QCOMPARE(entry.value("result").toString(), QString("success"));
            QCOMPARE(entry.value("sha256").toString(), sha);
            QCOMPARE(entry.value("image").toString(), imagePath);
            QCOMPARE(entry.value("bytes").toInt(), image.size());
            QCOMPARE(entry.value("sectors").toInt(), 2);
            QCOMPARE(entry.value("module").toString(), QString("AA"));
            QCOMPARE(entry.value("restarts").toInt(), 0);
            QVERIFY(entry.value("seconds").toDouble() > 3.0);
            QVERIFY(QDateTime::fromString(entry.value("time").toString(), Qt::ISODateWithMs).isValid());
            QVERIFY(entry.value("time").toString().endsWith('Z'));
        }
        ports.sort();
        QStringList expected{a, b};
        expected.sort();
        QCOMPARE(ports, expected);
    }

    void silentModuleDoesNotStopTheGoodOne() {
        SimulatorProcess good, switchOff;
        const QString g = startSim(good, {});
        // Its setup switch stays off: it echoes every probe and never gives its type.
        const QString s = startSim(switchOff, {"--xx", "1000000"});
        QVERIFY(!g.isEmpty() && !s.isEmpty());
        const CliRun run = runCli({"--json", "--identify-timeout", "2", "--image", imagePath, "--record",
                                   dir.filePath("mixed.jsonl"), s, g});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.json.value("ports").toArray().size(), 2);
        QCOMPARE(portResult(run, g).value("result").toString(), QString("success"));
        const QJsonObject silent = portResult(run, s);
        QCOMPARE(silent.value("result").toString(), QString("no-module"));
        QVERIFY2(silent.value("message").toString().contains("No module answered"),
                 qPrintable(silent.value("message").toString()));
    }

    void refusedImageSendsNothing_data() {
        QTest::addColumn<QByteArray>("content"); // empty name: no file at all
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << QByteArray() << "does not exist";
        QTest::newRow("empty") << QByteArray("") << "is empty";
        QTest::newRow("more than 255 sectors") << QByteArray(255 * 65536 + 1, 'x') << "larger than 255";
    }
    void refusedImageSendsNothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        const QString path = dir.filePath(QString("refused-%1.bin").arg(QTest::currentDataTag()));
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Pty lineA, lineB;
        QVERIFY(lineA.isValid() && lineB.isValid());
        const QString record = dir.filePath("refused.jsonl");
        const CliRun run =
            runCli({"--image", path, "--record", record, lineA.slavePath(), lineB.slavePath()});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err.constData());
        QCOMPARE(lineA.readAvailable(), QByteArray());
        QCOMPARE(lineB.readAvailable(), QByteArray());
        QVERIFY(!QFileInfo::exists(record));
    }

    void sameDeviceTwiceIsAUsageError() {
        Pty line;
        QVERIFY(line.isValid());
        const QString link = dir.filePath("link-to-line");
        QVERIFY(QFile::link(line.slavePath(), link));
        const CliRun run = runCli({"--image", imagePath, line.slavePath(), link});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("same device"), run.err.constData());
        QCOMPARE(line.readAvailable(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestCliEndToEnd)
#include "tst_cli_end_to_end.moc"
