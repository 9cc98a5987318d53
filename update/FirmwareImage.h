#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A firmware image as it is streamed to the module: whole 64 KiB sectors, the last
// partial one filled up with 0xFF (erased flash), so no byte of the file is ever dropped.
class FirmwareImage {
public:
    static constexpr qint64 SectorSize = 65536;
    static constexpr int MaxSectors = 255; // the announcement carries the count in one byte

    enum class Check { Ok, CannotOpen, Empty, TooLarge };

    // Sector count for a file length: rounded up.
    static qint64 sectorsFor(qint64 length) { return (length + SectorSize - 1) / SectorSize; }

    // Opens the image at byte 0 and checks that it can be sent.
    Check open(const QString& path);
    void close();
    bool isOpen() const { return file.isOpen(); }
    int sectorCount() const { return sectors; }
    QString errorText() const { return file.errorString(); }

    // The next `length` bytes of the padded image. False when the file gave fewer bytes
    // than it held when it was opened (changed or removed meanwhile).
    bool readBlock(int length, QByteArray& block);

private:
    QFile file;
    qint64 fileLength = 0;
    qint64 position = 0;
    int sectors = 0;
};
