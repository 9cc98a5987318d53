#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Tells when the device folders have settled after a change. udev makes a device's node and
// its links in several steps, so a change is told once nothing more happened for `settleMs`.
// A folder that does not exist yet (the by-id folder appears with the first USB adapter) is
// watched from the moment it appears, as long as a folder above it in the list is watched.
class DeviceFolderWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultSettleMs = 300;

    explicit DeviceFolderWatch(QStringList folders, int settleMs = DefaultSettleMs,
                               QObject* parent = nullptr);

    // A change is waiting for its folders to settle.
    bool pending() const { return settle.isActive(); }
    // Counts as a change: the folders are looked at again once settled.
    void poke();

signals:
    void settled();

private:
    void watchWhatExists();
    void noteChange();

    QStringList folders;
    QFileSystemWatcher watcher;
    QTimer settle;
};
