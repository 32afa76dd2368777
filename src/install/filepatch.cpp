#include "filepatch.h"

#include "engine/archivedigest.h"
#include "platform/filemapping.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <memory>
#include <vector>

// The frame's header and the block-by-block decoder are zstd's advanced
// interface, kept because the stable one cannot hold memory flat for a
// large file: ZSTD_decompressStream() decodes into a window buffer of its
// own as large as the window (for a patch, the whole result), and its
// single-pass path, straight into a mapped result, runs as one call, so the
// mapped pages it walks over (counted in the process's resident memory)
// cannot be handed back until the whole file is made. The block decoder
// returns after each block. Its functions may change between zstd
// releases, so a library other than the one built with is not used (see
// libraryMatches()).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

constexpr quint64 MiB = 1024 * 1024;
constexpr quint64 MaxWindow = 2048 * MiB;
// Mapped pages are handed back after each such run of output. Each run
// maps the pages it writes and those its matches reach, which lie anywhere
// in the installed file and in what was made before it.
constexpr qint64 ReleaseInterval = 2 * MiB;
// The installed file is hashed in reads of this size.
constexpr qint64 HashBlock = 1 * MiB;

struct ContextDeleter
{
    void operator()(ZSTD_DCtx *context) const { ZSTD_freeDCtx(context); }
    void operator()(ZSTD_DDict *dictionary) const { ZSTD_freeDDict(dictionary); }
};

// A file opened from a handle of the file layer and mapped whole; an empty
// file maps to nothing.
class MappedFile
{
public:
    ~MappedFile() { close(); }

    // Unmaps and closes the file: Windows removes no file that is mapped.
    void close()
    {
        if (m_data)
            m_file.unmap(m_data);
        m_data = nullptr;
        m_file.close();
    }

    bool map(int fd, qint64 size, QIODevice::OpenMode mode, QString *error)
    {
        if (!Platform::openForMapping(&m_file, fd, mode, error))
            return false;
        m_size = size;
        if (size == 0)
            return true;
        m_data = m_file.map(0, size);
        if (!m_data) {
            *error = m_file.errorString();
            return false;
        }
        Platform::adviseRandomAccess(m_data, size);
        return true;
    }

    uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }
    void release(qint64 size) const { Platform::releaseMappedPages(m_data, size); }
    bool prepareForWriting(qint64 offset, qint64 size) const
    {
        return Platform::prepareForWriting(m_file.handle(), offset, m_data + offset, size);
    }

    // The SHA-256 of the file, read with the file's own reads rather than
    // through the mapping: they read ahead as a mapping marked for random
    // access does not, and leave nothing mapped. Empty when *cancelled
    // turned true first; false with errno set when a read fails.
    bool sha256(QByteArray *hex, const std::atomic_bool *cancelled) const
    {
        ArchiveDigest digest;
        std::vector<char> block(size_t(qMin(HashBlock, qMax(m_size, qint64(1)))));
        const int fd = m_file.handle();
        for (qint64 done = 0; done < m_size;) {
            if (cancelled && *cancelled) {
                hex->clear();
                return true;
            }
            const qint64 run = qMin(qint64(block.size()), m_size - done);
            const qint64 got = Platform::readAt(fd, block.data(), run, done);
            if (got < 0)
                return false;
            if (got == 0)
                break; // cut short since it was opened: its digest tells
            digest.addData(block.data(), got);
            done += got;
        }
        *hex = digest.hexResult();
        return true;
    }

private:
    QFile m_file;
    uchar *m_data = nullptr;
    qint64 m_size = 0;
};

// what: a text marked with QT_TRANSLATE_NOOP, %1 the path, %2 the
// system's reason.
bool systemFailure(const char *what, const QString &path, QString *reason)
{
    const QString error = Platform::systemError(errno);
    *reason = QCoreApplication::translate("FilePatch", what).arg(QDir::toNativeSeparators(path), error);
    return false;
}

// Reads exactly size bytes at offset; false when the file ends first.
bool readExactly(int fd, char *buffer, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 got = Platform::readAt(fd, buffer + done, size - done, offset + done);
        if (got <= 0) {
            if (got == 0)
                errno = 0;
            return false;
        }
        done += got;
    }
    return true;
}

