#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// nginx on a loopback address, serving a directory through
// tools/webserver/vemo-webserver. Files below "/slow/" are rate-limited; a GET
// without Range of a file below "/cut-once/" is cut after cutAfter bytes.
class LocalWebServer
{
public:
    LocalWebServer() = default;
    ~LocalWebServer();

    LocalWebServer(const LocalWebServer &) = delete;
    LocalWebServer &operator=(const LocalWebServer &) = delete;

    bool start(const QString &root, const QString &address, quint16 port,
               const QString &slowRate = QStringLiteral("256k"),
               const QString &cutAfter = QStringLiteral("64k"));
    void stop();

    // "METHOD URI STATUS BYTES" per request so far, without the requests
    // nginx sends itself to cut a transfer.
    QStringList accessLog() const;
    // Forgets the requests logged so far.
    void clearAccessLog();

private:
    QTemporaryDir m_state;
    bool m_running = false;
};
