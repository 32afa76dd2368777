#include "engine/answerscanner.h"
#include "engine/updateanswer.h"
#include "engine/updateinfo.h"
#include "testmain.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

namespace {

// One record as a line of its fields, so a whole answer compares at once;
// a delta package adds its three.
QString describe(const UpdateInfo &u)
{
    QStringList delta;
    if (u.hasDelta())
        delta = QStringList{QStringLiteral("delta"), u.delta().link,
                            QString::number(u.delta().bytes), QString::fromLatin1(u.delta().sha256)};
    return (QStringList{u.project(),
                       u.name(),
                       u.type(),
                       u.version(),
                       u.description(),
                       u.changelog(),
                       u.link(),
                       QString::number(u.archiveBytes()),
                       QString::fromLatin1(u.archiveSha256())}
            + delta)
        .join(QLatin1Char('|'));
}

// The answer as the check reads it: through the end of its root element.
QStringList parseAll(const QByteArray &received)
{
    AnswerScanner scanner;
    if (scanner.scan(received) != AnswerScanner::Complete)
        return {QStringLiteral("<incomplete>")};
    const UpdateAnswer answer(received.left(scanner.rootEnd()));
    if (!answer.isWellFormed())
        return {QStringLiteral("<not well-formed>")};
    QStringList lines;
    for (const UpdateInfo &u : answer.updates())
        lines << describe(u);
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
    void declaredEncoding_data();
    void declaredEncoding();
    void usable_data();
    void usable();
};

void UpdateAnswerTest::availableUpdates_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("records");

    const QByteArray digest(64, 'a');
    QTest::newRow("all fields, and those never read")
        << QByteArray("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                      "<version>7.1</version><description>Core</description>"
                      "<copyrights>(c) V</copyrights><author>A</author><webpage>W</webpage>"
                      "<email>E</email><changelog>C</changelog>"
                      "<link>http://h/core.zip</link><critical>true</critical>"
                      "<timestamp>1765000000</timestamp><size>10</size><sha256>"
                      + digest + "</sha256></request></updates>")
        << QStringList{"vemo|core|app|7.1|Core|C|http://h/core.zip|10|" + digest};

    QTest::newRow("marker children skip, document order kept")
        << QByteArray("<u><request name=\"a\"/><request name=\"b\"><latest/></request>"
                      "<request name=\"c\"><noSuchUpdate>x</noSuchUpdate></request>"
                      "<request name=\"d\"><noSuchComponent/></request>"
                      "<request name=\"e\"/></u>")
        << QStringList{"|a||||||-1|", "|e||||||-1|"};

    QTest::newRow("marker as text-free element or with content")
        << QByteArray("<u><request name=\"a\"><latest></latest></request>"
                      "<request name=\"b\"><latest>yes</latest></request></u>")
        << QStringList{};

    QTest::newRow("marker deeper than a direct child does not skip")
        << QByteArray("<u><request name=\"a\"><x><latest/></x></request></u>")
        << QStringList{"|a||||||-1|"};

    QTest::newRow("marker as an instruction or an unresolved entity")
        << QByteArray("<!DOCTYPE u SYSTEM \"u.dtd\"><u><request name=\"a\"><?latest?></request>"
                      "<request name=\"b\">&noSuchUpdate;</request>"
                      "<request name=\"c\"><x><?latest?>&latest;</x></request></u>")
        << QStringList{"|c||||||-1|"};

    QTest::newRow("request elements at any depth, the root included")
        << QByteArray("<request name=\"root\"><a><b><request name=\"deep\"/></b></a>"
                      "<request name=\"near\"/></request>")
        << QStringList{"|root||||||-1|", "|deep||||||-1|", "|near||||||-1|"};

    QTest::newRow("a request inside a field gives its text to both")
        << QByteArray("<u><request name=\"a\"><version>1<request name=\"b\"><version>2</version>"
                      "</request></version></request></u>")
        << QStringList{"|a||12||||-1|", "|b||2||||-1|"};

    QTest::newRow("no request elements") << QByteArray("<updates><other/></updates>")
                                         << QStringList{};

    QTest::newRow("first child element counts, its text joined")
        << QByteArray("<u><request name=\"a\"><version>1<b>.2</b></version>"
                      "<version>9</version></request></u>")
        << QStringList{"|a||1.2||||-1|"};

