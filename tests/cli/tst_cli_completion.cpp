// The bash completion of kestrune-update, run in a real bash as its completion machinery calls
// it: what it offers for a few typed lines, and its options in step with the real --help.

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Calls the function that `complete` names for kestrune-update as bash does after a Tab at the
// end of "kestrune-update LINE": COMP_LINE and COMP_POINT set, the current word split at bash's
// word breaks. Prints COMPREPLY, one entry per NUL.
const char* CompleteScript = R"(
source "$1" || exit 90
spec=$(complete -p kestrune-update) || exit 91
function=${spec#*-F }
function=${function%% *}
cd "$2" || exit 92
COMP_LINE="kestrune-update $3"
COMP_POINT=${#COMP_LINE}
current=${COMP_LINE##*[[:blank:]:=]}
"$function" kestrune-update "$current" "" || exit 93
printf '%s\0' "${COMPREPLY[@]}"
)";

QStringList offered(const QString& folder, const QString& typed) {
    QProcess bash;
    bash.start("bash",
               {"--norc", "--noprofile", "-c", CompleteScript, "bash", KUU_COMPLETION, folder, typed});
    if (!bash.waitForFinished(10000) || bash.exitCode() != 0)
        qWarning("bash ended with %d: %s", bash.exitCode(), bash.readAllStandardError().constData());
    QStringList entries;
    for (const QByteArray& entry : bash.readAllStandardOutput().split('\0'))
        if (!entry.isEmpty())
            entries << QString::fromUtf8(entry);
    entries.sort();
    return entries;
}

struct CliRun {
    int exitCode = -1;
    QString output;
};

CliRun runCli(const QStringList& arguments) {
    QProcess cli;
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(qEnvironmentVariable("KUU_CLI"), arguments);
    if (!cli.waitForFinished(10000)) {
        cli.kill();
        cli.waitForFinished();
    }
    return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError())};
}

QSet<QString> setOf(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}

QString listed(QSet<QString> names) {
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted.join(' ');
}
} // namespace

class TestCliCompletion : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QStringList coms;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("images"));
        for (const char* name : {"QVL-GEN-1.bin", "qvl-gen-2.BIN", "notes.txt", "QVL-GEN-3.bin.part"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        for (int n = 1; n <= 9; ++n)
            coms << QString("COM%1").arg(n);
    }

    void offers_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("option by its beginning") << "--im" << QStringList{"--image"};
        QTest::newRow("option after a port") << "COM1 --j" << QStringList{"--json"};
        QTest::newRow("image files in any case, and folders; no other file")
            << "--image " << QStringList{"QVL-GEN-1.bin", "images", "qvl-gen-2.BIN"};
        QTest::newRow("image after an equals sign") << "--image=q" << QStringList{"qvl-gen-2.BIN"};
        QTest::newRow("record takes any file") << "--record n" << QStringList{"notes.txt"};
        QTest::newRow("COM numbers in lower case") << "COM1 com" << coms;
        QTest::newRow("one COM") << "COM3" << QStringList{"COM3"};
        QTest::newRow("network prefix") << "rf" << QStringList{"rfc2217://"};
        QTest::newRow("port of --comtest") << "--comtest so" << QStringList{"socket://"};
        // bash replaces only what follows the colon: the offer must not repeat what precedes it.
        QTest::newRow("prefix after its colon") << "rfc2217:" << QStringList{"//"};
        QTest::newRow("a host is not guessed") << "rfc2217://rack2:" << QStringList{};
        QTest::newRow("device path") << "/dev/nul" << QStringList{"/dev/null"};
        QTest::newRow("a number is not a port") << "--identify-timeout " << QStringList{};
        QTest::newRow("nor is the time for gone") << "--gone-after " << QStringList{};
        QTest::newRow("nor a count") << "--count=" << QStringList{};
    }
    void offers() {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        QCOMPARE(offered(dir.path(), typed), expected);
    }

    // An empty port: COM1 to COM9 and both network prefixes, besides the serial lines present.
    void offersEveryKindOfPort() {
        QStringList ports = offered(dir.path(), "");
        ports.removeIf([](const QString& port) { return port.startsWith("/dev/"); });
        const QStringList expected = coms + QStringList{"rfc2217://", "socket://"};
        QCOMPARE(ports, expected);
    }

    // Every option of --help is completed, and nothing else. The station's and the port doctor's
    // options are completed ahead of their front ends: while the program does not know one of
    // them, that is an expected failure; once it takes one that --help does not tell of, a real one.
    void optionsInStepWithHelp() {
        const QSet<QString> coming{"--station", "--count", "--gone-after", "--doctor"};
        const CliRun help = runCli({"--help"});
        QCOMPARE(help.exitCode, 0);
        static const QRegularExpression option("(?<![\\w-])--[a-z][a-z0-9-]*");
        QSet<QString> documented;
        for (const QRegularExpressionMatch& match : option.globalMatch(help.output))
            documented << match.captured();
        QVERIFY(documented.contains("--image"));
        const QSet<QString> completed = setOf(offered(dir.path(), "--"));

        const QSet<QString> missing = documented - completed;
        QVERIFY2(missing.isEmpty(), qPrintable("not completed: " + listed(missing)));
        QSet<QString> unknown;
        QSet<QString> undocumented;
        for (const QString& name : completed - documented) {
            const CliRun tried = runCli({name});
            (tried.exitCode == 2 && tried.output.contains("Unknown option") ? unknown : undocumented) << name;
        }
        QVERIFY2(undocumented.isEmpty(), qPrintable("taken but not in --help: " + listed(undocumented)));
        QVERIFY2((unknown - coming).isEmpty(),
                 qPrintable("completed, unknown to the program: " + listed(unknown - coming)));
        if (!unknown.isEmpty())
            QEXPECT_FAIL("", qPrintable("completed, not known to the program yet: " + listed(unknown)),
                         Continue);
        QVERIFY2(unknown.isEmpty(), qPrintable("completed, unknown to the program: " + listed(unknown)));
    }
};

QTEST_GUILESS_MAIN(TestCliCompletion)
#include "tst_cli_completion.moc"
