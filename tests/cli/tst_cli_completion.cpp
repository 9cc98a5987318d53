// The bash completion of kestrune-update, run in a real bash as its completion machinery calls
// it: what it offers for a few typed lines, and its options in step with the real --help.

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// After a Tab at the end of "kestrune-update LINE", bash calls the function `complete` names with
// COMP_LINE and COMP_POINT set and the word split at its word breaks. Prints COMPREPLY sorted,
// without the serial lines present when the port is empty (they vary from machine to machine).
const char* CompleteScript = R"(
source "$1" && spec=$(complete -p kestrune-update) && cd "$2" || exit 90
function=${spec#*-F } && function=${function%% *}
COMP_LINE="kestrune-update $3" && COMP_POINT=${#COMP_LINE}
"$function" kestrune-update "${COMP_LINE##*[[:blank:]:=]}" "" || exit 91
printf '%s\n' "${COMPREPLY[@]}" | { [ -n "$3" ] && cat || grep -v '^/dev/'; } | LC_ALL=C sort | paste -sd' ' -
)";

QString offered(const QString& folder, const QString& typed) {
    QProcess bash;
    bash.start("bash",
               {"--norc", "--noprofile", "-c", CompleteScript, "bash", KUU_COMPLETION, folder, typed});
    bash.waitForFinished(10000);
    return QString::fromUtf8(bash.readAllStandardOutput()).trimmed();
}

// All the command line prints for one argument (within 10 s).
QString cliSays(const QString& argument) {
    QProcess cli;
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(qEnvironmentVariable("KUU_CLI"), {argument});
    if (!cli.waitForFinished(10000))
        cli.kill();
    cli.waitForFinished();
    return QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
}

QString listed(const QSet<QString>& names) {
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted.join(' ');
}
} // namespace

class TestCliCompletion : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void offers_data() {
        QVERIFY(QDir().mkpath(dir.filePath("images")));
        for (const char* name : {"QVL-GEN-1.bin", "qvl-gen-2.BIN", "notes.txt", "QVL-GEN-3.bin.part"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        const QStringList coms{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"};
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("option after a port") << "COM1 --im" << QStringList{"--image"};
        QTest::newRow("image files in any case, and folders")
            << "--image " << QStringList{"QVL-GEN-1.bin", "images", "qvl-gen-2.BIN"};
        QTest::newRow("image after an equals sign") << "--image=q" << QStringList{"qvl-gen-2.BIN"};
        QTest::newRow("COM numbers in lower case") << "com" << coms;
        // bash replaces only what follows the colon: the offer must not repeat what precedes it.
        QTest::newRow("prefix after its colon") << "rfc2217:" << QStringList{"//"};
        QTest::newRow("device path") << "/dev/nul" << QStringList{"/dev/null"};
        QTest::newRow("a number is not a port") << "--gone-after=" << QStringList{};
        QTest::newRow("any port") << "" << coms + QStringList{"rfc2217://", "socket://"};
    }
    void offers() {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        QCOMPARE(offered(dir.path(), typed), expected.join(' '));
    }

    // Every option of --help is completed, and nothing else.
    void optionsInStepWithHelp() {
        static const QRegularExpression option("(?<![\\w-])--[a-z][a-z0-9-]*");
        QSet<QString> documented;
        for (const QRegularExpressionMatch& match : option.globalMatch(cliSays("--help")))
            documented << match.captured();
        const QStringList offers = offered(dir.path(), "--").split(' ');
        const QSet<QString> completed(offers.begin(), offers.end());
        QCOMPARE(listed(documented - completed), QString());
        QCOMPARE(listed(completed - documented), QString());
    }
};

QTEST_GUILESS_MAIN(TestCliCompletion)
#include "tst_cli_completion.moc"
