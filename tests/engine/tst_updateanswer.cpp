#include "engine/answerscanner.h"
#include "engine/updateanswer.h"
#include "engine/updateinfo.h"
#include "testmain.h"

#include <QDomDocument>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

namespace {

// One record as a line of its fields, so a whole answer compares at once.
QString describe(const UpdateInfo &u)
{
    return QStringList{recordText(u.project()),       recordText(u.name()),
                       recordText(u.type()),          recordText(u.version()),
                       recordText(u.description()),   recordText(u.copyrights()),
                       recordText(u.author()),        recordText(u.webpage()),
                       recordText(u.email()),         recordText(u.changelog()),
                       recordText(u.link()),          u.critical() ? "critical" : "normal",
                       QString::number(u.timestamp())}
        .join(QLatin1Char('|'));
}

// The answer as the check reads it: through the end of its root element.
bool parse(const QByteArray &received, QDomDocument *document)
{
    AnswerScanner scanner;
    return scanner.scan(received) == AnswerScanner::Complete
           && document->setContent(received.left(scanner.rootEnd()));
}

QStringList parseAll(const QByteArray &answer)
{
    QDomDocument document;
    if (!parse(answer, &document))
        return {QStringLiteral("<incomplete>")};
    const QVector<UpdateInfo *> updates = UpdateAnswer::availableUpdates(document);
    QStringList lines;
    for (const UpdateInfo *u : updates)
        lines << describe(*u);
    qDeleteAll(updates);
    return lines;
}

QByteArray replacedIn(QByteArray text, const QByteArray &before, const QByteArray &after)
{
    return text.replace(before, after);
}

} // namespace

class UpdateAnswerTest : public QObject
{
    Q_OBJECT

private slots:
    void availableUpdates_data();
    void availableUpdates();
    void completeness_data();
    void completeness();
    void declaredEncoding();
    void usable_data();
    void usable();
};

void UpdateAnswerTest::availableUpdates_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("all fields")
        << QByteArray("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                      "<version>7.1</version><description>Core</description>"
                      "<copyrights>(c) V</copyrights><author>A</author><webpage>W</webpage>"
                      "<email>E</email><changelog>C</changelog>"
                      "<link>http://h/core.zip</link><critical>true</critical>"
                      "<timestamp>1765000000</timestamp></request></updates>")
        << QStringList{"vemo|core|app|7.1|Core|(c) V|A|W|E|C|http://h/core.zip|critical|1765000000"};

    QTest::newRow("marker children skip, document order kept")
        << QByteArray("<u><request name=\"a\"/><request name=\"b\"><latest/></request>"
                      "<request name=\"c\"><noSuchUpdate>x</noSuchUpdate></request>"
                      "<request name=\"d\"><noSuchComponent/></request>"
                      "<request name=\"e\"/></u>")
        << QStringList{"|a||||||||||normal|0", "|e||||||||||normal|0"};

    QTest::newRow("marker as text-free element or with content")
        << QByteArray("<u><request name=\"a\"><latest></latest></request>"
                      "<request name=\"b\"><latest>yes</latest></request></u>")
        << QStringList{};

    QTest::newRow("marker deeper than a direct child does not skip")
        << QByteArray("<u><request name=\"a\"><x><latest/></x></request></u>")
        << QStringList{"|a||||||||||normal|0"};

    QTest::newRow("request elements at any depth, the root included")
        << QByteArray("<request name=\"root\"><a><b><request name=\"deep\"/></b></a>"
                      "<request name=\"near\"/></request>")
        << QStringList{"|root||||||||||normal|0", "|deep||||||||||normal|0",
                       "|near||||||||||normal|0"};

    QTest::newRow("no request elements") << QByteArray("<updates><other/></updates>")
                                         << QStringList{};

    QTest::newRow("critical only for exact true")
        << QByteArray("<u><request name=\"a\"><critical>True</critical></request>"
                      "<request name=\"b\"><critical>1</critical></request>"
                      "<request name=\"c\"><critical> true</critical></request>"
                      "<request name=\"d\"><critical>true</critical></request></u>")
        << QStringList{"|a||||||||||normal|0", "|b||||||||||normal|0",
                       "|c||||||||||normal|0", "|d||||||||||critical|0"};

    QTest::newRow("timestamp must be a decimal number")
        << QByteArray("<u><request name=\"a\"><timestamp>12a</timestamp></request>"
                      "<request name=\"b\"><timestamp>-1</timestamp></request>"
                      "<request name=\"c\"><timestamp>0x10</timestamp></request>"
                      "<request name=\"d\"><timestamp>4294967295</timestamp></request>"
                      "<request name=\"e\"><timestamp>4294967296</timestamp></request></u>")
        << QStringList{"|a||||||||||normal|0", "|b||||||||||normal|0",
                       "|c||||||||||normal|0", "|d||||||||||normal|4294967295",
                       "|e||||||||||normal|0"};

    QTest::newRow("first child element counts, its text joined")
        << QByteArray("<u><request name=\"a\"><version>1<b>.2</b></version>"
                      "<version>9</version></request></u>")
        << QStringList{"|a||1.2||||||||normal|0"};

    QTest::newRow("utf-8 texts survive")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><u><request name=\"wtyczka\">"
                      "<description>Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 g\xc4\x99\xc5\x9bl\xc4\x85 ja\xc5\xba\xc5\x84"
                      "</description><changelog>a\nb</changelog></request></u>")
        << QStringList{QString::fromUtf8("|wtyczka|||Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 "
                                         "g\xc4\x99\xc5\x9bl\xc4\x85 ja\xc5\xba\xc5\x84"
                                         "|||||a\nb||normal|0")};

    QTest::newRow("other attributes and elements ignored")
        << QByteArray("<u><request name=\"a\" colour=\"red\"><extra>1</extra></request></u>")
        << QStringList{"|a||||||||||normal|0"};
}

