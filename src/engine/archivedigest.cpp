#include "archivedigest.h"

#include <QFile>

#include <openssl/evp.h>

namespace {
constexpr qint64 BlockSize = 1024 * 1024;
} // namespace

void ArchiveDigest::ContextDeleter::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

ArchiveDigest::ArchiveDigest()
    : m_context(EVP_MD_CTX_new())
{
    reset();
}

ArchiveDigest::~ArchiveDigest() = default;

void ArchiveDigest::addData(const char *data, qint64 size)
{
    // Only an allocation failure inside the library makes these calls fail;
    // the result then differs from any expected digest and the archive is
    // refused, which is the safe side.
    EVP_DigestUpdate(m_context.get(), data, size_t(size));
}

QByteArray ArchiveDigest::hexResult() const
{
    // The running context stays as it is: the result is taken from a copy.
    std::unique_ptr<evp_md_ctx_st, ContextDeleter> copy(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!copy || !EVP_MD_CTX_copy_ex(copy.get(), m_context.get())
        || !EVP_DigestFinal_ex(copy.get(), digest, &length))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

void ArchiveDigest::reset()
{
    EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr);
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

qint64 ArchiveDigest::byteCount(const QString &text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 bytes = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        bytes = bytes * 10 + (c.unicode() - '0');
    }
    return bytes;
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
