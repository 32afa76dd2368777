#include "answersignature.h"

#include "answerscanner.h"
#include "updateanswer.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <sodium.h>

namespace {

const QByteArray Target = "<?vemo-signature";

bool isSignatureInstruction(const QByteArray &text)
{
    if (!text.startsWith(Target) || text.size() <= Target.size())
        return false;
    const char after = text.at(Target.size());
    return after == '?' || after == ' ' || after == '\t' || after == '\r' || after == '\n';
}

// Base64 in its one canonical spelling, decoding to exactly 'size' bytes.
bool decodeBase64(const QByteArray &text, int size, QByteArray *bytes)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size || decoded.decoded.toBase64() != text)
        return false;
    *bytes = decoded.decoded;
    return true;
}

} // namespace

AnswerSignature::AnswerSignature(const QVector<QByteArray> &publicKeys)
    : m_keys(publicKeys)
{
}

bool AnswerSignature::parseKeys(const QByteArray &list, QVector<QByteArray> *keys, QString *error)
{
    keys->clear();
    if (list.trimmed().isEmpty())
        return true;
    for (const QByteArray &item : list.split(',')) {
        QByteArray key;
        if (!decodeBase64(item.trimmed(), KeySize, &key)) {
            *error = QStringLiteral("\"%1\" is not a base64 Ed25519 public key (32 bytes)")
                         .arg(QString::fromLatin1(item.trimmed()));
            keys->clear();
            return false;
        }
        keys->append(key);
    }
    return true;
}

bool AnswerSignature::split(const QByteArray &document, QByteArray *message, QByteArray *signature,
                            QString *reason)
{
    AnswerScanner scanner;
    scanner.scan(document);
    return split(document, scanner, message, signature, reason);
}

bool AnswerSignature::split(const QByteArray &document, const AnswerScanner &scanner,
                            QByteArray *message, QByteArray *signature, QString *reason)
{
    if (scanner.status() != AnswerScanner::Complete) {
        *reason = scanner.status() == AnswerScanner::Refused
                      ? scanner.errorString()
                      : QStringLiteral("the document is not complete");
        return false;
    }
    QVector<AnswerScanner::Instruction> found;
    for (const AnswerScanner::Instruction &instruction : scanner.prologInstructions()) {
        if (isSignatureInstruction(instruction.text))
            found.append(instruction);
    }
    if (found.isEmpty()) {
        *reason = QStringLiteral("the answer is not signed");
        return false;
    }
    if (found.size() > 1) {
        *reason = QStringLiteral("the answer holds %1 signature instructions").arg(found.size());
        return false;
    }
    static const QRegularExpression form(QStringLiteral(
        "^<\\?vemo-signature\\s+value\\s*=\\s*([\"'])([A-Za-z0-9+/=]*)\\1\\s*\\?>$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(found.first().text));
    if (!match.hasMatch()
        || !decodeBase64(match.captured(2).toLatin1(), SignatureSize, signature)) {
        *reason = QStringLiteral("the signature instruction is malformed");
        return false;
    }
    const AnswerScanner::Instruction &instruction = found.first();
    *message = document.left(instruction.begin)
               + document.mid(instruction.end, scanner.rootEnd() - instruction.end);
    return true;
}

bool AnswerSignature::verifySignature(const QByteArray &document, QByteArray *message,
                                      QString *reason) const
{
    AnswerScanner scanner;
    scanner.scan(document);
    return verifySignature(document, scanner, message, reason);
}

bool AnswerSignature::verifySignature(const QByteArray &document, const AnswerScanner &scanner,
                                      QByteArray *message, QString *reason) const
{
    QByteArray signature;
    if (!split(document, scanner, message, &signature, reason))
        return false;
    if (sodium_init() < 0) {
        *reason = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    for (const QByteArray &key : m_keys) {
        if (key.size() == KeySize
            && crypto_sign_verify_detached(
                   reinterpret_cast<const unsigned char *>(signature.constData()),
                   reinterpret_cast<const unsigned char *>(message->constData()),
                   quint64(message->size()),
                   reinterpret_cast<const unsigned char *>(key.constData()))
                   == 0)
            return true;
    }
    *reason = QStringLiteral("the signature is not that of a release key");
    return false;
}

bool AnswerSignature::checkRoot(const QByteArray &message, const QByteArray *query, qint64 now,
                                QString *reason)
{
    return checkRoot(UpdateAnswer(message), query, now, reason);
}

bool AnswerSignature::checkRoot(const UpdateAnswer &message, const QByteArray *query, qint64 now,
                                QString *reason)
{
    // The update check's own reading of the answer: a root element whose
    // prefix no namespace declares is still this answer's root, not a reason
    // to refuse it.
    if (!message.hasRoot()) {
        *reason = QStringLiteral("the answer has no root element");
        return false;
    }
    const QXmlStreamAttributes &attributes = message.rootAttributes();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,18}$"));
    const QString expires = attributes.value(QStringLiteral("expires")).toString();
    if (!digits.match(expires).hasMatch()) {
        *reason = QStringLiteral("the answer carries no expiry time");
        return false;
    }
    if (expires.toLongLong() <= now) {
        *reason = QStringLiteral("the answer expired at %1").arg(expires);
        return false;
    }
    if (query
        && attributes.value(QStringLiteral("query-sha256")) != QLatin1String(queryHash(*query))) {
        *reason = QStringLiteral("the answer was made for another query");
        return false;
    }
    return true;
}

bool AnswerSignature::verify(const QByteArray &document, const QByteArray &query, qint64 now,
                             QByteArray *message, QString *reason) const
{
    return verifySignature(document, message, reason) && checkRoot(*message, &query, now, reason);
}

QByteArray AnswerSignature::queryHash(const QByteArray &query)
{
    return QCryptographicHash::hash(query, QCryptographicHash::Sha256).toHex();
}
