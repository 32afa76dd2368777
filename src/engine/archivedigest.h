#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_md_ctx_st;

// The SHA-256 of a package archive, fed with its bytes as they are written
// (so a download needs no second pass over the file) or read from a file.
//
// OpenSSL computes it: it uses the processor's SHA instructions where there
// are any, about ten times the speed of QCryptographicHash here, so that
// checking an archive costs a fraction of downloading it even on loopback.
class ArchiveDigest
{
public:
    ArchiveDigest();
    ~ArchiveDigest();
    ArchiveDigest(const ArchiveDigest &) = delete;
    ArchiveDigest &operator=(const ArchiveDigest &) = delete;

    void addData(const char *data, qint64 size);
    // Lowercase hex, as the update answer writes it.
    QByteArray hexResult() const;
    void reset();

    // Reads the file in blocks; never holds it whole.
    static bool ofFile(const QString &path, QByteArray *hex, QString *error);
    // 64 lowercase hex digits.
    static bool isHexDigest(const QByteArray &text);
    // An archive's or a file's size as answers and manifests write it: plain
    // decimal digits, at most 18 so that it cannot overflow; -1 otherwise.
    static qint64 byteCount(const QString &text);

private:
    struct ContextDeleter
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextDeleter> m_context;
};
