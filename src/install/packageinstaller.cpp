#include "packageinstaller.h"

#include "archiveextractor.h"
#include "engine/messenger.h"
#include "engine/removetree.h"
#include "engine/updateinfo.h"
#include "engine/updaterpaths.h"
#include "engine/workdirectory.h"
#include "filecopy.h"
#include "fileinuse.h"
#include "installjournal.h"
#include "manifestreader.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"
#include "runtimeinstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <QXmlStreamAttributes>

#include <cerrno>

namespace {

const QLatin1String AppType("app");
const QLatin1String PluginType("plugin");
const QLatin1String ActionAdd("add");
const QLatin1String ActionRemove("remove");
const QLatin1String ActionPatch("patch");

QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// A row's place below the root, as the rows of one manifest are compared.
QString rowPlace(const QString &path, const QString &name)
{
    QString place = path.isEmpty() ? name : path + QLatin1Char('/') + name;
    place = QDir::cleanPath(place.replace(QLatin1Char('\\'), QLatin1Char('/')));
    while (place.startsWith(QLatin1Char('/')))
        place.remove(0, 1);
    return place;
}

// The package name becomes part of paths and messages.
bool isSafePackageName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QChar(0));
}

bool lstatPath(const QString &path, Platform::FileStatus *info)
{
    return Platform::nameStatus(Platform::encodeName(path), info);
}

} // namespace

PackageInstaller::PackageInstaller(const UpdateInfo &record, const UpdaterPaths &paths, int index,
                                   InstallJournal *journal)
    : record(record)
    , m_packageName(record.name())
    , m_index(index)
    , m_journal(journal)
{
    m_identityPrefix =
        QStringLiteral("%1_%2_%3").arg(record.project(), record.name(), record.type());

    m_rootDir = rootFor(record, paths);
    if (record.type() == AppType) {
        if (!paths.hasInstallDir || !QFile::exists(Messenger::executablePath(m_rootDir))) {
            // The install driver tells the user, fails the package and asks
            // the application to quit once its run is over: a quit asked for
            // now would close every later box of the run at once.
            m_setupFailed = true;
            return;
        }
    }
}

QString PackageInstaller::rootFor(const UpdateInfo &record, const UpdaterPaths &paths)
{
    const QString type = record.type();
    if (type == AppType)
        return paths.installDir;
    if (type == PluginType)
        return paths.pluginRoot;
    return QString();
}

void PackageInstaller::usePrepared(PreparedPackage package)
{
    m_prepared = std::make_unique<PreparedPackage>(std::move(package));
}

bool PackageInstaller::fail(const QString &message, const QString &reason)
{
    m_errorString = message;
    // The question after the box repeats nothing of it: a failure whose
    // message is all there is to say (a file in use, a backup that cannot
    // be made) has no separate reason.
    m_errorReason = reason == message ? QString() : reason;
    return false;
}

