// The real system behind the port checks: the user database, this process's ids, access().
#include "SystemView.h"

#include <QFile>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

uid_t SystemView::uid() const {
    return ::getuid();
}

qint64 SystemView::ownPid() const {
    return ::getpid();
}

QString SystemView::sudoUser() const {
    if (::geteuid() != 0)
        return QString();
    const QString user = qEnvironmentVariable("SUDO_USER");
    return user == QStringLiteral("root") ? QString() : user;
}

QString SystemView::userName(uid_t id) const {
    const passwd* entry = ::getpwuid(id);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(id);
}

QString SystemView::groupName(gid_t id) const {
    const group* entry = ::getgrgid(id);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(id);
}

QList<gid_t> SystemView::databaseGroups(const QString& user) const {
    const QByteArray name = user.toLocal8Bit();
    const passwd* entry = ::getpwnam(name.constData());
    if (!entry)
        return {};
    const gid_t primary = entry->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(count);
    if (::getgrouplist(name.constData(), primary, groups.data(), &count) < 0) {
        groups.resize(count);
        if (::getgrouplist(name.constData(), primary, groups.data(), &count) < 0)
            return {primary};
    }
    return QList<gid_t>(groups.begin(), groups.begin() + count);
}

QList<gid_t> SystemView::processGroups() const {
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? count : 0);
    const int got = count > 0 ? ::getgroups(count, groups.data()) : 0;
    QList<gid_t> all(groups.begin(), groups.begin() + qMax(got, 0));
    if (!all.contains(::getegid()))
        all.append(::getegid());
    return all;
}

bool SystemView::mayReadWrite(const QString& path) const {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

QString SystemView::homeOf(const QString& user) const {
    const passwd* entry = ::getpwnam(user.toLocal8Bit().constData());
    return entry ? QString::fromLocal8Bit(entry->pw_dir) : QString();
}

uid_t SystemView::uidOf(const QString& user) const {
    const passwd* entry = ::getpwnam(user.toLocal8Bit().constData());
    return entry ? entry->pw_uid : uid_t(-1);
}

QString SystemView::judgedUser() const {
    const QString sudo = sudoUser();
    return sudo.isEmpty() ? userName(uid()) : sudo;
}
