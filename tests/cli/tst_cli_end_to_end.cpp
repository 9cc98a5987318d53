// kestrune-update itself against module simulators on pseudo-terminals: several ports at once,
// a module that never answers beside a good one, a refused image, the update record, stop
// signals in each phase, the program's own terminal given as a port, and output that fails.
#include "FileAge.h"
#include "Pty.h"
#include "RecordLines.h"
#include "SimulatorProcess.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

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

// The line settings a program could change, compared field by field.
bool sameLineSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) &&
           ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

// The lines of a record file, each parsed.

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

    // One image sector keeps each run short: identification, the pause, one sector, the settle.
    QString smallImage() {
        const QString path = dir.filePath("QVL-GEN-small.bin");
        if (!QFileInfo::exists(path)) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return QString();
            file.write(image.left(1000));
            file.close();
            makeOld(path);
        }
        return path;
    }

    // The simulator's image after a run: the small image, then erased flash to the sector's end.
    void verifySmallReceived(const QString& file) {
        QFile received(file);
        QVERIFY2(received.open(QIODevice::ReadOnly), qPrintable(file));
        const QByteArray bytes = received.readAll();
        QCOMPARE(bytes.size(), 65536);
        QVERIFY(bytes.left(1000) == image.left(1000));
        QVERIFY(bytes.mid(1000) == QByteArray(65536 - 1000, '\xFF'));
    }

