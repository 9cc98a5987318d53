#pragma once

#include "ConsoleOutput.h"
#include "SlotThread.h"
#include "StationRules.h"

#include <QObject>
#include <memory>
#include <vector>

struct StationSettings {
    int count = 0;        // modules to update in all; 0: no limit
    double goneAfter = 5; // seconds without an answer that make a module gone
    QString recordFile;
};

// A station: a slot per port, cycling until stopped, until --count modules were updated, or
// until the image changes on disk. Every update is recorded as it ends.
class StationRun : public QObject {
    Q_OBJECT
public:
    static constexpr int ImageChanged = 3;

    StationRun(const QList<PortTarget>& ports, FirmwareImage& image, const StationSettings& settings,
               ConsoleOutput& output);

    // Waits for the image to stand still, runs every slot to its end. The exit status: 0 when every
    // update succeeded (also when none ran), 1 when one did not or a record line could not be
    // written, 2 when the image is refused, 3 when it changed on disk during the run.
    int exec();
    // Ctrl+C: every slot ends at its next wait.
    void stopAll();

private:
    bool awaitStillImage();
    void watchImage();
    void windDownAll();
    void updateEnded(int slot, const SessionReport& report);

    FirmwareImage& image;
    const StationSettings settings;
    ConsoleOutput& output;
    QList<PortTarget> ports;
    StationRules rules;
    std::vector<std::unique_ptr<SlotThread>> slotThreads;
    bool stopAsked = false;
    bool anyUnsuccessful = false;
    bool recordFailed = false;
};
