#include "updateinfo.h"

#include <utility>

ComponentInfo::ComponentInfo(std::string project, std::string name, std::string type,
                             std::string version, std::string description, std::string copyrights,
                             std::string author, std::string webpage, std::string email)
    : m_project(std::move(project))
    , m_name(std::move(name))
    , m_type(std::move(type))
    , m_version(std::move(version))
    , m_description(std::move(description))
    , m_copyrights(std::move(copyrights))
    , m_author(std::move(author))
    , m_webpage(std::move(webpage))
    , m_email(std::move(email))
{
}

UpdateInfo::UpdateInfo(std::string project, std::string name, std::string type, std::string version,
                       std::string description, std::string copyrights, std::string author,
                       std::string webpage, std::string email, std::string changelog,
                       std::string link, bool critical, quint32 timestamp, std::string archiveSize,
                       std::string archiveSha256)
    : ComponentInfo(std::move(project), std::move(name), std::move(type), std::move(version),
                    std::move(description), std::move(copyrights), std::move(author),
                    std::move(webpage), std::move(email))
    , m_changelog(std::move(changelog))
    , m_link(std::move(link))
    , m_critical(critical)
    , m_timestamp(timestamp)
    , m_archiveSize(std::move(archiveSize))
    , m_archiveSha256(std::move(archiveSha256))
{
}

qint64 UpdateInfo::archiveBytes() const
{
    // At most 18 digits, so the value cannot overflow.
    if (m_archiveSize.empty() || m_archiveSize.size() > 18)
        return -1;
    qint64 bytes = 0;
    for (const char c : m_archiveSize) {
        if (c < '0' || c > '9')
            return -1;
        bytes = bytes * 10 + (c - '0');
    }
    return bytes;
}
