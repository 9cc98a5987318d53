#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <functional>

// One file put into one hostile state, for the tests of every reader and writer of files: a
// folder of its own holding the file (or what stands in its place), a way to tell afterwards
// whether anything was touched, and a way to run the code under test so that a wait for ever
// fails the row instead of hanging the suite.
namespace hostile {

enum class State {
    Plain,          // a writable regular file: the writer must succeed
    FullDisk,       // RLIMIT_FSIZE a few bytes above the old size: short writes, then EFBIG
    FullTmpfs,      // a 64 KiB tmpfs filled up: ENOSPC (needs the right to mount; else skipped)
    ReadOnlyFile,   // mode 0444
    ReadOnlyFolder, // the folder's mode 0555
    Fifo,           // a FIFO without a reader or writer
    LinkToNull,     // a symbolic link to /dev/null
    LinkToZero,     // a symbolic link to /dev/zero
    Directory,      // a folder (with a file inside) where the file should be
    Oversize,       // a sparse regular file of 1 GiB
    NonUtf8Name,    // a plain file in a folder named by the Latin-1 bytes "Pr\xfcfplatz"
};

QString stateName(State state);

// What a writer said, run in a child process.
struct Outcome {
    bool finished = false; // false: it did not return within the limit and was killed
    bool ok = false;
    QString error;
};

class HostileFile {
public:
    // `name`: the file's name in the folder; `oldBytes`: its content in the states that keep a
    // regular file (Plain, FullDisk, FullTmpfs, ReadOnlyFile, ReadOnlyFolder, NonUtf8Name).
    HostileFile(State state, const QString& name, const QByteArray& oldBytes);
    ~HostileFile();
    HostileFile(const HostileFile&) = delete;
    HostileFile& operator=(const HostileFile&) = delete;

    // Empty when the state was made; else why not (a test skips a state its machine cannot make).
    QString setupError() const { return setupProblem; }
    State state() const { return kind; }
    // The file's name. In the NonUtf8Name state only pathBytes() names it exactly.
    QString path() const;
    QByteArray pathBytes() const { return filePath; }
    QByteArray oldBytes() const { return before; }

    // Empty when the file and its folder are as they were made: the same kind of entry, the same
    // bytes, the same link target, and nothing added beside it (no temporary file left behind).
    QString changes() const;
    // The file's bytes now, or "<unreadable>".
    QByteArray bytesNow() const;

    // Runs `writer` in a forked child (where the FullDisk limit applies) and returns what it
    // said; after `limitMs` the child is killed and the outcome is not finished.
    Outcome run(const std::function<bool(QString& error)>& writer, int limitMs = 5000) const;
    // The FullDisk limit, in bytes from the start of any file; the old size + 16 unless set.
    void setFileSizeLimit(qint64 bytes) { sizeLimit = bytes; }

private:
    QStringList entriesNow() const;

    State kind;
    QTemporaryDir root;
    QByteArray folderPath;
    QByteArray filePath;
    QByteArray before;
    QStringList entriesBefore;
    qint64 sizeLimit = 0;
    bool mounted = false;
    QString setupProblem;
};

} // namespace hostile
