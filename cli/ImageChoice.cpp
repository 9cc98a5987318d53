// The one image of a command-line run: chosen as the window chooses it, loaded once, refused early.
#include "ImageChoice.h"

#include "FirmwareSelection.h"
#include "UpdateEngine.h"

#include <QDir>
#include <QFileInfo>

bool loadRunImage(const QString& given, const QString& programFolder, FirmwareImage& image, QString& error) {
    QString path = given;
    if (path.isEmpty()) {
        const QStringList names = firmwareCandidates(programFolder, UpdateEngine::ImagePattern);
        if (names.isEmpty()) {
            error = QStringLiteral("the folder %1 holds no file matching %2; name one with --image")
                        .arg(QDir::toNativeSeparators(programFolder), UpdateEngine::ImagePattern);
            return false;
        }
        path = programFolder + QLatin1Char('/') + names.first();
    }
    path = QFileInfo(path).absoluteFilePath();
    switch (image.load(path)) {
    case FirmwareImage::Check::Ok:
        return true;
    case FirmwareImage::Check::Empty:
        error = QStringLiteral("the firmware image %1 is empty and cannot be sent").arg(path);
        break;
    case FirmwareImage::Check::TooLarge:
        error = QStringLiteral("the firmware image %1 is larger than %2 sectors of 64 KiB and cannot be sent")
                    .arg(path)
                    .arg(FirmwareImage::MaxSectors);
        break;
    case FirmwareImage::Check::Unstable:
        error = QStringLiteral("the firmware image %1 kept changing while it was read; "
                               "start again when the file is no longer being written")
                    .arg(path);
        break;
    case FirmwareImage::Check::CannotOpen:
        error =
            QStringLiteral("the firmware image %1 cannot be opened: %2")
                .arg(path, QFileInfo::exists(path) ? image.errorText() : QStringLiteral("it does not exist"));
        break;
    }
    return false;
}
