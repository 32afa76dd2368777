#pragma once

#include <QFileDevice>
#include <QSet>
#include <QString>
#include <QStringList>

class QXmlStreamAttributes;
class UpdateInfo;

// Installs one downloaded package into its install root, backing up every
// file it replaces or removes, and can put those files back afterwards.
// The install driver keeps one per package until its run ends.
class PackageInstaller
{
public:
    explicit PackageInstaller(const UpdateInfo &record);

    // Unpacks the archive into workDir/<name>/, reads the manifest and applies
    // it. On failure the user has already been told in a message box; the
    // backups made so far stay recorded for restore().
    bool install(const QString &workDir, QString *errorText, QStringList *installedList);

    // Puts back every file that install() saved. False at the first directory
    // or file that cannot be put back.
    bool restore(const QString &workDir);

    const QString &rootDir() const { return m_rootDir; }
    const QString &backupDir() const { return m_backupDir; }
    const QString &packageName() const { return m_packageName; }
    const QString &manifestBase() const { return m_manifestBase; }
    const QStringList &backedUpDirs() const { return m_backedUpDirs; }
    const QStringList &backedUpFiles() const { return m_backedUpFiles; }
    QFileDevice::Permissions rootPermissions() const { return m_rootPermissions; }

private:
    bool extractArchive(const QString &archivePath, const QString &unpackDir, QString *errorText,
                        QStringList *installedList);
    bool applyManifest(const QString &unpackDir);
    bool checkPackageAttributes(const QXmlStreamAttributes &attributes);
    bool applyFile(const QString &unpackDir, const QString &path, const QString &name,
                   const QString &action);
    // Saves target before the action touches it; *movedAway tells whether the
    // target itself went into the backup (only when deletesTarget).
    bool backUp(const QString &target, const QString &path, const QString &name,
                bool deletesTarget, bool *movedAway);

    // The install root made absolute and normalised, ending with "/": every
    // path below the root starts with it.
    const QString &rootPrefix() const;
    // Absolute, normalised form of rootDir + "/" + relative; empty when that
    // does not lie below the install root.
    QString targetInRoot(const QString &relative) const;
    // Where the backup of the (normalised) target lives: the backup directory
    // followed by the target's path relative to the install root.
    QString backupPathFor(const QString &target) const;

    const UpdateInfo &record;
    QString m_backupDir;
    QString m_rootDir;
    QString m_packageName;
    QString m_manifestBase;
    QStringList m_backedUpDirs;
    QStringList m_backedUpFiles;
    QFileDevice::Permissions m_rootPermissions;

    // Look-up aids for the two lists above, so that a package of many files
    // does not compare every new backup with every earlier one.
    QSet<QString> m_savedBackupPaths; // targets saved so far, relative to the root
    QSet<QString> m_backedUpDirSet;
    mutable QString m_rootPrefix;
};
