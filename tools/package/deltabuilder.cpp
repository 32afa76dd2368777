#include "deltabuilder.h"

#include "archivedigest.h"
#include "install/archiveextractor.h"
#include "install/compactstringlist.h"
#include "packagebuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <zlib.h>
#include <zstd.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr qint64 BlockSize = 1024 * 1024;

// A file mapped whole for reading (an empty one maps to nothing).
class MappedInput
{
public:
    bool open(const QString &path, QString *error)
    {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Cannot read %1: %2").arg(path, m_file.errorString());
            return false;
        }
        m_size = m_file.size();
        if (m_size > 0 && !(m_data = m_file.map(0, m_size))) {
            *error = QStringLiteral("Cannot map %1: %2").arg(path, m_file.errorString());
            return false;
        }
        return true;
    }
    const uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }

private:
    QFile m_file;
    uchar *m_data = nullptr;
    qint64 m_size = 0;
};

// The bytes the file takes deflated, as the zip stores an "add" row's file.
qint64 deflatedSize(const MappedInput &input)
{
    z_stream stream = {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY)
        != Z_OK)
        return -1;
    std::vector<Bytef> out(BlockSize);
    qint64 total = 0;
    qint64 offset = 0;
    int result = Z_OK;
    do {
        const qint64 run = qMin(BlockSize, input.size() - offset);
        stream.next_in = const_cast<Bytef *>(input.data() + offset);
        stream.avail_in = uInt(run);
        offset += run;
        const int flush = offset >= input.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = out.data();
            stream.avail_out = uInt(out.size());
            result = deflate(&stream, flush);
            total += qint64(out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    } while (result != Z_STREAM_END && result >= 0);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? total : -1;
}

QByteArray sha256(const MappedInput &input)
{
    ArchiveDigest digest;
    digest.addData(reinterpret_cast<const char *>(input.data()), input.size());
    return digest.hexResult();
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    const QDir base(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(base.relativeFilePath(it.next()));
    files.sort();
    return files;
}

// Whether the updater would patch the file at relative below folder: a
// regular file, or a link that leads to one inside folder.
bool patchable(const QString &folder, const QString &relative)
{
    const QFileInfo file(folder + QLatin1Char('/') + relative);
    if (!file.isSymLink())
        return true;
    const QString target = file.canonicalFilePath();
    const QString root = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    return !target.isEmpty() && target.startsWith(root) && QFileInfo(target).isFile();
}

// The manifest of an unpacked package: the one ".xml" file with a "package"
// element that names its component.
bool findManifest(const QString &folder, const QStringList &files, QString *manifestFile,
                  PackageManifest *identity)
{
    for (const QString &file : files) {
        if (!file.endsWith(QLatin1String(".xml")))
            continue;
        QFile xml(folder + QLatin1Char('/') + file);
        if (!xml.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader reader(&xml);
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement
                && reader.name() == QLatin1String("package")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                if (!attributes.hasAttribute(QLatin1String("name")))
                    break;
                *manifestFile = file;
                *identity = PackageManifest(attributes.value(QLatin1String("project")).toString(),
                                            attributes.value(QLatin1String("name")).toString(),
                                            attributes.value(QLatin1String("type")).toString());
                return true;
            }
        }
    }
    return false;
}

struct CContextDeleter
{
    void operator()(ZSTD_CCtx *context) const { ZSTD_freeCCtx(context); }
};

int highBit(quint64 value)
{
    int bit = 0;
    while (value >>= 1)
        ++bit;
    return bit;
}

} // namespace

DeltaBuilder::DeltaBuilder(const QString &from, const QString &to, const QString &outputPath)
    : m_from(from)
    , m_to(to)
    , m_outputPath(outputPath)
{
}

void DeltaBuilder::setIdentity(const QString &project, const QString &name, const QString &type)
{
    m_project = project;
    m_name = name;
    m_type = type;
}

bool DeltaBuilder::makeFrame(const QString &oldFile, const QString &newFile,
                             const QString &frame, int level, QString *error)
{
    MappedInput before;
    MappedInput after;
    if (!before.open(oldFile, error) || !after.open(newFile, error))
        return false;
    QFile output(frame);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("Cannot write %1: %2").arg(frame, output.errorString());
        return false;
    }
    std::unique_ptr<ZSTD_CCtx, CContextDeleter> context(ZSTD_createCCtx());
    // The window reaches from the end of the new file back to the start of
    // the old one; the updater accepts up to four times the larger file
    // (plus 1 MiB), which this never exceeds.
    const quint64 reach = quint64(before.size() + after.size());
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    const int windowLog =
        qBound(bounds.lowerBound, highBit(qMax(reach, quint64(1))) + 1, qMin(bounds.upperBound, 31));
    const auto failed = [](size_t result) { return ZSTD_isError(result) != 0; };
    if (!context || failed(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level))
        || failed(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog))
        || failed(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1))
        || failed(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1))
        || failed(ZSTD_CCtx_setPledgedSrcSize(context.get(), quint64(after.size())))
        || failed(ZSTD_CCtx_refPrefix(context.get(), before.data(), size_t(before.size())))) {
        *error = QStringLiteral("Cannot set up the compression of %1").arg(newFile);
        return false;
    }
    std::vector<char> out(ZSTD_CStreamOutSize());
    ZSTD_inBuffer input = {after.data(), size_t(after.size()), 0};
    size_t remaining = 0;
    do {
        ZSTD_outBuffer buffer = {out.data(), out.size(), 0};
        remaining = ZSTD_compressStream2(context.get(), &buffer, &input, ZSTD_e_end);
        if (ZSTD_isError(remaining)) {
            *error = QStringLiteral("Cannot compress %1: %2")
                         .arg(newFile, QString::fromLatin1(ZSTD_getErrorName(remaining)));
            return false;
        }
        if (output.write(out.data(), qint64(buffer.pos)) != qint64(buffer.pos)) {
            *error = QStringLiteral("Cannot write %1: %2").arg(frame, output.errorString());
            return false;
        }
    } while (remaining != 0);
    if (!output.flush()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(frame, output.errorString());
        return false;
    }
    return true;
}

