#include "AddFile.h"

#include "Clock.h"
#include "EventPass.h"
#include "FileTests.h"
#include "Prompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>

namespace {
constexpr qint64 ReadyWaitLimitMs = 30000;

bool copyReplacing(const QString& source, const QString& destination, QString& error) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(source), in.errorString());
        return false;
    }
    // Write beside the destination and rename over it, so a failed copy never leaves a
    // half-written image where a good one stood.
    const QString partial = destination + QStringLiteral(".part");
    QFile out(partial);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(destination), out.errorString());
        return false;
    }
    char buffer[65536];
    for (;;) {
        const qint64 got = in.read(buffer, sizeof buffer);
        if (got < 0) {
            error = QStringLiteral("%1 cannot be read: %2")
                        .arg(QDir::toNativeSeparators(source), in.errorString());
            out.remove();
            return false;
        }
        if (got == 0)
            break;
        if (out.write(buffer, got) != got) {
            error = QStringLiteral("%1 cannot be written: %2")
                        .arg(QDir::toNativeSeparators(destination), out.errorString());
            out.remove();
            return false;
        }
    }
    if (!out.flush()) {
        error = QStringLiteral("%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(destination), out.errorString());
        out.remove();
        return false;
    }
    out.close();
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(destination).constData()) !=
        0) {
        error = QStringLiteral("%1 cannot be replaced").arg(QDir::toNativeSeparators(destination));
        QFile::remove(partial);
        return false;
    }
    return true;
}
} // namespace

bool isSameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

AddFileResult addFirmwareFile(const QString& programFolder, AddFilePrompts& dialog, Prompts& prompts,
                              EventPass& events) {
    const QString source = dialog.openBinFile();
    if (source.isEmpty())
        return AddFileResult::Cancelled;

    const QString destination = programFolder + QLatin1Char('/') + QFileInfo(source).fileName();
    if (destination == source || isSameFile(source, destination))
        return AddFileResult::SameFile;

    if (FileExists(destination)) {
        const MessageAnswer answer =
            prompts.showMessage({QStringLiteral("File already exists! Overwrite?"), applicationTitle(),
                                 MessageIcon::Question, MessageButtons::OkCancel});
        if (answer != MessageAnswer::Ok)
            return AddFileResult::Declined;
    }

    QString error;
    if (!copyReplacing(source, destination, error)) {
        prompts.showMessage({QStringLiteral("The file could not be added.\n%1").arg(error),
                             applicationTitle(), MessageIcon::Critical});
        return AddFileResult::Failed;
    }

    // Another program may still hold the new file; wait until it is free, with the window live.
    QElapsedTimer waited;
    waited.start();
    while (!IsFileReady(destination)) {
        if (waited.elapsed() > ReadyWaitLimitMs) {
            prompts.showMessage(
                {QStringLiteral("The file %1 was copied but is still held by another program.")
                     .arg(QDir::toNativeSeparators(destination)),
                 applicationTitle(), MessageIcon::Critical});
            return AddFileResult::Failed;
        }
        events.runOnce(50);
    }
    return AddFileResult::Copied;
}
