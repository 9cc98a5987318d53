// A real ser2net on the loopback for end-to-end tests: configuration, start, readiness, kill.
#include "Ser2Net.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>

namespace {

// A port nobody listens on now. Closed again at once; ser2net binds it with SO_REUSEADDR.
quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Whether 127.0.0.1:`port` is in LISTEN state, read from the kernel's table: connecting to
// find out would open the line behind it.
bool listening(quint16 port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> rows = table.readAll().split('\n');
    for (const QByteArray& row : rows) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

} // namespace

Ser2Net::~Ser2Net() {
    kill();
}

QString Ser2Net::unavailable() {
    if (!QFileInfo(QString::fromLatin1(Program)).isExecutable())
        return QStringLiteral("%1 is not installed (apt-get install ser2net; scripts/common.sh installs it "
                              "for the tests)")
            .arg(QString::fromLatin1(Program));
    return QString();
}

QString Ser2Net::start(const QList<Line>& lines) {
    if (!dir.isValid())
        return QStringLiteral("no scratch folder for the configuration");
    served = lines;
    ports.clear();
    QByteArray config;
    for (int i = 0; i < lines.size(); ++i) {
        const quint16 port = freePort();
        if (port == 0)
            return QStringLiteral("no free loopback port");
        ports << port;
        const QByteArray accepter = lines[i].kind == Kind::Rfc2217  ? "telnet(rfc2217),tcp,127.0.0.1,"
                                    : lines[i].kind == Kind::Telnet ? "telnet,tcp,127.0.0.1,"
                                                                    : "tcp,127.0.0.1,";
        config += "connection: &line" + QByteArray::number(i) + "\n  accepter: " + accepter +
                  QByteArray::number(port) + "\n  connector: serialdev," +
                  QFile::encodeName(lines[i].device) + ",115200n81,local\n";
    }
    const QString file = dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(config) != config.size())
        return QStringLiteral("the configuration could not be written");
    out.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromLatin1(Program),
                  {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), file});
    if (!process.waitForStarted(5000))
        return QStringLiteral("ser2net did not start: %1").arg(process.errorString());
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        bool all = true;
        for (const quint16 port : ports)
            all = all && listening(port);
        if (all)
            return QString();
        if (process.state() == QProcess::NotRunning || waited.elapsed() > 5000)
            return QStringLiteral("ser2net is not listening: %1").arg(output());
        QThread::msleep(20);
    }
}

QString Ser2Net::address(int index) const {
    const QString scheme =
        served.value(index).kind == Kind::Raw ? QStringLiteral("socket") : QStringLiteral("rfc2217");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port(index));
}

void Ser2Net::kill() {
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(3000);
}

QString Ser2Net::output() {
    printed += QString::fromLocal8Bit(process.readAll());
    return printed;
}
