#include "deltapackage.h"

#include "archiveextractor.h"
#include "engine/archivedigest.h"
#include "engine/removetree.h"
#include "filepatch.h"
#include "installjournal.h"
#include "manifestreader.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamAttributes>

#include <cerrno>

namespace {

// The manifest's name drops the dot and three letters of the archive's.
constexpr int ArchiveExtensionLength = 4;

// The row's place below the root, cleaned; empty when it would leave the
// root (or name the root itself) or lie in the run's backups, the places
// where the installer would skip it.
QString relativeTarget(const QString &path, const QString &name)
{
    QString relative = path + QLatin1Char('/') + name;
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    relative = QDir::cleanPath(relative);
    if (relative.isEmpty() || relative == QLatin1String(".") || relative == QLatin1String("..")
        || relative.startsWith(QLatin1String("../")) || relative.startsWith(QLatin1Char('/'))
        || relative.startsWith(InstallJournal::backupFolderPrefix()))
        return QString();
    return relative;
}

// Whether a folder on the way from the root to relative is a link: the
// installed file is read only where the installer would find it without
// following one.
bool passesLink(const QString &root, const QString &relative)
{
    qsizetype slash = relative.indexOf(QLatin1Char('/'));
    while (slash > 0) {
        Platform::FileStatus status;
        const QString folder = root + QLatin1Char('/') + relative.left(slash);
        if (Platform::nameStatus(Platform::encodeName(folder), &status) && status.isLink())
            return true;
        slash = relative.indexOf(QLatin1Char('/'), slash + 1);
    }
    return false;
}

// The file that the link installed leads to, when that is inside root and
// outside the run's backups; empty otherwise. The installer replaces the
// link itself with the new file, as an "add" row of a full package does:
// only the content the patch starts from is read through the link. What it
// leads to is opened without following links and must be a regular file,
// as every installed file the patches read.
QString linkedFile(const QString &root, const QString &installed)
{
    const QString target = QFileInfo(installed).canonicalFilePath();
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (target.isEmpty() || canonicalRoot.isEmpty())
        return QString();
    const QString rootPrefix = canonicalRoot.endsWith(QLatin1Char('/'))
                                   ? canonicalRoot
                                   : canonicalRoot + QLatin1Char('/');
    if (!target.startsWith(rootPrefix)
        || QStringView(target).mid(rootPrefix.size()).startsWith(InstallJournal::backupFolderPrefix()))
        return QString();
    return target;
}

class Preparation
{
public:
    Preparation(const QString &unpackDir, const QString &root, PreparedPackage *prepared,
                QString *reason, const std::atomic_bool *cancelled,
                const DeltaPackage::Progress &progress)
        : m_unpackDir(QDir::cleanPath(unpackDir))
        , m_root(QDir::cleanPath(root))
        , m_prepared(prepared)
        , m_reason(reason)
        , m_cancelled(cancelled)
        , m_progress(progress)
    {
    }

    bool patchAll();

private:
    bool fail(const QString &reason)
    {
        *m_reason = reason;
        return false;
    }
    bool patch(const QXmlStreamAttributes &attributes);
    // The sizes of all patch rows, for the progress; false when the
    // manifest cannot be read (patchAll() then says why).
    bool countBytes();
    // A new file in the unpack directory that no entry has taken.
    QString freeName();