bool PackageInstaller::install(const QString &workDir, CompactStringList *installedList,
                               const Step &step)
{
    if (m_setupFailed)
        return false; // nothing is touched

    // Both checks come before anything is written: a bad name has no place in
    // paths and messages, and an empty root would resolve every target from
    // the file system's root.
    if (!isSafePackageName(m_packageName)) {
        return fail(QCoreApplication::translate("PackageInstaller", "Invalid package name \"%1\"!")
                        .arg(m_packageName));
    }
    if (m_rootDir.isEmpty()) {
        return fail(QCoreApplication::translate(
                        "PackageInstaller", "Cannot find the folder to install package %1 into!")
                        .arg(m_packageName));
    }

    m_backupDir = resolvedRoot() + QLatin1Char('/') + InstallJournal::backupFolderPrefix()
                  + (m_journal ? m_journal->runId() : QStringLiteral("0")) + QLatin1Char('/')
                  + QString::number(m_index) + QLatin1Char('/');
    if (m_prepared) {
        // Unpacked and patched already: the first half of the steps is done.
        for (qsizetype i = 0; i < m_prepared->installedList.size(); ++i)
            installedList->append(m_prepared->installedList.at(i));
        if (m_prepared->entryCount == 0)
            return true;
        return applyManifest(m_prepared->unpackDir, m_prepared->manifestPath,
                             m_prepared->entryCount, step);
    }

    // Archives and unpack directories lie in separate folders of the work
    // directory: clearing one package's unpack directory never touches an
    // archive, whatever its link's path.
    const QString unpackDir = WorkDirectory::unpackPath(workDir, m_index);
    const QString archivePath =
        WorkDirectory::archivePath(workDir, QUrl(record.link()).path());
    // The directory starts empty: files left there by an earlier run must
    // never stand in for entries this archive lacks.
    removeTree(unpackDir);

    // The manifest is the entry named after the archive's URL path; it is
    // the one file that the list of installed files leaves out.
    const QString manifestEntry = DeltaPackage::manifestEntry(QUrl(record.link()).path());

    // Unpacking is the first half of the steps, applying the manifest the
    // second, one step per entry each.
    ArchiveExtractor extractor(archivePath, unpackDir);
    ArchiveExtractor::Step unpacked;
    if (step)
        unpacked = [&step](int done, int entries) { step(done, 2 * qint64(entries)); };
    if (!extractor.extract(manifestEntry, installedList, unpacked))
        return fail(extractor.message(), extractor.errorText());
    if (extractor.entryCount() == 0)
        return true; // nothing in it, nothing to do
    return applyManifest(unpackDir, unpackDir + QLatin1Char('/') + manifestEntry,
                         extractor.entryCount(), step);
}

bool PackageInstaller::startRecord(QString *error)
{
    if (m_backups)
        return true;
    const QString backups = QDir::cleanPath(m_backupDir);
    // The journal knows root and backups before the root is touched.
    if (m_journal && !m_journal->addPackage(m_index, resolvedRoot(), backups)) {
        *error = m_journal->errorString();
        return false;
    }
    // In a root that was there before, the backup folder exists from before
    // the package's first change to it: a recovery that finds it gone knows
    // that the saved files are gone too and leaves the root alone, instead
    // of deleting what the package created beside files it cannot put back.
    // (A root that the package creates holds nothing to save.)
    auto record = std::make_unique<BackupRecord>(m_index, resolvedRoot(), backups, m_journal);
    Platform::FileStatus info;
    if (m_journal && lstatPath(resolvedRoot(), &info) && !record->makeBackupFolder(error))
        return false;
    m_backups = std::move(record);
    return true;
}

bool PackageInstaller::applyManifest(const QString &unpackDir, const QString &manifestPath,
                                     int entries, const Step &step)
{
    ManifestReader reader;
    if (!reader.open(manifestPath)) {
        return fail(QCoreApplication::translate("PackageInstaller",
                                                "Cannot read the manifest of package %1 (%2).")
                        .arg(m_packageName, reader.errorString()));
    }
    if (!checkNames(manifestPath))
        return false;
    QString recordError;
    if (!startRecord(&recordError))
        return fail(recordError, recordError);

    const qint64 total = 2 * qint64(entries);
    qint64 done = entries;
    for (;;) {
        if (step && done < total)
            step(++done, total);
        switch (reader.next()) {
        case ManifestReader::End:
            return true;
        case ManifestReader::Error:
            return fail(QCoreApplication::translate("PackageInstaller",
                                                    "The manifest of package %1 is damaged: %2")
                            .arg(m_packageName, reader.errorString()));
        case ManifestReader::Package:
            if (!checkPackageAttributes(reader.attributes()))
                return false;
            break;
        case ManifestReader::File: {
            const QXmlStreamAttributes attributes = reader.attributes();
            if (!applyFile(unpackDir, ManifestReader::value(attributes, QLatin1String("path")),
                           ManifestReader::value(attributes, QLatin1String("name")),
                           ManifestReader::value(attributes, QLatin1String("action")).toLower()))
                return false;
            break;
        }
        }
    }
}

