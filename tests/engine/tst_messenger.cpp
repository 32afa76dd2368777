#include "engine/messenger.h"
#include "testmain.h"

#include <QTest>

class MessengerTest : public QObject
{
    Q_OBJECT

private slots:
    void cutOutQuery_data();
    void cutOutQuery();
    void installationDirectory_data();
    void installationDirectory();
};

void MessengerTest::cutOutQuery_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("query");

    QTest::newRow("only the fragment") << QByteArray("<s><c n=\"a\"/></s>")
                                       << QByteArray("<s><c n=\"a\"/></s>");
    QTest::newRow("text around the fragment")
        << QByteArray("Vemo 7.0 starting\r\n<s>q</s>\r\nbye\n") << QByteArray("<s>q</s>");
    QTest::newRow("two fragments, from the first start to the last end")
        << QByteArray("x<s>a</s> <s>b</s>y") << QByteArray("<s>a</s> <s>b</s>");
    QTest::newRow("end marker only") << QByteArray("abc</s>") << QByteArray();
    QTest::newRow("start marker only") << QByteArray("<s>abc") << QByteArray();
    QTest::newRow("no output") << QByteArray() << QByteArray();
    QTest::newRow("end before start") << QByteArray("</s>x<s>") << QByteArray();
    QTest::newRow("markers overlap") << QByteArray("<s>/s>") << QByteArray();
    QTest::newRow("empty fragment") << QByteArray("<s></s>") << QByteArray("<s></s>");
    QTest::newRow("latin-1 bytes become utf-8")
        << QByteArray("<s>Gr\xfc\xdf</s>") << QByteArray("<s>Gr\xc3\xbc\xc3\x9f</s>");
    QTest::newRow("utf-8 input is treated as latin-1 too")
        << QByteArray("<s>\xc3\xa9</s>") << QByteArray("<s>\xc3\x83\xc2\xa9</s>");
}

void MessengerTest::cutOutQuery()
{
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, query);
    QCOMPARE(Messenger::cutOutQuery(output), query);
}

void MessengerTest::installationDirectory_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("dir");

    QTest::newRow("after -root") << QStringList{"prog", "-u", "-root", "/opt/vemo"} << true
                                 << "/opt/vemo";
    QTest::newRow("first -root counts")
        << QStringList{"prog", "-root", "/a", "-root", "/b"} << true << "/a";
    QTest::newRow("-root last") << QStringList{"prog", "-u", "-root"} << false << QString();
    QTest::newRow("no -root") << QStringList{"prog", "-u"} << false << QString();
    QTest::newRow("capitals are no switch") << QStringList{"prog", "-ROOT", "/a"} << false
                                            << QString();
    QTest::newRow("value may look like a switch") << QStringList{"prog", "-root", "-q"} << true
                                                  << "-q";
}

void MessengerTest::installationDirectory()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, found);
    QFETCH(QString, dir);
    QString result;
    QCOMPARE(Messenger::installationDirectory(arguments, &result), found);
    QCOMPARE(result, dir);
}

VEMO_TEST_MAIN(MessengerTest)
#include "tst_messenger.moc"
