#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

// The records' text fields hold UTF-8 bytes; this is how every reader takes
// one as text.
inline QString recordText(const std::string &field)
{
    return QString::fromUtf8(field.data(), qsizetype(field.size()));
}

// One component of the messenger as the update server names it. The text
// fields are UTF-8 byte strings; readers decode them with recordText().
class ComponentInfo
{
public:
    ComponentInfo(std::string project, std::string name, std::string type, std::string version,
                  std::string description, std::string copyrights, std::string author,
                  std::string webpage, std::string email);

    const std::string &project() const { return m_project; }
    const std::string &name() const { return m_name; }
    const std::string &type() const { return m_type; }
    const std::string &version() const { return m_version; }
    const std::string &description() const { return m_description; }
    const std::string &copyrights() const { return m_copyrights; }
    const std::string &author() const { return m_author; }
    const std::string &webpage() const { return m_webpage; }
    const std::string &email() const { return m_email; }

private:
    std::string m_project;
    std::string m_name;
    std::string m_type;
    std::string m_version;
    std::string m_description;
    std::string m_copyrights;
    std::string m_author;
    std::string m_webpage;
    std::string m_email;
};

// An available update: the component plus what the server says about the new
// version. Built once by the update check and never changed afterwards.
// archiveSize and archiveSha256 hold the texts of the "size" and "sha256"
// elements that describe the package archive (empty when the answer has
// none); the check makes sure they are well-formed before the download uses
// them.
class UpdateInfo : public ComponentInfo
{
public:
    UpdateInfo(std::string project, std::string name, std::string type, std::string version,
               std::string description, std::string copyrights, std::string author,
               std::string webpage, std::string email, std::string changelog, std::string link,
               bool critical, quint32 timestamp, std::string archiveSize = {},
               std::string archiveSha256 = {});

    const std::string &changelog() const { return m_changelog; }
    const std::string &link() const { return m_link; }
    bool critical() const { return m_critical; }
    quint32 timestamp() const { return m_timestamp; }
    const std::string &archiveSize() const { return m_archiveSize; }
    const std::string &archiveSha256() const { return m_archiveSha256; }
    // archiveSize as a number of bytes; -1 when it is empty or not a plain
    // decimal number.
    qint64 archiveBytes() const;

private:
    std::string m_changelog;
    std::string m_link;
    bool m_critical;
    quint32 m_timestamp;
    std::string m_archiveSize;
    std::string m_archiveSha256;
};
