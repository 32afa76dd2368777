#include "packageinstaller.h"

#include "engine/messenger.h"
#include "engine/updateinfo.h"
#include "filecopy.h"
#include "removetree.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QXmlStreamReader>

#include <minizip/unzip.h>

#include <utility>
#include <vector>

namespace {

// Entry data is read from the archive in blocks of this size...
constexpr int ReadBlockSize = 4096;
// ...and written to disk in runs of up to this many bytes: a 4096-byte write
// per block made large files slow to unpack.
constexpr int WriteBufferSize = 64 * ReadBlockSize;
// Name under which a restored file is staged beside its target.
const QLatin1String RestoreSuffix(".vemo-restore");
// Entry names are read into a buffer of this size, terminating zero included.
constexpr int NameBufferSize = 256;
// The file name extension (dot and three letters) that the archive's URL
// path ends with and the manifest's name lacks.
constexpr int ArchiveExtensionLength = 4;

const QLatin1String AppType("app");
const QLatin1String PluginType("plugin");
const QLatin1String AppDataEntry("APPDATA=");
const QLatin1String PluginFolder("/Vemo/plugins/");
const QLatin1String ActionAdd("add");
const QLatin1String ActionRemove("remove");
const QLatin1String RuntimeInstaller("vcredist.exe");

void showFailure(const QString &text)
{
    MessageBoxes::critical(MessageBoxes::updateTitle(), text);
}

QString normalisedPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool existsOrIsLink(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The package name becomes a directory directly below the work directory.
bool isSafePackageName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QChar(0));
}

// An entry is written to the unpack directory followed by its name, so the
// name must be relative and must not climb above its start. Both separators
// count, as archives made on Windows may use either.
bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        return false; // a drive: "C:x", "C:\x"

    QString parts = name;
    parts.replace(QLatin1Char('\\'), QLatin1Char('/'));
    int depth = 0;
    for (const QString &part : parts.split(QLatin1Char('/'))) {
        if (part == QLatin1String("..")) {
            if (--depth < 0)
                return false;
        } else if (!part.isEmpty() && part != QLatin1String(".")) {
            ++depth;
        }
    }
    return true;
}

// minizip cannot open a zip archive without entries (its end record then
// stands at offset 0, which the library takes for "not found"). Such an
// archive is valid and simply holds nothing to extract.
bool isEmptyZipArchive(const QString &path)
{
    constexpr qint64 EndRecordSize = 22;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < EndRecordSize
        || file.size() > EndRecordSize + 0xffff)
        return false;
    const QByteArray bytes = file.readAll();
    const auto field = [&bytes](int offset) {
        return int(uchar(bytes.at(offset))) | int(uchar(bytes.at(offset + 1))) << 8;
    };
    return bytes.startsWith(QByteArray("PK\x05\x06", 4)) && field(8) == 0 && field(10) == 0
           && EndRecordSize + field(20) == bytes.size();
}

QString attributeValue(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (attribute.name() == name)
            return attribute.value().toString();
    }
    return QString();
}

} // namespace

PackageInstaller::PackageInstaller(const UpdateInfo &record)
    : record(record)
    , m_packageName(recordText(record.name()))
    , m_manifestBase(QUrl(recordText(record.link())).path())
{
    m_manifestBase.chop(ArchiveExtensionLength);

    const QString type = recordText(record.type());
    if (type == AppType) {
        const bool found =
            Messenger::installationDirectory(QCoreApplication::arguments(), &m_rootDir);
        if (!found || !QFile::exists(Messenger::executablePath(m_rootDir))) {
            showFailure(QCoreApplication::translate("translation", "Cannot run update!", "nc"));
            // Takes effect when control is back in the event loop; the install
            // run in progress goes on until then.
            QCoreApplication::quit();
            return;
        }
    } else if (type == PluginType) {
        const QStringList environment = QProcess::systemEnvironment();
        for (const QString &entry : environment) {
            if (entry.startsWith(AppDataEntry)) {
                m_rootDir = entry.mid(AppDataEntry.size()) + PluginFolder;
                break;
            }
        }
    }

    if (!m_rootDir.isEmpty())
        m_rootPermissions = QFile::permissions(m_rootDir);
}

