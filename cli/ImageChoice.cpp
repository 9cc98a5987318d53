// The one image of a command-line run: chosen as the window chooses it, loaded once, refused early.
#include "ImageChoice.h"

#include "FirmwareSelection.h"
#include "UpdateEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

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
    // Before any port is open, a plain sleep is all the waiting there is to do.
    const FirmwareImage::Check check =
        image.loadSettled(path, [](double seconds) { QThread::msleep((unsigned long)(seconds * 1000)); });
    if (check == FirmwareImage::Check::Ok)
        return true;
    error = FirmwareImage::refusalText(
        check, path, QFileInfo::exists(path) ? image.errorText() : QStringLiteral("it does not exist."));
    return false;
}
