#include "answersigner.h"

#include "answerscanner.h"
#include "answersignature.h"
#include "updateanswer.h"

#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QFile>

#include <sodium.h>

#include <cerrno>

namespace {

const uchar *bytes(const QByteArray &data)
{
    return reinterpret_cast<const uchar *>(data.constData());
}

bool scanComplete(const QByteArray &document, AnswerScanner *scanner, QString *error)
{
    if (scanner->scan(document) != AnswerScanner::Complete) {
        *error = scanner->status() == AnswerScanner::Refused
                     ? scanner->errorString()
                     : QStringLiteral("the answer is not a complete XML document");
        return false;
    }
    if (scanner->unitWidth() != 1) {
        *error = QStringLiteral("the answer must be in UTF-8 (or another ASCII-compatible "
                                "encoding)");
        return false;
    }
    return true;
}

} // namespace

bool AnswerSigner::generateKey(const QString &path, QByteArray *publicKey, QString *error)
{
    if (sodium_init() < 0) {
        *error = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    QByteArray seed(crypto_sign_SEEDBYTES, Qt::Uninitialized);
    randombytes_buf(seed.data(), size_t(seed.size()));
    const QByteArray line = seed.toBase64() + '\n';

    const QByteArray name = Platform::encodeName(path);
    const int fd = Platform::createNew(name, 0600);
    if (fd < 0) {
        *error = QStringLiteral("Cannot create %1: %2").arg(path, Platform::systemError(errno));
        return false;
    }
    // The mode given at creation is narrowed by the umask, never widened;
    // make it exactly 0600 whatever the umask.
    bool ok = Platform::setPermissions(fd, 0600) && Platform::writeAll(fd, line)
              && Platform::sync(fd);
    const int writeErrno = errno;
    ok = Platform::closeFile(fd) && ok;
    sodium_memzero(seed.data(), size_t(seed.size()));
    if (!ok) {
        Platform::removeFile(name);
        *error = QStringLiteral("Cannot write %1: %2").arg(path, Platform::systemError(writeErrno));
        return false;
    }
    AnswerSigner signer;
    if (!signer.loadKey(path)) {
        *error = signer.errorString();
        return false;
    }
    *publicKey = signer.publicKey();
    return true;
}

bool AnswerSigner::loadKey(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("Cannot read the key %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(1024).trimmed();
    const QByteArray::FromBase64Result seed =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!seed || !setSeed(seed.decoded)) {
        m_error =
            QStringLiteral("%1 is not a private key written by \"vemo-sign keygen\"").arg(path);
        return false;
    }
    return true;
}

bool AnswerSigner::setSeed(const QByteArray &seed)
{
    if (seed.size() != crypto_sign_SEEDBYTES || sodium_init() < 0)
        return false;
    m_secretKey.resize(crypto_sign_SECRETKEYBYTES);
    m_publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    return crypto_sign_seed_keypair(reinterpret_cast<uchar *>(m_publicKey.data()),
                                    reinterpret_cast<uchar *>(m_secretKey.data()), bytes(seed))
           == 0;
}

QByteArray AnswerSigner::publicKey() const
{
    return m_publicKey.toBase64();
}

bool AnswerSigner::stamp(const QByteArray &document, qint64 expires, const QByteArray &queryHash,
                         QByteArray *stamped, QString *error)
{
    AnswerScanner scanner;
    if (!scanComplete(document, &scanner, error))
        return false;
    // Read as the updater reads it (AnswerSignature::checkRoot).
    const UpdateAnswer answer(document);
    for (const char *name : {"expires", "query-sha256"}) {
        if (answer.rootAttributes().hasAttribute(QLatin1String(name))) {
            *error = QStringLiteral("the root element already carries %1").arg(QLatin1String(name));
            return false;
        }
    }
    QByteArray attributes;
    if (expires >= 0)
        attributes += " expires=\"" + QByteArray::number(expires) + '"';
    if (!queryHash.isEmpty())
        attributes += " query-sha256=\"" + queryHash + '"';
    qsizetype at = scanner.rootStartTagEnd() - 1; // its '>'
    if (document.at(at - 1) == '/')
        --at;
    *stamped = document.left(at) + attributes + document.mid(at);
    return true;
}

bool AnswerSigner::sign(const QByteArray &document, QByteArray *signedAnswer)
{
    if (m_secretKey.isEmpty()) {
        m_error = QStringLiteral("no key loaded");
        return false;
    }
    QString error;
    AnswerScanner scanner;
    if (!scanComplete(document, &scanner, &error)) {
        m_error = error;
        return false;
    }
    const QVector<AnswerScanner::Instruction> prolog = scanner.prologInstructions();
    for (const AnswerScanner::Instruction &instruction : prolog) {
        if (instruction.text.startsWith("<?vemo-signature")) {
            m_error = QStringLiteral("the answer is signed already");
            return false;
        }
    }
    // The instruction goes on a line of its own after the declaration, or
    // first (after a byte order mark) without one. The line break that
    // separates it stays in the message when the instruction is removed.
    const QByteArray body = document.left(scanner.rootEnd());
    const qsizetype bom = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const bool declared = !prolog.isEmpty() && prolog.first().begin == bom
                          && prolog.first().text.startsWith("<?xml")
                          && prolog.first().text.size() > 5
                          && QByteArray(" \t\r\n").contains(prolog.first().text.at(5));
    QByteArray message;
    qsizetype insertAt = 0;
    if (declared) {
        insertAt = prolog.first().end + 1;
        message = body.left(prolog.first().end) + '\n' + body.mid(prolog.first().end);
    } else {
        insertAt = bom;
        message = body.left(bom) + '\n' + body.mid(bom);
    }

    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<uchar *>(signature.data()), nullptr, bytes(message),
                         quint64(message.size()), bytes(m_secretKey));
    const QByteArray instruction = "<?vemo-signature value=\"" + signature.toBase64() + "\"?>";
    *signedAnswer = message.left(insertAt) + instruction + message.mid(insertAt);
    return true;
}
