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
    // The file is watched from this read on: each port's session looks at it again before its
    // first block and refuses it if it changed, so a copy still under way is never sent in part,
    // and an image that is not being written costs no time here.
    const FirmwareImage::Check check = image.load(path);
    if (check == FirmwareImage::Check::Ok)
        return true;
    error = FirmwareImage::refusalText(check, path, image.errorText());
    return false;
}
