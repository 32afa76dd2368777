#include "answersigner.h"
#include "engine/answerscanner.h"
#include "engine/answersignature.h"
#include "testmain.h"

#include <QStringEncoder>
#include <QTest>

namespace {

// Test-only keys from tests/keys/.
const QByteArray ReleaseKey = "dVeVSqCSmMoLJZlj/nkfZ6Wp6V59TEwFDn+8hkC/gCM=";
const QByteArray OtherKey = "EdFCRUPhTw+QkxFW2JYzeSPaBAqxaMxTzfdzjzDJva8=";

const QByteArray Query = "<s><component/></s>";
constexpr qint64 Expires = 4102444800;
const QByteArray Instruction =
    "<?vemo-signature value=\"rbJONJZgy1uM7VBy07h7EEwDulVayU3ANdfedz/hLwgQZGCh/SPLS9z16CQ4wNyBcvTbTkaQoeG5FXmwQR73Bw==\"?>";
// Made once with "vemo-sign sign --key test-only-release.key", so that the
// wire format cannot drift unnoticed.
const QByteArray Signed =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + Instruction
    + "\n<updates expires=\"4102444800\" "
      "query-sha256=\"d6e5f912bc675e1c859a2a9670ca5fa6aea14452ff919023dcb1488cf8643cec\">\n"
      " <request project=\"vemo\" name=\"core\" type=\"app\"><version>7.1</version></request>\n"
      "</updates>";

QByteArray replaced(QByteArray text, const QByteArray &before, const QByteArray &after)
{
    return text.replace(before, after);
}

// The document signed now with the test-only release key, for the query.
QByteArray signedNow(const QByteArray &document)
{
    AnswerSigner signer;
    QByteArray stamped;
    QByteArray result;
    QString error;
    if (!signer.loadKey(VEMO_SOURCE_DIR "/tests/keys/test-only-release.key")
        || !AnswerSigner::stamp(document, Expires, AnswerSignature::queryHash(Query), &stamped,
                                &error)
        || !signer.sign(stamped, &result))
        qFatal("cannot sign the test answer");
    return result;
}

QString verify(const QByteArray &document, const QByteArray &keyList, const QByteArray &query,
               qint64 now)
{
    QVector<QByteArray> keys;
    QString reason;
    if (!AnswerSignature::parseKeys(keyList, &keys, &reason))
        return reason;
    QByteArray message;
    return AnswerSignature(keys).verify(document, query, now, &message, &reason) ? "verified"
                                                                                 : reason;
}

} // namespace

class AnswerSignatureTest : public QObject
{
    Q_OBJECT

private slots:
    void verification_data();
    void verification();
    void everyByteMatters();
    void scanning_data();
    void scanning();
};

void AnswerSignatureTest::verification_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<QString>("result");

    const qint64 now = Expires - 1;
    const QString notReleaseKey = "the signature is not that of a release key";
    QTest::newRow("good") << Signed << ReleaseKey << Query << now << "verified";
    QTest::newRow("second key of two") << Signed << OtherKey + " , " + ReleaseKey << Query << now
                                       << "verified";
    QTest::newRow("bytes after the root are not part of it")
        << Signed + "\n<!-- trailer -->\n" << ReleaseKey << Query << now << "verified";
    QTest::newRow("one byte changed") << replaced(Signed, "7.1", "7.2") << ReleaseKey << Query
                                      << now << notReleaseKey;
    QTest::newRow("line break after the instruction removed")
        << replaced(Signed, Instruction + "\n", Instruction) << ReleaseKey << Query << now
        << notReleaseKey;
    QTest::newRow("wrong key") << Signed << OtherKey << Query << now << notReleaseKey;
    QTest::newRow("instruction missing") << replaced(Signed, Instruction, "") << ReleaseKey << Query
                                         << now << "the answer is not signed";
    QTest::newRow("instruction inside the root element")
        << replaced(replaced(Signed, Instruction, ""), "\n <request", Instruction + "\n <request")
        << ReleaseKey << Query << now << "the answer is not signed";
    QTest::newRow("instruction in a comment")
        << replaced(Signed, Instruction, "<!--" + Instruction + "-->") << ReleaseKey << Query
        << now << "the answer is not signed";
    QTest::newRow("instruction twice")
        << replaced(Signed, Instruction, Instruction + Instruction) << ReleaseKey << Query << now
        << "the answer holds 2 signature instructions";
    QTest::newRow("malformed base64") << replaced(Signed, "hLwgQZ", "hLw!QZ") << ReleaseKey << Query
                                      << now << "the signature instruction is malformed";
    QTest::newRow("signature one byte short")
        << replaced(Signed, "wQR73Bw==", "wQR73") << ReleaseKey << Query << now
        << "the signature instruction is malformed";
    QTest::newRow("expired") << Signed << ReleaseKey << Query << Expires << "the answer expired at 4102444800";
    QTest::newRow("another query") << Signed << ReleaseKey << QByteArray("<s></s>") << now
                                   << "the answer was made for another query";
    QTest::newRow("not complete") << Signed.chopped(1) << ReleaseKey << Query << now
                                  << "the document is not complete";
    QTest::newRow("root element with a prefix that no namespace declares")
        << signedNow("<?xml version=\"1.0\"?>\n<v:updates><request name=\"core\"/></v:updates>")
        << ReleaseKey << Query << now << "verified";
    const QByteArray withDelta = signedNow(
        "<?xml version=\"1.0\"?>\n<updates><request name=\"core\"><link>http://h/c.zip</link>"
        "<delta><link>http://h/c-delta.zip</link><size>3000</size><sha256>"
        + QByteArray(64, 'b') + "</sha256></delta></request></updates>");
    QTest::newRow("delta package signed") << withDelta << ReleaseKey << Query << now << "verified";
    QTest::newRow("delta link changed")
        << replaced(withDelta, "c-delta.zip", "c-delte.zip") << ReleaseKey << Query << now
        << notReleaseKey;
    QTest::newRow("delta size changed")
        << replaced(withDelta, ">3000<", ">3001<") << ReleaseKey << Query << now << notReleaseKey;
    QTest::newRow("key list with a bad key")
        << Signed << ReleaseKey + ",AAAA" << Query << now
        << "\"AAAA\" is not a base64 Ed25519 public key (32 bytes)";
}

