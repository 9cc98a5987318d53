// kestrune-update with a settings file in a hostile state: it is neither read nor written, the
// command says so and goes on at once.
#include "HostileFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using hostile::HostileFile;
using hostile::State;

Q_DECLARE_METATYPE(hostile::State)

class TestCliSettings : public QObject {
    Q_OBJECT
private slots:
    void hostileSettingsFile_data() {
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("says");
        QTest::newRow("a FIFO") << State::Fifo << "it is not a regular file";
        QTest::newRow("a link to /dev/zero") << State::LinkToZero << "it is not a regular file";
        QTest::newRow("a folder") << State::Directory << "it is not a regular file";
        QTest::newRow("1 GiB") << State::Oversize << "it is larger than 1 MiB";
    }

    void hostileSettingsFile() {
        QFETCH(State, state);
        QFETCH(QString, says);
        const HostileFile settings(state, QStringLiteral("Kestrune_Update_Utility.ini"),
                                   QByteArray("[Ports]\nCOM1=/dev/null\n"));
        QVERIFY2(settings.setupError().isEmpty(), qPrintable(settings.setupError()));
        // The command looks for its settings under $XDG_CONFIG_HOME/Kestrune_Update_Utility/.
        QTemporaryDir config;
        const QString folder = QFileInfo(settings.path()).absolutePath();
        QVERIFY(QFile::link(folder, config.filePath("Kestrune_Update_Utility")));

        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        cli.setProcessEnvironment(env);
        QElapsedTimer took;
        took.start();
        cli.start(qEnvironmentVariable("KUU_CLI"), {"--list-ports"});
        QVERIFY2(cli.waitForFinished(10000), "the command hangs on its settings file");
        QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY2(err.contains("cannot be used: " + says.toUtf8() + "; no settings are used."),
                 err.constData());
        QVERIFY2(settings.changes().isEmpty(), qPrintable(settings.changes()));
    }
};

QTEST_GUILESS_MAIN(TestCliSettings)
#include "tst_cli_settings.moc"