bool DeltaBuilder::open(const QString &path, Version *version)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        version->folder = info.absoluteFilePath();
        return true;
    }
    if (!info.isFile()) {
        m_error = QStringLiteral("%1 is neither a folder nor a package").arg(path);
        return false;
    }
    version->unpacked = std::make_unique<QTemporaryDir>();
    if (!version->unpacked->isValid()) {
        m_error = QStringLiteral("Cannot make a temporary folder: %1")
                      .arg(version->unpacked->errorString());
        return false;
    }
    version->folder = version->unpacked->path();
    // The extractor joins the folder and each entry's name as they are.
    ArchiveExtractor extractor(path, version->folder + QLatin1Char('/'));
    CompactStringList entries;
    if (!extractor.extract(QString(), &entries)) {
        m_error = QStringLiteral("Cannot unpack %1: %2 %3")
                      .arg(path, extractor.message(), extractor.errorText());
        return false;
    }
    QString manifestFile;
    if (!findManifest(version->folder, filesBelow(version->folder), &manifestFile,
                      &version->manifest)) {
        m_error = QStringLiteral("%1 holds no package manifest").arg(path);
        return false;
    }
    // The manifest belongs to the package, not to the installed files.
    QFile::remove(version->folder + QLatin1Char('/') + manifestFile);
    version->isPackage = true;
    return true;
}

bool DeltaBuilder::stage(const QString &staging, PackageManifest *manifest)
{
    const QStringList oldFiles = filesBelow(m_old.folder);
    const QStringList newFiles = filesBelow(m_new.folder);
    QVector<PackageManifest::File> rows;
    for (const QString &file : newFiles) {
        const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
        PackageManifest::File row{slash < 0 ? QString() : file.left(slash), file.mid(slash + 1)};
        const QString newPath = m_new.folder + QLatin1Char('/') + file;
        const QString stagedPath = staging + QLatin1Char('/') + file;
        if (!QDir().mkpath(QFileInfo(stagedPath).absolutePath())) {
            m_error = QStringLiteral("Cannot make a folder for %1").arg(stagedPath);
            return false;
        }
        MappedInput after;
        if (!after.open(newPath, &m_error))
            return false;
        if (oldFiles.contains(file)) {
            MappedInput before;
            if (!before.open(m_old.folder + QLatin1Char('/') + file, &m_error))
                return false;
            if (before.size() == after.size()
                && (after.size() == 0
                    || std::memcmp(before.data(), after.data(), size_t(after.size())) == 0)) {
                ++m_counts.unchanged;
                continue;
            }
            // Through a link in the old version the updater patches only a
            // regular file inside the installation: a link that leads
            // elsewhere goes whole.
            const bool linked = !patchable(m_old.folder, file);
            if (!linked
                && !makeFrame(m_old.folder + QLatin1Char('/') + file, newPath, stagedPath, m_level,
                              &m_error))
                return false;
            const qint64 whole = deflatedSize(after);
            if (!linked && (whole < 0 || QFileInfo(stagedPath).size() < whole)) {
                row.action = PackageManifest::Patch;
                row.fromSize = before.size();
                row.fromSha256 = sha256(before);
                row.size = after.size();
                row.sha256 = sha256(after);
                rows.append(row);
                ++m_counts.patched;
                continue;
            }
            QFile::remove(stagedPath);
        }
        if (!QFile::copy(newPath, stagedPath)) {
            m_error = QStringLiteral("Cannot copy %1 to %2").arg(newPath, stagedPath);
            return false;
        }
        row.action = PackageManifest::Add;
        rows.append(row);
        ++m_counts.added;
    }
    for (const QString &file : oldFiles) {
        if (newFiles.contains(file))
            continue;
        const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
        rows.append({slash < 0 ? QString() : file.left(slash), file.mid(slash + 1),
                     PackageManifest::Remove});
        ++m_counts.removed;
    }
    for (const PackageManifest::File &row : rows)
        manifest->addFile(row);
    return true;
}

bool DeltaBuilder::build()
{
    m_counts = Counts();
    if (!open(m_from, &m_old) || !open(m_to, &m_new))
        return false;
    if (m_name.isEmpty() && m_new.isPackage) {
        m_project = m_new.manifest.project();
        m_name = m_new.manifest.name();
        m_type = m_new.manifest.type();
    }
    if (m_name.isEmpty()) {
        m_error = QStringLiteral("The delta needs --project, --name and --type (the new version "
                                 "is no package)");
        return false;
    }
    QTemporaryDir staging;
    if (!staging.isValid()) {
        m_error = QStringLiteral("Cannot make a temporary folder: %1").arg(staging.errorString());
        return false;
    }
    PackageManifest manifest(m_project, m_name, m_type);
    if (!stage(staging.path(), &manifest))
        return false;
    PackageBuilder builder(staging.path(), m_outputPath);
    if (!m_urlPath.isEmpty())
        builder.setUrlPath(m_urlPath);
    builder.setManifest(manifest.toXml());
    if (!builder.build()) {
        m_error = builder.errorString();
        return false;
    }
    return true;
}
