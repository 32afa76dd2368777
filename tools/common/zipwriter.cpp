#include "zipwriter.h"

#include <QDateTime>
#include <QFile>
#include <QStringDecoder>

#include <minizip/zip.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {
constexpr qint64 BlockSize = 1 << 20;
// The end record counts entries in 16 bits.
constexpr qint64 MostEntriesWithoutZip64 = 0xffff;
constexpr qint64 EndRecordSize = 22;

void putLittleEndian(QByteArray *bytes, quint64 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes->append(char((value >> (8 * i)) & 0xff));
}

quint64 littleEndian(const QByteArray &bytes, int offset, int size)
{
    quint64 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | uchar(bytes.at(offset + i));
    return value;
}

// minizip's writer gives an archive of more than 65535 entries no Zip64 end
// records unless it is larger than 4 GiB: its end record then counts the
// entries wrong, and readers stop at entry 65536. The records go in front
// of the end record, which then refers to them.
bool addZip64End(const QString &path, qint64 entries)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < EndRecordSize + 20)
        return false;
    const qint64 endAt = file.size() - EndRecordSize;
    file.seek(endAt - 20);
    const QByteArray tail = file.read(20 + EndRecordSize);
    if (!tail.mid(20).startsWith("PK\x05\x06"))
        return false; // an archive comment: not what this writer makes
    if (tail.startsWith("PK\x06\x07"))
        return true; // minizip wrote them itself
    const quint64 directorySize = littleEndian(tail, 20 + 12, 4);
    const quint64 directoryOffset = littleEndian(tail, 20 + 16, 4);

    QByteArray records("PK\x06\x06");
    putLittleEndian(&records, 44, 8); // the size of the rest of this record
    putLittleEndian(&records, 45, 2); // version made by
    putLittleEndian(&records, 45, 2); // version needed
    putLittleEndian(&records, 0, 4); // this disk
    putLittleEndian(&records, 0, 4); // the disk with the central directory
    putLittleEndian(&records, quint64(entries), 8);
    putLittleEndian(&records, quint64(entries), 8);
    putLittleEndian(&records, directorySize, 8);
    putLittleEndian(&records, directoryOffset, 8);
    records += "PK\x06\x07";
    putLittleEndian(&records, 0, 4);
    putLittleEndian(&records, quint64(endAt), 8);
    putLittleEndian(&records, 1, 4); // disks in all
    QByteArray end = tail.mid(20);
    for (const int field : {8, 10})
        end[field] = end[field + 1] = char(0xff);
    return file.resize(endAt) && file.seek(endAt) && file.write(records + end) == records.size() + end.size();
}

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(bytes);
    return !utf8.hasError();
}
} // namespace

ZipWriter::ZipWriter(const QString &path, NameEncoding names)
    : m_names(names)
    , m_path(path)
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
    // A name outside ASCII that is valid UTF-8 is flagged as such (bit 11),
    // as zip tools do; readers take unflagged names for Latin-1 or the like.
    constexpr uLong Utf8NameFlag = 1 << 11;
    QByteArray stored = name;
    bool utf8Name = std::any_of(name.cbegin(), name.cend(), [](char c) { return c & 0x80; })
                    && isUtf8(name);
    if (utf8Name && m_names == Latin1Names) {
        const QString decoded = QString::fromUtf8(name);
        if (std::all_of(decoded.cbegin(), decoded.cend(),
                        [](QChar c) { return c.unicode() <= 0xff; })) {
            stored = decoded.toLatin1();
            utf8Name = false;
        }
    }
    if (zipOpenNewFileInZip4_64(m_zip, stored.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                zipMethod, level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                nullptr, 0, unixMode ? UnixHost | ZipVersion : 0,
                                utf8Name ? Utf8NameFlag : 0, large ? 1 : 0)
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
    ++m_entries;
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
    const bool ok = zipClose(m_zip, nullptr) == ZIP_OK
                    && (m_entries <= MostEntriesWithoutZip64 || addZip64End(m_path, m_entries));
    m_zip = nullptr;
    if (!ok)
        m_error = QStringLiteral("Cannot finish archive %1").arg(m_path);
    return ok;
}
