#include "localproxy.h"

#include "hostcommand.h"
#include "treelisting.h"

LocalProxy::~LocalProxy()
{
    if (m_running)
        runServerScript(QStringLiteral("proxy"),
                        {QStringLiteral("stop"), m_state.filePath(QStringLiteral("proxy"))});
}

bool LocalProxy::start(const QString &address, quint16 port, const QMap<QString, QString> &hosts,
                       const QStringList &blocked)
{
    QByteArray hostsFile;
    for (auto it = hosts.cbegin(); it != hosts.cend(); ++it)
        hostsFile += it.value().toLatin1() + ' ' + it.key().toLatin1() + '\n';
    const QString hostsPath = m_state.filePath(QStringLiteral("hosts"));
    QStringList arguments{QStringLiteral("start"), m_state.filePath(QStringLiteral("proxy")),
                          address, QString::number(port), hostsPath,
                          QStringLiteral("--auth"), QStringLiteral("vemo:secret")};
    for (const QString &name : blocked)
        arguments << QStringLiteral("--block") << name;
    m_address = address;
    m_port = port;
    m_running = writeFile(hostsPath, hostsFile)
                && runServerScript(QStringLiteral("proxy"), arguments) == 0;
    return m_running;
}

QString LocalProxy::url(bool withPassword) const
{
    return QStringLiteral("http://%1%2:%3")
        .arg(withPassword ? QStringLiteral("vemo:secret@") : QString(), m_address)
        .arg(m_port);
}
