#include "packagebuilder.h"

#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include <cerrno>

namespace {

// The updater reads entry names into a 256-byte buffer with its final zero.
constexpr int MaximumEntryNameBytes = 255;

// Names that Latin-1 holds go into the archive as Latin-1, unflagged, as
// updaters that read every name as Latin-1 expect; other names go in as
// UTF-8, flagged, byte for byte as the file system has them (ZipWriter).
bool checkEntryName(const QString &name, QString *error)
{
    if (name.toUtf8().size() > MaximumEntryNameBytes) {
        *error = QStringLiteral("%1 cannot be stored: archive entry names are limited to %2 bytes")
                     .arg(name)
                     .arg(MaximumEntryNameBytes);
        return false;
    }
    return true;
}

} // namespace

PackageBuilder::PackageBuilder(const QString &folder, const QString &outputPath)
    : m_folder(folder)
    , m_outputPath(outputPath)
{
}

void PackageBuilder::setManifest(const QByteArray &xml)
{
    m_manifest = xml;
    m_generate = false;
}

void PackageBuilder::setGeneratedManifest(const PackageManifest &base)
{
    m_base = base;
    m_generate = true;
}

QString PackageBuilder::manifestEntryName(const QString &urlPath, QString *error)
{
    if (!urlPath.startsWith(QLatin1Char('/'))) {
        *error = QStringLiteral("The URL path %1 must begin with \"/\"").arg(urlPath);
        return {};
    }
    const QStringList parts = urlPath.mid(1).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) {
            *error = QStringLiteral("The URL path %1 must not contain empty, \".\" or \"..\" parts")
                         .arg(urlPath);
            return {};
        }
    }
    if (parts.last().size() <= 4) {
        *error = QStringLiteral("The URL path %1 is too short: the manifest takes the place of "
                                "its last four characters")
                     .arg(urlPath);
        return {};
    }
    const QString name = urlPath.mid(1).chopped(4) + QStringLiteral(".xml");
    if (!checkEntryName(name, error))
        return {};
    return name;
}

bool PackageBuilder::checkOutput(QString *outputDir)
{
    const QFileInfo output(m_outputPath);
    *outputDir = output.absolutePath();
    if (!QFileInfo(*outputDir).isDir()) {
        m_error = QStringLiteral("Cannot write %1: the folder %2 does not exist")
                      .arg(m_outputPath, *outputDir);
        return false;
    }
    if (output.isDir()) {
        m_error = QStringLiteral("Cannot write %1: it is a folder").arg(m_outputPath);
        return false;
    }
    const QString packed = QFileInfo(m_folder).canonicalFilePath() + QLatin1Char('/');
    const QString target = QFileInfo(*outputDir).canonicalFilePath() + QLatin1Char('/');
    if (target.startsWith(packed)) {
        m_error = QStringLiteral("Cannot write %1 inside the folder %2 that it packs")
                      .arg(m_outputPath, m_folder);
        return false;
    }
    return true;
}

bool PackageBuilder::collectFiles(QStringList *files)
{
    const QString root = QFileInfo(m_folder).absoluteFilePath();
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        if (!checkEntryName(relative, &m_error))
            return false;
        files->append(relative);
    }
    files->sort();
    return true;
}

bool PackageBuilder::writeArchive(const QString &path, const QStringList &files,
                                  const QString &manifestName, const QByteArray &manifest)
{
    ZipWriter zip(path, ZipWriter::Latin1Names);
    if (!zip.isOpen()) {
        m_error = zip.errorString();
        return false;
    }
    if (!zip.addFile(manifestName.toUtf8(), manifest, m_method)) {
        m_error = zip.errorString();
        return false;
    }
    for (const QString &file : files) {
        if (!zip.addFileFrom(file.toUtf8(), m_folder + QLatin1Char('/') + file, m_method)) {
            m_error = zip.errorString();
            return false;
        }
    }
    if (!zip.close()) {
        m_error = zip.errorString();
        return false;
    }
    return true;
}

bool PackageBuilder::build()
{
    m_entries.clear();
    const QFileInfo folder(m_folder);
    if (!folder.exists()) {
        m_error = QStringLiteral("The folder %1 does not exist").arg(m_folder);
        return false;
    }
    if (!folder.isDir()) {
        m_error = QStringLiteral("%1 is not a folder").arg(m_folder);
        return false;
    }
    QString outputDir;
    if (!checkOutput(&outputDir))
        return false;
    const QString urlPath = m_urlPath.isEmpty()
                                ? QLatin1Char('/') + QFileInfo(m_outputPath).fileName()
                                : m_urlPath;
    const QString manifestName = manifestEntryName(urlPath, &m_error);
    if (manifestName.isEmpty())
        return false;
    QStringList files;
    if (!collectFiles(&files))
        return false;
    if (files.contains(manifestName)) {
        m_error = QStringLiteral("The folder %1 already holds %2, the archive entry of the "
                                 "manifest")
                      .arg(m_folder, manifestName);
        return false;
    }

    QByteArray manifest = m_manifest;
    if (m_generate) {
        PackageManifest generated(m_base.project(), m_base.name(), m_base.type());
        for (const QString &file : files) {
            const int slash = file.lastIndexOf(QLatin1Char('/'));
            generated.addFile({slash < 0 ? QString() : file.left(slash), file.mid(slash + 1),
                               PackageManifest::Add});
        }
        for (const PackageManifest::File &file : m_base.files())
            generated.addFile(file);
        manifest = generated.toXml();
    } else {
        QXmlStreamReader reader(manifest);
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError()) {
            m_error = QStringLiteral("The manifest is not well-formed XML: line %1, column %2: %3")
                          .arg(reader.lineNumber())
                          .arg(reader.columnNumber())
                          .arg(reader.errorString());
            return false;
        }
    }

    const QString outputName = QFileInfo(m_outputPath).fileName();
    QString temporaryPath;
    {
        QTemporaryFile temporary(outputDir + QStringLiteral("/.") + outputName
                                 + QStringLiteral(".XXXXXX"));
        if (!temporary.open()) {
            m_error = QStringLiteral("Cannot create a temporary file in %1: %2")
                          .arg(outputDir, temporary.errorString());
            return false;
        }
        temporary.setAutoRemove(false);
        temporaryPath = temporary.fileName();
        // QTemporaryFile keeps its file open until it goes, and Windows
        // renames no file that is open.
    }
    auto removeTemporary = qScopeGuard([&] { QFile::remove(temporaryPath); });
    if (!writeArchive(temporaryPath, files, manifestName, manifest))
        return false;
    // QTemporaryFile creates its file readable by the owner only; a package
    // is meant to be served.
    QFile::setPermissions(temporaryPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
                                             | QFile::WriteUser | QFile::ReadGroup
                                             | QFile::ReadOther);
    if (!Platform::rename(Platform::encodeName(temporaryPath), Platform::encodeName(m_outputPath))) {
        m_error = QStringLiteral("Cannot rename %1 to %2: %3")
                      .arg(temporaryPath, m_outputPath, Platform::systemError(errno));
        return false;
    }
    removeTemporary.dismiss();
    m_entries = QStringList{manifestName} + files;
    return true;
}
