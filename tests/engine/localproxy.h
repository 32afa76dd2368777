#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// tinyproxy on a loopback address through tools/proxy/vemo-proxy. It looks
// the given host names up itself (name -> address), so servers on loopback
// can be reached through it by names that the test process cannot resolve.
// It asks for the user "vemo" with the password "secret" (407 without them)
// and refuses the blocked host names (403).
class LocalProxy
{
public:
    LocalProxy() = default;
    ~LocalProxy();

    LocalProxy(const LocalProxy &) = delete;
    LocalProxy &operator=(const LocalProxy &) = delete;

    bool start(const QString &address, quint16 port, const QMap<QString, QString> &hosts,
               const QStringList &blocked = QStringList());

    // "http://[vemo:secret@]address:port", for http_proxy.
    QString url(bool withPassword) const;

private:
    QTemporaryDir m_state;
    QString m_address;
    quint16 m_port = 0;
    bool m_running = false;
};
