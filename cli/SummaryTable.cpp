// The summary table of a one-shot run: port, device, result, module, restarts, time, message.
#include "SummaryTable.h"

#include "ConsoleText.h"
#include "UpdateRecord.h"

SummaryTable::SummaryTable(const QList<PortTarget>& ports, OutputStream& out)
    : out(out)
    , ports(ports)
    , reports(ports.size()) {}

void SummaryTable::print(const QString& text) {
    out.write(text + QLatin1Char('\n'));
    out.flush();
}

void SummaryTable::end() {
    int width = 4;
    int deviceWidth = 6;
    for (const PortTarget& port : ports) {
        width = qMax(width, int(port.label.size()));
        deviceWidth = qMax(deviceWidth, int(port.device.size()));
    }
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
    for (int i = 0; i < ports.size(); ++i) {
        const SessionReport& report = reports[i];
        print(QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                  .arg(ports[i].label, -width)
                  .arg(ports[i].device, -deviceWidth)
                  .arg(resultName(report.outcome), -11)
                  .arg(report.module, -6)
                  .arg(report.restarts, 8)
                  .arg(ConsoleText::clock(report.seconds), 7)
                  .arg(ConsoleText::oneLine(report.message))
                  .trimmed());
    }
}
