#include "localproxy.h"

#include "treelisting.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString script()
{
    return QStringLiteral(VEMO_SOURCE_DIR "/tools/proxy/vemo-proxy");
}

} // namespace

LocalProxy::~LocalProxy()
{
    stop();
}

bool LocalProxy::start(const QString &address, quint16 port, const QMap<QString, QString> &hosts,
                       const QStringList &blocked)
{
    QByteArray hostsFile;
    for (auto it = hosts.cbegin(); it != hosts.cend(); ++it)
        hostsFile += it.value().toLatin1() + ' ' + it.key().toLatin1() + '\n';
    const QString hostsPath = m_state.filePath(QStringLiteral("hosts"));
    if (!writeFile(hostsPath, hostsFile))
        return false;

    QStringList arguments{QStringLiteral("start"), m_state.filePath(QStringLiteral("proxy")),
                          address, QString::number(port), hostsPath,
                          QStringLiteral("--auth"), QStringLiteral("vemo:secret")};
    for (const QString &name : blocked)
        arguments << QStringLiteral("--block") << name;
    m_address = address;
    m_port = port;
    m_running = QProcess::execute(script(), arguments) == 0;
    return m_running;
}

void LocalProxy::stop()
{
    if (!m_running)
        return;
    QProcess::execute(script(), {QStringLiteral("stop"), m_state.filePath(QStringLiteral("proxy"))});
    m_running = false;
}

QString LocalProxy::url(bool withCredentials) const
{
    return QStringLiteral("http://%1%2:%3")
        .arg(withCredentials ? QStringLiteral("vemo:secret@") : QString(), m_address)
        .arg(m_port);
}

QStringList LocalProxy::requests() const
{
    QFile log(m_state.filePath(QStringLiteral("proxy/tinyproxy.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression request(QStringLiteral("Request \\(file descriptor \\d+\\): (\\S+ \\S+)"));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = request.match(line);
        if (match.hasMatch())
            lines << match.captured(1);
    }
    return lines;
}
