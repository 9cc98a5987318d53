#include "FirmwareImage.h"

#include <QFileInfo>

FirmwareImage::Check FirmwareImage::open(const QString& path) {
    close();
    file.setFileName(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Check::CannotOpen;
    fileLength = file.size();
    position = 0;
    const qint64 count = sectorsFor(fileLength);
    if (count == 0) {
        close();
        return Check::Empty;
    }
    if (count > MaxSectors) {
        close();
        return Check::TooLarge;
    }
    sectors = int(count);
    return Check::Ok;
}

void FirmwareImage::close() {
    if (file.isOpen())
        file.close();
    position = 0;
}

bool FirmwareImage::readBlock(int length, QByteArray& block) {
    block.clear();
    if (!file.isOpen())
        return false;
    const qint64 fromFile = qBound<qint64>(0, fileLength - position, qint64(length));
    if (fromFile > 0) {
        block = file.read(fromFile);
        if (block.size() != fromFile)
            return false;
    }
    if (block.size() < length)
        block.append(length - block.size(), char(0xFF));
    position += length;
    return true;
}
