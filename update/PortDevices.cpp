#include "PortDevices.h"

#include <QSettings>

QString deviceForComPort(const QString& settingsFile, int port) {
    const QSettings settings(settingsFile, QSettings::IniFormat);
    const QString mapped = settings.value(QStringLiteral("Ports/COM%1").arg(port)).toString().trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}
