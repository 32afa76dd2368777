#include "engine/answersignature.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDateTime>
#include <QDomDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

const QString Server = QStringLiteral(VEMO_TOOLS_DIR "/vemo-update-server");
// An address of its own, so that this test can run beside the others.
const QString Address = QStringLiteral("127.0.0.41");
constexpr int IdleTimeoutMs = 1000;

const QByteArray Catalogue = R"(<catalogue>
  <component project="vemo" name="core" type="app">
    <version>7.1.0</version>
    <changelog>Line one
Line two</changelog>
    <link>http://127.0.0.1/packages/core-7.1.0.zip</link>
  </component>
  <component project="vemo" name="chat" type="app"><version>7.10.0</version>
    <delta from="7.9"><link>http://127.0.0.1/chat-7.9.zip</link><size>12</size></delta>
    <delta from="7.9.4"><link>http://127.0.0.1/chat-7.9.4.zip</link><size>10</size></delta>
  </component>
  <component project="vemo" name="emoji" type="plugin"><version>2.0</version></component>
  <component project="vemo" name="wtyczka-ż" type="plugin">
    <version>2</version><description>Zażółć gęślą jaźń
„cytat”</description>
  </component>
</catalogue>
)";

// "name/type/version" per component, project "vemo".
QByteArray query(const QList<QByteArray> &components)
{
    QByteArray query("<s>");
    for (const QByteArray &component : components) {
        const QList<QByteArray> f = component.split('/');
        query += "<component project=\"vemo\" name=\"" + f.value(0) + "\" type=\"" + f.value(1)
                 + "\" version=\"" + f.value(2) + "\"/>";
    }
    return query + "</s>";
}

// One line per request: "project/name/type: child; child=text; ...".
QStringList describe(const QByteArray &answer)
{
    QDomDocument document;
    if (!document.setContent(answer))
        return {"not a document: " + QString::fromUtf8(answer)};
    QStringList lines;
    const QDomNodeList requests = document.elementsByTagName("request");
    for (int i = 0; i < requests.size(); ++i) {
        const QDomElement request = requests.at(i).toElement();
        QStringList children;
        for (QDomElement c = request.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            QStringList attributes;
            for (int a = 0; a < c.attributes().size(); ++a)
                attributes << c.attributes().item(a).nodeName();
            QString line = c.tagName() + (attributes.isEmpty() ? QString() : '(' + attributes.join(',') + ')');
            QStringList parts;
            for (QDomElement d = c.firstChildElement(); !d.isNull(); d = d.nextSiblingElement())
                parts << d.tagName() + '=' + d.text();
            if (!parts.isEmpty())
                line += '[' + parts.join(", ") + ']';
            else if (c.hasChildNodes())
                line += '=' + c.text();
            children << line;
        }
        lines << QStringLiteral("%1/%2/%3: %4")
                     .arg(request.attribute("project"), request.attribute("name"),
                          request.attribute("type"), children.join("; "));
    }
    return lines;
}

QByteArray readToEnd(QTcpSocket *socket, int waitMs = 5000)
{
    QByteArray data;
    while (socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(waitMs))
        data += socket->readAll();
    return data + socket->readAll();
}

} // namespace

// Runs the update server stand-in and talks to it over TCP like the updater.
class UpdateServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answers_data();
    void answers();
    void catalogueReadForEveryQuery();
    void tenClientsAtOnce();
    void badClients_data();
    void badClients();
    void signedAnswers_data();
    void signedAnswers();
    void busyPort();
    void stopsOnTermination();

private:
    QByteArray exchange(const QByteArray &query);
    // The server writes its log as text: lines end with "\r\n" on Windows.
    QString log() const
    {
        return QString::fromUtf8(readFile(m_dir->filePath("server.log"))).remove(QLatin1Char('\r'));
    }

    QScopedPointer<QTemporaryDir> m_dir;
    QProcess m_server;
    quint16 m_port = 0;
};

void UpdateServerTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(writeFile(m_dir->filePath("catalogue.xml"), Catalogue));
    m_server.start(Server, {"--catalogue", m_dir->path(), "--address", Address, "--port", "0",
                            "--log", m_dir->filePath("server.log"), "--idle-timeout",
                            QString::number(IdleTimeoutMs)});
    QVERIFY(m_server.waitForStarted(5000));
    while (!m_server.canReadLine())
        QVERIFY(m_server.waitForReadyRead(5000));
    const QRegularExpressionMatch ready =
        QRegularExpression("^listening on " + QRegularExpression::escape(Address) + ":(\\d+)\r?\n$")
            .match(QString::fromUtf8(m_server.readLine()));
    QVERIFY(ready.hasMatch());
    m_port = quint16(ready.captured(1).toUInt());
}

void UpdateServerTest::cleanup()
{
#ifdef Q_OS_WIN
    // terminate() asks a program's windows to close; a console server has none.
    m_server.kill();
#else
    m_server.terminate();
#endif
    m_server.waitForFinished(5000);
}

QByteArray UpdateServerTest::exchange(const QByteArray &query)
{
    QTcpSocket socket;
    socket.connectToHost(Address, m_port);
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(query);
    return readToEnd(&socket);
}

void UpdateServerTest::answers_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QStringList>("answer");

    const QString coreUpdate = "vemo/core/app: version=7.1.0; changelog=Line one\nLine two; "
                               "link=http://127.0.0.1/packages/core-7.1.0.zip";
    QTest::newRow("newer version with every catalogue field") << query({"core/app/7.0.0"})
                                                              << QStringList{coreUpdate};
    QTest::newRow("equal version") << query({"core/app/7.1.0"})
                                   << QStringList{"vemo/core/app: latest"};
    QTest::newRow("missing parts and leading zeros") << query({"core/app/7.01"})
                                                     << QStringList{"vemo/core/app: latest"};
    QTest::newRow("parts compare as numbers") << query({"chat/app/7.9.5"})
                                              << QStringList{"vemo/chat/app: version=7.10.0"};
    QTest::newRow("the delta made against the installed version, last")
        << query({"chat/app/7.9.4"})
        << QStringList{"vemo/chat/app: version=7.10.0; "
                       "delta[link=http://127.0.0.1/chat-7.9.4.zip, size=10]"};
    QTest::newRow("delta versions compare as numbers")
        << query({"chat/app/7.09.0"})
        << QStringList{"vemo/chat/app: version=7.10.0; "
                       "delta[link=http://127.0.0.1/chat-7.9.zip, size=12]"};
    QTest::newRow("installed newer") << query({"chat/app/7.10.0.1"})
                                     << QStringList{"vemo/chat/app: noSuchUpdate"};
    QTest::newRow("one request per component, in query order")
        << query({"video/app/1", "core/app/7.0.9", "emoji/plugin/2", "chat/app/8"})
        << QStringList{"vemo/video/app: noSuchComponent", coreUpdate, "vemo/emoji/plugin: latest",
                       "vemo/chat/app: noSuchUpdate"};
    // The messenger writes names beyond ASCII as character references.
    QTest::newRow("UTF-8 names and texts")
        << query({"wtyczka-&#380;/plugin/1"})
        << QStringList{"vemo/wtyczka-ż/plugin: version=2; description=Zażółć gęślą jaźń\n„cytat”"};
    QTest::newRow("empty query") << QByteArray("<s></s>") << QStringList();
    QTest::newRow("other content of the query ignored")
        << QByteArray("<s>\n <component project=\"vemo\" name=\"emoji\" type=\"plugin\" "
                      "version=\"1.9\"><x/></component> <other/></s>trailing")
        << QStringList{"vemo/emoji/plugin: version=2.0"};
}