void AnswerSignatureTest::verification()
{
    QFETCH(QByteArray, document);
    QFETCH(QByteArray, keys);
    QFETCH(QByteArray, query);
    QFETCH(qint64, now);
    QFETCH(QString, result);
    QCOMPARE(verify(document, keys, query, now), result);
}

void AnswerSignatureTest::everyByteMatters()
{
    for (qsizetype i = 0; i < Signed.size(); ++i) {
        QByteArray changed = Signed;
        changed[i] = char(changed.at(i) ^ 0x01);
        QVERIFY2(verify(changed, ReleaseKey, Query, Expires - 1) != "verified",
                 qPrintable(QStringLiteral("byte %1 changed").arg(i)));
    }
}

void AnswerSignatureTest::scanning_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("status");
    QTest::addColumn<qsizetype>("rootEnd");

    const QByteArray markup =
        "<?xml version=\"1.0\"?><!DOCTYPE u [<!ENTITY e \"a>b\">]><!-- > - -->"
        "<u a=\"x>\" b='/'><![CDATA[</u>]]>1 > 0<e/><?pi </u>?></u>";
    QTest::newRow("'>' and '</' inside markup and text")
        << markup + " \n<!-- after -->" << int(AnswerScanner::Complete) << markup.size();
    QTest::newRow("empty root element") << QByteArray("<?xml version='1.0'?>\n<u a='1'/>\n")
                                        << int(AnswerScanner::Complete) << qsizetype(32);
    QTest::newRow("incomplete") << QByteArray("<u><r>x</r>") << int(AnswerScanner::Incomplete)
                                << qsizetype(-1);
    QTest::newRow("end tag without start") << QByteArray("</u><u/>") << int(AnswerScanner::Refused)
                                           << qsizetype(-1);
    QTest::newRow("64 levels") << QByteArray("<a>").repeated(64) + QByteArray("</a>").repeated(64)
                               << int(AnswerScanner::Complete) << qsizetype(64 * 7);
    QTest::newRow("65 levels refused at once")
        << QByteArray("<a>").repeated(65) << int(AnswerScanner::Refused) << qsizetype(-1);
    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    const QByteArray wide = utf16.encode(QStringLiteral("<u a=\"ż>\"><r/></u>\n"));
    QTest::newRow("UTF-16 with byte order mark") << wide << int(AnswerScanner::Complete)
                                                 << wide.size() - 2;
}

void AnswerSignatureTest::scanning()
{
    QFETCH(QByteArray, document);
    QFETCH(int, status);
    QFETCH(qsizetype, rootEnd);

    // Fed in pieces of every size from one byte up, the outcome is the same.
    for (int piece = 1; piece <= 8; ++piece) {
        AnswerScanner scanner;
        for (qsizetype at = piece; at < document.size() + piece; at += piece)
            scanner.scan(document.left(at));
        QCOMPARE(int(scanner.status()), status);
        QCOMPARE(scanner.rootEnd(), rootEnd);
    }
}

VEMO_TEST_MAIN(AnswerSignatureTest)
#include "tst_answersignature.moc"
