// The station: its slotThreads on their threads, the image watched, every update recorded as it ends.
#include "StationRun.h"

#include "UpdateRecord.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace {
// How often the image file is looked at during a run; a stat, nothing more.
constexpr int ImageLookMs = 1000;
// The board's clock and rate move on even when no slot has news.
constexpr int RefreshMs = 1000;
} // namespace

StationRun::StationRun(const QList<PortTarget>& ports, FirmwareImage& image, const StationSettings& settings,
                       ConsoleOutput& output)
    : image(image)
    , settings(settings)
    , output(output)
    , ports(ports)
    , rules(settings.count) {
    connect(&rules, &StationRules::closedNow, this, &StationRun::windDownAll, Qt::QueuedConnection);
}

void StationRun::stopAll() {
    stopAsked = true;
    rules.close(StationRules::Closed::Stopped);
    for (const auto& slot : slotThreads)
        slot->requestStop();
}

void StationRun::windDownAll() {
    for (const auto& slot : slotThreads)
        slot->requestWindDown();
}

// The image must stand still for FirmwareImage::StillSeconds after it was read: one still being
// copied is read again each time it changed, and the board says so meanwhile. False when it is
// refused or the run was stopped.
bool StationRun::awaitStillImage() {
    QElapsedTimer still;
    still.start();
    bool told = false;
    QEventLoop loop;
    QTimer look;
    connect(&look, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(250);
    while (!stopAsked && still.elapsed() < qint64(FirmwareImage::StillSeconds * 1000)) {
        if (!image.stillAsRead()) {
            if (!told)
                output.notice(QStringLiteral("waiting for the image file to stand still"));
            told = true;
            const QString path = image.path();
            FirmwareImage::Check check = image.load(path);
            if (check != FirmwareImage::Check::Ok && check != FirmwareImage::Check::Unstable) {
                output.notice(FirmwareImage::refusalText(check, path, image.errorText()));
                return false;
            }
            still.restart();
        }
        loop.exec();
    }
    if (told && !stopAsked)
        output.notice(QString());
    return !stopAsked;
}

void StationRun::watchImage() {
    if (rules.isClosed() || image.stillAsRead())
        return;
    rules.close(StationRules::Closed::ImageChanged);
    output.notice(QStringLiteral("the image %1 changed on disk: no new update starts; the updates under way "
                                 "finish with the image they started with")
                      .arg(image.path()));
}

int StationRun::exec() {
    output.begin();
    if (!awaitStillImage()) {
        output.end();
        return stopAsked ? 0 : 2;
    }
    for (int index = 0; index < ports.size(); ++index) {
        auto slot = std::make_unique<SlotThread>(ports[index], image, rules, settings.goneAfter);
        connect(slot.get(), &SlotThread::statusChanged, this,
                [this, index](const SlotStatus& status) { output.slotChanged(index, status); });
        connect(slot.get(), &SlotThread::updateEnded, this,
                [this, index](const SessionReport& report) { updateEnded(index, report); });
        // Wakes the loop below when a slot has ended.
        connect(slot.get(), &QThread::finished, this, [] {});
        slotThreads.push_back(std::move(slot));
    }
    if (rules.isClosed())
        windDownAll();
    QTimer refresh;
    connect(&refresh, &QTimer::timeout, this, [this] { output.refresh(); });
    refresh.start(RefreshMs);
    QTimer look;
    connect(&look, &QTimer::timeout, this, &StationRun::watchImage);
    look.start(ImageLookMs);
    for (const auto& slot : slotThreads)
        slot->start();
    QEventLoop loop;
    while (std::any_of(slotThreads.cbegin(), slotThreads.cend(),
                       [](const auto& slot) { return slot->isRunning(); }))
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    // What the threads sent last is still queued.
    loop.processEvents();
    output.end();
    if (rules.closed() == StationRules::Closed::ImageChanged)
        return ImageChanged;
    return anyUnsuccessful || recordFailed ? 1 : 0;
}

void StationRun::updateEnded(int index, const SessionReport& report) {
    if (report.outcome != SessionOutcome::Success)
        anyUnsuccessful = true;
    output.finished(index, report);
    const PortTarget& target = ports[index];
    const UpdateRecordEntry entry =
        updateRecordEntry(report, RecordFrontEnd::CommandLine, target.label, target.device);
    QString error;
    if (!appendUpdateRecord(settings.recordFile, entry, error)) {
        recordFailed = true;
        std::fprintf(stderr, "kestrune-update: %s: the update record %s could not be written: %s\n",
                     qPrintable(target.label), QFile::encodeName(settings.recordFile).constData(),
                     qPrintable(error));
        std::fflush(stderr);
    }
}
