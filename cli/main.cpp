// kestrune-update: the update, the port list and the communication test from the command line.
#include "CliOptions.h"
#include "ComTestCommand.h"
#include "ConsoleOutput.h"
#include "ImageChoice.h"
#include "OutputStream.h"
#include "PortList.h"
#include "PortTargets.h"
#include "SettingsFile.h"
#include "StopSignals.h"
#include "UpdateRecord.h"
#include "UpdateRun.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {
constexpr int UsageError = 2;

int usageError(const QString& text) {
    std::fprintf(stderr, "kestrune-update: %s\nTry 'kestrune-update --help' for more information.\n",
                 qPrintable(text));
    return UsageError;
}

// Standard output is closed with a check: a run whose summary or JSON was lost is not a
// success for the script that reads it, though the modules keep their result.
int finished(OutputStream& out, int status) {
    return out.close("kestrune-update") || status != 0 ? status : 1;
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
        return usageError(nameError);
    const CliParse parse = parseCliArguments(QCoreApplication::arguments());
    if (!parse.error.isEmpty())
        return usageError(parse.error);
    const CliOptions& options = parse.options;
    switch (options.mode) {
    case CliOptions::Mode::Help:
        out.write(cliUsage());
        return finished(out, 0);
    case CliOptions::Mode::Version:
        out.write(QByteArray("kestrune-update " KUU_VERSION "\n"));
        return finished(out, 0);
    case CliOptions::Mode::ListPorts:
        warnAboutSettingsFile();
        return finished(out, listPorts(cliSettingsFile(), out));
    case CliOptions::Mode::ComTest:
    case CliOptions::Mode::Update:
        break;
    }

    warnAboutSettingsFile();
    const PortResolution ports = resolvePorts(options.ports, cliSettingsFile());
    if (!ports.error.isEmpty())
        return usageError(ports.error);
    if (!ports.warning.isEmpty())
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(ports.warning));
    if (options.mode == CliOptions::Mode::ComTest) {
        const StopSignals stopSignals;
        return finished(out, runComTestCommand(ports.targets.first(), out, stopSignals));
    }

    // Read and checked once, before any port is opened: a refused image sends nothing anywhere.
    FirmwareImage image;
    QString imageError;
    if (!loadRunImage(options.image, QCoreApplication::applicationDirPath(), image, imageError)) {
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(imageError));
        return UsageError;
    }

    // Ctrl+C ends what came before by the default means; from here on it ends the sessions
    // cleanly. Made before any session thread, which inherits the blocked signals.
    const StopSignals stopSignals;
    ConsoleOutput output(ConsoleOutput::styleFor(options.json, stdout), image, ports.targets, out);
    UpdateRun run(ports.targets, image, options.identifyLimit,
                  options.recordFile.isEmpty() ? defaultRecordFile() : options.recordFile, output);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &UpdateRun::stopAll);
    return finished(out, run.exec());
}