    const QString m_unpackDir;
    const QString m_root;
    PreparedPackage *m_prepared;
    QString *m_reason;
    const std::atomic_bool *m_cancelled;
    const DeltaPackage::Progress &m_progress;
    int m_nameCounter = 0;
    qint64 m_bytesDone = 0;
    qint64 m_bytesTotal = 0;
};

bool Preparation::countBytes()
{
    ManifestReader reader;
    if (!reader.open(m_prepared->manifestPath))
        return false;
    for (;;) {
        switch (reader.next()) {
        case ManifestReader::End:
            return true;
        case ManifestReader::Error:
            return false;
        case ManifestReader::Package:
            break;
        case ManifestReader::File: {
            const QXmlStreamAttributes attributes = reader.attributes();
            if (ManifestReader::value(attributes, QLatin1String("action")).toLower()
                == QLatin1String("patch")) {
                m_bytesTotal += qMax(qint64(0), ArchiveDigest::byteCount(ManifestReader::value(
                                                    attributes, QLatin1String("size"))));
            }
            break;
        }
        }
    }
}

bool Preparation::patchAll()
{
    if (m_progress && countBytes())
        m_progress(0, m_bytesTotal);
    ManifestReader reader;
    if (!reader.open(m_prepared->manifestPath)) {
        return fail(QCoreApplication::translate("DeltaPackage", "Cannot read the manifest of the delta package (%1).")
                        .arg(reader.errorString()));
    }
    for (;;) {
        switch (reader.next()) {
        case ManifestReader::End:
            return true;
        case ManifestReader::Error:
            return fail(QCoreApplication::translate("DeltaPackage", "The manifest of the delta package is damaged: %1")
                            .arg(reader.errorString()));
        case ManifestReader::Package:
            break;
        case ManifestReader::File: {
            const QXmlStreamAttributes attributes = reader.attributes();
            const QString action =
                ManifestReader::value(attributes, QLatin1String("action")).toLower();
            if (m_cancelled && *m_cancelled)
                return fail(QCoreApplication::translate("DeltaPackage", "Cancelled."));
            if (action == QLatin1String("patch") && !patch(attributes))
                return false;
            break;
        }
        }
    }
}

bool Preparation::patch(const QXmlStreamAttributes &attributes)
{
    const QString path = ManifestReader::value(attributes, QLatin1String("path"));
    const QString name = ManifestReader::value(attributes, QLatin1String("name"));
    const QString relative = relativeTarget(path, name);
    if (relative.isEmpty())
        return fail(QCoreApplication::translate("DeltaPackage", "The patch of \"%1\" names a place outside the installation.")
                        .arg(path + QLatin1Char('/') + name));
    // Checked before the installed file is read: a stream or device name
    // would read something other than the file.
    const QString nameProblem = Platform::nameProblem(relative);
    if (!nameProblem.isEmpty())
        return fail(QCoreApplication::translate("DeltaPackage", "The patch of %1 names a file that cannot exist on this system (%2).")
                        .arg(QDir::toNativeSeparators(relative), nameProblem));

    FilePatch::Versions versions;
    versions.name = QDir::toNativeSeparators(relative);
    versions.fromSha256 = ManifestReader::value(attributes, QLatin1String("from-sha256")).toLatin1();
    versions.sha256 = ManifestReader::value(attributes, QLatin1String("sha256")).toLatin1();
    versions.fromSize =
        ArchiveDigest::byteCount(ManifestReader::value(attributes, QLatin1String("from-size")));
    versions.size =
        ArchiveDigest::byteCount(ManifestReader::value(attributes, QLatin1String("size")));
    if (versions.fromSize < 0 || versions.size < 0
        || !ArchiveDigest::isHexDigest(versions.fromSha256)
        || !ArchiveDigest::isHexDigest(versions.sha256)) {
        return fail(QCoreApplication::translate("DeltaPackage", "The patch of %1 lacks valid sizes or SHA-256 digests.").arg(QDir::toNativeSeparators(relative)));
    }

    // The frame is the entry at the row's place, as the file of an "add"
    // row would be; a row that climbs out of the unpack directory and back
    // in names no entry.
    const QString frame = QDir::cleanPath(m_unpackDir + QLatin1Char('/') + relative);
    if (!frame.startsWith(m_unpackDir + QLatin1Char('/')))
        return fail(QCoreApplication::translate("DeltaPackage", "The patch of %1 is not in the package.").arg(QDir::toNativeSeparators(relative)));
    Platform::FileStatus status;
    if (!Platform::nameStatus(Platform::encodeName(frame), &status) || !status.isRegular())
        return fail(QCoreApplication::translate("DeltaPackage", "The patch of %1 is not in the package.").arg(QDir::toNativeSeparators(relative)));
    if (passesLink(m_root, relative))
        return fail(QCoreApplication::translate("DeltaPackage", "The installed file %1 lies beyond a link.").arg(QDir::toNativeSeparators(relative)));

    QString installed = m_root + QLatin1Char('/') + relative;
    if (Platform::nameStatus(Platform::encodeName(installed), &status) && status.isLink()) {
        installed = linkedFile(m_root, installed);
        if (installed.isEmpty())
            return fail(QCoreApplication::translate("DeltaPackage", "The installed file %1 is a link that leads to no file in the installation.").arg(QDir::toNativeSeparators(relative)));
    }

    const QString output = freeName();
    if (output.isEmpty())
        return fail(QCoreApplication::translate("DeltaPackage", "Cannot make a file in %1.").arg(QDir::toNativeSeparators(m_unpackDir)));
    if (!FilePatch::apply(installed, frame, output, versions, m_reason, m_cancelled))
        return false;
    if (!Platform::rename(Platform::encodeName(output), Platform::encodeName(frame))) {
        const QString error = Platform::systemError(errno);
        Platform::removeFile(Platform::encodeName(output));
        return fail(QCoreApplication::translate("DeltaPackage", "Cannot write file %1 (%2).").arg(QDir::toNativeSeparators(frame), error));
    }
    ++m_prepared->patchedFiles;
    m_bytesDone += versions.size;
    if (m_progress)
        m_progress(m_bytesDone, m_bytesTotal);
    return true;
}

QString Preparation::freeName()
{
    for (int tries = 0; tries < 1000; ++tries) {
        const QString name = QStringLiteral("%1/.patched-%2").arg(m_unpackDir).arg(++m_nameCounter);
        Platform::FileStatus status;
        if (!Platform::nameStatus(Platform::encodeName(name), &status) && errno == ENOENT)
            return name;
    }
    return QString();
}

} // namespace

namespace DeltaPackage {

QString manifestEntry(const QString &urlPath)
{
    QString entry = urlPath;
    entry.chop(ArchiveExtensionLength);
    entry += QLatin1String(".xml");
    while (entry.startsWith(QLatin1Char('/')))
        entry.remove(0, 1);
    return entry;
}

bool prepare(const QString &archive, const QString &urlPath, const QString &unpackDir,
             const QString &root, PreparedPackage *prepared, QString *reason,
             const std::atomic_bool *cancelled, const Progress &progress)
{
    *prepared = PreparedPackage();
    prepared->unpackDir = unpackDir;
    const QString entry = manifestEntry(urlPath);
    prepared->manifestPath = QDir::cleanPath(unpackDir + QLatin1Char('/') + entry);

    // Files left there by an earlier run must never stand in for entries.
    removeTree(unpackDir);
    // The extractor joins the folder and each entry's name as they are.
    ArchiveExtractor extractor(archive, QDir::cleanPath(unpackDir) + QLatin1Char('/'));
    if (!extractor.extract(entry, &prepared->installedList)) {
        *reason = extractor.errorText().isEmpty()
                      ? extractor.message()
                      : QStringLiteral("%1 (%2)").arg(extractor.message(), extractor.errorText());
        return false;
    }
    prepared->entryCount = extractor.entryCount();
    if (prepared->entryCount == 0)
        return true;
    return Preparation(unpackDir, root, prepared, reason, cancelled, progress).patchAll();
}

} // namespace DeltaPackage
