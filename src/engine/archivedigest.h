#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// The SHA-256 of a package archive, fed with its bytes as they are written
// (so a download needs no second pass over the file) or read from a file.
class ArchiveDigest
{
public:
    ArchiveDigest();

    void addData(const char *data, qint64 size);
    // Lowercase hex, as the update answer writes it.
    QByteArray hexResult() const;
    void reset();

    // Reads the file in blocks; never holds it whole.
    static bool ofFile(const QString &path, QByteArray *hex, QString *error);
    // 64 lowercase hex digits.
    static bool isHexDigest(const QByteArray &text);

private:
    QCryptographicHash m_hash;
};
