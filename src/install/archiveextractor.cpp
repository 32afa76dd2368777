#include "archiveextractor.h"

#include "compactstringlist.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>
#include <QStringDecoder>

#include <minizip/unzip.h>

#include <cerrno>
#include <climits>
#include <cstring>
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
// The archive is read through windows of this size, one for each place where
// minizip reads in turn (the central directory at the end, the entries'
// headers and data from the start).
constexpr qint64 ReadWindowSize = 128 * 1024;
constexpr int ReadWindowCount = 2;

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

// An entry's name is UTF-8 when the archive says so (general-purpose flag
// bit 11, set by zip tools for names outside ASCII), else read as Latin-1.
// The name reaches the disk in the file system's encoding (UTF-8) exactly as
// decoded, never normalised, so the manifest names it by the same bytes. A
// name flagged as UTF-8 that is not would land under another name: refused.
// A leading byte-order mark is part of the name: dropped, the entry would
// land on the file named without it.
constexpr uLong Utf8NameFlag = 1 << 11;

QString entryNameFrom(const char *bytes, qsizetype length, uLong flags, bool *decoded)
{
    if (!(flags & Utf8NameFlag))
        return QString::fromLatin1(bytes, length);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString name = utf8(QByteArrayView(bytes, length));
    *decoded = !utf8.hasError();
    return name;
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

// The archive file as minizip reads it. minizip reads an entry's header in
// pieces of a few bytes, and goes back and forth between the central
// directory and the entries; through the C library's streams that took
// several system calls per entry. Here every read is served from windows of
// the file read with pread(), so an archive of many small entries costs
// about one system call per window.
class ArchiveFile
{
public:
    static voidpf open(voidpf, const void *path, int mode)
    {
        if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
            return nullptr;
        Platform::FileHandle file(Platform::openForReading(static_cast<const char *>(path)));
        Platform::FileStatus info;
        if (!file.isOpen() || !Platform::fileStatus(file.get(), &info))
            return nullptr;
        const qint64 size = info.size;
        return new ArchiveFile(file.release(), size);
    }
    static uLong read(voidpf, voidpf stream, void *buffer, uLong size)
    {
        return uLong(static_cast<ArchiveFile *>(stream)->read(static_cast<char *>(buffer),
                                                              qint64(size)));
    }
    static uLong write(voidpf, voidpf, const void *, uLong) { return 0; }
    static ZPOS64_T tell(voidpf, voidpf stream)
    {
        return ZPOS64_T(static_cast<ArchiveFile *>(stream)->m_position);
    }
    static long seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
    {
        auto *file = static_cast<ArchiveFile *>(stream);
        qint64 base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR)
            base = file->m_position;
        else if (origin == ZLIB_FILEFUNC_SEEK_END)
            base = file->m_size;
        else if (origin != ZLIB_FILEFUNC_SEEK_SET)
            return -1;
        const qint64 position = base + qint64(offset);
        if (position < 0)
            return -1;
        file->m_position = position;
        return 0;
    }
    static int close(voidpf, voidpf stream)
    {
        delete static_cast<ArchiveFile *>(stream);
        return 0;
    }
    static int error(voidpf, voidpf stream) { return static_cast<ArchiveFile *>(stream)->m_error; }

    static zlib_filefunc64_def functions()
    {
        zlib_filefunc64_def functions;
        functions.zopen64_file = &ArchiveFile::open;
        functions.zread_file = &ArchiveFile::read;
        functions.zwrite_file = &ArchiveFile::write;
        functions.ztell64_file = &ArchiveFile::tell;
        functions.zseek64_file = &ArchiveFile::seek;
        functions.zclose_file = &ArchiveFile::close;
        functions.zerror_file = &ArchiveFile::error;
        functions.opaque = nullptr;
        return functions;
    }

private:
    ArchiveFile(int fd, qint64 size)
        : m_fd(fd)
        , m_size(size)
    {
    }
    ~ArchiveFile() { Platform::closeFile(m_fd); }

    struct Window
    {
        std::vector<char> bytes;
        qint64 start = 0;
        quint64 lastUse = 0;
    };

    qint64 read(char *buffer, qint64 size)
    {
        qint64 done = 0;
        while (done < size && m_position < m_size) {
            Window *window = windowAt(m_position);
            if (!window)
                break;
            const qint64 offset = m_position - window->start;
            const qint64 count = qMin(size - done, qint64(window->bytes.size()) - offset);
            std::memcpy(buffer + done, window->bytes.data() + offset, size_t(count));
            done += count;
            m_position += count;
        }
        return done;
    }

    // The window that holds the byte at position, read into the one used
    // longest ago when none does.
    Window *windowAt(qint64 position)
    {
        Window *oldest = &m_windows[0];
        for (Window &window : m_windows) {
            if (position >= window.start && position < window.start + qint64(window.bytes.size())) {
                window.lastUse = ++m_uses;
                return &window;
            }
            if (window.lastUse < oldest->lastUse)
                oldest = &window;
        }
        oldest->bytes.resize(size_t(ReadWindowSize));
        const qint64 count = Platform::readAt(m_fd, oldest->bytes.data(),
                                              qint64(oldest->bytes.size()), position);
        if (count <= 0) {
            oldest->bytes.clear();
            m_error = count < 0 ? errno : 0;
            return nullptr;
        }
        oldest->bytes.resize(size_t(count));
        oldest->start = position;
        oldest->lastUse = ++m_uses;
        return oldest;
    }

    int m_fd;
    qint64 m_size;
    qint64 m_position = 0;
    Window m_windows[ReadWindowCount];
    quint64 m_uses = 0;
    int m_error = 0;
};

} // namespace

