// A local device's identity from sysfs and udev's database: USB ids, texts, driver, latency timer.
#include "DeviceFacts.h"

#include "SystemView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {
// The kernel's name of a device node: its name under /dev ("pts/3" for a pseudo-terminal).
QString kernelName(const QString& resolved) {
    const QString dev = QStringLiteral("/dev/");
    if (resolved.startsWith(dev + QStringLiteral("pts/")))
        return resolved.mid(dev.size());
    return QFileInfo(resolved).fileName();
}

QString linkName(const QString& link) {
    return QFileInfo(QFileInfo(link).symLinkTarget()).fileName();
}

QMap<QString, QString> udevProperties(const SystemView& system, const QString& devNumber) {
    QMap<QString, QString> properties;
    QFile data(system.udevRoot + QStringLiteral("/data/c") + devNumber);
    if (devNumber.isEmpty() || !data.open(QIODevice::ReadOnly))
        return properties;
    // Lines "E:KEY=VALUE" are the device's properties; the other kinds are of no use here.
    const QList<QByteArray> lines = data.read(64 * 1024).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("E:"))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 2)
            properties.insert(QString::fromUtf8(line.mid(2, equals - 2)),
                              QString::fromUtf8(line.mid(equals + 1)));
    }
    return properties;
}

QString byIdLinkTo(const SystemView& system, const QString& resolved) {
    const QDir folder(system.byIdFolder);
    for (const QString& name :
         folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString link = folder.filePath(name);
        if (QFileInfo(link).isSymLink() && QFileInfo(link).canonicalFilePath() == resolved)
            return link;
    }
    return QString();
}
} // namespace

QString readSysValue(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(in.read(4096)).trimmed();
}

QString usbDeviceAbove(const SystemView& system, const QString& folder) {
    const QString root = QFileInfo(system.sysRoot).canonicalFilePath();
    QString at = QFileInfo(folder).canonicalFilePath();
    while (!at.isEmpty() && at != root && at.startsWith(root)) {
        if (QFileInfo::exists(at + QStringLiteral("/idVendor")))
            return at;
        at = QFileInfo(at).path();
    }
    return QString();
}

void readUsbIdentity(const SystemView&, const QString& usbFolder, DeviceFacts& facts) {
    facts.usbFolder = usbFolder;
    facts.vendorId = readSysValue(usbFolder + QStringLiteral("/idVendor"));
    facts.productId = readSysValue(usbFolder + QStringLiteral("/idProduct"));
    facts.maker = readSysValue(usbFolder + QStringLiteral("/manufacturer"));
    facts.product = readSysValue(usbFolder + QStringLiteral("/product"));
    facts.serial = readSysValue(usbFolder + QStringLiteral("/serial"));
    const int bus = readSysValue(usbFolder + QStringLiteral("/busnum")).toInt();
    const int number = readSysValue(usbFolder + QStringLiteral("/devnum")).toInt();
    if (bus > 0 && number > 0)
        facts.usbNode = QStringLiteral("/dev/bus/usb/%1/%2")
                            .arg(bus, 3, 10, QLatin1Char('0'))
                            .arg(number, 3, 10, QLatin1Char('0'));
}

DeviceFacts readDeviceFacts(const SystemView& system, const QString& path) {
    DeviceFacts facts;
    facts.given = path;
    facts.resolved = QFileInfo(path).canonicalFilePath();
    if (facts.resolved.isEmpty())
        return facts;
    facts.byId = byIdLinkTo(system, facts.resolved);
    facts.ttyName = kernelName(facts.resolved);
    const QString classEntry = system.sysRoot + QStringLiteral("/class/tty/") + facts.ttyName;
    if (facts.ttyName.contains(QLatin1Char('/')) || !QFileInfo::exists(classEntry))
        return facts;
    facts.devNumber = readSysValue(classEntry + QStringLiteral("/dev"));
    facts.udev = udevProperties(system, facts.devNumber);
    const QString device = classEntry + QStringLiteral("/device");
    facts.driver = linkName(device + QStringLiteral("/driver"));
    facts.latencyTimer = readSysValue(device + QStringLiteral("/latency_timer"));
    const QString usb = usbDeviceAbove(system, device);
    if (!usb.isEmpty())
        readUsbIdentity(system, usb, facts);
    return facts;
}

QString DeviceFacts::identity() const {
    QStringList parts;
    if (isUsb()) {
        QString head = QStringLiteral("USB %1:%2").arg(vendorId, productId);
        for (const QString& text : {maker, product})
            if (!text.isEmpty())
                head += QLatin1Char(' ') + text;
        parts << head;
        if (!serial.isEmpty())
            parts << QStringLiteral("serial %1").arg(serial);
    }
    if (!driver.isEmpty())
        parts << QStringLiteral("driver %1").arg(driver);
    return parts.join(QStringLiteral(", "));
}
