// Tests of the image choice: matching, order by age, the expert's pick.
#include "FirmwareSelection.h"
#include "FirmwareTestFiles.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    void cleanup();
    void candidates_data();
    void candidates();
    void selects_data();
    void selects();

private:
    QString path(const QString& name) const { return dir->path() + QLatin1Char('/') + name; }
    // "name/" makes a folder, "name|" a named pipe, "name@" a dangling symbolic link, a name with
    // letters beyond ASCII a file whose name is those letters in Latin-1 (not valid UTF-8), anything
    // else a file; files are modified ages[i] seconds after a fixed time (0 when ages is shorter).
    void makeEntries(const QStringList& entries, const QList<int>& ages);
    std::unique_ptr<QTemporaryDir> dir;
    QList<QByteArray> undecodable; // removed by their bytes: the folder's own clean-up cannot reach them
};

void TestFirmwareSelection::cleanup() {
    for (const QByteArray& name : std::as_const(undecodable))
        ::unlink(name.constData());
    undecodable.clear();
}

void TestFirmwareSelection::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestFirmwareSelection::makeEntries(const QStringList& entries, const QList<int>& ages) {
    const QDateTime base(QDate(2021, 3, 14), QTime(12, 0, 0), Qt::UTC);
    for (int i = 0; i < entries.size(); ++i) {
        const QString& entry = entries[i];
        if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(dir->path()).mkdir(entry.chopped(1)));
        } else if (entry.endsWith(QLatin1Char('|'))) {
            QCOMPARE(::mkfifo(QFile::encodeName(path(entry.chopped(1))).constData(), 0644), 0);
        } else if (entry.endsWith(QLatin1Char('@'))) {
            QVERIFY(QFile::link(QStringLiteral("/nonexistent/x.bin"), path(entry.chopped(1))));
        } else if (entry.toLatin1() != entry.toUtf8()) {
            const QByteArray name = QFile::encodeName(dir->path()) + '/' + entry.toLatin1();
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "image", 5), ssize_t(5));
            ::close(fd);
            const timespec times[2]{{base.addSecs(ages.value(i)).toSecsSinceEpoch(), 0},
                                    {base.addSecs(ages.value(i)).toSecsSinceEpoch(), 0}};
            QCOMPARE(::utimensat(AT_FDCWD, name.constData(), times, 0), 0);
            undecodable << name;
        } else {
            QVERIFY(writeFile(path(entry), "image " + entry.toUtf8(), base.addSecs(ages.value(i))));
        }
    }
}

void TestFirmwareSelection::candidates_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QList<int>>("ages"); // seconds; missing ones are 0
    QTest::addColumn<QStringList>("expected");

    const QString a = "QVL-GEN-a.bin", b = "QVL-GEN-b.bin", c = "QVL-GEN-c.bin";
    const QString d = "QVL-GEN-d.bin", e = "QVL-GEN-e.bin";

    QTest::newRow("letter case ignored, other names left out")
        << ImagePattern
        << QStringList{"qvl-gen-a.BIN", "Qvl-Gen-b.bin", "XQVL-GEN-c.bin", "QVL-GEN-d.bin.bak",
                       "QVL-GEN-e.hex"}
        << QList<int>{} << QStringList{"qvl-gen-a.BIN", "Qvl-Gen-b.bin"};
    QTest::newRow("folder, pipe and dangling link left out")
        << ImagePattern << QStringList{"QVL-GEN-dir.bin/", "QVL-GEN-pipe.bin|", "QVL-GEN-dead.bin@", a}
        << QList<int>{} << QStringList{a};
    QTest::newRow("hidden file left out")
        << QStringLiteral("*.bin") << QStringList{".QVL-GEN.bin", a} << QList<int>{} << QStringList{a};
    QTest::newRow("newer by a second comes first")
        << ImagePattern << QStringList{a, b} << QList<int>{0, 1} << QStringList{b, a};
    QTest::newRow("one age: name order, letter case ignored")
        << ImagePattern << QStringList{"QVL-GEN-B.bin", "qvl-gen-a.bin"} << QList<int>{0, 0}
        << QStringList{"qvl-gen-a.bin", "QVL-GEN-B.bin"};
    // Equal times are never swapped, but a tie can still be reversed through a swap with a
    // newer third image; a stable sort keeps a before b here.
    QTest::newRow("tie reversed by a third")
        << ImagePattern << QStringList{a, b, c} << QList<int>{0, 0, 60} << QStringList{c, b, a};
    // Listed by the age of the file its bytes name, so the newest stays the newest and the
    // session can say why it cannot be sent, instead of an older image going out unnoticed.
    const QString latin1 = QString::fromUtf8("QVL-GEN-Pr\u00fcf.bin");
    QTest::newRow("name not valid UTF-8, newest")
        << ImagePattern << QStringList{a, latin1} << QList<int>{0, 60}
        << QStringList{QFile::decodeName(latin1.toLatin1()), a};
    QTest::newRow("name not valid UTF-8, oldest")
        << ImagePattern << QStringList{latin1, a} << QList<int>{0, 60}
        << QStringList{a, QFile::decodeName(latin1.toLatin1())};
    QTest::newRow("five with two ties") << ImagePattern << QStringList{a, b, c, d, e}
                                        << QList<int>{3, 1, 4, 1, 5} << QStringList{e, c, a, d, b};
}

void TestFirmwareSelection::candidates() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, entries);
    QFETCH(QList<int>, ages);
    QFETCH(QStringList, expected);
    makeEntries(entries, ages);
    QCOMPARE(firmwareCandidates(dir->path(), pattern), expected);
}

// The operator, when asked, answers with the expected name.
void TestFirmwareSelection::selects_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("ages");
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("offered"); // empty: the operator must not be asked
    QTest::addColumn<QString>("expected");    // bare name, or empty for no result

    const QString older = "QVL-GEN-1.bin", newer = "QVL-GEN-2.bin", newest = "qvl-gen-3.BIN";
    const QString other = "other.bin";

    QTest::newRow("none, expert") << QStringList{other} << QList<int>{0} << true << QStringList{}
                                  << QString();
    QTest::newRow("one, expert") << QStringList{older, other} << QList<int>{0, 60} << true << QStringList{}
                                 << older;
    QTest::newRow("three: the newest")
        << QStringList{newest, older, newer} << QList<int>{120, 0, 60} << false << QStringList{} << newest;
    QTest::newRow("three, expert") << QStringList{older, newest, newer, other} << QList<int>{0, 120, 60, 180}
                                   << true << QStringList{newest, newer, older} << newer;
    QTest::newRow("two, expert closes without a choice") << QStringList{older, newer} << QList<int>{0, 86400}
                                                         << true << QStringList{newer, older} << QString();
}

void TestFirmwareSelection::selects() {
    QFETCH(QStringList, names);
    QFETCH(QList<int>, ages);
    QFETCH(bool, expert);
    QFETCH(QStringList, offered);
    QFETCH(QString, expected);
    makeEntries(names, ages);

    RecordingChooser chooser;
    chooser.answer = expected;
    const QString result = SelectFirmwareFile(dir->path(), ImagePattern, expert, chooser);

    QCOMPARE(result, expected.isEmpty() ? QString() : path(expected));
    QCOMPARE(chooser.offers, offered.isEmpty() ? QList<QStringList>{} : QList<QStringList>{offered});
}

QTEST_GUILESS_MAIN(TestFirmwareSelection)
#include "tst_firmware_selection.moc"
