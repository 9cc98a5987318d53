// Where the simulator writes the image it received.
#include "image_file.h"

#include "event_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ImageFile::ImageFile(std::string path)
    : path_(std::move(path)) {
    if (!path_.empty())
        tempPath_ = path_ + ".tmp." + std::to_string(getpid());
}

void ImageFile::setPath(std::string path) {
    discard();
    path_ = std::move(path);
    tempPath_ = path_.empty() ? std::string() : path_ + ".tmp." + std::to_string(getpid());
}

ImageFile::~ImageFile() {
    discard();
}

void ImageFile::begin() {
    if (path_.empty())
        return;
    discard();
    fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    failed_ = fd_ < 0;
    if (failed_)
        logError("cannot create %s: %s", tempPath_.c_str(), std::strerror(errno));
}

void ImageFile::append(const uint8_t* data, size_t size) {
    if (fd_ < 0 || failed_)
        return;
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            logError("cannot write %s: %s", tempPath_.c_str(), std::strerror(errno));
            failed_ = true;
            return;
        }
        data += n;
        size -= size_t(n);
    }
}

bool ImageFile::commit() {
    if (fd_ < 0 || failed_) {
        discard();
        return false;
    }
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!closed || std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        logError("cannot write %s: %s", path_.c_str(), std::strerror(errno));
        ::unlink(tempPath_.c_str());
        return false;
    }
    return true;
}

void ImageFile::discard() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(tempPath_.c_str());
}
