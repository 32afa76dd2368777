#include "updateinfo.h"

#include <utility>

UpdateInfo::UpdateInfo(QString project, QString name, QString type, QString version,
                       QString description, QString changelog, QString link, qint64 archiveBytes,
                       QByteArray archiveSha256)
    : m_project(std::move(project))
    , m_name(std::move(name))
    , m_type(std::move(type))
    , m_version(std::move(version))
    , m_description(std::move(description))
    , m_changelog(std::move(changelog))
    , m_link(std::move(link))
    , m_archiveBytes(archiveBytes)
    , m_archiveSha256(std::move(archiveSha256))
{
}