// The archive, and the entry open in it, closed on every way out.
class ArchiveExtractor::UnzipHandle
{
public:
    explicit UnzipHandle(const QString &path)
    {
        zlib_filefunc64_def functions = ArchiveFile::functions();
        m_file = unzOpen2_64(Platform::encodeName(path).constData(), &functions);
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
    unzFile m_file = nullptr;
    bool m_entryOpen = false;
};

// The file being unpacked, closed on every way out.
class ArchiveExtractor::OutputFile
{
public:
    // The new file gets its mode as it is made. Only where the process's
    // umask takes bits away, or the file was there already (an entry named
    // twice), does finish() set the mode as well.
    bool open(const QString &path, uint mode, uint umask)
    {
        const QByteArray name = Platform::encodeName(path);
        m_file.reset(Platform::createNoFollow(name, mode, false));
        m_setMode = (mode & umask) != 0;
        if (!m_file.isOpen() && errno == EEXIST) {
            m_file.reset(Platform::createNoFollow(name, mode, true));
            m_setMode = true;
        }
        m_mode = mode;
        return m_file.isOpen();
    }
    bool write(const char *data, qsizetype size)
    {
        return Platform::writeAll(m_file.get(), data, size);
    }
    bool finish()
    {
        const bool changed = !m_setMode || Platform::setPermissions(m_file.get(), m_mode);
        return m_file.close() && changed;
    }

private:
    Platform::FileHandle m_file;
    uint m_mode = 0;
    bool m_setMode = true;
};

namespace {

QString systemError()
{
    return Platform::systemError(errno);
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

void ArchiveExtractor::makeDirectory(const QString &path)
{
    if (m_madeDirectories.contains(path))
        return;
    QDir().mkpath(path);
    m_madeDirectories.insert(path);
}

bool ArchiveExtractor::extract(const QString &skippedEntry, CompactStringList *installedList,
                               const Step &step)
{
    QDir().mkpath(m_unpackDir);
    UnzipHandle archive(m_archivePath);
    if (!archive.get()) {
        if (isEmptyZipArchive(m_archivePath))
            return true;
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Unable to open update archive"));
    }
    int entries = 0;
    if (!checkDirectory(archive, &entries))
        return false;

    const uint umask = Platform::creationMask();
    std::vector<char> buffer(WriteBufferSize);
    do {
        if (step && m_entryCount > 0)
            step(m_entryCount, entries);
        ++m_entryCount;
        if (!extractEntry(archive, skippedEntry, installedList, umask, buffer))
            return false;
    } while (unzGoToNextFile(archive.get()) == UNZ_OK);
    if (step)
        step(m_entryCount, entries);
    return true;
}

bool ArchiveExtractor::checkDirectory(UnzipHandle &archive, int *entries)
{
    // The sizes count only as a bound; the extraction holds every entry to
    // its declared size.
    qint64 declared = 0;
    int status = UNZ_OK;
    for (; status == UNZ_OK; status = unzGoToNextFile(archive.get())) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0)
            != UNZ_OK)
            return fail(
                QCoreApplication::translate("ArchiveExtractor", "Cannot read file from archive!"));
        declared += qint64(qMin<ZPOS64_T>(info.uncompressed_size, ZPOS64_T(1) << 50));
        if (*entries < INT_MAX)
            ++*entries;
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Cannot read file from archive!"));
    const QStorageInfo storage(m_unpackDir);
    if (storage.isValid() && declared > storage.bytesAvailable()) {
        const QLocale locale;
        return fail(QCoreApplication::translate(
                        "ArchiveExtractor",
                        "Not enough free space to unpack the update in %1: it needs %2, and %3 "
                        "are free.")
                        .arg(QDir::toNativeSeparators(QDir::cleanPath(m_unpackDir)),
                             locale.formattedDataSize(declared),
                             locale.formattedDataSize(storage.bytesAvailable())));
    }
    if (unzGoToFirstFile(archive.get()) != UNZ_OK)
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Cannot read file from archive!"));
    return true;
}

bool ArchiveExtractor::extractEntry(UnzipHandle &archive, const QString &skippedEntry,
                                    CompactStringList *installedList, uint umask,
                                    std::vector<char> &buffer)
{
    // The information record comes along with the name because its
    // size_filename gives the name's full length: a name that does not fit
    // the buffer arrives cut short and would be extracted under another name.
    unz_file_info64 info;
    char nameBuffer[NameBufferSize] = {};
    if (unzGetCurrentFileInfo64(archive.get(), &info, nameBuffer, sizeof nameBuffer, nullptr, 0,
                                nullptr, 0)
        != UNZ_OK)
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Cannot read file from archive!"));

    bool nameDecoded = true;
    if (info.size_filename >= uLong(NameBufferSize)) {
        // Read again whole, so that the message names the entry.
        QByteArray whole(qsizetype(info.size_filename) + 1, '\0');
        unzGetCurrentFileInfo64(archive.get(), nullptr, whole.data(), uLong(whole.size()),
                                nullptr, 0, nullptr, 0);
        return fail(QCoreApplication::translate("ArchiveExtractor",
                                                "A file name in the update archive is too long "
                                                "(%1 bytes, at most %2): %3")
                        .arg(QString::number(info.size_filename),
                             QString::number(NameBufferSize - 1),
                             entryNameFrom(whole.constData(), qstrnlen(whole.constData(),
                                                                       whole.size()),
                                           info.flag, &nameDecoded)));
    }
    const qsizetype nameLength = qstrnlen(nameBuffer, sizeof nameBuffer);
    const QString entryName = entryNameFrom(nameBuffer, nameLength, info.flag, &nameDecoded);
    if (uLong(nameLength) != info.size_filename || !nameDecoded || !isSafeEntryName(entryName)) {
        return fail(QCoreApplication::translate("ArchiveExtractor",
                                                "Invalid file name in update archive: %1")
                        .arg(entryName));
    }
    // A name that this system would turn into another name or a device, or
    // refuse, fails here rather than while the installation is under way.
    const QString nameProblem = Platform::nameProblem(entryName);
    if (!nameProblem.isEmpty()) {
        return fail(QCoreApplication::translate("ArchiveExtractor",
                                                "The update archive holds a file whose name "
                                                "cannot exist on this system: %1 (%2)")
                        .arg(entryName, nameProblem));
    }

    if (entryName.endsWith(QLatin1Char('/'))) {
        makeDirectory(m_unpackDir + entryName);
        return true;
    }

    // Where names differ in case only, a later entry in another spelling
    // would land on an earlier one, and the manifest's row take the wrong
    // file.
    if (Platform::NamesIgnoreCase) {
        const QString folded = Platform::foldedName(QDir::cleanPath(entryName));
        const QString earlier = m_unpackedFiles.value(folded);
        if (!earlier.isNull() && earlier != entryName) {
            return fail(QCoreApplication::translate("ArchiveExtractor",
                                                    "The update archive holds one file twice, as "
                                                    "%1 and as %2, which this system takes for the "
                                                    "same name")
                            .arg(earlier, entryName));
        }
        m_unpackedFiles.insert(folded, entryName);
    }

    const QString destination = m_unpackDir + entryName;
    const qsizetype slash = destination.lastIndexOf(QLatin1Char('/'));
    if (slash >= m_unpackDir.size())
        makeDirectory(destination.left(slash));

    // Unpacked files carry the execute bits of their entries.
    const bool unixEntry = (info.version >> 8) == UnixHost;
    const uint executable = unixEntry ? uint((info.external_fa >> 16) & 0111) : 0;
    if (!unpackFile(archive, entryName, 0600 | executable, umask,
                    qint64(info.uncompressed_size), buffer))
        return false;

    if (entryName != skippedEntry)
        installedList->append(QLatin1String(" - ") + entryName);
    return true;
}

bool ArchiveExtractor::unpackFile(UnzipHandle &archive, const QString &entryName, uint mode,
                                  uint umask, qint64 declaredSize, std::vector<char> &buffer)
{
    OutputFile output;
    if (!output.open(m_unpackDir + entryName, mode, umask)) {
        const QString error = systemError();
        return fail(QCoreApplication::translate("ArchiveExtractor", "Cannot create file %1 (%2)")
                        .arg(entryName, error),
                    error);
    }
    if (!archive.openEntry()) {
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Cannot extract update file (%1)!")
                .arg(entryName));
    }
    if (!copyEntry(archive, output, entryName, declaredSize, buffer))
        return false;