    QTest::newRow("text of spaces alone counts for nothing, a CDATA section always")
        << QByteArray("<u><request name=\"a\"><version> <b> </b>1 <![CDATA[ ]]><![CDATA[ 2]]>"
                      "&#xA0;<!-- -->\n</version><description>&#xA0;</description></request></u>")
        << QStringList{"|a||1   2||||-1|"};

    QTest::newRow("entities and a declared default attribute")
        << QByteArray("<!DOCTYPE u [<!ENTITY v \"7.1\"><!ATTLIST request type CDATA \"app\">]>"
                      "<u><request name=\"a\"><version>&v;&amp;&#x31;</version></request></u>")
        << QStringList{"|a|app|7.1&1||||-1|"};

    QTest::newRow("utf-8 texts survive")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><u><request name=\"wtyczka\">"
                      "<description>Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 g\xc4\x99\xc5\x9bl\xc4\x85 "
                      "ja\xc5\xba\xc5\x84"
                      "</description><changelog>a\nb</changelog></request></u>")
        << QStringList{QString::fromUtf8("|wtyczka|||Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 "
                                         "g\xc4\x99\xc5\x9bl\xc4\x85 ja\xc5\xba\xc5\x84"
                                         "|a\nb||-1|")};

    QTest::newRow("a prefix is part of the name")
        << QByteArray("<v:u><request name=\"a\"><v:version>1</v:version></request>"
                      "<v:request name=\"b\"/></v:u>")
        << QStringList{"|a||||||-1|"};

    QTest::newRow("size not a number, checksum as given")
        << QByteArray("<u><request name=\"a\"><size>1e3</size><sha256>ABC</sha256></request></u>")
        << QStringList{"|a||||||-1|ABC"};

    const QByteArray other(64, 'b');
    QTest::newRow("a delta package after the full one")
        << QByteArray("<u><request name=\"a\"><link>http://h/a.zip</link><size>10</size><sha256>"
                      + digest + "</sha256><delta><link>http://h/a-delta.zip</link><size>3</size>"
                      "<sha256>" + other + "</sha256></delta></request></u>")
        << QStringList{"|a|||||http://h/a.zip|10|" + digest + "|delta|http://h/a-delta.zip|3|" + other};
    QTest::newRow("the first delta counts, and only its direct children")
        << QByteArray("<u><request name=\"a\"><delta><x><link>http://h/x.zip</link></x>"
                      "<link>http://h/d1.zip</link><size>4</size><size>5</size></delta>"
                      "<delta><link>http://h/d2.zip</link><sha256>" + other + "</sha256></delta>"
                      "<x><delta><sha256>" + digest + "</sha256></delta></x></request></u>")
        << QStringList{"|a||||||-1||delta|http://h/d1.zip|4|"};
    QTest::newRow("a delta's fields are not the full package's")
        << QByteArray("<u><request name=\"a\"><delta><link>http://h/d.zip</link></delta>"
                      "<link>http://h/a.zip</link></request></u>")
        << QStringList{"|a|||||http://h/a.zip|-1||delta|http://h/d.zip|-1|"};

    QTest::newRow("other attributes and elements ignored")
        << QByteArray("<u><request name=\"a\" colour=\"red\"><extra>1</extra></request></u>")
        << QStringList{"|a||||||-1|"};
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
    QTest::newRow("complete for the scanner, not well-formed")
        << QByteArray("<u><request name=a/></u>") << false;
    QTest::newRow("an entity nobody declared") << QByteArray("<u>&e;</u>") << false;
    QTest::newRow("a document type declared inside the root")
        << QByteArray("<u><!DOCTYPE u><request name=\"a\"/></u>") << false;
}

void UpdateAnswerTest::completeness()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, complete);
    const QStringList records = parseAll(received);
    QCOMPARE(records != QStringList{"<incomplete>"} && records != QStringList{"<not well-formed>"},
             complete);
}

