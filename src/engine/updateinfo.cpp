#include "updateinfo.h"

#include <QStringList>
#include <QUrl>

#include <utility>

UpdateInfo::UpdateInfo(QString project, QString name, QString type, QString version,
                       QString description, QString changelog, QString link, qint64 archiveBytes,
                       QByteArray archiveSha256, UpdateDelta delta)
    : m_project(std::move(project))
    , m_name(std::move(name))
    , m_type(std::move(type))
    , m_version(std::move(version))
    , m_description(std::move(description))
    , m_changelog(std::move(changelog))
    , m_link(std::move(link))
    , m_archiveBytes(archiveBytes)
    , m_archiveSha256(std::move(archiveSha256))
    , m_delta(std::move(delta))
{
}

UpdateInfo UpdateInfo::deltaPackage() const
{
    UpdateInfo package = *this;
    package.m_link = m_delta.link;
    package.m_archiveBytes = m_delta.bytes;
    package.m_archiveSha256 = m_delta.sha256;
    package.m_delta = UpdateDelta();
    package.m_isDeltaPackage = true;
    return package;
}

UpdateInfo UpdateInfo::withoutDelta() const
{
    UpdateInfo update = *this;
    update.m_delta = UpdateDelta();
    return update;
}

bool UpdateInfo::isPackageLink(const QString &link)
{
    const QUrl url(link);
    const QString path = url.path();
    if (path.isEmpty() || url.host().isEmpty())
        return false;
    return !path.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}
