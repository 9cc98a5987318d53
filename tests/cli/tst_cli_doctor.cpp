// kestrune-update --doctor as an operator runs it: exit statuses, the JSON keys, and a settings
// file left as it was, lock file included, while the COM map is read.
#include "Pty.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestCliDoctor : public QObject {
    Q_OBJECT
private slots:
    void doctor_data();
    void doctor();
};

void TestCliDoctor::doctor_data() {
    QTest::addColumn<QStringList>("arguments"); // {free}: a pty nobody holds, {held}: one a child holds
    QTest::addColumn<int>("status");            // -1: whatever the machine's own ports give
    QTest::addColumn<QString>("printed");
    QTest::newRow("no port: every COM") << QStringList{"--doctor"} << -1 << "COM3  {free}";
    QTest::newRow("a COM mapped to a free line") << QStringList{"--doctor", "COM3"} << 0 << "it opens now";
    QTest::newRow("a held line") << QStringList{"--doctor", "{held}"} << 1 << "is in use by sleep (PID";
    QTest::newRow("JSON") << QStringList{"--doctor", "--json", "COM3"} << 0 << "\"usable\": true";
    QTest::newRow("an update option") << QStringList{"--doctor", "--image", "x.bin"} << 2 << "";
    QTest::newRow("not a port") << QStringList{"--doctor", "COM12"} << 2 << "";
}

void TestCliDoctor::doctor() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, printed);
    Pty free;
    Pty held;
    QVERIFY(free.isValid() && held.isValid());
    // This test holds no line itself, or the command would name it.
    free.letGoOfSlave();
    held.letGoOfSlave();
    QProcess holder;
    holder.setStandardInputFile(held.slavePath());
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    const auto fill = [&](QString text) {
        return text.replace("{free}", free.slavePath()).replace("{held}", held.slavePath());
    };
    for (QString& argument : arguments)
        argument = fill(argument);

    QTemporaryDir config;
    const QString folder = config.filePath("Kestrune_Update_Utility");
    QDir().mkpath(folder);
    const QByteArray settings = "; bench 4\r\n[Ports]\r\nCOM3=" + free.slavePath().toUtf8() + "\r\n";
    QFile file(folder + "/Kestrune_Update_Utility.ini");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
    file.close();

    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    cli.setProcessEnvironment(env);
    cli.start(qEnvironmentVariable("KUU_CLI"), arguments);
    QVERIFY(cli.waitForFinished(20000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    if (status >= 0)
        QCOMPARE(cli.exitCode(), status);
    QVERIFY2(out.contains(fill(printed)), qPrintable(out + cli.readAllStandardError()));
    if (arguments.contains("--json")) {
        const QJsonObject port = QJsonDocument::fromJson(out.toUtf8())["ports"][0].toObject();
        QCOMPARE(port["port"].toString(), QStringLiteral("COM3"));
        QCOMPARE(port["device"].toString(), free.slavePath());
        const QJsonObject first = port["checks"][0].toObject();
        QCOMPARE(QStringList(first.keys()), (QStringList{"fix", "name", "status", "text"}));
    }
    // The map was read, not written: no new [Ports] line for the machine's own ports, no lock.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), settings);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"Kestrune_Update_Utility.ini"});
    // Nothing went to either line.
    QCOMPARE(free.readAvailable() + held.readAvailable(), QByteArray());
}

QTEST_GUILESS_MAIN(TestCliDoctor)
#include "tst_cli_doctor.moc"
