#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <sys/stat.h>

// A firmware image as the module receives it: read whole when a session opens it, so every
// attempt of the session sends the same bytes, whatever happens to the file meanwhile. It is
// held as whole 64 KiB sectors, the last partial one filled up with 0xFF (erased flash), so
// no byte of the file is ever dropped.
class FirmwareImage {
public:
    static constexpr qint64 SectorSize = 65536;
    static constexpr int MaxSectors = 255; // the announcement carries the count in one byte
    static constexpr qint64 MaxBytes = SectorSize * MaxSectors;

    enum class Check { Ok, CannotOpen, Empty, TooLarge, Unstable };

    // A copy that pauses for up to this long must not be taken for the whole image: the file
    // must have stood still this long, on the program's own clock, before its first block goes out.
    static constexpr double StillSeconds = 2.0;

    // Sector count for a file length: rounded up.
    static qint64 sectorsFor(qint64 length) { return (length + SectorSize - 1) / SectorSize; }

    // Reads the file whole and checks that it can be sent. A file that changes while it is
    // read (an administrator copying a new image over it) is read again a few times, then
    // refused. On any refusal the image is left empty.
    Check load(const QString& path);
    void clear();

    // The file's state (stat of its name, links followed) now; false when it cannot be looked at.
    static bool lookAt(const QByteArray& name, struct stat& state);
    // Every file in `folder` whose name matches `pattern` (letter case ignored), by the bytes of
    // its full path, with its state now. Names are taken as bytes, so none is lost on the way.
    static std::map<QByteArray, struct stat> lookAtAll(const QString& folder, const QString& pattern);
    // The state the file was in when this image was read.
    const struct stat& readState() const { return stateRead; }
    // The file is still in the state it was in when this image was read: not written, not
    // replaced, not touched. The change time cannot be set back, so a writer cannot hide.
    bool stillAsRead() const;

    bool isLoaded() const { return !padded.isEmpty(); }
    const QString& path() const { return filePath; }
    int sectorCount() const { return int(padded.size() / SectorSize); }
    qint64 fileBytes() const { return fileLength; }
    // SHA-256 of the file's own bytes, as hex text.
    const QByteArray& sha256() const { return digest; }
    // Why the file could not be opened or read.
    const QString& errorText() const { return error; }

    // What the operator is told when an image is refused: "The firmware image <path> is empty
    // and cannot be sent." and the like. `why` is the reason a file could not be opened.
    static QString refusalText(Check check, const QString& path, const QString& why = QString());

    // `length` bytes of the padded image from `offset`.
    QByteArray block(qint64 offset, int length) const { return padded.mid(offset, length); }

private:
    QString filePath;
    QByteArray padded;
    qint64 fileLength = 0;
    QByteArray digest;
    QString error;
    struct stat stateRead {};
};
