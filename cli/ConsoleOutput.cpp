// The console's view of a run: progress lines or plain event lines, the summary, the JSON document.
#include "ConsoleOutput.h"

#include "LineSettings.h"
#include "UpdateRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <unistd.h>

namespace {
constexpr int BarWidth = 24;

QString clockText(double seconds) {
    const qint64 s = qint64(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Messages meant for a box hold line breaks (and a carriage return between the languages).
QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}
} // namespace

ConsoleOutput::Style ConsoleOutput::styleFor(bool json, std::FILE* out) {
    if (json)
        return Style::Json;
    const QByteArray term = qgetenv("TERM");
    return ::isatty(fileno(out)) && term != "dumb" ? Style::Terminal : Style::Plain;
}

ConsoleOutput::ConsoleOutput(Style style, const FirmwareImage& image, const QList<PortTarget>& ports,
                             OutputStream& out)
    : style(style)
    , image(image)
    , out(out) {
    for (const PortTarget& target : ports) {
        PortLine line;
        line.target = target;
        lines << line;
        labelWidth = qMax(labelWidth, int(target.label.size()));
    }
}

QString ConsoleOutput::imageLine() const {
    return QStringLiteral("Image %1: %2 bytes, %3 sectors, SHA-256 %4")
        .arg(image.path())
        .arg(image.fileBytes())
        .arg(image.sectorCount())
        .arg(QString::fromLatin1(image.sha256()));
}

void ConsoleOutput::print(const QString& text) {
    out.write(text + QLatin1Char('\n'));
    out.flush();
}

void ConsoleOutput::begin() {
    for (PortLine& line : lines)
        line.since.start();
    if (style == Style::Json)
        return;
    print(imageLine());
    if (style == Style::Terminal)
        drawLines();
}

// A line that stays (a warning) goes above the progress lines, which are drawn again below it.
void ConsoleOutput::printAbove(const QString& text) {
    if (drawn > 0)
        out.write(QStringLiteral("\x1b[%1A").arg(drawn));
    out.write(QStringLiteral("\r\x1b[2K") + text + QLatin1Char('\n'));
    drawn = 0;
    drawLines();
}

void ConsoleOutput::drawLines() {
    if (drawn > 0)
        out.write(QStringLiteral("\x1b[%1A").arg(drawn));
    for (const PortLine& line : lines)
        out.write(QStringLiteral("\r\x1b[2K") + progressLine(line) + QLatin1Char('\n'));
    drawn = int(lines.size());
    out.flush();
}

QString ConsoleOutput::progressLine(const PortLine& line) const {
    const int total = line.sectors * ModuleLine::BlocksPerSector;
    const int percent = total > 0 ? line.blocks * 100 / total : 0;
    const int filled = total > 0 ? line.blocks * BarWidth / total : 0;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char('-'));
    const double seconds = line.finished ? line.report.seconds : line.since.elapsed() / 1000.0;
    QString state;
    if (line.finished)
        state = resultName(line.report.outcome);
    else if (line.sectors == 0)
        state = QStringLiteral("waiting for the module");
    return QStringLiteral("%1 [%2] %3%  sector %4 of %5  restarts %6  %7  %8")
        .arg(line.target.label, -labelWidth)
        .arg(bar)
        .arg(percent, 3)
        .arg(line.blocks / ModuleLine::BlocksPerSector)
        .arg(line.sectors)
        .arg(line.restarts)
        .arg(clockText(seconds), state)
        .trimmed();
}

void ConsoleOutput::event(int port, PortEventKind kind, int value) {
    PortLine& line = lines[port];
    const QString& label = line.target.label;
    QString plain;
    switch (kind) {
    case PortEventKind::SwitchOff:
        plain = QStringLiteral("%1: the module's setup switch is OFF: set it to ON, the probe goes on")
                    .arg(label);
        if (style == Style::Terminal)
            printAbove(plain);
        break;
    case PortEventKind::Announced:
        line.sectors = value;
        line.blocks = 0;
        plain = QStringLiteral("%1: announced %2 sectors").arg(label).arg(value);
        break;
    case PortEventKind::BlocksSent:
        line.blocks = value;
        if (value % ModuleLine::BlocksPerSector == 0)
            plain = QStringLiteral("%1: sector %2 of %3 sent")
                        .arg(label)
                        .arg(value / ModuleLine::BlocksPerSector)
                        .arg(line.sectors);
        break;
    case PortEventKind::Restart:
        line.restarts = value;
        plain = QStringLiteral("%1: no answer within 4 s, restart %2 of 3").arg(label).arg(value);
        break;
    case PortEventKind::Settled:
        return;
    }
    if (style == Style::Plain && !plain.isEmpty())
        print(plain);
    else if (style == Style::Terminal)
        drawLines();
}

void ConsoleOutput::finished(int port, const SessionReport& report) {
    PortLine& line = lines[port];
    line.finished = true;
    line.report = report;
    if (style == Style::Plain) {
        QString text = QStringLiteral("%1: %2 after %3 s")
                           .arg(line.target.label, resultName(report.outcome))
                           .arg(report.seconds, 0, 'f', 1);
        if (!report.message.isEmpty())
            text += QStringLiteral(": ") + oneLine(report.message);
        print(text);
    } else if (style == Style::Terminal) {
        drawLines();
    }
}

void ConsoleOutput::refresh() {
    if (style == Style::Terminal)
        drawLines();
}

void ConsoleOutput::end() {
    if (style == Style::Json) {
        QJsonArray ports;
        for (const PortLine& line : lines)
            ports.append(QJsonObject{
                {QStringLiteral("port"), line.target.label},
                {QStringLiteral("device"), line.target.device},
                {QStringLiteral("result"), resultName(line.report.outcome)},
                {QStringLiteral("module"), line.report.module},
                {QStringLiteral("restarts"), line.report.restarts},
                {QStringLiteral("seconds"), qRound64(line.report.seconds * 1000) / 1000.0},
                {QStringLiteral("message"), oneLine(line.report.message)},
            });
        const QJsonObject imageObject{
            {QStringLiteral("path"), image.path()},
            {QStringLiteral("bytes"), image.fileBytes()},
            {QStringLiteral("sectors"), image.sectorCount()},
            {QStringLiteral("sha256"), QString::fromLatin1(image.sha256())},
        };
        const QJsonDocument document(
            QJsonObject{{QStringLiteral("image"), imageObject}, {QStringLiteral("ports"), ports}});
        out.write(document.toJson(QJsonDocument::Indented));
        out.flush();
        return;
    }
    const int width = labelWidth;
    int deviceWidth = 6;
    for (const PortLine& line : lines)
        deviceWidth = qMax(deviceWidth, int(line.target.device.size()));
    print(QString());
    print(QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
              .arg(QStringLiteral("Port"), -width)
              .arg(QStringLiteral("Device"), -deviceWidth)
              .arg(QStringLiteral("Result"), -11)
              .arg(QStringLiteral("Module"), -6)
              .arg(QStringLiteral("Restarts"))
              .arg(QStringLiteral("Time"), 7)
              .arg(QStringLiteral("Message"))
              .trimmed());
    for (const PortLine& line : lines)
        print(QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                  .arg(line.target.label, -width)
                  .arg(line.target.device, -deviceWidth)
                  .arg(resultName(line.report.outcome), -11)
                  .arg(line.report.module, -6)
                  .arg(line.report.restarts, 8)
                  .arg(clockText(line.report.seconds), 7)
                  .arg(oneLine(line.report.message))
                  .trimmed());
}