class Patcher
{
public:
    Patcher(const FilePatch::Versions &versions, QString *reason,
            const std::atomic_bool *cancelled)
        : m_versions(versions)
        , m_reason(reason)
        , m_cancelled(cancelled)
    {
    }

    bool run(const QString &installed, const QString &frame, const QString &output);

private:
    bool fail(const QString &reason)
    {
        *m_reason = reason;
        return false;
    }
    bool openInstalled(const QString &installed);
    bool checkInstalled(const QString &installed, const QByteArray &digest);
    bool readHeader(const QString &frame);
    bool decode(const QString &output);

    const FilePatch::Versions &m_versions;
    QString *m_reason;
    const std::atomic_bool *m_cancelled;
    MappedFile m_installed;
    MappedFile m_result;
    Platform::FileHandle m_frame;
    qint64 m_frameSize = 0;
    bool m_created = false;
};

bool Patcher::openInstalled(const QString &installed)
{
    Platform::FileHandle file(Platform::openForReadingNoFollow(Platform::encodeName(installed)));
    Platform::FileStatus status;
    if (!file.isOpen())
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot open the installed file %1 (%2)."), installed, m_reason);
    if (!Platform::fileStatus(file.get(), &status))
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot read the installed file %1 (%2)."), installed, m_reason);
    if (!status.isRegular())
        return fail(QCoreApplication::translate("FilePatch", "The installed %1 is not a regular file.").arg(QDir::toNativeSeparators(installed)));
    if (status.size != m_versions.fromSize) {
        return fail(QCoreApplication::translate("FilePatch", "The installed file %1 has %2 bytes, the patch applies to %3.")
                        .arg(QDir::toNativeSeparators(installed))
                        .arg(status.size)
                        .arg(m_versions.fromSize));
    }
    QString error;
    if (!m_installed.map(file.release(), status.size, QIODevice::ReadOnly, &error))
        return fail(QCoreApplication::translate("FilePatch", "Cannot map the installed file %1 (%2).").arg(QDir::toNativeSeparators(installed), error));
    return true;
}

bool Patcher::checkInstalled(const QString &installed, const QByteArray &digest)
{
    if (digest == m_versions.fromSha256)
        return true;
    return fail(QCoreApplication::translate("FilePatch", "The installed file %1 differs from the one the patch applies to "
                   "(SHA-256 %2).")
                    .arg(QDir::toNativeSeparators(installed), QString::fromLatin1(digest)));
}

bool Patcher::readHeader(const QString &frame)
{
    m_frame.reset(Platform::openForReadingNoFollow(Platform::encodeName(frame)));
    Platform::FileStatus status;
    if (!m_frame.isOpen() || !Platform::fileStatus(m_frame.get(), &status))
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot read the patch %1 (%2)."), frame, m_reason);
    m_frameSize = status.size;

    char header[ZSTD_FRAMEHEADERSIZE_MAX];
    const qint64 length = qMin(m_frameSize, qint64(sizeof header));
    if (!readExactly(m_frame.get(), header, length, 0))
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot read the patch %1 (%2)."), frame, m_reason);
    ZSTD_frameHeader fields;
    const size_t result = ZSTD_getFrameHeader(&fields, header, size_t(length));
    if (ZSTD_isError(result) || result != 0 || fields.frameType != ZSTD_frame)
        return fail(QCoreApplication::translate("FilePatch", "The patch %1 is no zstd frame.").arg(QDir::toNativeSeparators(frame)));
    const quint64 bound = FilePatch::windowBound(m_versions.fromSize, m_versions.size);
    if (fields.windowSize > bound) {
        return fail(QCoreApplication::translate("FilePatch", "The patch %1 asks for a window of %2 bytes, more than the %3 "
                       "allowed for its files.")
                        .arg(QDir::toNativeSeparators(frame))
                        .arg(fields.windowSize)
                        .arg(bound));
    }
    // Every block that makes anything takes at least 4 bytes of the frame
    // (its 3-byte header and a byte) and makes at most blockSizeMax: a
    // size beyond that cannot come out of this frame, whatever its header
    // says, and is refused before room is reserved for it.
    const quint64 most = quint64(m_frameSize - qint64(fields.headerSize)) / 4 * fields.blockSizeMax;
    if (quint64(m_versions.size) > most) {
        return fail(QCoreApplication::translate("FilePatch", "The patch %1 can make at most %2 bytes, the manifest says %3.")
                        .arg(QDir::toNativeSeparators(frame))
                        .arg(most)
                        .arg(m_versions.size));
    }
    if (fields.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN
        && fields.frameContentSize != quint64(m_versions.size)) {
        return fail(QCoreApplication::translate("FilePatch", "The patch %1 makes %2 bytes, the manifest says %3.")
                        .arg(QDir::toNativeSeparators(frame))
                        .arg(fields.frameContentSize)
                        .arg(m_versions.size));
    }
    return true;
}

