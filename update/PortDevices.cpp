// The device that stands for a COM port number.
#include "PortDevices.h"

#include "SettingsFile.h"

QString deviceForComPort(const QString& settingsFile, int port) {
    const QString mapped =
        readSettingsValue(settingsFile, QStringLiteral("Ports"), QStringLiteral("COM%1").arg(port));
    if (!mapped.isNull())
        return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}