bool PackageInstaller::checkNames(const QString &manifestPath)
{
    // A second reading of the manifest, before the first change to the root:
    // a row whose place this system cannot hold (a device, a data stream, a
    // name it would shorten) fails the package while there is nothing to take
    // back. What keeps the manifest from being read is told by the reading
    // that applies it.
    // Where names differ in case only, two rows spelt differently may be one
    // file: of two rows that put a file there, the second row's backup would
    // replace the first one's, so the package is refused. A remove row in
    // another spelling than a row that puts the file is a file renamed in
    // case only: removing it would take away the new file, so it is skipped.
    ManifestReader reader;
    if (!reader.open(manifestPath))
        return true;
    QHash<QString, QString> placedFiles;
    QHash<QString, QString> removedFiles;
    for (;;) {
        switch (reader.next()) {
        case ManifestReader::End:
        case ManifestReader::Error:
            for (auto it = removedFiles.cbegin(); it != removedFiles.cend(); ++it) {
                const QString placed = placedFiles.value(it.key());
                if (!placed.isNull() && placed != it.value())
                    m_renamedInCase.insert(it.value());
            }
            return true;
        case ManifestReader::Package:
            break;
        case ManifestReader::File: {
            const QXmlStreamAttributes attributes = reader.attributes();
            const QString place =
                rowPlace(ManifestReader::value(attributes, QLatin1String("path")),
                         ManifestReader::value(attributes, QLatin1String("name")));
            const QString problem = Platform::nameProblem(place);
            if (!problem.isEmpty()) {
                return fail(QCoreApplication::translate("PackageInstaller",
                                                        "The package %1 names a file that cannot "
                                                        "exist on this system: %2 (%3)")
                                .arg(m_packageName, QDir::toNativeSeparators(place), problem));
            }
            if (!Platform::NamesIgnoreCase)
                break;
            const QString folded = Platform::foldedName(place);
            const QString action =
                ManifestReader::value(attributes, QLatin1String("action")).toLower();
            if (action == ActionRemove) {
                removedFiles.insert(folded, place);
                break;
            }
            if (action != ActionAdd && action != ActionPatch)
                break;
            const QString other = placedFiles.value(folded);
            if (other.isNull()) {
                placedFiles.insert(folded, place);
            } else if (other != place) {
                return fail(QCoreApplication::translate("PackageInstaller",
                                                        "The package %1 names one file twice, as "
                                                        "%2 and as %3, which this system takes for "
                                                        "the same name")
                                .arg(m_packageName, QDir::toNativeSeparators(other),
                                     QDir::toNativeSeparators(place)));
            }
            break;
        }
        }
    }
}

bool PackageInstaller::checkPackageAttributes(const QXmlStreamAttributes &attributes)
{
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (attribute.name() == QLatin1String("project") && attribute.value() != record.project())
            return fail(QCoreApplication::translate("PackageInstaller", "Wrong project!"));
        if (attribute.name() == QLatin1String("name") && attribute.value() != record.name())
            return fail(QCoreApplication::translate("PackageInstaller", "Wrong name!"));
        if (attribute.name() == QLatin1String("type") && attribute.value() != record.type())
            return fail(QCoreApplication::translate("PackageInstaller", "Wrong type!"));
    }
    return true;
}

bool PackageInstaller::applyFile(const QString &unpackDir, const QString &path, const QString &name,
                                 const QString &rowAction)
{
    // A patch row's entry is a frame, never a file to install: only a
    // prepared package holds the file it makes in its place.
    if (rowAction == ActionPatch && !m_prepared) {
        return fail(QCoreApplication::translate(
                        "PackageInstaller",
                        "Package %1 holds patches of installed files, which only a delta "
                        "installation can apply.")
                        .arg(m_packageName));
    }
    const QString action = rowAction == ActionPatch ? QString(ActionAdd) : rowAction;
    if (action == ActionRemove && m_renamedInCase.contains(rowPlace(path, name)))
        return true; // the file another row puts there in its new spelling

    const QString target = targetInRoot(path + QLatin1Char('/') + name);
    if (target.isEmpty())
        return true; // leads outside the install root: skipped without a word
    // The file to add lies at the same path below the unpacked archive: one
    // that climbs out of the root and back in would take it from outside the
    // archive (root "/opt/vemo", path "../../opt/vemo": "<TMPDIR>/opt/vemo").
    const QString unpacked = QDir::cleanPath(unpackDir);
    const QString source =
        QDir::cleanPath(unpacked + QLatin1Char('/') + path + QLatin1Char('/') + name);
    if (action == ActionAdd && !source.startsWith(unpacked + QLatin1Char('/')))
        return true;

    Platform::FileStatus before;
    const bool exists = lstatPath(target, &before);
    const bool ours = m_backups->wasCreated(target);
    const bool deletesTarget = action == ActionRemove || action == ActionAdd;
    if (exists && !clearTarget(target, before.mode, !ours, deletesTarget))
        return false;
    if (action != ActionAdd)
        return true;

    // Files named after the package's identity ("project_name_type...") are
    // the package's own bookkeeping, not part of the installation: they never
    // reach the root, and adding one only takes away (after its backup) a
    // copy that an older release left there.
    if (name.startsWith(m_identityPrefix))
        return true;

    // Each failure names what failed and the system's reason: a folder that
    // cannot be made, a journal that cannot be written, the copy itself.
    QString error;
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    if (!m_backups->makeDirectories(slash > 0 ? target.left(slash) : QStringLiteral("/"), &error))
        return fail(error, error);
    if (!exists && !ours && !m_backups->noteNewFile(target, &error))
        return fail(error, error);
    return placeFile(source, target, !(exists && before.isRegular()), before.mode);
}

