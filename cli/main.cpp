// kestrune-update: the update, the port list and the communication test from the command line.
#include "CliOptions.h"
#include "ComTestCommand.h"
#include "ConsoleOutput.h"
#include "DoctorCommand.h"
#include "ImageChoice.h"
#include "OutputStream.h"
#include "PortList.h"
#include "PortTargets.h"
#include "SettingsFile.h"
#include "StationRun.h"
#include "StopSignals.h"
#include "SystemView.h"
#include "UpdateRecord.h"
#include "UpdateRun.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int UsageError = 2;

// Ends the process without running static destructors. Qt looks host names up on a pool of
// threads and waits for it at exit, so a run whose network port failed would end only when the
// resolver gives up (10 s and more), also after Ctrl+C. Nothing is left for a destructor by
// then: every session has ended and closed its port (the line settings restored), every record
// line is written, and standard output is closed; the standard error stream is flushed here.
[[noreturn]] void endProcess(int status) {
    std::fflush(stderr);
    ::_exit(status);
}

// Before anything was written to standard output.
[[noreturn]] void usageError(const QString& text) {
    std::fprintf(stderr, "kestrune-update: %s\nTry 'kestrune-update --help' for more information.\n",
                 qPrintable(text));
    endProcess(UsageError);
}

// Standard output is closed with a check: a run whose summary or JSON was lost is not a
// success for the script that reads it, though the modules keep their result.
[[noreturn]] void finished(OutputStream& out, int status) {
    endProcess(out.close("kestrune-update") || status != 0 ? status : 1);
}

// A settings file that is a FIFO, a device or huge is not read (nor written): the run goes on
// without its [Ports] lines, and the operator learns why COM numbers may be missing.
void warnAboutSettingsFile() {
    const QString note = settingsFileNote(cliSettingsFile());
    if (!note.isEmpty())
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(note));
}
} // namespace

int main(int argc, char* argv[]) {
    OutputStream out(stdout);
    out.guardClosedDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrune-update"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KUU_VERSION));
    // Output to a pipe that closes early (`| head`) must not kill sessions mid-transfer.
    std::signal(SIGPIPE, SIG_IGN);

    QByteArrayList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QByteArray(argv[i]);
    const QString nameError = nonUtf8ArgumentError(rawArguments);
    if (!nameError.isEmpty())
        usageError(nameError);
    const CliParse parse = parseCliArguments(QCoreApplication::arguments());
    if (!parse.error.isEmpty())
        usageError(parse.error);
    const CliOptions& options = parse.options;
    switch (options.mode) {
    case CliOptions::Mode::Help:
        out.write(cliUsage());
        finished(out, 0);
    case CliOptions::Mode::Version:
        out.write(QByteArray("kestrune-update " KUU_VERSION "\n"));
        finished(out, 0);
    case CliOptions::Mode::ListPorts:
        warnAboutSettingsFile();
        finished(out, listPorts(cliSettingsFile(), out));
    case CliOptions::Mode::Doctor: {
        // Under sudo the COM map is that of the user in SUDO_USER, so is the note on its file.
        const SystemView system;
        const QString note = settingsFileNote(doctorSettingsFile(system));
        if (!note.isEmpty())
            std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(note));
        finished(out, runDoctor(system, options.ports, options.json, out));
    }
    case CliOptions::Mode::ComTest:
    case CliOptions::Mode::Update:
    case CliOptions::Mode::Station:
        break;
    }

    warnAboutSettingsFile();
    const PortResolution ports = resolvePorts(options.ports, cliSettingsFile());
    if (!ports.error.isEmpty())
        usageError(ports.error);
    if (!ports.warning.isEmpty())
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(ports.warning));
    if (options.mode == CliOptions::Mode::ComTest) {
        const StopSignals stopSignals;
        finished(out, runComTestCommand(ports.targets.first(), out, stopSignals));
    }

    // Read and checked once, before any port is opened: a refused image sends nothing anywhere.
    FirmwareImage image;
    QString imageError;
    if (!loadRunImage(options.image, QCoreApplication::applicationDirPath(), image, imageError)) {
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(imageError));
        endProcess(UsageError);
    }

    // Ctrl+C ends what came before by the default means; from here on it ends the sessions
    // cleanly. Made before any session thread, which inherits the blocked signals.
    const StopSignals stopSignals;
    const QString recordFile = options.recordFile.isEmpty() ? defaultRecordFile() : options.recordFile;
    if (options.mode == CliOptions::Mode::Station) {
        OutputStream err(stderr);
        const std::unique_ptr<ConsoleOutput> output =
            makeStationOutput(options.json, image, ports.targets, out, err);
        StationRun station(ports.targets, image, {options.count, options.goneAfter, recordFile}, *output);
        QObject::connect(&stopSignals, &StopSignals::stopRequested, &station, &StationRun::stopAll);
        const int status = station.exec();
        finished(out, status == 0 && err.failed() ? 1 : status);
    }
    const std::unique_ptr<ConsoleOutput> output = makeRunOutput(options.json, image, ports.targets, out);
    UpdateRun run(ports.targets, image, options.identifyLimit, recordFile, *output);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &UpdateRun::stopAll);
    finished(out, run.exec());
}