private slots:
    void stopSignals_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("result"); // empty: the process ends by the signal, unrecorded
        for (const auto& [number, name] :
             {std::pair{SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
            QTest::addRow("%s while probing", name) << number << "probing" << 1 << "interrupted";
            QTest::addRow("%s mid-sector", name) << number << "mid-sector" << 1 << "interrupted";
            QTest::addRow("%s in the settle pause", name) << number << "settle" << 1 << "success";
        }
        QTest::newRow("a second SIGINT ends at once") << SIGINT << "mid-sector" << 2 << "";
    }
    void stopSignals() {
        QFETCH(int, signalNumber);
        QFETCH(QString, phase);
        QFETCH(int, count);
        QFETCH(QString, result);
        const QString tag = QString("%1-%2-%3").arg(phase).arg(signalNumber).arg(count);
        // The port is typed as a relative link: the JSON and the record must give it as typed.
        const QString typed = "./line-" + tag;
        const QString record = dir.filePath("signal-" + tag + ".jsonl");
        Pty silent;
        SimulatorProcess sim;
        QString device;
        if (phase == "probing") {
            QVERIFY(silent.isValid());
            device = silent.slavePath();
            QVERIFY(QFile::link(device, dir.filePath(typed)));
        } else {
            QStringList args{"--flash-time", "0.01", "--link", dir.filePath(typed)};
            if (phase == "mid-sector")
                args << "--wire-rate";
            device = sim.start(args);
            QVERIFY(!device.isEmpty());
        }
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  {"--json", "--image", smallImage(), "--record", record, typed});
        QVERIFY(cli.waitForStarted());

        if (phase == "probing") {
            QCOMPARE(silent.read(12, 5000), QByteArray("XXXXXXXXXXXX"));
        } else if (phase == "mid-sector") {
            QTRY_VERIFY_WITH_TIMEOUT(sim.events().contains("request 0"), 8000);
            // The host pauses 1 s after the request; half a second later the sector is on the wire.
            QTest::qWait(1500);
            QVERIFY(!sim.events().contains("sector 0 received"));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(sim.events().contains("end"), 8000);
            QTest::qWait(300); // the end mark is read; 1.7 s of the settle pause are left
        }
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        for (int i = 0; i < count; ++i) {
            // A process already gone has pid 0, and kill(0) would hit this whole process group.
            const auto pid = pid_t(cli.processId());
            QVERIFY2(pid > 0 && cli.state() == QProcess::Running, "ended before the signal");
            QCOMPARE(::kill(pid, signalNumber), 0);
            QTest::qWait(50);
        }
        // Events ran in the waits above: the process may be gone already.
        QVERIFY(cli.state() == QProcess::NotRunning || cli.waitForFinished(5000));
        if (result.isEmpty()) {
            QVERIFY2(sinceSignal.elapsed() < 1000, qPrintable(QString::number(sinceSignal.elapsed())));
            QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
            return;
        }
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), result == "success" ? 0 : 1);
        const QJsonArray ports =
            QJsonDocument::fromJson(cli.readAllStandardOutput()).object().value("ports").toArray();
        QCOMPARE(ports.size(), 1);
        const QJsonObject port = ports.first().toObject();
        QCOMPARE(port.value("result").toString(), result);
        QCOMPARE(port.value("port").toString(), typed);
        QCOMPARE(port.value("device").toString(), QFileInfo(device).canonicalFilePath());
        const QList<QJsonObject> lines = recordLines(record);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().value("result").toString(), result);
        QCOMPARE(lines.first().value("port").toString(), typed);
        QVERIFY2(err.isEmpty(), err.constData());
    }

    // The child gets the pseudo-terminal as (some of) its standard descriptors and, where
    // asked, as its controlling terminal, as a shell on that terminal would start it.
    void ownTerminalIsRefused_data() {
        QTest::addColumn<QString>("port");     // slave, link, tty (/dev/tty)
        QTest::addColumn<QList<int>>("stdio"); // descriptors put on the pseudo-terminal
        QTest::addColumn<bool>("controlling");
        QTest::newRow("the terminal of stdin and stdout") << "slave" << QList<int>{0, 1} << true;
        QTest::newRow("/dev/tty") << "tty" << QList<int>{0, 1} << true;
        QTest::newRow("a link to the terminal") << "link" << QList<int>{0, 1} << true;
        QTest::newRow("only the controlling terminal") << "slave" << QList<int>{} << true;
        QTest::newRow("only standard error, no controlling terminal") << "slave" << QList<int>{2} << false;
        QTest::newRow("only standard input, no controlling terminal") << "slave" << QList<int>{0} << false;
    }
    void ownTerminalIsRefused() {
        QFETCH(QString, port);
        QFETCH(QList<int>, stdio);
        QFETCH(bool, controlling);
        Pty terminal;
        QVERIFY(terminal.isValid());
        // A terminal as a shell leaves it: line editing, echo, Ctrl+C.
        termios before{};
        QCOMPARE(::tcgetattr(terminal.slave(), &before), 0);
        before.c_lflag |= ICANON | ECHO | ISIG;
        QCOMPARE(::tcsetattr(terminal.slave(), TCSANOW, &before), 0);
        QCOMPARE(::tcgetattr(terminal.slave(), &before), 0);

        QString given = terminal.slavePath();
        if (port == "tty") {
            given = "/dev/tty";
        } else if (port == "link") {
            given = dir.filePath(QString("own-terminal-%1").arg(terminal.slave()));
            QFile::remove(given);
            QVERIFY(QFile::link(terminal.slavePath(), given));
        }
        QProcess cli;
        const int slave = terminal.slave();
        cli.setChildProcessModifier([slave, stdio, controlling] {
            ::setsid();
            if (controlling)
                ::ioctl(slave, TIOCSCTTY, 0);
            for (const int fd : stdio)
                ::dup2(slave, fd);
        });
        // Should the terminal be taken anyway, the run gives up after a second instead of probing on.
        cli.start(qEnvironmentVariable("KUU_CLI"), {"--identify-timeout", "1", "--image", smallImage(),
                                                    "--record", dir.filePath("own.jsonl"), given});
        QVERIFY(cli.waitForFinished(10000));
        const QByteArray onTerminal = terminal.read(1 << 16, 200);
        const QByteArray said = cli.readAllStandardError() + onTerminal;
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY2(said.contains("own terminal"), said.constData());
        QVERIFY2(!onTerminal.contains("XXXXXXXXXXXX"), onTerminal.constData());
        termios after{};
        QCOMPARE(::tcgetattr(terminal.slave(), &after), 0);
        QVERIFY(sameLineSettings(before, after));
        QVERIFY(!QFileInfo::exists(dir.filePath("own.jsonl")));
    }

    // Standard output that takes nothing, and a record that cannot be written: the module
    // still gets its whole image, the failure is said on standard error, the exit status is 1.
    void writeFailureIsSaid_data() {
        QTest::addColumn<QString>("output"); // full, closed, head (a reader that leaves after a line),
                                             // gone (a reader that leaves at once), pipe (read whole)
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("record"); // empty: a writable file; else where it points
        QTest::addColumn<QString>("says");
        QTest::newRow("JSON to /dev/full") << "full" << true << ""
                                           << "No space left on device";
        QTest::newRow("standard output closed") << "closed" << false << ""
                                                << "standard output is closed";
        QTest::newRow("| head -1") << "head" << false << ""
                                   << "Broken pipe";
        QTest::newRow("JSON to a reader that left") << "gone" << true << ""
                                                    << "Broken pipe";
        QTest::newRow("record is a directory") << "pipe" << true << "dir"
                                               << "record-dir could not be written: it is not a regular file";
        QTest::newRow("record is /dev/full")
            << "pipe" << true << "/dev/full"
            << "record /dev/full could not be written: it is not a regular file";
    }
    void writeFailureIsSaid() {
        QFETCH(QString, output);
        QFETCH(bool, json);
        QFETCH(QString, record);
        QFETCH(QString, says);
        const QString received =
            dir.filePath(QString("written-%1.bin")
                             .arg(QString(QTest::currentDataTag()).replace(QRegularExpression("\\W"), "-")));
        SimulatorProcess sim;
        const QString device = startSim(sim, {"--out", received});
        QVERIFY(!device.isEmpty());
        QString recordPath = dir.filePath("write-failure.jsonl");
        if (record == "dir") {
            recordPath = dir.filePath("record-dir");
            QVERIFY(QDir().mkpath(recordPath));
        } else if (!record.isEmpty()) {
            recordPath = record;
        }
        QStringList args{"--image", smallImage(), "--record", recordPath, device};
        if (json)
            args.prepend("--json");

        QProcess cli, reader;
        if (output == "full")
            cli.setStandardOutputFile("/dev/full");
        else if (output == "closed")
            cli.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
        else if (output == "head" || output == "gone")
            cli.setStandardOutputProcess(&reader);
        if (output == "head")
            reader.start("head", {"-n", "1"});
        else if (output == "gone")
            reader.start("true");
        cli.start(qEnvironmentVariable("KUU_CLI"), args);
        if (output == "gone")
            QVERIFY(reader.waitForFinished(5000));
        QVERIFY(cli.waitForFinished(30000));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QVERIFY2(err.contains(says.toUtf8()), err.constData());
        QCOMPARE(cli.exitCode(), 1);
        verifySmallReceived(received);
        if (output == "head") {
            QVERIFY(reader.waitForFinished(5000));
            QVERIFY(reader.readAllStandardOutput().startsWith("Image "));
        }
        if (output == "pipe") {
            const QJsonObject port = QJsonDocument::fromJson(cli.readAllStandardOutput())
                                         .object()
                                         .value("ports")
                                         .toArray()
                                         .first()
                                         .toObject();
            QCOMPARE(port.value("result").toString(), QString("success")); // the module's result stands
        }
    }

    void portErrorNamesThePortOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing device") << "missing"
                                        << "cannot be opened: it does not exist";
        QTest::newRow("a regular file") << "file"
                                        << "cannot be opened: ";
    }
    void portErrorNamesThePortOnce() {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        const QString port = dir.filePath("not-a-port-" + kind);
        if (kind == "file") {
            QFile file(port);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        const CliRun run =
            runCli({"--json", "--image", smallImage(), "--record", dir.filePath("port-error.jsonl"), port});
        QCOMPARE(run.exitCode, 1);
        const QJsonObject result = portResult(run, port);
        QCOMPARE(result.value("result").toString(), QString("port-error"));
        const QString message = result.value("message").toString();
        QVERIFY2(message.startsWith(port + " " + says), qPrintable(message));
        QCOMPARE(message.count(port), 1);
        QCOMPARE(message.count("cannot be opened"), 1);
    }

    // A name Qt cannot hold (Latin-1 bytes from an old share) is refused as such, never
    // looked for under a mangled name and reported missing.
    void namesThatAreNotUtf8_data() {
        QTest::addColumn<QString>("which");
        QTest::newRow("image") << "image";
        QTest::newRow("port") << "port";
    }
    void namesThatAreNotUtf8() {
        QFETCH(QString, which);
        const QByteArray folder = QFile::encodeName(dir.path()) +
                                  "/Pr\xFC"
                                  "fplatz-" +
                                  which.toLatin1();
        QCOMPARE(::mkdir(folder.constData(), 0755), 0);
        Pty line;
        QVERIFY(line.isValid());
        QByteArray imageArg = QFile::encodeName(smallImage());
        QByteArray portArg = QFile::encodeName(line.slavePath());
        if (which == "image") {
            imageArg = folder + "/QVL-GEN-1.bin";
            std::FILE* file = std::fopen(imageArg.constData(), "wb");
            QVERIFY(file);
            std::fwrite(image.constData(), 1, 1000, file);
            std::fclose(file);
        } else {
            portArg = folder + "/ttyModule";
            QCOMPARE(::symlink(QFile::encodeName(line.slavePath()).constData(), portArg.constData()), 0);
        }
        // QProcess takes its arguments as text; sh's printf makes the bytes from octal escapes.
        const auto escaped = [](const QByteArray& bytes) {
            QString text;
            for (const char c : bytes)
                text += quint8(c) >= 0x80 || c == '%' || c == '\\'
                            ? QString("\\%1").arg(quint8(c), 3, 8, QLatin1Char('0'))
                            : QString(QLatin1Char(c));
            return text;
        };
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("IMAGE_ARG", escaped(imageArg));
        environment.insert("PORT_ARG", escaped(portArg));
        environment.insert("RECORD", dir.filePath("not-utf8.jsonl"));
        QProcess cli;
        cli.setProcessEnvironment(environment);
        cli.start("/bin/sh",
                  {"-c", "exec \"$KUU_CLI\" --image \"$(printf \"$IMAGE_ARG\")\" --record \"$RECORD\" "
                         "\"$(printf \"$PORT_ARG\")\""});
        QVERIFY(cli.waitForFinished(10000));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY2(err.contains("is not valid UTF-8"), err.constData());
        QVERIFY2(err.contains("Pr\\xFCfplatz-" + which.toLatin1()), err.constData());
        QVERIFY2(!err.contains("does not exist"), err.constData());
        QCOMPARE(line.read(1, 300), QByteArray());
        QVERIFY(!QFileInfo::exists(dir.filePath("not-utf8.jsonl")));
    }

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

    // A copy that goes on after the command line read the image: every port refuses it before
    // its first block, so nothing of it reached any module, and the status is that of a
    // refused image.
    void imageThatKeepsChangingIsRefusedEverywhere() {
        const QString path = dir.filePath("still-copied.bin");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(image.left(65536));
        }
        SimulatorProcess simA, simB;
        const QString outA = dir.filePath("still-copied-a.bin"), outB = dir.filePath("still-copied-b.bin");
        // Not quiet: its log shows whether any of the image arrived.
        const QString a = simA.start({"--flash-time", "0.01", "--out", outA});
        const QString b = simB.start({"--flash-time", "0.01", "--out", outB});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        QProcess cli;
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  {"--json", "--image", path, "--record", dir.filePath("still-copied.jsonl"), a, b});
        QVERIFY(cli.waitForStarted(5000));
        QTest::qWait(600); // the modules are being identified
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(image.mid(65536));
        }
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 2);
        const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        const QJsonArray ports = json.value("ports").toArray();
        QCOMPARE(ports.size(), 2);
        for (const QJsonValue& port : ports)
            QCOMPARE(port.toObject().value("result").toString(), QString("image-refused"));
        QVERIFY(!QFileInfo::exists(outA));
        QVERIFY(!QFileInfo::exists(outB));
        for (SimulatorProcess* sim : {&simA, &simB}) {
            const QString log = sim->events().join('\n');
            QVERIFY2(log.contains("answer AA") && !log.contains("received") && !log.contains("discard"),
                     qPrintable(log));
        }
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
