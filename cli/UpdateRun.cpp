// Running the sessions of all ports at once and recording each one as it ends.
#include "UpdateRun.h"

#include "UpdateRecord.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

UpdateRun::UpdateRun(const QList<PortTarget>& ports, const FirmwareImage& image, double identifyLimit,
                     QString recordFile, ConsoleOutput& output)
    : recordFile(std::move(recordFile))
    , output(output) {
    for (int index = 0; index < ports.size(); ++index) {
        auto session = std::make_unique<PortSession>(ports[index], image, identifyLimit);
        connect(session.get(), &PortSession::progress, this, [this, index](int kind, int value) {
            this->output.event(index, PortEventKind(kind), value);
        });
        connect(session.get(), &QThread::finished, this, [this, index] { sessionFinished(index); });
        sessions.push_back(std::move(session));
    }
}

int UpdateRun::exec() {
    QEventLoop loop;
    QTimer redraw;
    // The elapsed time on the progress lines moves on even when no block is sent.
    connect(&redraw, &QTimer::timeout, this, [this] { output.refresh(); });
    redraw.start(250);
    output.begin();
    running = int(sessions.size());
    for (const auto& session : sessions)
        session->start();
    while (running > 0)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    redraw.stop();
    output.end();

    const bool allSucceeded = std::all_of(sessions.cbegin(), sessions.cend(), [](const auto& session) {
        return session->report().outcome == SessionOutcome::Success;
    });
    // An image that kept changing is refused by each session before any of its bytes goes
    // out: refused everywhere, nothing was sent, as with an image refused before the start.
    const bool refusedEverywhere = std::all_of(sessions.cbegin(), sessions.cend(), [](const auto& session) {
        return session->report().outcome == SessionOutcome::ImageRefused;
    });
    if (refusedEverywhere)
        return 2;
    return allSucceeded && !recordFailed ? 0 : 1;
}

void UpdateRun::stopAll() {
    for (const auto& session : sessions)
        session->requestStop();
}

void UpdateRun::sessionFinished(int index) {
    PortSession& session = *sessions[size_t(index)];
    session.wait();
    --running;
    output.finished(index, session.report());
    const UpdateRecordEntry entry = updateRecordEntry(session.report(), RecordFrontEnd::CommandLine,
                                                      session.target().label, session.target().device);
    QString error;
    if (!appendUpdateRecord(recordFile, entry, error)) {
        // The module's result stands; only the record is missing, and the operator must know.
        recordFailed = true;
        std::fprintf(stderr, "kestrune-update: %s: the update record %s could not be written: %s\n",
                     qPrintable(session.target().label), QFile::encodeName(recordFile).constData(),
                     qPrintable(error));
        std::fflush(stderr);
    }
}
