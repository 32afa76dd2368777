#include "localproxy.h"

#include "hostcommand.h"
#include "treelisting.h"

#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

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
    SystemProxySetting::prepare();
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

#ifdef Q_OS_WIN
namespace {

const wchar_t ConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t SettingsValue[] = L"DefaultConnectionSettings";

HKEY openConnections()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ConnectionsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void appendDword(QByteArray *bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes->append(char((value >> (8 * i)) & 0xff));
}

void appendString(QByteArray *bytes, const QByteArray &text)
{
    appendDword(bytes, quint32(text.size()));
    bytes->append(text);
}

// The binary form of the Internet settings: a version, a counter, the
// flags (1 straight, 2 through the proxy), then the proxy, the names that
// go straight and the script address, each with its length before it.
QByteArray connectionSettings(const QString &url, const QString &noProxy)
{
    static quint32 counter = 1;
    const QUrl proxy(url);
    QStringList bypass;
    for (const QString &name : noProxy.split(QLatin1Char(','), Qt::SkipEmptyParts))
        bypass << (name.startsWith(QLatin1Char('.')) ? QLatin1Char('*') + name : name);
    QByteArray bytes;
    appendDword(&bytes, 0x46);
    appendDword(&bytes, counter++);
    appendDword(&bytes, url.isEmpty() ? 1 : 3);
    appendString(&bytes, url.isEmpty() ? QByteArray()
                                       : QStringLiteral("%1:%2").arg(proxy.host()).arg(proxy.port()).toLatin1());
    appendString(&bytes, bypass.join(QLatin1Char(';')).toLatin1());
    appendString(&bytes, QByteArray());
    bytes.append(QByteArray(32, '\0'));
    return bytes;
}

} // namespace

void SystemProxySetting::prepare()
{
    if (HKEY key = openConnections())
        RegCloseKey(key);
}

bool SystemProxySetting::canCarry(const QString &url)
{
    return QUrl(url).password().isEmpty();
}

SystemProxySetting::SystemProxySetting(const QString &url, const QString &noProxy)
{
    HKEY key = openConnections();
    if (!key)
        return;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, SettingsValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        m_before.resize(size);
        m_hadBefore = RegQueryValueExW(key, SettingsValue, nullptr, &type,
                                       reinterpret_cast<BYTE *>(m_before.data()), &size)
            == ERROR_SUCCESS;
    }
    const QByteArray settings = connectionSettings(url, noProxy);
    RegSetValueExW(key, SettingsValue, 0, REG_BINARY, reinterpret_cast<const BYTE *>(settings.constData()),
                   DWORD(settings.size()));
    RegCloseKey(key);
}

SystemProxySetting::~SystemProxySetting()
{
    HKEY key = openConnections();
    if (!key)
        return;
    if (m_hadBefore) {
        RegSetValueExW(key, SettingsValue, 0, REG_BINARY,
                       reinterpret_cast<const BYTE *>(m_before.constData()), DWORD(m_before.size()));
    } else {
        RegDeleteValueW(key, SettingsValue);
    }
    RegCloseKey(key);
}

#else

void SystemProxySetting::prepare() { }

bool SystemProxySetting::canCarry(const QString &)
{
    return true;
}

SystemProxySetting::SystemProxySetting(const QString &url, const QString &noProxy)
{
    qputenv("http_proxy", url.toLatin1());
    qputenv("no_proxy", noProxy.toLatin1());
}

SystemProxySetting::~SystemProxySetting()
{
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
}

#endif
