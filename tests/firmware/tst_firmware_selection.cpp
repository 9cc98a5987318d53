#include "FirmwareSelection.h"
#include "FirmwareTestFiles.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

using namespace fwtest;

namespace {
const QString ImagePattern = QStringLiteral("QVL-GEN*.bin");

// Records what it was offered and answers with a fixed name.
class RecordingChooser : public ImageChooser {
public:
    QString chooseImage(const QStringList& namesNewestFirst) override {
        offers << namesNewestFirst;
        return answer;
    }
    QString answer;
    QList<QStringList> offers;
};
} // namespace

class TestFirmwareSelection : public QObject {
    Q_OBJECT
private slots:
    void init();

    void matchesByName_data();
    void matchesByName();
    void newestFirst_data();
    void newestFirst();
    void missingFolderHasNoCandidates();
    void selects_data();
    void selects();

private:
    QString path(const QString& name) const { return dir->path() + QLatin1Char('/') + name; }
    // "name/" makes a folder, "name|" a named pipe, "name->target" a symbolic link;
    // anything else a file. Every entry gets the same modification time.
    void makeEntries(const QStringList& entries);
    // Files i gets base time + ages[i] seconds.
    void makeAgedFiles(const QStringList& names, const QList<int>& ages);
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFirmwareSelection::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestFirmwareSelection::makeEntries(const QStringList& entries) {
    for (const QString& entry : entries) {
        if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(dir->path()).mkdir(entry.chopped(1)));
        } else if (entry.endsWith(QLatin1Char('|'))) {
            QCOMPARE(::mkfifo(QFile::encodeName(path(entry.chopped(1))).constData(), 0644), 0);
        } else if (entry.contains(QLatin1String("->"))) {
            const QStringList parts = entry.split(QLatin1String("->"));
            QVERIFY(QFile::link(parts[1], path(parts[0])));
        } else {
            QVERIFY(writeFile(path(entry), "image " + entry.toUtf8()));
            QVERIFY(setModified(path(entry), baseTime()));
        }
    }
}

void TestFirmwareSelection::makeAgedFiles(const QStringList& names, const QList<int>& ages) {
    QCOMPARE(names.size(), ages.size());
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(writeFile(path(names[i]), "image " + names[i].toUtf8()));
        QVERIFY(setModified(path(names[i]), baseTime().addSecs(ages[i])));
    }
}

void TestFirmwareSelection::matchesByName_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected"); // in name order: all entries are of one age

    QTest::newRow("letter case ignored")
        << ImagePattern
        << QStringList{"QVL-GEN-a.bin", "qvl-gen-b.bin", "QVL-GEN-c.BIN", "qvl-gen-d.BIN", "Qvl-Gen-e.Bin"}
        << QStringList{"QVL-GEN-a.bin", "qvl-gen-b.bin", "QVL-GEN-c.BIN", "qvl-gen-d.BIN", "Qvl-Gen-e.Bin"};
    QTest::newRow("asterisk matches nothing")
        << ImagePattern << QStringList{"QVL-GEN.bin"} << QStringList{"QVL-GEN.bin"};
    QTest::newRow("other characters in front")
        << ImagePattern << QStringList{"XQVL-GEN-a.bin", "QVL-GEN-b.bin", " QVL-GEN-c.bin", "QVL_GEN-d.bin"}
        << QStringList{"QVL-GEN-b.bin"};
    QTest::newRow("other extensions")
        << ImagePattern << QStringList{"QVL-GEN-a.hex", "QVL-GEN-b.bin.bak", "QVL-GEN-c.bin2",
                                       "QVL-GEN-d.bi",  "QVL-GEN-e",         "QVL-GEN-f.bin"}
        << QStringList{"QVL-GEN-f.bin"};
    QTest::newRow("sub-folder") << ImagePattern << QStringList{"QVL-GEN-dir.bin/", "QVL-GEN-file.bin"}
                                << QStringList{"QVL-GEN-file.bin"};
    QTest::newRow("hidden file") << QStringLiteral("*.bin")
                                 << QStringList{".QVL-GEN.bin", ".x.bin", "QVL-GEN.bin"}
                                 << QStringList{"QVL-GEN.bin"};
    QTest::newRow("named pipe") << ImagePattern << QStringList{"QVL-GEN-pipe.bin|", "QVL-GEN-file.bin"}
                                << QStringList{"QVL-GEN-file.bin"};
    QTest::newRow("dangling link") << ImagePattern << QStringList{"QVL-GEN-dead.bin->/nonexistent/x.bin"}
                                   << QStringList{};
    QTest::newRow("question mark is one character")
        << QStringLiteral("QVL-GEN?.bin")
        << QStringList{"QVL-GEN.bin", "QVL-GEN1.bin", "qvl-genX.BIN", "QVL-GEN12.bin"}
        << QStringList{"QVL-GEN1.bin", "qvl-genX.BIN"};
    QTest::newRow("nothing matches") << ImagePattern << QStringList{"firmware.bin", "QVL.bin"}
                                     << QStringList{};
}

void TestFirmwareSelection::matchesByName() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    makeEntries(entries);
    QCOMPARE(firmwareCandidates(dir->path(), pattern), expected);
}