void UpdateServerTest::answers()
{
    QFETCH(QByteArray, query);
    QFETCH(QStringList, answer);
    const QByteArray document = exchange(query);
    QVERIFY(document.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    QCOMPARE(describe(document), answer);
    QVERIFY(log().contains(QStringLiteral("\tanswered %1 request(s)\t%2 bytes\n")
                               .arg(query.count("<component"))
                               .arg(query.size())));
}

void UpdateServerTest::catalogueReadForEveryQuery()
{
    const QString path = m_dir->filePath("catalogue.xml");
    QVERIFY(writeFile(path, "<c><component project=\"vemo\" name=\"core\" type=\"app\">"
                            "<version>7.2</version></component></c>"));
    QCOMPARE(describe(exchange(query({"core/app/7.1"}))), QStringList{"vemo/core/app: version=7.2"});

    // A broken or missing catalogue is the server's fault: no answer rather
    // than a wrong one.
    QVERIFY(writeFile(path, "<catalogue><component>"));
    QCOMPARE(exchange(query({"core/app/7.1"})), QByteArray());
    QVERIFY(log().contains("closed: no answer, " + path + " is not well-formed"));
    QVERIFY(QFile::remove(path));
    QCOMPARE(exchange(query({"core/app/7.1"})), QByteArray());
    QVERIFY(log().contains("closed: no answer, cannot read " + path));
}

void UpdateServerTest::tenClientsAtOnce()
{
    QByteArray catalogue("<catalogue>");
    for (int i = 0; i < 10; ++i)
        catalogue += "<component project=\"vemo\" name=\"c" + QByteArray::number(i)
                     + "\" type=\"app\"><version>" + QByteArray::number(i + 1)
                     + "</version></component>";
    QVERIFY(writeFile(m_dir->filePath("catalogue.xml"), catalogue + "</catalogue>"));

    // All ten connect and send half their query before any sends the rest.
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(Address, m_port);
        QVERIFY(clients.back()->waitForConnected(5000));
        clients.back()->write(query({"c" + QByteArray::number(i) + "/app/0"}).left(20));
        QVERIFY(clients.back()->waitForBytesWritten(5000));
    }
    for (int i = 9; i >= 0; --i) {
        clients[i]->write(query({"c" + QByteArray::number(i) + "/app/0"}).mid(20));
        QVERIFY(clients[i]->waitForBytesWritten(5000));
    }
    for (int i = 0; i < 10; ++i)
        QCOMPARE(describe(readToEnd(clients[i].get())),
                 QStringList{QStringLiteral("vemo/c%1/app: version=%2").arg(i).arg(i + 1)});
}

void UpdateServerTest::badClients_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("logged");

    QTest::newRow("malformed") << QByteArray("<s><component></s>") << "closed: malformed query";
    QTest::newRow("another root element") << QByteArray("<updates/>") << "closed: malformed query";
    QByteArray huge("<s>");
    while (huge.size() <= 1024 * 1024)
        huge += "<component project=\"vemo\" name=\"padding\" type=\"app\" version=\"1\"/>";
    QTest::newRow("larger than 1 MiB") << huge << "closed: query larger than 1 MiB";
    QTest::newRow("never completed")
        << QByteArray("<s><component project=\"vemo\"")
        << QStringLiteral("closed: query not complete after %1 ms of silence").arg(IdleTimeoutMs);
    QTest::newRow("nothing sent") << QByteArray()
                                  << QStringLiteral("closed: nothing received within %1 ms")
                                         .arg(IdleTimeoutMs);
}

void UpdateServerTest::badClients()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, logged);

    QTcpSocket socket;
    socket.connectToHost(Address, m_port);
    QVERIFY(socket.waitForConnected(5000));
    // The server may cut a large query off while it is still on its way.
    for (int at = 0; at < sent.size() && socket.state() == QAbstractSocket::ConnectedState;
         at += 65536) {
        socket.write(sent.mid(at, 65536));
        socket.waitForBytesWritten(5000);
    }
    QCOMPARE(readToEnd(&socket, IdleTimeoutMs * 5), QByteArray());
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY2(log().contains(logged), qPrintable(log()));

    // The server goes on serving.
    QCOMPARE(describe(exchange(query({"core/app/7.1.0"}))), QStringList{"vemo/core/app: latest"});
}