bool Patcher::decode(const QString &output)
{
    // The result is written through a mapping: the decoder reaches back
    // into what it has written as far as the window allows.
    Platform::FileHandle file(Platform::createForMapping(Platform::encodeName(output), 0600));
    if (!file.isOpen())
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot create file %1 (%2)."), output, m_reason);
    m_created = true;
    if (!Platform::reserveFileSpace(file.get(), m_versions.size))
        return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot write file %1 (%2)."), output, m_reason);
    QString error;
    if (!m_result.map(file.release(), m_versions.size, QIODevice::ReadWrite, &error))
        return fail(QCoreApplication::translate("FilePatch", "Cannot map file %1 (%2).").arg(QDir::toNativeSeparators(output), error));

    std::unique_ptr<ZSTD_DCtx, ContextDeleter> context(ZSTD_createDCtx());
    // The installed file is the frame's prefix, taken by reference and as
    // raw content whatever its first bytes are.
    std::unique_ptr<ZSTD_DDict, ContextDeleter> prefix(ZSTD_createDDict_advanced(
        m_installed.data(), size_t(m_installed.size()), ZSTD_dlm_byRef, ZSTD_dct_rawContent,
        ZSTD_defaultCMem));
    if (!context || !prefix
        || ZSTD_isError(ZSTD_decompressBegin_usingDDict(context.get(), prefix.get())))
        return fail(QCoreApplication::translate("FilePatch", "Cannot start decoding the patch for %1.").arg(m_versions.name));

    // One block of input at a time: a block holds at most this much.
    std::vector<char> block(ZSTD_BLOCKSIZE_MAX + ZSTD_FRAMEHEADERSIZE_MAX);
    char none = 0;
    uchar *const result = m_result.data() ? m_result.data() : reinterpret_cast<uchar *>(&none);
    // The result is hashed as it is made, while its bytes are still in the
    // cache: the decoder only reads back what it has written, never
    // changes it.
    ArchiveDigest digest;
    qint64 read = 0;
    qint64 written = 0;
    qint64 released = 0;
    // The result is readied a run ahead of the decoder (see
    // Platform::prepareForWriting()): faulting in a new file's pages one at
    // a time made a 200 MB result take 2.8 times a full package's install.
    // Runs start on multiples of ReleaseInterval, page-aligned.
    qint64 prepared = 0;
    for (size_t next = ZSTD_nextSrcSizeToDecompress(context.get()); next != 0;
         next = ZSTD_nextSrcSizeToDecompress(context.get())) {
        if (next > block.size() || read + qint64(next) > m_frameSize)
            return fail(QCoreApplication::translate("FilePatch", "The patch for %1 is cut short.").arg(m_versions.name));
        if (!readExactly(m_frame.get(), block.data(), qint64(next), read))
            return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot read the patch for %1 (%2)."), m_versions.name, m_reason);
        read += qint64(next);
        while (prepared < m_versions.size && prepared < written + qint64(ZSTD_BLOCKSIZE_MAX)) {
            const qint64 run = qMin(ReleaseInterval, m_versions.size - prepared);
            if (!m_result.prepareForWriting(prepared, run))
                return systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot write file %1 (%2)."), output, m_reason);
            prepared += run;
        }
        const size_t made = ZSTD_decompressContinue(context.get(), result + written,
                                                    size_t(m_versions.size - written),
                                                    block.data(), next);
        if (ZSTD_isError(made)) {
            return fail(QCoreApplication::translate("FilePatch", "The patch for %1 cannot be decoded: %2.")
                            .arg(m_versions.name, QString::fromLatin1(ZSTD_getErrorName(made))));
        }
        digest.addData(reinterpret_cast<const char *>(result) + written, qint64(made));
        written += qint64(made);
        if (written - released >= ReleaseInterval) {
            if (m_cancelled && *m_cancelled)
                return fail(QCoreApplication::translate("FilePatch", "Cancelled."));
            m_installed.release(m_installed.size());
            m_result.release(written);
            released = written;
        }
    }
    m_installed.release(m_installed.size());
    m_result.release(written);
    if (read != m_frameSize)
        return fail(QCoreApplication::translate("FilePatch", "The patch for %1 holds more than one frame.").arg(m_versions.name));
    if (written != m_versions.size) {
        return fail(QCoreApplication::translate("FilePatch", "The patch for %1 makes %2 bytes, the manifest says %3.")
                        .arg(m_versions.name)
                        .arg(written)
                        .arg(m_versions.size));
    }
    const QByteArray made = digest.hexResult();
    if (made != m_versions.sha256) {
        return fail(QCoreApplication::translate("FilePatch", "The patched file %1 differs from the new version (SHA-256 %2).")
                        .arg(m_versions.name, QString::fromLatin1(made)));
    }
    return true;
}

