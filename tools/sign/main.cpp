// vemo-sign: makes release keys, signs update answers and checks them.

#include "answersignature.h"
#include "answersigner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

const char Usage[] =
    "Usage:\n"
    "  vemo-sign keygen --key FILE\n"
    "      writes a new private key to FILE (mode 0600; an existing file is never replaced)\n"
    "      and prints its public key in the form VEMO_UPDATE_KEYS takes\n"
    "  vemo-sign public --key FILE\n"
    "      prints the public key of a private key\n"
    "  vemo-sign sign --key FILE [--lifetime SECONDS] [--query FILE | --query-sha256 HEX]\n"
    "                 [--out SIGNED] ANSWER\n"
    "      signs the answer document; --lifetime adds \"expires\" (now + SECONDS) and --query\n"
    "      or --query-sha256 adds \"query-sha256\" to its root element first\n"
    "  vemo-sign verify --keys KEY[,KEY...] [--query FILE] [--now SECONDS] SIGNED\n"
    "      checks the signature, the expiry and, with --query, the query hash\n";

void print(std::FILE *stream, const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fflush(stream);
}

int fail(const QString &message)
{
    print(stderr, "vemo-sign: " + message.toLocal8Bit() + '\n');
    return 1;
}

bool readFile(const QString &path, QByteArray *content, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *content = file.readAll();
    return true;
}

int sign(const QCommandLineParser &parser, const QString &answerPath)
{
    AnswerSigner signer;
    if (!signer.loadKey(parser.value(QStringLiteral("key"))))
        return fail(signer.errorString());
    QByteArray document;
    QString error;
    if (!readFile(answerPath, &document, &error))
        return fail(error);

    qint64 expires = -1;
    if (parser.isSet(QStringLiteral("lifetime"))) {
        bool ok = false;
        const qint64 lifetime = parser.value(QStringLiteral("lifetime")).toLongLong(&ok);
        if (!ok)
            return fail(QStringLiteral("--lifetime takes a number of seconds"));
        expires = qMax<qint64>(0, QDateTime::currentSecsSinceEpoch() + lifetime);
    }
    QByteArray queryHash = parser.value(QStringLiteral("query-sha256")).toLatin1();
    if (parser.isSet(QStringLiteral("query"))) {
        QByteArray query;
        if (!readFile(parser.value(QStringLiteral("query")), &query, &error))
            return fail(error);
        queryHash = AnswerSignature::queryHash(query);
    }
    if ((expires >= 0 || !queryHash.isEmpty())
        && !AnswerSigner::stamp(document, expires, queryHash, &document, &error))
        return fail(answerPath + QStringLiteral(": ") + error);

    QByteArray signedAnswer;
    if (!signer.sign(document, &signedAnswer))
        return fail(answerPath + QStringLiteral(": ") + signer.errorString());
    if (!parser.isSet(QStringLiteral("out"))) {
        print(stdout, signedAnswer);
        return 0;
    }
    QSaveFile out(parser.value(QStringLiteral("out")));
    if (!out.open(QIODevice::WriteOnly) || out.write(signedAnswer) != signedAnswer.size()
        || !out.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
    return 0;
}

int verify(const QCommandLineParser &parser, const QString &answerPath)
{
    QVector<QByteArray> keys;
    QString error;
    if (!AnswerSignature::parseKeys(parser.value(QStringLiteral("keys")).toLatin1(), &keys, &error))
        return fail(error);
    if (keys.isEmpty())
        return fail(QStringLiteral("--keys names no key"));
    QByteArray document;
    if (!readFile(answerPath, &document, &error))
        return fail(error);
    qint64 now = QDateTime::currentSecsSinceEpoch();
    if (parser.isSet(QStringLiteral("now")))
        now = parser.value(QStringLiteral("now")).toLongLong();
    QByteArray query;
    const bool withQuery = parser.isSet(QStringLiteral("query"));
    if (withQuery && !readFile(parser.value(QStringLiteral("query")), &query, &error))
        return fail(error);

    const AnswerSignature signature(keys);
    QByteArray message;
    if (!signature.verifySignature(document, &message, &error)
        || !AnswerSignature::checkRoot(message, withQuery ? &query : nullptr, now, &error))
        return fail(QStringLiteral("%1: not verified: %2").arg(answerPath, error));
    print(stdout, answerPath.toLocal8Bit()
                      + (withQuery ? ": verified\n" : ": verified (query not checked)\n"));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("key"), QStringLiteral("Private key file."), QStringLiteral("FILE")},
        {QStringLiteral("keys"), QStringLiteral("Public keys."), QStringLiteral("LIST")},
        {QStringLiteral("lifetime"), QStringLiteral("Seconds."), QStringLiteral("SECONDS")},
        {QStringLiteral("query"), QStringLiteral("Query file."), QStringLiteral("FILE")},
        {QStringLiteral("query-sha256"), QStringLiteral("Query hash."), QStringLiteral("HEX")},
        {QStringLiteral("now"), QStringLiteral("Time to check against."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("out"), QStringLiteral("Output file."), QStringLiteral("FILE")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Usage.")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText() + QLatin1Char('\n') + QLatin1String(Usage));
    const QStringList arguments = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("help"))) {
        print(stdout, Usage);
        return 0;
    }
    const QString command = arguments.value(0);
    const int files =
        command == QLatin1String("sign") || command == QLatin1String("verify") ? 1 : 0;
    if (command.isEmpty() || arguments.size() != 1 + files)
        return fail(QStringLiteral("wrong arguments\n") + QLatin1String(Usage));
    const bool needsKey = command != QLatin1String("verify");
    if (needsKey && !parser.isSet(QStringLiteral("key")))
        return fail(QStringLiteral("%1 needs --key FILE").arg(command));

    if (command == QLatin1String("keygen")) {
        QByteArray publicKey;
        QString error;
        if (!AnswerSigner::generateKey(parser.value(QStringLiteral("key")), &publicKey, &error))
            return fail(error);
        print(stdout, publicKey + '\n');
        return 0;
    }
    if (command == QLatin1String("public")) {
        AnswerSigner signer;
        if (!signer.loadKey(parser.value(QStringLiteral("key"))))
            return fail(signer.errorString());
        print(stdout, signer.publicKey() + '\n');
        return 0;
    }
    if (command == QLatin1String("sign"))
        return sign(parser, arguments.at(1));
    if (command == QLatin1String("verify"))
        return verify(parser, arguments.at(1));
    return fail(QStringLiteral("unknown command %1\n").arg(command) + QLatin1String(Usage));
}
