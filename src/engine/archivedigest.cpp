#include "archivedigest.h"

#include <QFile>

namespace {
constexpr qint64 BlockSize = 1024 * 1024;
} // namespace

ArchiveDigest::ArchiveDigest()
    : m_hash(QCryptographicHash::Sha256)
{
}

void ArchiveDigest::addData(const char *data, qint64 size)
{
    m_hash.addData(QByteArrayView(data, size));
}

QByteArray ArchiveDigest::hexResult() const
{
    return m_hash.result().toHex();
}

void ArchiveDigest::reset()
{
    m_hash.reset();
}

bool ArchiveDigest::ofFile(const QString &path, QByteArray *hex, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    ArchiveDigest digest;
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0) {
            *error = file.errorString();
            return false;
        }
        if (got == 0)
            break;
        digest.addData(block.constData(), got);
    }
    *hex = digest.hexResult();
    return true;
}

bool ArchiveDigest::isHexDigest(const QByteArray &text)
{
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
