#include "archiveextractor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <minizip/unzip.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Entry data is read from the archive in blocks of this size...
constexpr int ReadBlockSize = 4096;
// ...and written to disk in runs of up to this many bytes: a 4096-byte write
// per block made large files slow to unpack.
constexpr int WriteBufferSize = 64 * ReadBlockSize;
// Entry names are read into a buffer of this size, terminating zero included.
constexpr int NameBufferSize = 256;
// "Version made by" of an entry written on a Unix system: its external
// attributes then hold the file's mode in their upper half.
constexpr int UnixHost = 3;

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

// The archive, and the entry open in it, closed on every way out.
class UnzipHandle
{
public:
    explicit UnzipHandle(const QString &path)
        : m_file(unzOpen64(QFile::encodeName(path).constData()))
    {
    }
    ~UnzipHandle()
    {
        if (m_entryOpen)
            unzCloseCurrentFile(m_file);
        if (m_file)
            unzClose(m_file);
    }
    UnzipHandle(const UnzipHandle &) = delete;
    UnzipHandle &operator=(const UnzipHandle &) = delete;

    unzFile get() const { return m_file; }
    bool openEntry()
    {
        m_entryOpen = unzOpenCurrentFile(m_file) == UNZ_OK;
        return m_entryOpen;
    }
    // minizip's result: UNZ_CRCERROR when the data did not match its checksum.
    int closeEntry()
    {
        m_entryOpen = false;
        return unzCloseCurrentFile(m_file);
    }

private:
    unzFile m_file;
    bool m_entryOpen = false;
};

