#include "Clock.h"
#include "EventPass.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr int BlocksPerSector = 4;
constexpr double ReplyTimeOut = 4.0;
constexpr int TimeOutsAllowed = 3;

// Numbers are shown with the blank where a minus sign would stand.
QString number(int value) {
    return QLatin1Char(' ') + QString::number(value);
}
} // namespace

void UpdateEngine::SendFirmware() {
    io.display.showState(DisplayState::Running);

    const FirmwareImage::Check check = image.open(firmwarePath);
    if (check != FirmwareImage::Check::Ok) {
        refuseImage(check);
        return;
    }
    const int SectorCount = image.sectorCount();
    io.display.setProgressMax(SectorCount * BlocksPerSector);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.setBusyCursor(true);
    session.resetElapsed();
    io.display.setElapsedText(session.elapsedText());
    io.display.setStatusText(QStringLiteral("Waiting for request..."));
    session.LastTick = io.clock.ticks();
    io.Timer1.setEnabled(true);

    discardUnreadInput();
    QByteArray announcement("OK");
    announcement.append(char(SectorCount));
    io.MSComm1.Output(announcement);

    session.RxBuffer.clear();
    int BlocksSent = 0;
    QByteArray block;
    for (int sector = 0; sector < SectorCount; ++sector) {
        if (!awaitRequest()) {
            onTimeOut();
            return;
        }
        session.RxBuffer.clear();
        discardUnreadInput();
        // The module needs a moment after its request before data may come.
        warte(1);
        const int BlockLength = io.MSComm1.OutBufferSize();
        for (int b = 0; b < BlocksPerSector; ++b) {
            io.events.runPending();
            io.display.setStatusText(QStringLiteral("Sending Sector") + number(sector) +
                                     QStringLiteral("   Block") + number(b));
            if (!image.readBlock(BlockLength, block)) {
                abortOnReadFailure();
                return;
            }
            io.MSComm1.Output(block);
            ++BlocksSent;
            io.display.setProgressValue(BlocksSent);
            showPercent(BlocksSent, SectorCount * BlocksPerSector);
        }
        io.display.setStatusText(QStringLiteral("Writing Sector") + number(sector));
    }

    if (!awaitEnd()) {
        onTimeOut();
        return;
    }
    succeed();
}

// A request is a trailing "OK": noise before it does not matter, anything after it does.
bool UpdateEngine::awaitRequest() {
    session.WaitStart = io.clock.seconds();
    for (;;) {
        io.events.runOnce();
        if (session.RxBuffer.endsWith("OK"))
            return true;
        if (io.clock.seconds() - session.WaitStart > ReplyTimeOut)
            return false;
    }
}

// The end mark must lead what arrived after the last sector's request.
bool UpdateEngine::awaitEnd() {
    session.WaitStart = io.clock.seconds();
    for (;;) {
        io.events.runOnce();
        if (session.RxBuffer.startsWith("EN"))
            return true;
        if (io.clock.seconds() - session.WaitStart > ReplyTimeOut)
            return false;
    }
}

void UpdateEngine::showPercent(int blocksSent, int totalBlocks) {
    io.display.setPercentText(number(blocksSent * 100 / totalBlocks) + QLatin1Char('%'));
}

void UpdateEngine::succeed() {
    image.close();
    io.Timer1.setEnabled(false);
    warte(2);
    io.display.setStatusText(QString());
    io.display.setActivityForeColor(Colours::Green);
    io.display.showState(DisplayState::Success);
    warte(3);
    io.display.showState(DisplayState::Ready);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.beep();
    io.display.setBusyCursor(false);
}

void UpdateEngine::onTimeOut() {
    ++session.ErrorCount;
    if (session.ErrorCount <= TimeOutsAllowed) {
        io.display.showState(DisplayState::Error);
        warte(2);
        // The whole image again, from a fresh announcement; the module takes one at any time.
        SendFirmware();
        return;
    }
    io.prompts.showMessage({QStringLiteral("Update error\rUpdate Fehler"), QStringLiteral("Update Error"),
                            MessageIcon::Critical});
    returnToReady();
}

void UpdateEngine::refuseImage(FirmwareImage::Check why) {
    const QString path = QDir::toNativeSeparators(firmwarePath);
    QString text;
    switch (why) {
    case FirmwareImage::Check::Empty:
        text = QStringLiteral("The firmware image %1 is empty and cannot be sent.").arg(path);
        break;
    case FirmwareImage::Check::TooLarge:
        text = QStringLiteral("The firmware image %1 is larger than %2 sectors of 64 KiB and cannot be sent.")
                   .arg(path)
                   .arg(FirmwareImage::MaxSectors);
        break;
    default: {
        const QFileInfo info(firmwarePath);
        const QString why = !info.exists()   ? QStringLiteral("it does not exist.")
                            : !info.isFile() ? QStringLiteral("it is not a file.")
                                             : image.errorText();
        text = QStringLiteral("The firmware image %1 cannot be opened: %2").arg(path, why);
    } break;
    }
    io.display.setBusyCursor(false);
    io.prompts.showMessage({text, QStringLiteral("Firmware Error"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    returnToReady();
}

void UpdateEngine::abortOnReadFailure() {
    const QString path = QDir::toNativeSeparators(firmwarePath);
    io.display.setBusyCursor(false);
    io.prompts.showMessage(
        {QStringLiteral("The firmware image %1 could not be read to its end; it was changed "
                        "or removed during the update. The update was stopped.")
             .arg(path),
         QStringLiteral("Firmware Error"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    returnToReady();
}

// The display after a session that ended without success.
void UpdateEngine::returnToReady() {
    io.display.showState(DisplayState::Ready);
    io.display.setActivityForeColor(Colours::Green);
    io.Timer1.setEnabled(false);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.setBusyCursor(false);
    image.close();
}
