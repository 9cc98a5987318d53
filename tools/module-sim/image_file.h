#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The image received in one transfer, streamed to a temporary file beside the target and renamed
// onto it only when the transfer completes. A reader of the target therefore always sees the whole
// image of the last completed transfer, never a half-written or abandoned one.
class ImageFile {
public:
    explicit ImageFile(std::string path); // empty path: keeps nothing
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Starts a new image; whatever an unfinished transfer left is dropped.
    void begin();
    void append(const uint8_t* data, size_t size);
    // Replaces the target with the image; true if it did.
    bool commit();
    void discard();

    const std::string& path() const { return path_; }
    // Where the next image goes (an image under way is dropped).
    void setPath(std::string path);

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    bool failed_ = false;
};
