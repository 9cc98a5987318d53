// Texts shared by the console's outputs: elapsed time, one-line messages, the image line.
#include "ConsoleText.h"

namespace ConsoleText {
QString clock(double seconds) {
    const qint64 s = qint64(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

QString imageLine(const FirmwareImage& image) {
    return QStringLiteral("Image %1: %2 bytes, %3 sectors, SHA-256 %4")
        .arg(image.path())
        .arg(image.fileBytes())
        .arg(image.sectorCount())
        .arg(QString::fromLatin1(image.sha256()));
}
} // namespace ConsoleText
