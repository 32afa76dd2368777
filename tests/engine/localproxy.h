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

// Points the system's proxy settings at url ("http://[user:password@]host:port")
// for its lifetime, with connections to the names that noProxy lists
// (",.example.org,...") going straight: on Windows the current user's
// Internet settings, which Qt reads through WinHTTP and which carry no user
// name or password (canCarry() says so); elsewhere the variables http_proxy
// and no_proxy. The settings before are put back at the end.
class SystemProxySetting
{
public:
    SystemProxySetting(const QString &url, const QString &noProxy = QString());
    ~SystemProxySetting();

    SystemProxySetting(const SystemProxySetting &) = delete;
    SystemProxySetting &operator=(const SystemProxySetting &) = delete;

    // False when the system's settings cannot hold url (its password).
    static bool canCarry(const QString &url);
    // Makes the place of the settings exist, so that Qt watches it for changes
    // from the first proxy query of the process on.
    static void prepare();

private:
    QByteArray m_before;
    bool m_hadBefore = false;
};