void UpdateAnswerTest::declaredEncoding_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("records");

    const QString description = QString::fromUtf8("Zażółć gęślą jaźń");
    const QString document = QStringLiteral("<u><request name=\"a\"><description>%1"
                                            "</description></request></u>")
                                 .arg(description);
    const QStringList decoded{"|a|||" + description + "|||-1|"};

    // The same text in each single-byte encoding, as its bytes: no platform's
    // converter is trusted to make them.
    const QByteArray iso8859_2 = "Za\xbf\xf3\xb3\xe6 g\xea\xb6l\xb1 ja\xbc\xf1";
    const QByteArray windows1250 = "Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1";
    const auto declared = [](const QByteArray &name, const QByteArray &text) {
        return "<?xml version=\"1.0\" encoding=\"" + name + "\"?><u><request name=\"a\">"
               + "<description>" + text + "</description></request></u>";
    };
    QTest::newRow("ISO-8859-2 declared") << declared("ISO-8859-2", iso8859_2) << decoded;
    QTest::newRow("ISO-8859-2 by another name") << declared("latin2", iso8859_2) << decoded;
    QTest::newRow("windows-1250 declared") << declared("windows-1250", windows1250) << decoded;
    QTest::newRow("windows-1252 declared")
        << declared("windows-1252", "\x80 \xe9\x9f") << QStringList{"|a|||\u20ac \u00e9\u0178|||-1|"};
    QTest::newRow("US-ASCII declared")
        << declared("US-ASCII", "plain") << QStringList{"|a|||plain|||-1|"};
    QTest::newRow("a byte windows-1250 does not define")
        << declared("windows-1250", "a\x81" "b") << QStringList{"<not well-formed>"};
    QTest::newRow("a byte US-ASCII does not define")
        << declared("US-ASCII", "\xe9") << QStringList{"<not well-formed>"};
    QTest::newRow("the system's encoding, a different one on each platform")
        << declared("Locale", "plain") << QStringList{"<not well-formed>"};
    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    QTest::newRow("UTF-16 with byte order mark") << QByteArray(utf16.encode(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + document + "\n"))
                                                 << decoded;
    QStringEncoder utf16Again(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    const QString loneSurrogate =
        QStringLiteral("<u><request name=\"a") + QChar(0xD800) + QStringLiteral("b\"/></u>");
    QTest::newRow("UTF-16 with a lone surrogate, which UTF-8 cannot carry")
        << QByteArray(utf16Again.encode(loneSurrogate)) << QStringList{"|a?b||||||-1|"};
    QTest::newRow("an encoding nobody knows")
        << QByteArray("<?xml version=\"1.0\" encoding=\"x-vemo\"?><u><request name=\"a\"/></u>")
        << QStringList{"<not well-formed>"};
}

void UpdateAnswerTest::declaredEncoding()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, records);
    QCOMPARE(parseAll(answer), records);
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
    QTest::newRow("type checked as it stands, shown as the records hold it")
        << update("core", "\xef\xbb\xbf"
                          "app")
        << false << "The update server's answer gives the component core the unknown type \"app\".";
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

    const auto withDelta = [&](const QByteArray &delta) {
        return replacedIn(update("core", "app"), "</request>", delta + "</request>");
    };
    const QByteArray delta = "<delta><link>http://h/core-delta.zip</link><size>3</size><sha256>"
                             + QByteArray(64, 'b') + "</sha256></delta>";
    const QString badDelta = "The update server's answer does not give the address, size and "
                             "checksum of the delta package core.";
    QTest::newRow("delta, keyed") << withDelta(delta) << true << QString();
    QTest::newRow("delta without a checksum, unkeyed")
        << withDelta(replacedIn(delta, "<sha256>" + QByteArray(64, 'b') + "</sha256>", ""))
        << false << badDelta;
    QTest::newRow("delta size not a number")
        << withDelta(replacedIn(delta, ">3<", ">-3<")) << true << badDelta;
    QTest::newRow("delta link climbing out of the archive folder")
        << withDelta(replacedIn(delta, "http://h/", "http://h/a/../../")) << true << badDelta;
    QTest::newRow("delta link without a host")
        << withDelta(replacedIn(delta, "http://h/", "/")) << true << badDelta;
    QTest::newRow("empty delta element") << withDelta("<delta/>") << true << badDelta;
    QTest::newRow("delta of an update that is not offered is not looked at")
        << QByteArray("<request name=\"core\"><latest/><delta/></request>") << true << QString();
}

void UpdateAnswerTest::usable()
{
    QFETCH(QByteArray, requests);
    QFETCH(bool, keyed);
    QFETCH(QString, problem);

    const UpdateAnswer answer("<updates>" + requests + "</updates>");
    QVERIFY(answer.isWellFormed());
    QString found;
    QCOMPARE(answer.isUsable(keyed, &found), problem.isEmpty());
    QCOMPARE(found, problem);
}

VEMO_TEST_MAIN(UpdateAnswerTest)
#include "tst_updateanswer.moc"
