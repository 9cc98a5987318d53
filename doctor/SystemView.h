#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// Where the port checks read the system: the roots of the kernel's and udev's folders and of
// the lock folders, the user and group database, and what this process is. The real program
// keeps the real roots and answers; tests point the roots at a made-up tree and answer the
// questions about users themselves.
class SystemView {
public:
    virtual ~SystemView() = default;

    QString procRoot = QStringLiteral("/proc");
    QString sysRoot = QStringLiteral("/sys");
    QString udevRoot = QStringLiteral("/run/udev");
    QString byIdFolder = QStringLiteral("/dev/serial/by-id");
    QStringList lockFolders{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};

    // The process's own user and its PID.
    virtual uid_t uid() const;
    virtual qint64 ownPid() const;
    // The user in SUDO_USER when this process runs as root under sudo, else empty.
    virtual QString sudoUser() const;
    virtual QString userName(uid_t uid) const;
    virtual QString groupName(gid_t gid) const;
    // The groups the database gives `user`, its primary group included; what a new login gets.
    virtual QList<gid_t> databaseGroups(const QString& user) const;
    // The groups this process runs with: what the login it came from got.
    virtual QList<gid_t> processGroups() const;
    // Whether this process may open `path` for reading and writing, as access() says (so ACLs count).
    virtual bool mayReadWrite(const QString& path) const;
    // The home folder of `user` in the database, for the settings file of the user judged.
    virtual QString homeOf(const QString& user) const;
    virtual uid_t uidOf(const QString& user) const;

    // The user the checks are for: SUDO_USER under sudo, else the process's own.
    QString judgedUser() const;
};
