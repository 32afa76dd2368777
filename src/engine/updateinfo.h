#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A delta package: made against the version the update server knows is
// installed, it carries the changed files only, many of them as patches of
// the installed ones. Its size and SHA-256 are always given.
struct UpdateDelta
{
    QString link;
    qint64 bytes = -1;
    QByteArray sha256;
};

// An available update: the component as the update server names it and what
// the server says about the new version. Built once by the update check
// (UpdateAnswer); its texts are already decoded. The engine may only drop
// its delta package (withoutDelta()) when the delta cannot be used.
class UpdateInfo
{
public:
    UpdateInfo(QString project, QString name, QString type, QString version, QString description,
               QString changelog, QString link, qint64 archiveBytes = -1,
               QByteArray archiveSha256 = {}, UpdateDelta delta = {});

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

    // Whether the update offers a delta package, and that package.
    bool hasDelta() const { return !m_delta.link.isEmpty(); }
    const UpdateDelta &delta() const { return m_delta; }
    // The record as the download fetches the delta package: the delta's
    // link, size and SHA-256 in place of the full package's, and
    // isDeltaPackage() set.
    UpdateInfo deltaPackage() const;
    bool isDeltaPackage() const { return m_isDeltaPackage; }
    // The record with its delta package dropped: the full package installs.
    UpdateInfo withoutDelta() const;
    // The bytes the download of this update fetches: the delta's where there
    // is one, else the full package's (-1 when not given).
    qint64 downloadBytes() const { return hasDelta() ? m_delta.bytes : m_archiveBytes; }

    // A link that a package can be fetched from: it has a host and a path
    // without a ".." segment, since the archive is saved at that path below
    // the work directory.
    static bool isPackageLink(const QString &link);

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
    UpdateDelta m_delta;
    bool m_isDeltaPackage = false;
};
