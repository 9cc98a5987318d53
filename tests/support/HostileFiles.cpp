// Files in hostile states (full, read-only, FIFO, device link, folder, huge, odd name) for tests.
#include "HostileFiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hostile {

namespace {
constexpr qint64 OversizeBytes = qint64(1) << 30;

bool writeBytes(const QByteArray& path, const QByteArray& bytes, mode_t mode = 0644) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool whole = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && whole;
}

QByteArray readBytes(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QByteArrayLiteral("<unreadable>");
    QByteArray bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, got);
    ::close(fd);
    return bytes;
}

QByteArray linkTarget(State state) {
    return state == State::LinkToNull ? QByteArrayLiteral("/dev/null") : QByteArrayLiteral("/dev/zero");
}

// Fills the file system the folder is on until it takes no byte more.
void fillUp(const QByteArray& folder) {
    const int fd = ::open((folder + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const QByteArray block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    ::close(fd);
}
} // namespace

QString stateName(State state) {
    switch (state) {
    case State::Plain:
        return QStringLiteral("plain file");
    case State::FullDisk:
        return QStringLiteral("full disk (file size limit)");
    case State::FullTmpfs:
        return QStringLiteral("full disk (tmpfs)");
    case State::ReadOnlyFile:
        return QStringLiteral("read-only file");
    case State::ReadOnlyFolder:
        return QStringLiteral("read-only folder");
    case State::Fifo:
        return QStringLiteral("FIFO");
    case State::LinkToNull:
        return QStringLiteral("link to /dev/null");
    case State::LinkToZero:
        return QStringLiteral("link to /dev/zero");
    case State::Directory:
        return QStringLiteral("folder in its place");
    case State::Oversize:
        return QStringLiteral("sparse 1 GiB");
    case State::NonUtf8Name:
        return QStringLiteral("name not UTF-8");
    }
    return QString();
}

HostileFile::HostileFile(State state, const QString& name, const QByteArray& oldBytes)
    : kind(state)
    , before(oldBytes)
    , sizeLimit(oldBytes.size() + 16) {
    folderPath = QFile::encodeName(root.path()) + "/files";
    if (state == State::NonUtf8Name)
        folderPath = QFile::encodeName(root.path()) + "/Pr\xfc"
                                                      "fplatz";
    if (::mkdir(folderPath.constData(), 0755) != 0) {
        setupProblem = QStringLiteral("the folder cannot be made");
        return;
    }
    filePath = folderPath + '/' + QFile::encodeName(name);
    if (state == State::FullTmpfs) {
        if (::mount("tmpfs", folderPath.constData(), "tmpfs", 0, "size=64k") != 0) {
            setupProblem = QStringLiteral("no tmpfs can be mounted here: %1").arg(qt_error_string(errno));
            return;
        }
        mounted = true;
    }
    bool made = true;
    switch (state) {
    case State::Plain:
    case State::FullDisk:
    case State::NonUtf8Name:
        made = writeBytes(filePath, before);
        break;
    case State::FullTmpfs:
        made = writeBytes(filePath, before);
        fillUp(folderPath);
        break;
    case State::ReadOnlyFile:
        made = writeBytes(filePath, before, 0444) && ::chmod(filePath.constData(), 0444) == 0;
        break;
    case State::ReadOnlyFolder:
        made = writeBytes(filePath, before) && ::chmod(folderPath.constData(), 0555) == 0;
        break;
    case State::Fifo:
        made = ::mkfifo(filePath.constData(), 0644) == 0;
        break;
    case State::LinkToNull:
    case State::LinkToZero:
        made = ::symlink(linkTarget(state).constData(), filePath.constData()) == 0;
        break;
    case State::Directory:
        made = ::mkdir(filePath.constData(), 0755) == 0 && writeBytes(filePath + "/inside", "kept");
        break;
    case State::Oversize:
        made = writeBytes(filePath, {}) && ::truncate(filePath.constData(), OversizeBytes) == 0;
        break;
    }
    if (!made)
        setupProblem = QStringLiteral("the state cannot be made: %1").arg(qt_error_string(errno));
    entriesBefore = entriesNow();
}

HostileFile::~HostileFile() {
    ::chmod(folderPath.constData(), 0755);
    if (mounted)
        ::umount2(folderPath.constData(), MNT_DETACH);
    // By bytes: the temporary folder's own clean-up goes through names that are not UTF-8.
    ::nftw(
        folderPath.constData(),
        [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

QString HostileFile::path() const {
    return QFile::decodeName(filePath);
}

QStringList HostileFile::entriesNow() const {
    QStringList names;
    DIR* folder = ::opendir(folderPath.constData());
    if (folder == nullptr)
        return {QStringLiteral("<unreadable>")};
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray HostileFile::bytesNow() const {
    return readBytes(filePath);
}

QString HostileFile::changes() const {
    const QStringList entries = entriesNow();
    if (entries != entriesBefore)
        return QStringLiteral("the folder holds %1 instead of %2")
            .arg(entries.join(QLatin1Char(',')), entriesBefore.join(QLatin1Char(',')));
    struct stat now {};
    if (::lstat(filePath.constData(), &now) != 0)
        return QStringLiteral("the file is gone");
    switch (kind) {
    case State::Fifo:
        return S_ISFIFO(now.st_mode) ? QString() : QStringLiteral("the FIFO was replaced");
    case State::LinkToNull:
    case State::LinkToZero: {
        char target[256] = {};
        const ssize_t length = ::readlink(filePath.constData(), target, sizeof target - 1);
        return S_ISLNK(now.st_mode) &&
                       QByteArray(target, int(std::max<ssize_t>(length, 0))) == linkTarget(kind)
                   ? QString()
                   : QStringLiteral("the link was replaced");
    }
    case State::Directory:
        return S_ISDIR(now.st_mode) && readBytes(filePath + "/inside") == "kept"
                   ? QString()
                   : QStringLiteral("the folder in its place was touched");
    case State::Oversize:
        // Still sparse: not a block of it was written.
        return S_ISREG(now.st_mode) && now.st_size == OversizeBytes && now.st_blocks * 512 < (1 << 20)
                   ? QString()
                   : QStringLiteral("the huge file was written");
    default:
        break;
    }
    if (!S_ISREG(now.st_mode))
        return QStringLiteral("the file is no longer a regular file");
    if (kind == State::ReadOnlyFile && (now.st_mode & 07777) != 0444)
        return QStringLiteral("the read-only file has mode %1")
            .arg(now.st_mode & 07777, 4, 8, QLatin1Char('0'));
    const QByteArray bytes = bytesNow();
    return bytes == before ? QString()
                           : QStringLiteral("the file holds %1 bytes instead of its %2 old ones")
                                 .arg(bytes.size())
                                 .arg(before.size());
}

Outcome HostileFile::run(const std::function<bool(QString& error)>& writer, int limitMs) const {
    Outcome outcome;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return outcome;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (kind == State::FullDisk) {
            // A write that crosses the limit is cut short, the next one fails with EFBIG, as
            // on a disk that fills up; the signal would end the child instead.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        QString error;
        const bool ok = writer(error);
        const QByteArray said = (ok ? QByteArrayLiteral("1") : QByteArrayLiteral("0")) + error.toUtf8();
        const ssize_t ignored = ::write(channel[1], said.constData(), size_t(said.size()));
        (void)ignored;
        ::_exit(0);
    }
    ::close(channel[1]);
    if (child < 0) {
        ::close(channel[0]);
        return outcome;
    }
    QByteArray said;
    const QDeadlineTimer deadline(limitMs);
    bool ended = false;
    while (!ended && !deadline.hasExpired()) {
        pollfd wait{channel[0], POLLIN, 0};
        if (::poll(&wait, 1, int(std::max<qint64>(deadline.remainingTime(), 0))) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
        if (got > 0)
            said.append(buffer, got);
        else if (got == 0 || errno != EINTR)
            ended = true;
    }
    ::close(channel[0]);
    if (!ended)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.finished = ended && !said.isEmpty();
    outcome.ok = said.startsWith('1');
    outcome.error = QString::fromUtf8(said.mid(1));
    return outcome;
}

} // namespace hostile
