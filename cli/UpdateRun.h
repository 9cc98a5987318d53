#pragma once

#include "ConsoleOutput.h"
#include "PortSession.h"

#include <QObject>
#include <memory>
#include <vector>

// The updates of one command: a session per port, all at once, each recorded when it ends.
class UpdateRun : public QObject {
    Q_OBJECT
public:
    UpdateRun(const QList<PortTarget>& ports, const FirmwareImage& image, double identifyLimit,
              QString recordFile, ConsoleOutput& output);

    // Runs every session to its end; the exit status: 0 when every port succeeded and every
    // record line was written, else 1.
    int exec();
    // Ends every session at its next wait (Ctrl+C).
    void stopAll();

private:
    void sessionFinished(int index);

    std::vector<std::unique_ptr<PortSession>> sessions;
    const QString recordFile;
    ConsoleOutput& output;
    int running = 0;
    bool recordFailed = false;
};
