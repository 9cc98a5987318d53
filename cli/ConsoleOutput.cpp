// The outputs of a run fed together, and the choice of outputs for a one-shot run.
#include "ConsoleOutput.h"

#include "JsonLines.h"
#include "JsonSummary.h"
#include "PlainProgress.h"
#include "ProgressLines.h"
#include "StationBoard.h"
#include "StationLog.h"
#include "SummaryTable.h"

#include <unistd.h>

void ConsoleOutputs::begin() {
    for (const auto& output : outputs)
        output->begin();
}

void ConsoleOutputs::event(int port, PortEventKind kind, int value) {
    for (const auto& output : outputs)
        output->event(port, kind, value);
}

void ConsoleOutputs::slotChanged(int slot, const SlotStatus& status) {
    for (const auto& output : outputs)
        output->slotChanged(slot, status);
}

void ConsoleOutputs::finished(int port, const SessionReport& report) {
    for (const auto& output : outputs)
        output->finished(port, report);
}

void ConsoleOutputs::notice(const QString& text) {
    for (const auto& output : outputs)
        output->notice(text);
}

void ConsoleOutputs::refresh() {
    for (const auto& output : outputs)
        output->refresh();
}

void ConsoleOutputs::end() {
    for (const auto& output : outputs)
        output->end();
}

bool isLiveTerminal(std::FILE* out) {
    return ::isatty(fileno(out)) && qgetenv("TERM") != "dumb";
}

std::unique_ptr<ConsoleOutput> makeRunOutput(bool json, const FirmwareImage& image,
                                             const QList<PortTarget>& ports, OutputStream& out) {
    if (json)
        return std::make_unique<JsonSummary>(image, ports, out);
    auto outputs = std::make_unique<ConsoleOutputs>();
    if (isLiveTerminal(out.stream()))
        outputs->add(std::make_unique<ProgressLines>(image, ports, out));
    else
        outputs->add(std::make_unique<PlainProgress>(image, ports, out));
    outputs->add(std::make_unique<SummaryTable>(ports, out));
    return outputs;
}

std::unique_ptr<ConsoleOutput> makeStationOutput(bool json, const FirmwareImage& image,
                                                 const QList<PortTarget>& ports, OutputStream& out,
                                                 OutputStream& err) {
    if (!json && isLiveTerminal(out.stream()))
        return std::make_unique<StationBoard>(image, ports, out, terminalWantsColours());
    if (!json)
        return std::make_unique<StationLog>(image, ports, out);
    auto outputs = std::make_unique<ConsoleOutputs>();
    outputs->add(std::make_unique<JsonLines>(ports, out));
    outputs->add(std::make_unique<StationLog>(image, ports, err));
    return outputs;
}