bool PackageInstaller::install(const QString &workDir, QString *errorText,
                               QStringList *installedList)
{
    // Both checks come before anything is written: a bad name would put the
    // unpack directory outside the work directory, and an empty root would
    // resolve every target from the file system's root.
    if (!isSafePackageName(m_packageName)) {
        showFailure(QCoreApplication::translate("translation", "Invalid package name \"%1\"!", "nc")
                        .arg(m_packageName));
        return false;
    }
    if (m_rootDir.isEmpty()) {
        showFailure(QCoreApplication::translate(
                        "translation", "Cannot find the folder to install package %1 into!", "nc")
                        .arg(m_packageName));
        return false;
    }

    const QString unpackDir = workDir + QLatin1Char('/') + m_packageName + QLatin1Char('/');
    m_backupDir = unpackDir + QLatin1String("/unwind/");
    QDir().mkpath(unpackDir);
    QDir().mkpath(m_backupDir);

    const QString archivePath = workDir + QLatin1Char('/') + QUrl(recordText(record.link())).path();
    if (!extractArchive(archivePath, unpackDir, errorText, installedList))
        return false;
    return applyManifest(unpackDir);
}

bool PackageInstaller::extractArchive(const QString &archivePath, const QString &unpackDir,
                                      QString *errorText, QStringList *installedList)
{
    unzFile archive = unzOpen(QFile::encodeName(archivePath).constData());
    if (!archive && isEmptyZipArchive(archivePath))
        return true;
    if (!archive) {
        showFailure(
            QCoreApplication::translate("translation", "Unable to open update archive", "nc"));
        return false;
    }

    const QString manifestEntry = m_packageName + QLatin1String(".xml");
    std::vector<char> buffer(WriteBufferSize);
    do {
        // The information record comes along with the name because its
        // size_filename gives the name's full length: a name that does not fit
        // the buffer arrives cut short and would be extracted under another name.
        unz_file_info info;
        char nameBuffer[NameBufferSize] = {};
        if (unzGetCurrentFileInfo(archive, &info, nameBuffer, sizeof nameBuffer, nullptr, 0,
                                  nullptr, 0)
            != UNZ_OK) {
            // The archive's directory is damaged where this entry is described.
            unzClose(archive);
            showFailure(
                QCoreApplication::translate("translation", "Cannot read file from archive!", "nc"));
            return false;
        }

        const qsizetype nameLength = qstrnlen(nameBuffer, sizeof nameBuffer);
        const QString entryName = QString::fromLatin1(nameBuffer, nameLength);
        if (info.size_filename >= uLong(NameBufferSize) || uLong(nameLength) != info.size_filename
            || !isSafeEntryName(entryName)) {
            unzClose(archive);
            showFailure(QCoreApplication::translate(
                            "translation", "Invalid file name in update archive: %1", "nc")
                            .arg(entryName));
            return false;
        }

        if (entryName.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(unpackDir + entryName);
            continue;
        }

        const QString destination = unpackDir + entryName;
        if (entryName.contains(QLatin1Char('/')))
            QDir().mkpath(QFileInfo(destination).absolutePath());

        // Unbuffered, so that a write the disk cannot take fails at once
        // instead of later in a flush that nobody checks.
        QFile output(destination);
        if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            *errorText = output.errorString();
            unzClose(archive);
            showFailure(
                QCoreApplication::translate("translation", "Cannot create file %1 (%2)", "nc")
                    .arg(entryName, output.errorString()));
            return false;
        }

        if (unzOpenCurrentFile(archive) != UNZ_OK) {
            unzClose(archive);
            showFailure(
                QCoreApplication::translate("translation", "Cannot extract update file (%1)!", "nc")
                    .arg(entryName));
            return false;
        }

        // Blocks are read one after the other into the buffer and written out
        // together when the next one might not fit.
        qsizetype filled = 0;
        const auto writeOut = [&output, &buffer, &filled] {
            const bool written = output.write(buffer.data(), filled) == filled;
            filled = 0;
            return written;
        };
        for (;;) {
            const int count = unzReadCurrentFile(archive, buffer.data() + filled, ReadBlockSize);
            if (count > 0) {
                filled += count;
                if (filled + ReadBlockSize <= qsizetype(buffer.size()))
                    continue;
            } else if (count < 0) {
                // What was read before the damage stays in the file.
                writeOut();
                unzCloseCurrentFile(archive);
                unzClose(archive);
                showFailure(QCoreApplication::translate("translation",
                                                        "Cannot read file from archive!", "nc"));
                return false;
            }
            if (!writeOut()) {
                *errorText = output.errorString();
                unzCloseCurrentFile(archive);
                unzClose(archive);
                showFailure(
                    QCoreApplication::translate("translation", "Cannot write file %1 (%2)", "nc")
                        .arg(entryName, output.errorString()));
                return false;
            }
            if (count == 0)
                break;
        }
        output.close();

        // A stored entry whose bytes were damaged reads to its end without
        // complaint; only the checksum, tested when the entry is closed, tells.
        if (unzCloseCurrentFile(archive) == UNZ_CRCERROR) {
            unzClose(archive);
            showFailure(QCoreApplication::translate("translation",
                                                    "Damaged file in update archive: %1", "nc")
                            .arg(entryName));
            return false;
        }

        if (entryName != manifestEntry)
            installedList->append(QLatin1String(" - ") + entryName);
    } while (unzGoToNextFile(archive) == UNZ_OK);

    unzClose(archive);
    return true;
}

