#include "localwebserver.h"

#include "hostcommand.h"

#include <QFile>

LocalWebServer::~LocalWebServer()
{
    stop();
}

bool LocalWebServer::start(const QString &root, const QString &address, quint16 port,
                           const QString &slowRate, const QString &cutAfter)
{
    m_running = runServerScript(QStringLiteral("webserver"),
                                {QStringLiteral("start"), m_state.path(), root, address,
                                 QString::number(port), slowRate, cutAfter})
                == 0;
    return m_running;
}

void LocalWebServer::stop()
{
    if (!m_running)
        return;
    runServerScript(QStringLiteral("webserver"), {QStringLiteral("stop"), m_state.path()});
    m_running = false;
}

QStringList LocalWebServer::accessLog() const
{
    QFile log(m_state.filePath(QStringLiteral("access.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeIf([](const QString &line) { return line.contains(QLatin1String(" /.cut-source/")); });
    return lines;
}

void LocalWebServer::clearAccessLog()
{
    // nginx keeps the file open and appends, so emptying it in place works.
    QFile log(m_state.filePath(QStringLiteral("access.log")));
    log.resize(0);
}
