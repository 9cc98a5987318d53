// The watch on the device folders: a debounced "something was plugged in or pulled out".
#include "DeviceFolderWatch.h"

#include <QFileInfo>

DeviceFolderWatch::DeviceFolderWatch(QStringList watched, int settleMs, QObject* parent)
    : QObject(parent)
    , folders(std::move(watched)) {
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    connect(&settle, &QTimer::timeout, this, &DeviceFolderWatch::settled);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &DeviceFolderWatch::noteChange);
    watchWhatExists();
}

void DeviceFolderWatch::poke() {
    settle.start();
}

// The watcher forgets a folder that is removed (the by-id folder goes with the last USB
// adapter); it is taken up again when its parent sees it come back.
void DeviceFolderWatch::watchWhatExists() {
    const QStringList watching = watcher.directories();
    for (const QString& folder : folders)
        if (!watching.contains(folder) && QFileInfo(folder).isDir())
            watcher.addPath(folder);
}

void DeviceFolderWatch::noteChange() {
    watchWhatExists();
    settle.start();
}