bool PackageInstaller::applyManifest(const QString &unpackDir)
{
    // An absent or unreadable manifest reads as an empty document, and
    // malformed XML ends the reading where the error is: neither is a failure.
    QFile manifest(QStringLiteral("%1/%2.xml").arg(unpackDir, m_manifestBase));
    if (!manifest.open(QIODevice::ReadOnly))
        return true;

    QXmlStreamReader reader(&manifest);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("package")) {
            if (!checkPackageAttributes(reader.attributes()))
                return false;
        } else if (reader.name() == QLatin1String("file")) {
            const QXmlStreamAttributes attributes = reader.attributes();
            if (!applyFile(unpackDir, attributeValue(attributes, QLatin1String("path")),
                           attributeValue(attributes, QLatin1String("name")),
                           attributeValue(attributes, QLatin1String("action")).toLower()))
                return false;
        }
    }
    return true;
}

bool PackageInstaller::checkPackageAttributes(const QXmlStreamAttributes &attributes)
{
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (attribute.name() == QLatin1String("project")
            && attribute.value() != recordText(record.project())) {
            showFailure(QCoreApplication::translate("translation", "Wrong project!", "nc"));
            return false;
        }
        if (attribute.name() == QLatin1String("name")
            && attribute.value() != recordText(record.name())) {
            showFailure(QCoreApplication::translate("translation", "Wrong name!", "nc"));
            return false;
        }
        if (attribute.name() == QLatin1String("type")
            && attribute.value() != recordText(record.type())) {
            showFailure(QCoreApplication::translate("translation", "Wrong type!", "nc"));
            return false;
        }
    }
    return true;
}

bool PackageInstaller::applyFile(const QString &unpackDir, const QString &path,
                                 const QString &name, const QString &action)
{
    const QString target = targetInRoot(path + QLatin1Char('/') + name);
    if (target.isEmpty())
        return true; // leads outside the install root: skipped without a word

    const bool targetExists = QFileInfo::exists(target);
    const bool deletesTarget = action == ActionRemove || action == ActionAdd;
    bool movedAway = false;
    if (targetExists && !backUp(target, path, name, deletesTarget, &movedAway))
        return false;

    if (action == ActionRemove) {
        if (targetExists && !movedAway)
            QFile::remove(target);
        return true;
    }
    if (action != ActionAdd)
        return true;

    if (targetExists && !movedAway)
        QFile::remove(target);
    QDir().mkpath(QFileInfo(target).absolutePath());

    // Files named after the package's identity ("project_name_type...") are
    // the package's own bookkeeping, not part of the installation: they never
    // reach the root, and adding one only takes away (after its backup) a
    // copy that an older release left there.
    const QString identityPrefix = QStringLiteral("%1_%2_%3")
                                       .arg(recordText(record.project()), recordText(record.name()),
                                            recordText(record.type()));
    if (name.startsWith(identityPrefix))
        return true;

    const QString source =
        QDir::cleanPath(unpackDir + QLatin1Char('/') + path + QLatin1Char('/') + name);
    if (!FileCopy::copyToNew(source, target)) {
        showFailure(QCoreApplication::translate("translation", "Cannot copy file %1 to %2!", "nc")
                        .arg(source, target));
        return false;
    }

    if (target.endsWith(RuntimeInstaller)) {
        // Files extracted here carry no execute right; the runtime installer
        // needs one to be started at all.
        QFile::setPermissions(target, m_rootPermissions | QFileDevice::ExeOwner);
        QProcess::execute(target, {QStringLiteral("/Q")});
        QFile::remove(target);
    }
    // A root that does not exist yet (a first plug-in) reports no rights at
    // all; its files keep the rights they were unpacked with rather than
    // becoming unreadable.
    if (m_rootPermissions.toInt() != 0 && QFileInfo::exists(target))
        QFile::setPermissions(target, m_rootPermissions);
    return true;
}

