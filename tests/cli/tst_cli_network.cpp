// The real kestrune-update through a real ser2net, raw TCP and RFC 2217, module simulator at
// wire rate behind it: an image full of 0xFF delivered byte for byte, and a server that dies
// mid-sector ending the session as a lost line.

#include "Ser2Net.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Ser2Net::Kind)

namespace {

// One sector of padding, with the bytes a Telnet stream treats specially scattered through it:
// IAC commands and sub-negotiations, CR NUL and CR LF, NUL.
QByteArray paddedImage() {
    QByteArray image(65536, '\xff');
    const QByteArray awkward = QByteArray::fromHex("fffa2c0100fff0fffb01fffd03ff0d000d0a00fe");
    for (int at = 0; at + awkward.size() < image.size(); at += 4099)
        image.replace(at, awkward.size(), awkward);
    image[image.size() - 1] = '\x7f';
    return image;
}

struct NetworkBench {
    QTemporaryDir dir;
    SimulatorProcess simulator;
    Ser2Net server;
    QString image;
    QString received;
    QProcess cli;

    // Starts the simulator on a pseudo-terminal and ser2net in front of it; an error text or empty.
    QString start(Ser2Net::Kind kind) {
        image = dir.filePath(QStringLiteral("QVL-GEN1.bin"));
        received = dir.filePath(QStringLiteral("received.bin"));
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || file.write(paddedImage()) != 65536)
            return QStringLiteral("the image could not be written");
        file.close();
        const QString line = dir.filePath(QStringLiteral("line"));
        if (simulator.start({"--wire-rate", "--quiet", "--out", received, "--link", line}).isEmpty())
            return QStringLiteral("module-sim did not start");
        return server.start({{line, kind}});
    }
    void runCli(const QStringList& args) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        cli.setProcessEnvironment(environment);
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  QStringList{"--image", image, "--record", dir.filePath(QStringLiteral("record.jsonl"))} +
                      args);
    }
};

} // namespace

class TestCliNetwork : public QObject {
    Q_OBJECT
private slots:
    void deliversEveryByte_data();
    void deliversEveryByte();
    void serverKilledMidSector_data();
    void serverKilledMidSector();
};

void TestCliNetwork::deliversEveryByte_data() {
    QTest::addColumn<Ser2Net::Kind>("kind");
    QTest::newRow("raw TCP") << Ser2Net::Kind::Raw;
    QTest::newRow("RFC 2217") << Ser2Net::Kind::Rfc2217;
}

void TestCliNetwork::deliversEveryByte() {
    QFETCH(Ser2Net::Kind, kind);
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    NetworkBench bench;
    const QString error = bench.start(kind);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString address = bench.server.address(0);
    bench.runCli({"--json", address});
    QVERIFY(bench.cli.waitForFinished(40000));
    const QByteArray err = bench.cli.readAllStandardError();
    const QJsonObject json = QJsonDocument::fromJson(bench.cli.readAllStandardOutput()).object();
    const QJsonObject port = json.value(QStringLiteral("ports")).toArray().first().toObject();
    QCOMPARE(port.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    QCOMPARE(port.value(QStringLiteral("device")).toString(), address);
    QCOMPARE(bench.cli.exitCode(), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    QFile received(bench.received);
    QVERIFY(received.open(QIODevice::ReadOnly));
    const QByteArray bytes = received.readAll();
    QCOMPARE(bytes.size(), 65536);
    QVERIFY2(bytes == paddedImage(), "the module got other bytes than the image's");
}

void TestCliNetwork::serverKilledMidSector_data() {
    QTest::addColumn<Ser2Net::Kind>("kind");
    QTest::newRow("raw TCP") << Ser2Net::Kind::Raw;
    QTest::newRow("RFC 2217") << Ser2Net::Kind::Rfc2217;
}

void TestCliNetwork::serverKilledMidSector() {
    QFETCH(Ser2Net::Kind, kind);
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    NetworkBench bench;
    const QString error = bench.start(kind);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString address = bench.server.address(0);
    bench.runCli({address});
    // The sector takes 5.7 s at wire rate; a second into it, the server goes.
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += bench.cli.readAllStandardOutput();
            return out.contains("announced");
        },
        15000));
    QTest::qWait(1000);
    bench.server.kill();
    QElapsedTimer sinceKill;
    sinceKill.start();
    QVERIFY(bench.cli.waitForFinished(10000));
    QVERIFY2(sinceKill.elapsed() < 10000, qPrintable(QString::number(sinceKill.elapsed())));
    out += bench.cli.readAllStandardOutput();
    QCOMPARE(bench.cli.exitCode(), 1);
    QVERIFY2(out.contains("line-lost"), out.constData());
    QVERIFY2(out.contains(QStringLiteral("The line to %1 was lost").arg(address).toUtf8()), out.constData());
    QVERIFY(!QFile::exists(bench.received));
}

QTEST_GUILESS_MAIN(TestCliNetwork)
#include "tst_cli_network.moc"