void TestFirmwareSelection::newestFirst_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("ages"); // seconds after the base time
    QTest::addColumn<QStringList>("expected");

    const QString a = QStringLiteral("QVL-GEN-a.bin");
    const QString b = QStringLiteral("QVL-GEN-b.bin");
    const QString c = QStringLiteral("QVL-GEN-c.bin");
    const QString d = QStringLiteral("QVL-GEN-d.bin");
    const QString e = QStringLiteral("QVL-GEN-e.bin");

    QTest::newRow("second a day later") << QStringList{a, b} << QList<int>{0, 86400} << QStringList{b, a};
    QTest::newRow("first a second later") << QStringList{a, b} << QList<int>{1, 0} << QStringList{a, b};
    QTest::newRow("two of one age keep name order")
        << QStringList{b, a} << QList<int>{0, 0} << QStringList{a, b};
    QTest::newRow("name order ignores letter case")
        << QStringList{"QVL-GEN-B.bin", "qvl-gen-a.bin"} << QList<int>{0, 0}
        << QStringList{"qvl-gen-a.bin", "QVL-GEN-B.bin"};
    QTest::newRow("three, oldest first by name")
        << QStringList{a, b, c} << QList<int>{0, 60, 120} << QStringList{c, b, a};
    QTest::newRow("three, mixed ages")
        << QStringList{a, b, c} << QList<int>{60, 120, 0} << QStringList{b, a, c};
    // A tie can be reversed through a swap with a newer third image: after a and c are
    // swapped, b (as old as a) is never swapped with a again.
    QTest::newRow("tie reversed by a third")
        << QStringList{a, b, c} << QList<int>{0, 0, 60} << QStringList{c, b, a};
    QTest::newRow("five with two ties")
        << QStringList{a, b, c, d, e} << QList<int>{3, 1, 4, 1, 5} << QStringList{e, c, a, d, b};
    QTest::newRow("ages a year apart")
        << QStringList{a, b} << QList<int>{0, -365 * 86400} << QStringList{a, b};
}

void TestFirmwareSelection::newestFirst() {
    QFETCH(QStringList, names);
    QFETCH(QList<int>, ages);
    QFETCH(QStringList, expected);
    makeAgedFiles(names, ages);
    QCOMPARE(firmwareCandidates(dir->path(), ImagePattern), expected);
}

void TestFirmwareSelection::missingFolderHasNoCandidates() {
    const QString missing = path(QStringLiteral("nowhere"));
    QVERIFY(firmwareCandidates(missing, ImagePattern).isEmpty());
    RecordingChooser chooser;
    QCOMPARE(SelectFirmwareFile(missing, ImagePattern, true, chooser), QString());
    QVERIFY(chooser.offers.isEmpty());
}

void TestFirmwareSelection::selects_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("ages");
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QString>("answer");      // the operator's choice, if asked
    QTest::addColumn<QStringList>("offered"); // empty: the operator must not be asked
    QTest::addColumn<QString>("expected");    // bare name, or empty for no result

    const QString older = QStringLiteral("QVL-GEN-1.bin");
    const QString newer = QStringLiteral("QVL-GEN-2.bin");
    const QString newest = QStringLiteral("qvl-gen-3.BIN");
    const QString other = QStringLiteral("other.bin");

    QTest::newRow("none") << QStringList{} << QList<int>{} << false << QString() << QStringList{}
                          << QString();
    QTest::newRow("none, expert") << QStringList{other} << QList<int>{0} << true << QString() << QStringList{}
                                  << QString();
    QTest::newRow("one") << QStringList{older} << QList<int>{0} << false << QString() << QStringList{}
                         << older;
    QTest::newRow("one, expert") << QStringList{older, other} << QList<int>{0, 60} << true << other
                                 << QStringList{} << older;
    QTest::newRow("two: the newer") << QStringList{older, newer} << QList<int>{0, 86400} << false << older
                                    << QStringList{} << newer;
    QTest::newRow("three: the newest") << QStringList{newest, older, newer} << QList<int>{120, 0, 60} << false
                                       << older << QStringList{} << newest;
    QTest::newRow("two, expert picks the older") << QStringList{older, newer} << QList<int>{0, 86400} << true
                                                 << older << QStringList{newer, older} << older;
    QTest::newRow("two, expert picks the newer") << QStringList{older, newer} << QList<int>{0, 86400} << true
                                                 << newer << QStringList{newer, older} << newer;
    QTest::newRow("two, expert closes without a choice")
        << QStringList{older, newer} << QList<int>{0, 86400} << true << QString() << QStringList{newer, older}
        << QString();
    QTest::newRow("three, expert") << QStringList{older, newest, newer, other} << QList<int>{0, 120, 60, 180}
                                   << true << newer << QStringList{newest, newer, older} << newer;
}

void TestFirmwareSelection::selects() {
    QFETCH(QStringList, names);
    QFETCH(QList<int>, ages);
    QFETCH(bool, expert);
    QFETCH(QString, answer);
    QFETCH(QStringList, offered);
    QFETCH(QString, expected);
    makeAgedFiles(names, ages);

    RecordingChooser chooser;
    chooser.answer = answer;
    const QString folder = dir->path();
    const QString result = SelectFirmwareFile(folder, ImagePattern, expert, chooser);

    QCOMPARE(result, expected.isEmpty() ? QString() : folder + QLatin1Char('/') + expected);
    if (offered.isEmpty()) {
        QVERIFY(chooser.offers.isEmpty());
    } else {
        QCOMPARE(chooser.offers.size(), 1);
        QCOMPARE(chooser.offers.first(), offered);
    }
}

QTEST_GUILESS_MAIN(TestFirmwareSelection)
#include "tst_firmware_selection.moc"
