// The port checks on the real system: a pseudo-terminal held by a child, and an unprivileged user.
#include "PortDoctor.h"
#include "Pty.h"
#include "SystemView.h"

#include <QProcess>
#include <QtTest>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}
} // namespace

class TestDoctorReal : public QObject {
    Q_OBJECT
private slots:
    void heldPtyIsNamedAndLeftAlone();
    void unprivilegedUserGetsTheGroupFix();
};

void TestDoctorReal::heldPtyIsNamedAndLeftAlone() {
    Pty pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    termios before{};
    QCOMPARE(::tcgetattr(pty.slave(), &before), 0);
    const SystemView system;

    QProcess holder;
    holder.setStandardInputFile(pty.slavePath());
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    const PortReport held = checkLocalPort(system, QStringLiteral("pty"), pty.slavePath(), QString(), true);
    const PortCheck* holders = held.find(QStringLiteral("holders"));
    QVERIFY(holders);
    QCOMPARE(holders->status, PortCheck::Status::Problem);
    const QString named = QStringLiteral("sleep (PID %1)").arg(holder.processId());
    // Only the child: the test's own descriptor of the slave is no other program's hold.
    QCOMPARE(holders->text, QStringLiteral("%1 is in use by %2").arg(pty.slavePath(), named));
    QCOMPARE(held.firstCause(), QStringLiteral("it is in use by %1").arg(named));
    QCOMPARE(held.find(QStringLiteral("opens"))->status, PortCheck::Status::Unknown);

    holder.kill();
    QVERIFY(holder.waitForFinished());
    const PortReport free = checkLocalPort(system, QStringLiteral("pty"), pty.slavePath(), QString(), true);
    QVERIFY2(free.usable(), qPrintable(free.firstCause()));
    QCOMPARE(free.find(QStringLiteral("opens"))->text, QStringLiteral("it opens now"));

    // Neither run sent a byte or changed the line.
    QCOMPARE(pty.read(1, 200), QByteArray());
    termios after{};
    QCOMPARE(::tcgetattr(pty.slave(), &after), 0);
    QVERIFY(sameSettings(before, after));
}

// A child turned into `nobody` runs the checks on a pseudo-terminal of root's (group tty,
// mode 0620) and reports through a pipe: access denied with the group to join, and the other
// users' processes it cannot see.
void TestDoctorReal::unprivilegedUserGetsTheGroupFix() {
    if (::geteuid() != 0)
        QSKIP("needs root to become nobody");
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        QSKIP("no user nobody");
    Pty pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QString group = QStringLiteral("tty");
    struct stat seen {};
    if (::stat(QFile::encodeName(pty.slavePath()).constData(), &seen) == 0 && ::getgrgid(seen.st_gid))
        group = QString::fromLocal8Bit(::getgrgid(seen.st_gid)->gr_name);

    int channel[2];
    QCOMPARE(::pipe(channel), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        QByteArray said = "cannot become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0) {
            const PortReport report =
                checkLocalPort(SystemView(), QStringLiteral("pty"), pty.slavePath(), QString(), true);
            said.clear();
            for (const QString& name : {QStringLiteral("access"), QStringLiteral("holders")}) {
                const PortCheck* check = report.find(name);
                said += check ? (PortCheck::statusName(check->status) + '|' + check->text + '|' + check->fix)
                                    .toUtf8()
                              : QByteArray("missing");
                said += '\n';
            }
        }
        (void)!::write(channel[1], said.constData(), size_t(said.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray said;
    char chunk[4096];
    for (ssize_t n; (n = ::read(channel[0], chunk, sizeof chunk)) > 0;)
        said.append(chunk, n);
    ::close(channel[0]);
    ::waitpid(child, nullptr, 0);

    const QStringList lines = QString::fromUtf8(said).split('\n');
    QVERIFY2(lines.size() >= 2, said.constData());
    const QStringList access = lines[0].split('|');
    QCOMPARE(access.value(0), QStringLiteral("problem"));
    QVERIFY2(access.value(1).contains(QStringLiteral("nobody is not in the group %1").arg(group)),
             said.constData());
    QCOMPARE(access.value(2),
             QStringLiteral("sudo usermod -aG %1 nobody, then log out and in again").arg(group));
    const QStringList holders = lines[1].split('|');
    QCOMPARE(holders.value(0), QStringLiteral("unknown"));
    QVERIFY2(holders.value(1).contains(QStringLiteral("other users' processes cannot be seen")),
             said.constData());
    QCOMPARE(holders.value(2), QStringLiteral("run with sudo to see them"));
    QCOMPARE(pty.read(1, 100), QByteArray());
}

QTEST_GUILESS_MAIN(TestDoctorReal)
#include "tst_doctor_real.moc"