void UpdateServerTest::signedAnswers_data()
{
    QTest::addColumn<QString>("lifetime");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("fresh") << "600" << "verified";
    QTest::newRow("lifetime in the past") << "-5" << "the answer expired at ";
}

void UpdateServerTest::signedAnswers()
{
    QFETCH(QString, lifetime);
    QFETCH(QString, verdict);

    // The test-only release key signs; the updater's own verification checks.
    QProcess signing;
    signing.start(Server, {"--catalogue", m_dir->path(), "--address", Address, "--port", "0",
                           "--key", VEMO_SOURCE_DIR "/tests/keys/test-only-release.key",
                           "--lifetime", lifetime});
    QVERIFY(signing.waitForStarted(5000) && signing.waitForReadyRead(5000));
    const quint16 port = quint16(
        QString::fromLatin1(signing.readLine().trimmed()).section(':', -1).toUInt());
    const QByteArray sent = query({"core/app/7.0.0", "emoji/plugin/2"}) + "trailing";
    QTcpSocket socket;
    socket.connectToHost(Address, port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write(sent);
    const QByteArray answer = readToEnd(&socket);
    signing.terminate();
    signing.waitForFinished(5000);

    QVector<QByteArray> keys;
    QString reason;
    QVERIFY(AnswerSignature::parseKeys(readFile(VEMO_SOURCE_DIR "/tests/keys/test-only-release.pub"),
                                       &keys, &reason));
    QByteArray message;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const bool verified = AnswerSignature(keys).verify(answer, sent, now, &message, &reason);
    QVERIFY2(verified ? verdict == "verified" : reason.startsWith(verdict), qPrintable(reason));
    // Signed on its own line after the declaration; nothing after the root.
    QCOMPARE(answer.split('\n').value(1).left(24), QByteArray("<?vemo-signature value=\""));
    QVERIFY(answer.endsWith("</updates>"));
    QCOMPARE(describe(answer), QStringList({"vemo/core/app: version=7.1.0; changelog=Line one\n"
                                            "Line two; link=http://127.0.0.1/packages/core-7.1.0.zip",
                                            "vemo/emoji/plugin: latest"}));
    if (verified) {
        const QDomElement root = [&] {
            QDomDocument d;
            d.setContent(message);
            return d.documentElement();
        }();
        QVERIFY(qAbs(root.attribute("expires").toLongLong() - (now + 600)) <= 5);
    }
}

void UpdateServerTest::busyPort()
{
    QProcess second;
    second.start(Server, {"--catalogue", m_dir->path(), "--address", Address, "--port",
                          QString::number(m_port)});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QVERIFY(second.readAllStandardError().startsWith(
        QStringLiteral("vemo-update-server: Cannot listen on %1:%2: ").arg(Address).arg(m_port).toUtf8()));
}

void UpdateServerTest::stopsOnTermination()
{
#ifdef Q_OS_WIN
    QSKIP("termination by a POSIX signal (SIGTERM)");
#else
    // A client in the middle of its query does not hold the server up.
    QTcpSocket client;
    client.connectToHost(Address, m_port);
    QVERIFY(client.waitForConnected(5000));
    client.write("<s><comp");
    QVERIFY(client.waitForBytesWritten(5000));

    QCOMPARE(::kill(pid_t(m_server.processId()), SIGTERM), 0);
    QVERIFY(m_server.waitForFinished(5000));
    QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_server.exitCode(), 0);
    QCOMPARE(m_server.readAllStandardOutput(), QByteArray("stopped\n"));
#endif
}

VEMO_TEST_MAIN(UpdateServerTest)
#include "tst_updateserver.moc"
