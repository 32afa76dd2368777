#pragma once

#include "backuprecord.h"
#include "compactstringlist.h"
#include "deltapackage.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class InstallJournal;
class QXmlStreamAttributes;
class UpdateInfo;
struct UpdaterPaths;

// Installs one downloaded package into its install root, backing up every
// file it replaces or removes and entering every file and directory it
// creates in the run's journal, and can take all of that back afterwards.
// The install driver keeps one per package until its run ends.
//
// Paths: the package unpacks into workDir/<index>/ (index: its place in the
// run, so that two packages of one name never share a directory); its
// backups go to <root>/.vemo-backup-<run>/<index>/, inside the install root
// so that moving a replaced file there is a rename on the same file system.
class PackageInstaller
{
public:
    // paths: where the install roots are (the installation directory for
    // "app" packages, the plug-in folder for "plugin" packages).
    PackageInstaller(const UpdateInfo &record, const UpdaterPaths &paths, int index = 0,
                     InstallJournal *journal = nullptr);

    // How far install() is: done of total steps (each entry unpacked, then
    // each manifest element applied, counted against the entries), told
    // after every step.
    using Step = std::function<void(qint64 done, qint64 total)>;

    // Unpacks the archive, reads the manifest and applies it. On failure
    // errorString() says what failed, for the user, and errorReason() the
    // system's reason where there is one that errorString() does not
    // consist of (the Abort/Retry question shows it); what was done so far stays
    // recorded for restore(). After a failed set-up it fails at once with
    // neither. *installedList gets " - " + name for every file entry but the
    // manifest.
    bool install(const QString &workDir, CompactStringList *installedList,
                 const Step &step = Step());

    // Makes install() apply a package that is unpacked already (a delta
    // package that DeltaPackage::prepare() has patched) instead of
    // unpacking the archive: its manifest is the prepared one, and its
    // "patch" rows install the files they made like "add" rows. Without it,
    // a "patch" row fails the package.
    void usePrepared(PreparedPackage package);

    // The install root of a record's type (empty when the type has none),
    // as the constructor chooses it.
    static QString rootFor(const UpdateInfo &record, const UpdaterPaths &paths);

    // Takes back everything install() did: deletes what it created and puts
    // back every file it saved. False at the first file that cannot be put
    // back, which errorString() names. The backups stay until
    // removeBackups().
    bool restore();
    void removeBackups() const;

    // The "app" root lacks the messenger: the package fails without touching
    // anything, and the application is to quit when the run is over.
    bool setupFailed() const { return m_setupFailed; }

    const QString &errorString() const { return m_errorString; }
    const QString &errorReason() const { return m_errorReason; }
    const QString &rootDir() const { return m_rootDir; }
    const QString &backupDir() const { return m_backupDir; }

private:
    bool fail(const QString &message, const QString &reason = QString());
    bool applyManifest(const QString &unpackDir, const QString &manifestPath, int entries,
                       const Step &step);
    // False, with the message, when a row names a place that this system
    // cannot hold (Platform::nameProblem).
    bool checkNames(const QString &manifestPath);
    bool checkPackageAttributes(const QXmlStreamAttributes &attributes);
    bool applyFile(const QString &unpackDir, const QString &path, const QString &name,
                   const QString &action);
    bool clearTarget(const QString &target, uint mode, bool save, bool deletesTarget);
    bool placeFile(const QString &source, const QString &target, bool isNew, uint oldMode);
    bool runRuntimeInstaller(const QString &target);
    bool startRecord(QString *error);
    uint modeForNewFile(const QString &unpacked);

    // The install root, absolute, with the links in it resolved.
    const QString &resolvedRoot() const;
    // The install root, absolute and clean, its links as they are.
    const QString &lexicalRoot() const;
    // The target rootDir + "/" + relative with the links in its directory
    // resolved (a link as its last part stays: it is what gets replaced);
    // empty when that does not lie below the install root, or lies in the
    // run's backups.
    QString targetInRoot(const QString &relative) const;
    QString resolvedDirectory(const QString &dir) const;

    const UpdateInfo &record;
    QString m_backupDir;
    QString m_rootDir;
    QString m_packageName;

    int m_index;
    InstallJournal *m_journal;
    bool m_setupFailed = false;
    std::unique_ptr<BackupRecord> m_backups;
    std::unique_ptr<PreparedPackage> m_prepared;
    QString m_errorString;
    QString m_errorReason;
    QString m_identityPrefix;
    uint m_rootMode = 0;
    mutable QString m_resolvedRoot;
    mutable QString m_lexicalRoot;
    mutable QHash<QString, QString> m_resolvedDirectories;
    // Remove rows (their places) that name, in another spelling, the file
    // that a row of the same package puts there: on a system that ignores
    // case they would remove the new file.
    QSet<QString> m_renamedInCase;
};
