#include "packagetestsupport.h"

#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

#include <QCoreApplication>

#include <zstd.h>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/mount.h>
#endif

namespace {

constexpr int LocalHeaderSize = 30;
constexpr int MethodOffset = 8;
constexpr int NameLengthOffset = 26;
constexpr int ExtraLengthOffset = 28;
const QByteArray LocalHeaderSignature("PK\x03\x04", 4);

} // namespace

bool writeArchive(const QString &path, const ArchiveEntries &entries)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ZipWriter zip(path);
    for (const ArchiveEntry &entry : entries) {
        const bool ok = entry.name.endsWith('/') ? zip.addDirectory(entry.name)
                                                 : zip.addFile(entry.name, entry.content,
                                                               entry.method, entry.mode);
        if (!ok)
            return false;
    }
    return zip.close();
}

bool damageArchiveEntry(const QString &zipPath, const QByteArray &entryName, Damage damage)
{
    if (damage == Damage::None)
        return true;
    QFile file(zipPath);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();

    qsizetype header = -1;
    for (qsizetype at = bytes.indexOf(LocalHeaderSignature); at >= 0;
         at = bytes.indexOf(LocalHeaderSignature, at + 1)) {
        const uchar *raw = reinterpret_cast<const uchar *>(bytes.constData()) + at;
        const int nameLength = qFromLittleEndian<quint16>(raw + NameLengthOffset);
        if (bytes.mid(at + LocalHeaderSize, nameLength) == entryName) {
            header = at;
            break;
        }
    }
    if (header < 0)
        return false;

    const uchar *raw = reinterpret_cast<const uchar *>(bytes.constData()) + header;
    const qsizetype data = header + LocalHeaderSize + qFromLittleEndian<quint16>(raw + NameLengthOffset)
                           + qFromLittleEndian<quint16>(raw + ExtraLengthOffset);
    switch (damage) {
    case Damage::None:
        break;
    case Damage::CentralHeader: {
        const qsizetype central = bytes.indexOf(QByteArray("PK\x01\x02", 4), data);
        if (central < 0)
            return false;
        bytes[central + 2] = 'X';
        break;
    }
    case Damage::DeclaredSmall: {
        constexpr int LocalSizeOffset = 22;
        constexpr int CentralSizeOffset = 24;
        constexpr int CentralNameLengthOffset = 28;
        constexpr int CentralHeaderSize = 46;
        // The entry's own record in the archive's directory.
        qsizetype central = -1;
        for (qsizetype at = bytes.indexOf(QByteArray("PK\x01\x02", 4), data); at >= 0;
             at = bytes.indexOf(QByteArray("PK\x01\x02", 4), at + 1)) {
            const uchar *record = reinterpret_cast<const uchar *>(bytes.constData()) + at;
            const int length = qFromLittleEndian<quint16>(record + CentralNameLengthOffset);
            if (bytes.mid(at + CentralHeaderSize, length) == entryName) {
                central = at;
                break;
            }
        }
        if (central < 0)
            return false;
        for (const qsizetype at : {header + LocalSizeOffset, central + CentralSizeOffset}) {
            bytes[at] = char(1000 & 0xff);
            bytes[at + 1] = char(1000 >> 8);
            bytes[at + 2] = 0;
            bytes[at + 3] = 0;
        }
        break;
    }
    case Damage::FlipDataByte:
        bytes[data + 1] = char(bytes.at(data + 1) ^ 0x5a);
        break;
    case Damage::InvalidDeflateBlock:
        // Last block, type 3: a type that deflate does not have.
        bytes[data] = char(0xff);
        break;
    case Damage::LocalMethodMismatch:
        bytes[header + MethodOffset] = 99;
        break;
    }
    return file.seek(0) && file.write(bytes) == bytes.size();
}

PatchRow patchRow(const QByteArray &path, const QByteArray &name, const QByteArray &from,
                  const QByteArray &to)
{
    QByteArray frame(int(ZSTD_compressBound(size_t(to.size()))), Qt::Uninitialized);
    ZSTD_CCtx *context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_refPrefix(context, from.constData(), size_t(from.size()));
    const size_t size = ZSTD_compress2(context, frame.data(), size_t(frame.size()), to.constData(),
                                       size_t(to.size()));
    ZSTD_freeCCtx(context);
    frame.resize(ZSTD_isError(size) ? 0 : int(size));
    const auto sha256 = [](const QByteArray &bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    };
    return {"<file name=\"" + name + "\" path=\"" + path + "\" action=\"patch\" from-size=\""
                + QByteArray::number(from.size()) + "\" from-sha256=\"" + sha256(from)
                + "\" size=\"" + QByteArray::number(to.size()) + "\" sha256=\"" + sha256(to)
                + "\"/>",
            {path.isEmpty() ? name : path + '/' + name, frame, ZipWriter::Stored}};
}

UpdateInfo makeRecord(const QByteArray &project, const QByteArray &name, const QByteArray &type,
                      const QByteArray &link)
{
    return UpdateInfo(QString::fromUtf8(project), QString::fromUtf8(name), QString::fromUtf8(type),
                      QStringLiteral("2.0"), QStringLiteral("description"),
                      QStringLiteral("changelog"), QString::fromUtf8(link));
}

QString withSystemPaths(QString text)
{
    static const QRegularExpression systemPath(QStringLiteral("\\[\\[(.*?)\\]\\]"));
    for (QRegularExpressionMatch match = systemPath.match(text); match.hasMatch();
         match = systemPath.match(text, match.capturedStart()))
        text.replace(match.capturedStart(), match.capturedLength(),
                     QDir::toNativeSeparators(match.captured(1)));
    return text;
}

FileMap fileMap(const QString &root)
{
    FileMap files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(base.relativeFilePath(path), readFile(path));
    }
    return files;
}

bool writeFiles(const QString &root, const FileMap &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!writeFile(root + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    return true;
}

// Mounts need Linux; elsewhere the tests that want one skip themselves.
#ifdef Q_OS_LINUX
bool mountSmallFileSystem(const QString &path, const QByteArray &size)
{
    static const bool privateNamespace =
        ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!privateNamespace || !QDir().mkpath(path))
        return false;
    const QByteArray options = "size=" + size;
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData())
           == 0;
}

bool makeReadOnly(const QString &path)
{
    return ::mount(nullptr, QFile::encodeName(path).constData(), nullptr,
                   MS_REMOUNT | MS_RDONLY, nullptr)
           == 0;
}

void unmountSmallFileSystem(const QString &path)
{
    ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}
#else
bool mountSmallFileSystem(const QString &, const QByteArray &)
{
    return false;
}

bool makeReadOnly(const QString &)
{
    return false;
}

void unmountSmallFileSystem(const QString &) {}
#endif

bool requestsQuit(const std::function<void()> &action)
{
    constexpr int NoQuit = 77;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        action();
        // Only reached when the action left no quit request behind.
        QTimer::singleShot(0, &context, [] { QCoreApplication::exit(NoQuit); });
    });
    return QCoreApplication::exec() != NoQuit;
}