bool PackageInstaller::backUp(const QString &target, const QString &path, const QString &name,
                              bool deletesTarget, bool *movedAway)
{
    const QString backupPath = backupPathFor(target);

    // Targets are kept by their path below the root, which names the backup
    // just as well in a third of the memory.
    const QString savedKey = target.mid(rootPrefix().size());
    const bool savedBefore = m_savedBackupPaths.contains(savedKey);

    // A target met again keeps its first copy, the content from before the
    // update. At the first meeting whatever lies at the backup's place (an
    // archive entry under "unwind/") is no backup and gives way.
    if (!savedBefore) {
        QDir().mkpath(QFileInfo(backupPath).absolutePath());
        const QFileInfo stale(backupPath);
        if (stale.isDir() && !stale.isSymLink())
            removeTree(backupPath);
        else if (stale.exists() || stale.isSymLink())
            QFile::remove(backupPath);
        // A target that is deleted next anyway becomes its own backup: moving
        // it keeps the content, the rights and the disk space of the
        // original, at the cost of a rename instead of a copy.
        *movedAway = deletesTarget && FileCopy::moveRegularFile(target, backupPath);
        if (!*movedAway && !FileCopy::copyToNew(target, backupPath)) {
            showFailure(
                QCoreApplication::translate("translation", "Cannot back up file %1 to %2!", "nc")
                    .arg(target, backupPath));
            return false;
        }
        m_savedBackupPaths.insert(savedKey);
    }

    if (!m_backedUpDirSet.contains(path)) {
        m_backedUpDirSet.insert(path);
        m_backedUpDirs.append(path);
    }
    m_backedUpFiles.append(path + QLatin1Char('/') + name);
    return true;
}

bool PackageInstaller::restore(const QString &workDir)
{
    m_backupDir = workDir + QLatin1Char('/') + m_packageName + QLatin1String("/unwind/");

    const QString &prefix = rootPrefix();
    for (const QString &path : std::as_const(m_backedUpDirs)) {
        const QString directory = normalisedPath(m_rootDir + QLatin1Char('/') + path);
        // Only directories within the install root are created again.
        if (directory + QLatin1Char('/') != prefix && !directory.startsWith(prefix))
            continue;
        if (!existsOrIsLink(directory) && !QDir().mkpath(directory))
            return false;
    }

    for (const QString &file : std::as_const(m_backedUpFiles)) {
        const QString target = targetInRoot(file);
        const QString saved = backupPathFor(target);
        // The current file goes only when its replacement is there.
        if (target.isEmpty() || !QFileInfo(saved).isFile())
            return false;
        const QString directory = QFileInfo(target).absolutePath();
        if (!existsOrIsLink(directory))
            QDir().mkpath(directory);
        if (!FileCopy::replaceWith(saved, target, RestoreSuffix))
            return false;
    }
    return true;
}

const QString &PackageInstaller::rootPrefix() const
{
    // The root never changes after construction; every target of a package
    // is compared with it.
    if (m_rootPrefix.isEmpty()) {
        const QString root = normalisedPath(m_rootDir);
        m_rootPrefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    }
    return m_rootPrefix;
}

QString PackageInstaller::targetInRoot(const QString &relative) const
{
    const QString target = normalisedPath(m_rootDir + QLatin1Char('/') + relative);
    return target.startsWith(rootPrefix()) ? target : QString();
}

QString PackageInstaller::backupPathFor(const QString &target) const
{
    return QDir::cleanPath(m_backupDir + target.mid(rootPrefix().size()));
}
