#include "zipwriter.h"

#include <QDateTime>
#include <QFile>

#include <minizip/zip.h>

#include <cstring>
#include <sys/stat.h>

namespace {
constexpr qint64 BlockSize = 1 << 20;
} // namespace

ZipWriter::ZipWriter(const QString &path)
    : m_path(path)
{
    m_zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!m_zip)
        m_error = QStringLiteral("Cannot create archive %1").arg(path);
}

ZipWriter::~ZipWriter()
{
    close();
}

bool ZipWriter::openEntry(const QByteArray &name, Method method, bool large, unsigned unixMode)
{
    if (!m_zip) {
        m_error = QStringLiteral("Archive %1 is not open").arg(m_path);
        return false;
    }
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    const QDateTime now = QDateTime::currentDateTime();
    info.tmz_date.tm_sec = uInt(now.time().second());
    info.tmz_date.tm_min = uInt(now.time().minute());
    info.tmz_date.tm_hour = uInt(now.time().hour());
    info.tmz_date.tm_mday = uInt(now.date().day());
    info.tmz_date.tm_mon = uInt(now.date().month() - 1);
    info.tmz_date.tm_year = uInt(now.date().year());
    const int zipMethod = method == Deflated ? Z_DEFLATED : 0;
    const int level = method == Deflated ? Z_DEFAULT_COMPRESSION : 0;
    // "Version made by" names Unix (3) when the entry carries a Unix mode,
    // which then fills the upper half of the external attributes.
    constexpr uLong UnixHost = 3 << 8;
    constexpr uLong ZipVersion = 20;
    constexpr uLong RegularFile = 0100000;
    info.external_fa = unixMode ? (RegularFile | unixMode) << 16 : 0;
    if (zipOpenNewFileInZip4_64(m_zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                zipMethod, level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                nullptr, 0, unixMode ? UnixHost | ZipVersion : 0, 0, large ? 1 : 0)
        != ZIP_OK) {
        m_error =
            QStringLiteral("Cannot add entry %1 to %2").arg(QString::fromLatin1(name), m_path);
        return false;
    }
    return true;
}

bool ZipWriter::closeEntry()
{
    if (zipCloseFileInZip(m_zip) != ZIP_OK) {
        m_error = QStringLiteral("Cannot finish an entry of %1").arg(m_path);
        return false;
    }
    return true;
}

bool ZipWriter::addFile(const QByteArray &name, const QByteArray &content, Method method,
                        unsigned unixMode)
{
    if (!openEntry(name, method, false, unixMode))
        return false;
    if (!content.isEmpty()
        && zipWriteInFileInZip(m_zip, content.constData(), unsigned(content.size())) != ZIP_OK) {
        m_error =
            QStringLiteral("Cannot write entry %1 to %2").arg(QString::fromLatin1(name), m_path);
        closeEntry();
        return false;
    }
    return closeEntry();
}

bool ZipWriter::addFileFrom(const QByteArray &name, const QString &sourcePath, Method method)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("Cannot read %1: %2").arg(sourcePath, source.errorString());
        return false;
    }
    struct stat status;
    const unsigned unixMode =
        ::stat(QFile::encodeName(sourcePath).constData(), &status) == 0 ? status.st_mode & 0777 : 0;
    if (!openEntry(name, method, source.size() >= 0xffffffffLL, unixMode))
        return false;
    QByteArray block(int(BlockSize), Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(block.data(), BlockSize);
        if (got < 0) {
            m_error = QStringLiteral("Cannot read %1: %2").arg(sourcePath, source.errorString());
            closeEntry();
            return false;
        }
        if (got == 0)
            break;
        if (zipWriteInFileInZip(m_zip, block.constData(), unsigned(got)) != ZIP_OK) {
            m_error = QStringLiteral("Cannot write entry %1 to %2")
                          .arg(QString::fromLatin1(name), m_path);
            closeEntry();
            return false;
        }
    }
    return closeEntry();
}

bool ZipWriter::addDirectory(const QByteArray &name)
{
    return openEntry(name, Stored, false) && closeEntry();
}

bool ZipWriter::close()
{
    if (!m_zip)
        return m_error.isEmpty();
    const bool ok = zipClose(m_zip, nullptr) == ZIP_OK;
    m_zip = nullptr;
    if (!ok)
        m_error = QStringLiteral("Cannot finish archive %1").arg(m_path);
    return ok;
}