bool PackageInstaller::clearTarget(const QString &target, uint mode, bool save,
                                   bool deletesTarget)
{
    bool movedAway = false;
    if (save) {
        QString error;
        const QString relative = target.mid(resolvedRoot().size() + 1);
        if (!m_backups->save(target, relative, mode, deletesTarget, &movedAway, &error))
            return fail(error, error);
    }

    // Links are removed and replaced themselves, never followed. A target
    // that cannot be removed (a read-only place) fails the package with the
    // system's reason: it must neither pass for removed nor block the copy
    // with a misleading one.
    const QByteArray encodedTarget = Platform::encodeName(target);
    if (!movedAway && deletesTarget
        && !Platform::removeFile(encodedTarget) && errno != ENOENT) {
        if (Platform::isFileInUse(errno)) {
            const QString message = FileInUse::message(target);
            return fail(message, message);
        }
        const QString reason = Platform::systemError(errno);
        return fail(QCoreApplication::translate("PackageInstaller", "Cannot write file %1 (%2)")
                        .arg(QDir::toNativeSeparators(target), reason),
                    reason);
    }
    return true;
}

bool PackageInstaller::placeFile(const QString &source, const QString &target, bool isNew,
                                 uint oldMode)
{
    // The unpacked file itself becomes the installed one where it can: it
    // is never written again, and the work directory goes at the end.
    QString error;
    if (!FileCopy::linkOrCopy(source, target, &error)) {
        return fail(QCoreApplication::translate("PackageInstaller", "Cannot copy file %1 to %2!")
                            .arg(QDir::toNativeSeparators(source), QDir::toNativeSeparators(target))
                        + QStringLiteral(" (%1)").arg(error),
                    error);
    }

    // A file it replaces hands on its mode; a new one gets the root's read
    // bits and the execute bits its entry had. Never writable by others.
    const QByteArray encodedTarget = Platform::encodeName(target);
    const uint mode = isNew ? modeForNewFile(source) : oldMode & 0755;
    Platform::setPermissions(encodedTarget, mode);

    if (RuntimeInstaller::isRuntimeInstaller(target))
        return runRuntimeInstaller(target);
    return true;
}

bool PackageInstaller::runRuntimeInstaller(const QString &target)
{
    Platform::setPermissions(Platform::encodeName(target), Platform::OwnerOnlyMode);
    QString problem;
    const bool ran = RuntimeInstaller::run(target, RuntimeInstaller::TimeoutMs, &problem);
    QFile::remove(target);
    if (!ran)
        return fail(problem);
    return true;
}

uint PackageInstaller::modeForNewFile(const QString &unpacked)
{
    // Read when first needed: a root made by this package did not exist at
    // set-up. Nothing changes it afterwards.
    if (m_rootMode == 0) {
        Platform::FileStatus root;
        if (lstatPath(resolvedRoot(), &root))
            m_rootMode = root.mode;
    }
    const uint rootMode = m_rootMode != 0 ? m_rootMode : 0755u;
    Platform::FileStatus entry;
    const uint entryMode = lstatPath(unpacked, &entry) ? entry.mode : 0u;
    // Read and write for the owner at least.
    const uint read = (rootMode & 0444) | 0400;
    return read | 0200 | (entryMode & 0111 & (read >> 2));
}