bool Patcher::run(const QString &installed, const QString &frame, const QString &output)
{
    if (!FilePatch::libraryMatches()) {
        return fail(QCoreApplication::translate("FilePatch", "The zstd library here (%1) is not the one the updater "
                       "was built with (%2).")
                        .arg(QString::fromLatin1(ZSTD_versionString()),
                             QString::fromLatin1(ZSTD_VERSION_STRING)));
    }
    // The frame's header is read first: a frame refused for its window or
    // its size costs no pass over the installed file.
    if (!readHeader(frame) || !openInstalled(installed))
        return false;
    // The result is kept only when its SHA-256 is the new version's, which
    // holds whatever the installed file was, so the installed file is
    // hashed only to explain a failure: a patch applied to another file
    // than the one it was made for fails to decode or makes another result,
    // and that is reported first, as it tells the user more. A successful
    // patch costs no pass over the installed file beyond what the decoder
    // reads of it.
    QString decodeReason;
    QString *const reason = m_reason;
    m_reason = &decodeReason;
    const bool decoded = decode(output);
    m_reason = reason;
    if (decoded)
        return true;
    QByteArray installedDigest;
    if (m_cancelled && *m_cancelled) {
        fail(QCoreApplication::translate("FilePatch", "Cancelled."));
    } else if (!m_installed.sha256(&installedDigest, m_cancelled)) {
        systemFailure(QT_TRANSLATE_NOOP("FilePatch", "Cannot read the installed file %1 (%2)."),
                      installed, m_reason);
    } else if (m_cancelled && *m_cancelled) {
        fail(QCoreApplication::translate("FilePatch", "Cancelled."));
    } else if (checkInstalled(installed, installedDigest)) {
        *m_reason = decodeReason;
    }
    if (m_created) {
        m_result.close();
        Platform::removeFile(Platform::encodeName(output));
    }
    return false;
}

} // namespace

namespace FilePatch {

quint64 windowBound(qint64 fromSize, qint64 size)
{
    const quint64 larger = quint64(qMax(qMax(fromSize, size), qint64(0)));
    if (larger >= MaxWindow / 4)
        return MaxWindow;
    return qMin(4 * larger + MiB, MaxWindow);
}

bool libraryMatches()
{
    return ZSTD_versionNumber() == ZSTD_VERSION_NUMBER;
}

bool apply(const QString &installed, const QString &frame, const QString &output,
           const Versions &versions, QString *reason, const std::atomic_bool *cancelled)
{
    return Patcher(versions, reason, cancelled).run(installed, frame, output);
}

} // namespace FilePatch