    if (!output.finish()) {
        const QString error = systemError();
        return fail(QCoreApplication::translate("ArchiveExtractor", "Cannot write file %1 (%2)")
                        .arg(entryName, error),
                    error);
    }

    // A stored entry whose bytes were damaged reads to its end without
    // complaint; only the checksum, tested when the entry is closed, tells.
    if (archive.closeEntry() == UNZ_CRCERROR) {
        return fail(
            QCoreApplication::translate("ArchiveExtractor", "Damaged file in update archive: %1")
                .arg(entryName));
    }
    return true;
}

bool ArchiveExtractor::copyEntry(UnzipHandle &archive, OutputFile &output,
                                 const QString &entryName, qint64 declaredSize,
                                 std::vector<char> &buffer)
{
    // Blocks are read one after the other into the buffer and written out
    // together when the next one might not fit.
    qint64 total = 0;
    qsizetype filled = 0;
    for (;;) {
        const int count = unzReadCurrentFile(archive.get(), buffer.data() + filled, ReadBlockSize);
        if (count < 0) {
            // What was read before the damage stays in the file.
            output.write(buffer.data(), filled);
            return fail(
                QCoreApplication::translate("ArchiveExtractor", "Cannot read file from archive!"));
        }
        total += count;
        if (total > declaredSize) {
            return fail(QCoreApplication::translate(
                            "ArchiveExtractor",
                            "File %1 in the update archive is larger than the archive says.")
                            .arg(entryName));
        }
        filled += count;
        if (count > 0 && filled + ReadBlockSize <= qsizetype(buffer.size()))
            continue;
        if (!output.write(buffer.data(), filled)) {
            const QString error = systemError();
            return fail(QCoreApplication::translate("ArchiveExtractor", "Cannot write file %1 (%2)")
                            .arg(entryName, error),
                        error);
        }
        filled = 0;
        if (count == 0)
            return true;
    }
}
