#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// An available update: the component as the update server names it and what
// the server says about the new version. Built once by the update check
// (UpdateAnswer) and never changed afterwards; its texts are already decoded.
class UpdateInfo
{
public:
    UpdateInfo(QString project, QString name, QString type, QString version, QString description,
               QString changelog, QString link, qint64 archiveBytes = -1,
               QByteArray archiveSha256 = {});

    const QString &project() const { return m_project; }
    const QString &name() const { return m_name; }
    const QString &type() const { return m_type; }
    const QString &version() const { return m_version; }
    const QString &description() const { return m_description; }
    const QString &changelog() const { return m_changelog; }
    const QString &link() const { return m_link; }
    // The package archive's size in bytes and its SHA-256 in lowercase hex,
    // as the answer gives them: -1 and empty when it gives neither (the check
    // refuses an answer that gives only one, or either malformed).
    qint64 archiveBytes() const { return m_archiveBytes; }
    const QByteArray &archiveSha256() const { return m_archiveSha256; }

private:
    QString m_project;
    QString m_name;
    QString m_type;
    QString m_version;
    QString m_description;
    QString m_changelog;
    QString m_link;
    qint64 m_archiveBytes;
    QByteArray m_archiveSha256;
};
