#pragma once

#include <QHostInfo>
#include <QNetworkProxyFactory>
#include <QTcpServer>
#include <QTcpSocket>
#include <iterator>

// An HTTP proxy named in the environment, as a desktop session or a CI runner sets one, and
// read by Qt's system proxy factory: a loopback listener that counts who connects to it.
struct ProxyInTheEnvironment {
    static constexpr const char* names[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "no_proxy", "NO_PROXY"};
    QList<QByteArray> saved;
    QTcpServer proxy;
    int connections = 0;
    ProxyInTheEnvironment() {
        proxy.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&proxy, &QTcpServer::newConnection, [this] {
            while (proxy.hasPendingConnections()) {
                proxy.nextPendingConnection();
                ++connections;
            }
        });
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(proxy.serverPort());
        for (const char* name : names)
            saved << qgetenv(name);
        qputenv("http_proxy", url);
        qputenv("HTTP_PROXY", url);
        qputenv("all_proxy", url);
        // An exception list of the machine's own would hide what is tested.
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        QNetworkProxyFactory::setUseSystemConfiguration(true);
    }
    ~ProxyInTheEnvironment() {
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        for (int i = 0; i < int(std::size(names)); ++i) {
            if (saved[i].isNull())
                qunsetenv(names[i]);
            else
                qputenv(names[i], saved[i]);
        }
    }
    ProxyInTheEnvironment(const ProxyInTheEnvironment&) = delete;
    ProxyInTheEnvironment& operator=(const ProxyInTheEnvironment&) = delete;
};

// This machine's own name, when it resolves: Qt never proxies a loopback address or
// "localhost", but it asks the proxy factory about any other name, even one that leads here.
inline QString ownResolvableName() {
    const QString name = QHostInfo::localHostName();
    return name.isEmpty() || QHostInfo::fromName(name).addresses().isEmpty() ? QString() : name;
}
