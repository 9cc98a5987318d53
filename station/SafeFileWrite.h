#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

// Replaces one file whole or not at all. The new bytes go to a temporary file created beside
// the target under a hidden name of its own (exclusively, never through a link planted there);
// every write is checked, the file is flushed to disk and only then renamed over the target,
// after which the folder is flushed too. On any failure the temporary file is removed, the old
// file keeps every byte, and the reason is given as the system words it ("No space left on
// device"), fit to follow "could not be stored in …: ".
//
// The target must be absent or a regular file whose owner may write it: a FIFO, a device, a
// folder or a symbolic link in its place is refused without being opened, and so is a file or
// a folder whose mode bits take the owner's write permission away — also for root, whom the
// system would let through. The replacement keeps the old file's mode and, where the system
// allows, its owner.
class SafeFileWrite {
public:
    // `target`: the file's name as bytes, as the system takes it (a name that is not UTF-8 stays
    // byte for byte what it was).
    // `flush`: how a file is flushed to disk, ::fsync's contract; tests watch the order through it.
    using Flush = std::function<int(int fd)>;
    explicit SafeFileWrite(QByteArray target, Flush flush = &::fsync);
    ~SafeFileWrite();
    SafeFileWrite(const SafeFileWrite&) = delete;
    SafeFileWrite& operator=(const SafeFileWrite&) = delete;

    // Checks the target and its folder and creates the temporary file.
    bool open(QString& error);
    bool write(const char* data, size_t length, QString& error);
    bool write(const QByteArray& bytes, QString& error) {
        return write(bytes.constData(), size_t(bytes.size()), error);
    }
    // The temporary file, for what the writer sets on it itself (its times).
    int fd() const { return temporaryFd; }
    // Flushes the temporary file to disk and renames it over the target.
    bool commit(QString& error);

private:
    void discard();

    QByteArray target;
    Flush flush;
    QByteArray temporaryPath;
    int temporaryFd = -1;
};

// The whole of `bytes` as the new content of `file` (its name as bytes), through a SafeFileWrite.
bool writeFileWhole(const QByteArray& file, const QByteArray& bytes, QString& error);

// The system's words for an error number ("No space left on device").
QString systemErrorText(int error);