// The file being unpacked, closed on every way out.
class OutputFile
{
public:
    ~OutputFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool open(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        return m_fd >= 0;
    }
    bool write(const char *data, qsizetype size)
    {
        while (size > 0) {
            const ssize_t written = ::write(m_fd, data, size_t(size));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (written == 0)
                    errno = EIO;
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }
    bool finish(mode_t mode)
    {
        const int fd = m_fd;
        m_fd = -1;
        const bool changed = ::fchmod(fd, mode) == 0;
        return ::close(fd) == 0 && changed;
    }

private:
    int m_fd = -1;
};

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

ArchiveExtractor::ArchiveExtractor(const QString &archivePath, const QString &unpackDir)
    : m_archivePath(archivePath)
    , m_unpackDir(unpackDir)
{
}

bool ArchiveExtractor::fail(const QString &message, const QString &errorText)
{
    m_message = message;
    m_errorText = errorText;
    return false;
}

bool ArchiveExtractor::extract(const QString &skippedEntry, QStringList *installedList)
{
    QDir().mkpath(m_unpackDir);
    UnzipHandle archive(m_archivePath);
    if (!archive.get()) {
        if (isEmptyZipArchive(m_archivePath))
            return true;
        return fail(
            QCoreApplication::translate("translation", "Unable to open update archive", "nc"));
    }

    // First the archive's directory alone: every entry readable, and room
    // for what the entries declare. The sizes count only as a bound; the
    // extraction below holds every entry to its declared size.
    qint64 declared = 0;
    int status = UNZ_OK;
    for (; status == UNZ_OK; status = unzGoToNextFile(archive.get())) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0)
            != UNZ_OK)
            return fail(
                QCoreApplication::translate("translation", "Cannot read file from archive!", "nc"));
        declared += qint64(qMin<ZPOS64_T>(info.uncompressed_size, ZPOS64_T(1) << 50));
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        return fail(
            QCoreApplication::translate("translation", "Cannot read file from archive!", "nc"));
    const QStorageInfo storage(m_unpackDir);
    if (storage.isValid() && declared > storage.bytesAvailable()) {
        const QLocale locale;
        return fail(QCoreApplication::translate(
                        "translation",
                        "Not enough free space to unpack the update in %1: it needs %2, and %3 "
                        "are free.",
                        "nc")
                        .arg(QDir::toNativeSeparators(QDir::cleanPath(m_unpackDir)),
                             locale.formattedDataSize(declared),
                             locale.formattedDataSize(storage.bytesAvailable())));
    }
    if (unzGoToFirstFile(archive.get()) != UNZ_OK)
        return fail(
            QCoreApplication::translate("translation", "Cannot read file from archive!", "nc"));

    std::vector<char> buffer(WriteBufferSize);
    do {
        ++m_entryCount;
        // The information record comes along with the name because its
        // size_filename gives the name's full length: a name that does not fit
        // the buffer arrives cut short and would be extracted under another name.
        unz_file_info64 info;
        char nameBuffer[NameBufferSize] = {};
        if (unzGetCurrentFileInfo64(archive.get(), &info, nameBuffer, sizeof nameBuffer, nullptr, 0,
                                    nullptr, 0)
            != UNZ_OK)
            return fail(
                QCoreApplication::translate("translation", "Cannot read file from archive!", "nc"));

        const qsizetype nameLength = qstrnlen(nameBuffer, sizeof nameBuffer);
        const QString entryName = QString::fromLatin1(nameBuffer, nameLength);
        if (info.size_filename >= uLong(NameBufferSize) || uLong(nameLength) != info.size_filename
            || !isSafeEntryName(entryName)) {
            return fail(QCoreApplication::translate("translation",
                                                    "Invalid file name in update archive: %1", "nc")
                            .arg(entryName));
        }

        if (entryName.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(m_unpackDir + entryName);
            continue;
        }

        const QString destination = m_unpackDir + entryName;
        if (entryName.contains(QLatin1Char('/')))
            QDir().mkpath(QFileInfo(destination).absolutePath());

        OutputFile output;
        if (!output.open(destination)) {
            const QString error = systemError();
            return fail(
                QCoreApplication::translate("translation", "Cannot create file %1 (%2)", "nc")
                    .arg(entryName, error),
                error);
        }
        if (!archive.openEntry()) {
            return fail(
                QCoreApplication::translate("translation", "Cannot extract update file (%1)!", "nc")
                    .arg(entryName));
        }

        // Blocks are read one after the other into the buffer and written out
        // together when the next one might not fit.
        const qint64 declaredSize = qint64(info.uncompressed_size);
        qint64 total = 0;
        qsizetype filled = 0;
        for (;;) {
            const int count =
                unzReadCurrentFile(archive.get(), buffer.data() + filled, ReadBlockSize);
            if (count < 0) {
                // What was read before the damage stays in the file.
                output.write(buffer.data(), filled);
                return fail(QCoreApplication::translate("translation",
                                                        "Cannot read file from archive!", "nc"));
            }
            total += count;
            if (total > declaredSize) {
                return fail(QCoreApplication::translate(
                                "translation",
                                "File %1 in the update archive is larger than the archive says.",
                                "nc")
                                .arg(entryName));
            }
            filled += count;
            if (count > 0 && filled + ReadBlockSize <= qsizetype(buffer.size()))
                continue;
            if (!output.write(buffer.data(), filled)) {
                const QString error = systemError();
                return fail(
                    QCoreApplication::translate("translation", "Cannot write file %1 (%2)", "nc")
                        .arg(entryName, error),
                    error);
            }
            filled = 0;
            if (count == 0)
                break;
        }

        const bool unixEntry = (info.version >> 8) == UnixHost;
        const mode_t executable = unixEntry ? mode_t((info.external_fa >> 16) & 0111) : 0;
        if (!output.finish(S_IRUSR | S_IWUSR | executable)) {
            const QString error = systemError();
            return fail(
                QCoreApplication::translate("translation", "Cannot write file %1 (%2)", "nc")
                    .arg(entryName, error),
                error);
        }

        // A stored entry whose bytes were damaged reads to its end without
        // complaint; only the checksum, tested when the entry is closed, tells.
        if (archive.closeEntry() == UNZ_CRCERROR) {
            return fail(QCoreApplication::translate("translation",
                                                    "Damaged file in update archive: %1", "nc")
                            .arg(entryName));
        }

        if (entryName != skippedEntry)
            installedList->append(QLatin1String(" - ") + entryName);
    } while (unzGoToNextFile(archive.get()) == UNZ_OK);
    return true;
}
