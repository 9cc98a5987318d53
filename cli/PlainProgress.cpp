// The one-shot run without a terminal: a line per event and per finished port.
#include "PlainProgress.h"

#include "ConsoleText.h"
#include "LineSettings.h"
#include "UpdateRecord.h"

PlainProgress::PlainProgress(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out)
    : image(image)
    , out(out)
    , ports(ports)
    , sectors(ports.size(), 0) {}

void PlainProgress::print(const QString& text) {
    out.write(text + QLatin1Char('\n'));
    out.flush();
}

void PlainProgress::begin() {
    print(ConsoleText::imageLine(image));
}

void PlainProgress::event(int port, PortEventKind kind, int value) {
    const QString& label = ports[port].label;
    switch (kind) {
    case PortEventKind::SwitchOff:
        print(QStringLiteral("%1: the module's setup switch is OFF: set it to ON, the probe goes on")
                  .arg(label));
        break;
    case PortEventKind::Announced:
        sectors[port] = value;
        print(QStringLiteral("%1: announced %2 sectors").arg(label).arg(value));
        break;
    case PortEventKind::BlocksSent:
        if (value % ModuleLine::BlocksPerSector == 0)
            print(QStringLiteral("%1: sector %2 of %3 sent")
                      .arg(label)
                      .arg(value / ModuleLine::BlocksPerSector)
                      .arg(sectors[port]));
        break;
    case PortEventKind::Restart:
        print(QStringLiteral("%1: no answer within 4 s, restart %2 of 3").arg(label).arg(value));
        break;
    case PortEventKind::Settled:
        break;
    }
}

void PlainProgress::finished(int port, const SessionReport& report) {
    QString text = QStringLiteral("%1: %2 after %3 s")
                       .arg(ports[port].label, resultName(report.outcome))
                       .arg(report.seconds, 0, 'f', 1);
    if (!report.message.isEmpty())
        text += QStringLiteral(": ") + ConsoleText::oneLine(report.message);
    print(text);
}
