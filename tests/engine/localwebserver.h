#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// nginx on a loopback address, serving a directory through
// tools/webserver/vemo-webserver. Files below "/slow/" are rate-limited.
class LocalWebServer
{
public:
    LocalWebServer() = default;
    ~LocalWebServer();

    LocalWebServer(const LocalWebServer &) = delete;
    LocalWebServer &operator=(const LocalWebServer &) = delete;

    bool start(const QString &root, const QString &address, quint16 port,
               const QString &slowRate = QStringLiteral("256k"));
    void stop();

    // "METHOD URI STATUS BYTES" per request so far.
    QStringList accessLog() const;
    // Forgets the requests logged so far.
    void clearAccessLog();

private:
    QTemporaryDir m_state;
    bool m_running = false;
};
