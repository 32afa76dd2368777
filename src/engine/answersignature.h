#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

class AnswerScanner;
class UpdateAnswer;

// The signature of an update answer, made with one of the release keys
// (Ed25519). The server puts one processing instruction
//     <?vemo-signature value="BASE64"?>
// before the root element. BASE64 is the 64-byte signature of the message:
// the document from its first byte through the '>' that closes its root
// element, without the bytes of that instruction (from "<?vemo-signature"
// through its "?>"); nothing else is removed or normalised. The root element
// carries "expires" (seconds since the Unix epoch, UTC) and "query-sha256"
// (lowercase hex SHA-256 of the exact query bytes the updater sent), so that
// an old answer, or the answer to another query, cannot be replayed.
class AnswerSignature
{
public:
    static constexpr int KeySize = 32;
    static constexpr int SignatureSize = 64;

    // Raw 32-byte public keys; any one of them may have signed.
    explicit AnswerSignature(const QVector<QByteArray> &publicKeys);

    // Decodes a comma-separated list of base64 public keys (blanks around the
    // commas allowed). An empty list gives no keys.
    static bool parseKeys(const QByteArray &list, QVector<QByteArray> *keys, QString *error);

    // Splits 'document' (complete through the end of its root element; bytes
    // after it are left out) into the signed message and the signature of its
    // one signature instruction.
    static bool split(const QByteArray &document, QByteArray *message, QByteArray *signature,
                      QString *reason);
    // The same with the scanner that has already found the document complete,
    // so that its bytes are not scanned again.
    static bool split(const QByteArray &document, const AnswerScanner &scanner, QByteArray *message,
                      QByteArray *signature, QString *reason);

    // The signature is that of one of the keys.
    bool verifySignature(const QByteArray &document, QByteArray *message, QString *reason) const;
    bool verifySignature(const QByteArray &document, const AnswerScanner &scanner,
                         QByteArray *message, QString *reason) const;

    // The message's root element carries an "expires" later than 'now' and,
    // unless query is null, the "query-sha256" of *query. The first form
    // takes the message as UpdateAnswer has read it.
    static bool checkRoot(const UpdateAnswer &message, const QByteArray *query, qint64 now,
                          QString *reason);
    static bool checkRoot(const QByteArray &message, const QByteArray *query, qint64 now,
                          QString *reason);

    // Both of the above: the answer is accepted as the reply to 'query'. The
    // signed message, which is what the caller should parse, goes to *message.
    bool verify(const QByteArray &document, const QByteArray &query, qint64 now,
                QByteArray *message, QString *reason) const;

    // Lowercase hex SHA-256, as "query-sha256" carries it.
    static QByteArray queryHash(const QByteArray &query);

private:
    QVector<QByteArray> m_keys;
};
