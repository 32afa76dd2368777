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

UpdateInfo::UpdateInfo(std::string project, std::string name, std::string type,
                       std::string version, std::string description, std::string copyrights,
                       std::string author, std::string webpage, std::string email,
                       std::string changelog, std::string link, bool critical, quint32 timestamp)
    : ComponentInfo(std::move(project), std::move(name), std::move(type), std::move(version),
                    std::move(description), std::move(copyrights), std::move(author),
                    std::move(webpage), std::move(email))
    , m_changelog(std::move(changelog))
    , m_link(std::move(link))
    , m_critical(critical)
    , m_timestamp(timestamp)
{
}
