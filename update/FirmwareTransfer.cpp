// The firmware transfer: announcement, sectors on request, the end mark, restarts and success.
#include "Clock.h"
#include "EventPass.h"
#include "LineSettings.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

namespace {
// Numbers are shown with the blank where a minus sign would stand.
QString number(int value) {
    return QLatin1Char(' ') + QString::number(value);
}
} // namespace

void UpdateEngine::SendFirmware() {
    // Before the first announcement the image file must have stood still long enough that,
    // with the pause before the data, it has done so for StillSeconds when the first block goes out.
    if (!imageChecked && !holdImageUntil(stillSince + FirmwareImage::StillSeconds - PauseBeforeData))
        return;
    // Every byte from the announcement on must reach the module unchanged (the sector count
    // alone may be CR or above 127): a line that cannot promise it takes none of them.
    const QString unfitLine = io.MSComm1.refusesImageBytes();
    if (!unfitLine.isEmpty()) {
        const QString text =
            QStringLiteral("%1: %2; the module got no image byte.").arg(io.MSComm1.describePort(), unfitLine);
        finish(SessionOutcome::PortError, text);
        io.prompts.showMessage({text, QStringLiteral("ComPortError"), MessageIcon::Critical});
        io.display.setStatusText(QString());
        backToReady();
        return;
    }
    io.display.showState(DisplayState::Running);

    const int SectorCount = image.sectorCount();
    io.display.setProgressMax(SectorCount * ModuleLine::BlocksPerSector);
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
    events->announced(SectorCount);

    session.RxBuffer.clear();
    int BlocksSent = 0;
    for (int sector = 0; sector < SectorCount; ++sector) {
        // A request is a trailing "OK": noise before it does not matter, anything after it does.
        if (!awaitReply([](QByteArray& rx) { return rx.endsWith("OK"); })) {
            onTimeOut();
            return;
        }
        session.RxBuffer.clear();
        discardUnreadInput();
        // The module needs a moment after its request before data may come.
        warte(PauseBeforeData);
        // The last look at the image file before its first byte goes out: as it was read, and
        // still for long enough. Restarts send the same snapshot and need no look.
        if (!imageChecked) {
            if (!holdImageUntil(stillSince + FirmwareImage::StillSeconds))
                return;
            imageChecked = true;
        }
        const int BlockLength = io.MSComm1.OutBufferSize();
        for (int b = 0; b < ModuleLine::BlocksPerSector && !stopped(); ++b) {
            io.events.runPending();
            if (sector == SectorCount - 1 && b == ModuleLine::BlocksPerSector - 1) {
                // An end mark confirms the last sector only when it comes after its last block
                // was handed over; one that came earlier (the module's answer to its own last
                // request) is noise. What arrives while the block is written counts.
                session.RxBuffer.clear();
                discardUnreadInput();
            }
            io.display.setStatusText(QStringLiteral("Sending Sector") + number(sector) +
                                     QStringLiteral("   Block") + number(b));
            const qint64 offset = (qint64(sector) * ModuleLine::BlocksPerSector + b) * BlockLength;
            io.MSComm1.Output(image.block(offset, BlockLength));
            ++BlocksSent;
            io.display.setProgressValue(BlocksSent);
            showPercent(BlocksSent, SectorCount * ModuleLine::BlocksPerSector);
            events->blockSent(BlocksSent, SectorCount * ModuleLine::BlocksPerSector);
        }
        if (stopped()) {
            endStopped();
            return;
        }
        io.display.setStatusText(QStringLiteral("Writing Sector") + number(sector));
        events->writingSector(sector);
    }

    // The end mark must lead what arrived from the last block on.
    if (!awaitReply([](QByteArray& rx) { return rx.startsWith("EN"); })) {
        onTimeOut();
        return;
    }
    succeed();
}

void UpdateEngine::showPercent(int blocksSent, int totalBlocks) {
    io.display.setPercentText(number(blocksSent * 100 / totalBlocks) + QLatin1Char('%'));
}

void UpdateEngine::succeed() {
    finish(SessionOutcome::Success);
    events->endMark();
    image.clear();
    io.Timer1.setEnabled(false);
    warte(2);
    events->settled();
    io.display.setStatusText(QString());
    io.display.setActivityForeColor(Colours::Green);
    io.display.showState(DisplayState::Success);
    if (!successDisplay) {
        io.display.setBusyCursor(false);
        return;
    }
    warte(3);
    io.display.showState(DisplayState::Ready);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.beep();
    io.display.setBusyCursor(false);
}

// A missing answer. A stopped session (lost line, interruption) is not a missing answer:
// restarting against a closed port could only fail three more times.
void UpdateEngine::onTimeOut() {
    if (stopped()) {
        endStopped();
        return;
    }
    ++session.ErrorCount;
    if (session.ErrorCount <= TimeOutsAllowed) {
        io.display.showState(DisplayState::Error);
        events->restarting(session.ErrorCount);
        warte(2);
        if (stopped()) {
            endStopped();
            return;
        }
        // The whole image again, from a fresh announcement; the module takes one at any time.
        SendFirmware();
        return;
    }
    const QString text = QStringLiteral("Update error\rUpdate Fehler");
    finish(SessionOutcome::Failed, QStringLiteral("Update error: the module stopped answering."));
    io.prompts.showMessage({text, QStringLiteral("Update Error"), MessageIcon::Critical});
    backToReady();
}

// Waits, while events run, until `until` on the session's clock, looking at the image file
// every StillCheckSeconds; an image not being written is let through without any wait beyond
// `until`. False once the session ended: the file changed (refused) or the session was stopped.
bool UpdateEngine::holdImageUntil(double until) {
    bool waited = false;
    for (;;) {
        if (stopped()) {
            endStopped();
            return false;
        }
        if (!image.stillAsRead()) {
            refuseImage(FirmwareImage::Check::Unstable);
            return false;
        }
        const double left = until - io.clock.seconds();
        if (left <= 0)
            break;
        if (!waited)
            io.display.setStatusText(QStringLiteral("Waiting for the image file to be complete..."));
        waited = true;
        warte(qMin(left, StillCheckSeconds));
    }
    if (waited)
        io.display.setStatusText(QString());
    return true;
}

void UpdateEngine::refuseImage(FirmwareImage::Check why) {
    const QString text = FirmwareImage::refusalText(why, firmwarePath, image.errorText());
    finish(SessionOutcome::ImageRefused, text);
    io.display.setBusyCursor(false);
    io.prompts.showMessage({text, QStringLiteral("Firmware Error"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    backToReady();
}
