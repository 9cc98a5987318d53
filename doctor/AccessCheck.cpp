// May this user open the device: access() for the process itself, the mode bits for SUDO_USER,
// and which group the user lacks, in the database or only in this login.
#include "LocalChecks.h"

#include "SystemView.h"

#include <QFile>
#include <sys/stat.h>

namespace {
QString modeText(mode_t mode) {
    QString text = S_ISCHR(mode)   ? QStringLiteral("c")
                   : S_ISDIR(mode) ? QStringLiteral("d")
                                   : QStringLiteral("-");
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}

// Under sudo the user judged is not this process: its rights follow from the mode bits.
bool modeAllows(const struct stat& seen, uid_t uid, const QList<gid_t>& groups) {
    const mode_t rw = S_IRUSR | S_IWUSR;
    if (seen.st_uid == uid)
        return (seen.st_mode & rw) == rw;
    if (groups.contains(seen.st_gid))
        return (seen.st_mode & (rw >> 3)) == (rw >> 3);
    return (seen.st_mode & (rw >> 6)) == (rw >> 6);
}
} // namespace

PortCheck accessCheck(const SystemView& system, const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("access"), PortCheck::Status::Ok, QString(), QString(), QString()};
    struct stat seen {};
    if (::stat(QFile::encodeName(facts.resolved).constData(), &seen) != 0) {
        check.status = PortCheck::Status::Unknown;
        check.text = QStringLiteral("%1 cannot be looked at").arg(facts.resolved);
        return check;
    }
    const QString user = system.judgedUser();
    const QString group = system.groupName(seen.st_gid);
    const QString shown =
        QStringLiteral("%1 %2 %3").arg(modeText(seen.st_mode), system.userName(seen.st_uid), group);
    const QString sudo = system.sudoUser();
    const QList<gid_t> database = system.databaseGroups(user);
    bool allowed = false;
    if (sudo.isEmpty()) {
        allowed = system.mayReadWrite(facts.resolved);
    } else {
        allowed = modeAllows(seen, system.uidOf(user), database);
    }
    const QString judged =
        sudo.isEmpty() ? QString() : QStringLiteral(" (judged for %1 from SUDO_USER)").arg(user);
    if (allowed) {
        check.text = QStringLiteral("%1; %2 may open it%3").arg(shown, user, judged);
        return check;
    }
    check.status = PortCheck::Status::Problem;
    const bool inDatabase = database.contains(seen.st_gid);
    const bool inLogin = sudo.isEmpty() && system.processGroups().contains(seen.st_gid);
    if (inDatabase && !inLogin && sudo.isEmpty()) {
        check.text =
            QStringLiteral("%1; permission denied: you are in the group %2, but this login session is "
                           "not yet")
                .arg(shown, group);
        check.fix = QStringLiteral("log out and in again (`id` must then list %1)").arg(group);
        check.cause =
            QStringLiteral("permission denied: you are in the group %1, but this login is not yet: log "
                           "out and in again")
                .arg(group);
    } else if (!inDatabase) {
        check.text = QStringLiteral("%1; permission denied: %2 is not in the group %3%4")
                         .arg(shown, user, group, judged);
        check.fix = QStringLiteral("sudo usermod -aG %1 %2, then log out and in again").arg(group, user);
        check.cause =
            QStringLiteral("permission denied: %1 is not in the group %2 (sudo usermod -aG %2 %1, then "
                           "log out and in again)")
                .arg(user, group);
    } else {
        check.text =
            QStringLiteral("%1; permission denied although %2 is in the group %3 (the mode or an ACL "
                           "keeps the group out)%4")
                .arg(shown, user, group, judged);
        check.fix = QStringLiteral("`getfacl %1` shows the ACL; the device's udev rule sets its mode")
                        .arg(facts.resolved);
        check.cause = QStringLiteral("permission denied (the mode or an ACL of %1 keeps %2 out)")
                          .arg(facts.resolved, user);
    }
    return check;
}
