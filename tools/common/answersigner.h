#pragma once

#include <QByteArray>
#include <QString>

// Signs update answers with a release key, in the form the updater verifies
// (see AnswerSignature): one line
//     <?vemo-signature value="BASE64"?>
// right after the XML declaration (or first, before a document without
// one), signing the document through the '>' that closes its root element
// without that instruction's bytes. Nothing is sent or kept after the root.
//
// The private key file holds the base64 form of the key's 32-byte seed on
// one line.
class AnswerSigner
{
public:
    // Writes a new private key to 'path', mode 0600, never over an existing
    // file; *publicKey gets the base64 public key.
    static bool generateKey(const QString &path, QByteArray *publicKey, QString *error);

    bool loadKey(const QString &path);
    // Base64, as VEMO_UPDATE_KEYS takes it.
    QByteArray publicKey() const;

    // Adds "expires" and "query-sha256" to the root element (when given:
    // expires >= 0, queryHash not empty). The document must be in an
    // ASCII-compatible encoding and must not carry them yet.
    static bool stamp(const QByteArray &document, qint64 expires, const QByteArray &queryHash,
                      QByteArray *stamped, QString *error);

    // The signed answer; the document must be complete and not signed yet.
    bool sign(const QByteArray &document, QByteArray *signedAnswer);

    QString errorString() const { return m_error; }

private:
    bool setSeed(const QByteArray &seed);

    QByteArray m_secretKey; // libsodium's 64-byte form: seed and public key
    QByteArray m_publicKey;
    QString m_error;
};