bool PackageInstaller::restore()
{
    m_errorString.clear();
    return !m_backups || m_backups->restore(&m_errorString);
}

void PackageInstaller::removeBackups() const
{
    if (m_backups)
        m_backups->removeBackups();
}

const QString &PackageInstaller::lexicalRoot() const
{
    if (m_lexicalRoot.isEmpty())
        m_lexicalRoot = absoluteClean(m_rootDir);
    return m_lexicalRoot;
}

const QString &PackageInstaller::resolvedRoot() const
{
    // The root never changes after construction; every target of a package
    // is compared with it.
    if (m_resolvedRoot.isEmpty())
        m_resolvedRoot = resolvedDirectory(absoluteClean(m_rootDir));
    return m_resolvedRoot;
}

QString PackageInstaller::resolvedDirectory(const QString &dir) const
{
    const auto cached = m_resolvedDirectories.constFind(dir);
    if (cached != m_resolvedDirectories.cend())
        return *cached;

    // The deepest part that exists, with its links resolved, followed by
    // the parts that do not exist yet (which hold no links).
    QString result = dir;
    QString head = dir;
    QStringList tail;
    for (;;) {
        Platform::FileStatus info;
        if (lstatPath(head, &info)) {
            const QString canonical = QFileInfo(head).canonicalFilePath();
            if (canonical.isEmpty()) {
                result.clear(); // a link that leads nowhere
            } else {
                tail.prepend(canonical == QLatin1String("/") ? QString() : canonical);
                result = tail.join(QLatin1Char('/'));
                if (result.isEmpty())
                    result = QStringLiteral("/");
            }
            break;
        }
        const QString parent = QFileInfo(head).absolutePath();
        if (parent == head)
            break;
        tail.prepend(QFileInfo(head).fileName());
        head = parent;
    }
    m_resolvedDirectories.insert(dir, result);
    return result;
}

QString PackageInstaller::targetInRoot(const QString &relative) const
{
    const QString &rootLexical = lexicalRoot();
    QString lexical;
    // Joined to the root, the path is the root followed by the path cleaned
    // on its own, unless that climbs above its start (and may come back):
    // then the whole joined path is cleaned, which costs more.
    qsizetype start = 0;
    while (start < relative.size() && relative.at(start) == QLatin1Char('/'))
        ++start;
    const QString cleaned = QDir::cleanPath(relative.mid(start));
    if (rootLexical != QLatin1String("/") && !cleaned.isEmpty() && cleaned != QLatin1String(".")
        && cleaned != QLatin1String("..") && !cleaned.startsWith(QLatin1String("../"))
        && !cleaned.startsWith(QLatin1Char('/'))) {
        lexical = rootLexical + QLatin1Char('/') + cleaned;
    } else {
        lexical = absoluteClean(m_rootDir + QLatin1Char('/') + relative);
        if (!lexical.startsWith(rootLexical + QLatin1Char('/'))
            && rootLexical != QLatin1String("/"))
            return QString();
        if (lexical == rootLexical)
            return QString();
    }

    const qsizetype slash = lexical.lastIndexOf(QLatin1Char('/'));
    const QString directory =
        resolvedDirectory(slash > 0 ? lexical.left(slash) : QStringLiteral("/"));
    const QString &root = resolvedRoot();
    if (directory.isEmpty() || root.isEmpty())
        return QString();
    const QString target = (directory == QLatin1String("/") ? QString() : directory)
                           + lexical.mid(slash);
    const QString rootPrefix = root == QLatin1String("/") ? root : root + QLatin1Char('/');
    if (!target.startsWith(rootPrefix))
        return QString();
    // The run's backups are no place for a package to write to.
    if (QStringView(target).mid(rootPrefix.size()).startsWith(InstallJournal::backupFolderPrefix()))
        return QString();
    return target;
}