void UpdateAnswerTest::availableUpdates()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, records);
    QCOMPARE(parseAll(answer), records);
}

void UpdateAnswerTest::completeness_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("complete");

    QTest::newRow("nothing yet") << QByteArray() << false;
    QTest::newRow("cut mid-element") << QByteArray("<u><request name=\"a\"") << false;
    QTest::newRow("cut between elements") << QByteArray("<u><request name=\"a\"/>") << false;
    QTest::newRow("cut inside the end tag") << QByteArray("<u></u") << false;
    QTest::newRow("complete") << QByteArray("<u><request name=\"a\"/></u>") << true;
    QTest::newRow("complete with white space after it")
        << QByteArray("<u/>\r\n\t  " + QByteArray(200, ' ')) << true;
    QTest::newRow("complete with a comment after it") << QByteArray("<u/><!-- end -->") << true;
    // The answer ends with its root element; whatever follows is not read.
    QTest::newRow("a second root is not read") << QByteArray("<u/><v/>") << true;
    QTest::newRow("text after the root is not read") << QByteArray("<u/>x") << true;
    QTest::newRow("not xml but ending in >") << QByteArray("hello>") << false;
}

void UpdateAnswerTest::completeness()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, complete);
    QDomDocument document;
    QCOMPARE(parse(received, &document), complete);
}

void UpdateAnswerTest::declaredEncoding()
{
    const QString description = QString::fromUtf8("Zażółć gęślą jaźń");
    const QString document = QStringLiteral("<u><request name=\"a\"><description>%1"
                                            "</description></request></u>")
                                 .arg(description);

    QStringEncoder latin2("ISO-8859-2");
    QVERIFY(latin2.isValid());
    const QByteArray inLatin2 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>" + QByteArray(latin2.encode(document));
    QCOMPARE(parseAll(inLatin2), QStringList{"|a|||" + description + "|||||||normal|0"});

    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    const QByteArray inUtf16 = utf16.encode(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + document + "\n");
    QCOMPARE(parseAll(inUtf16), QStringList{"|a|||" + description + "|||||||normal|0"});
}

void UpdateAnswerTest::usable_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<bool>("keyed");
    QTest::addColumn<QString>("problem");

    const QByteArray digests = "<size>10</size><sha256>" + QByteArray(64, 'a') + "</sha256>";
    const auto update = [&](const QByteArray &name, const QByteArray &type) {
        return "<request project=\"vemo\" name=\"" + name + "\" type=\"" + type + "\">" + digests
               + "</request>";
    };
    QTest::newRow("good, keyed") << update("core", "app") + update("emoji", "plugin") << true
                                 << QString();
    QTest::newRow("markers only") << QByteArray("<request name=\"\"><latest/></request>") << true
                                  << QString();
    QTest::newRow("no request at all")
        << QByteArray("<other/>") << false
        << "The update server's answer says nothing about the installed components.";
    QTest::newRow("empty name") << update("", "app") << false
                                << "The update server's answer names a component \"\", which is "
                                   "not a valid component name.";
    QTest::newRow("name climbing out") << update("..", "app") << false
                                       << "The update server's answer names a component \"..\", "
                                          "which is not a valid component name.";
    QTest::newRow("name with a slash") << update("a/b", "app") << false
                                       << "The update server's answer names a component \"a/b\", "
                                          "which is not a valid component name.";
    QTest::newRow("unknown type") << update("core", "App") << false
                                  << "The update server's answer gives the component core the "
                                     "unknown type \"App\".";
    QTest::newRow("same name twice") << update("core", "app") + update("core", "plugin") << false
                                     << "The update server's answer offers the component core "
                                        "twice.";
    const QByteArray bare = "<request project=\"vemo\" name=\"core\" type=\"app\"/>";
    const QString noDigests =
        "The update server's answer does not give the size and checksum of the package core.";
    QTest::newRow("no size and checksum, keyed") << bare << true << noDigests;
    QTest::newRow("no size and checksum, unkeyed") << bare << false << QString();
    QTest::newRow("checksum in capitals")
        << replacedIn(update("core", "app"), QByteArray(64, 'a'), QByteArray(64, 'A')) << false
        << noDigests;
    QTest::newRow("size not a number") << replacedIn(update("core", "app"), "10<", "1e3<")
                                       << false << noDigests;
}

void UpdateAnswerTest::usable()
{
    QFETCH(QByteArray, requests);
    QFETCH(bool, keyed);
    QFETCH(QString, problem);

    QDomDocument document;
    QVERIFY(document.setContent("<updates>" + requests + "</updates>"));
    const QVector<UpdateInfo *> updates = UpdateAnswer::availableUpdates(document);
    QString found;
    QCOMPARE(UpdateAnswer::isUsable(document, updates, keyed, &found), problem.isEmpty());
    QCOMPARE(found, problem);
    qDeleteAll(updates);
}

VEMO_TEST_MAIN(UpdateAnswerTest)
#include "tst_updateanswer.moc"
