#include "engine/httpclient.h"
#include "fakehttpserver.h"
#include "localwebserver.h"
#include "testmain.h"
#include "treelisting.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// nginx, the fake server and an address where nothing listens, used by no
// other test executable.
const QString WebAddress = QStringLiteral("127.0.0.21");
const QString FakeAddress = QStringLiteral("127.0.0.23");
const QString DeadAddress = QStringLiteral("127.0.0.25");
constexpr quint16 Port = 18080;

QByteArray sampleData(int size, char seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(seed + i * 7 + i / 251);
    return data;
}

} // namespace

class HttpClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();

private:
    QTemporaryDir m_root;
    LocalWebServer m_web;
    FakeHttpServer m_fake;
};

void HttpClientTest::initTestCase()
{
    QVERIFY(writeFile(m_root.filePath("a.bin"), sampleData(300, 'a')));
    QVERIFY(writeFile(m_root.filePath("b.bin"), sampleData(700, 'b')));
    QVERIFY(writeFile(m_root.filePath("empty.bin"), QByteArray()));
    QVERIFY(writeFile(m_root.filePath("large.bin"), sampleData(3 * 1024 * 1024 + 17, 'l')));
    QVERIFY(QDir(m_root.path()).mkpath("dir"));
    QVERIFY(m_web.start(m_root.path(), WebAddress, Port));

    QVERIFY(m_fake.listen(QHostAddress(FakeAddress), Port));
    m_fake.setHandler([](const FakeHttpServer::Request &request) -> FakeHttpServer::Reply {
        const QByteArray &target = request.target;
        if (target == "/silent")
            return {QByteArray(), false};
        // 300 bytes every 100 ms for 1.2 s: slow, but above the floor.
        if (target == "/steady")
            return {"HTTP/1.1 200 OK\r\nContent-Length: 3600\r\n\r\n", true,
                    QList<QByteArray>(12, sampleData(300, 's')), 100};
        if (target == "/cut")
            return {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + sampleData(400, 'c'), true};
        return {QByteArray(), true};
    });
}

void HttpClientTest::requests_data()
{
    // "host web|fake|dead", "head PATH", "get PATH" (into a buffer), "get PATH
    // FROM" (into a buffer, with "Range: bytes=FROM-") and "get-full PATH" /
    // "get-full-unbuffered PATH" (into /dev/full). The client is aborted when the log
    // reaches 'abortAt' ("idle": before anything is queued, "queued": before
    // the first request starts), and "abort: <errorString>" is logged then.
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("abortAt");
    QTest::addColumn<int>("stallWindow");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("expected");

    const QStringList host{"started 1 +pending", "finished 1 ok"};
    const QStringList largeThenHead{"host web", "get /large.bin", "head /dropped.bin"};
    const int none = HttpClient::NoError;
    const int aborted = HttpClient::Aborted;

    QTest::newRow("setHost alone") << QStringList{"host web"} << "" << 10000 << none
                                   << QStringList{"started 1", "finished 1 ok", "done"};
    QTest::newRow("gets and heads run in order")
        << QStringList{"host web", "get /a.bin", "head /b.bin", "get /b.bin"} << "" << 10000 << none
        << host + QStringList{"started 2 +pending", "header 200 OK", "progress", "finished 2 ok",
                              "started 3 +pending", "header 200 OK", "finished 3 ok",
                              "started 4", "header 200 OK", "progress", "finished 4 ok", "done"};
    QTest::newRow("404 is a response and the queue goes on")
        << QStringList{"host web", "get /missing.bin", "head /a.bin"} << "" << 10000 << none
        << host + QStringList{"started 2 +pending", "header 404 Not Found", "progress",
                              "finished 2 ok", "started 3", "header 200 OK", "finished 3 ok", "done"};
    QTest::newRow("redirect reported, not followed")
        << QStringList{"host web", "get /dir"} << "" << 10000 << none
        << host + QStringList{"started 2", "header 301 Moved Permanently", "progress",
                              "finished 2 ok", "done"};
    QTest::newRow("empty body") << QStringList{"host web", "get /empty.bin"} << "" << 10000 << none
                                << host + QStringList{"started 2", "header 200 OK", "finished 2 ok", "done"};
    QTest::newRow("body of several megabytes")
        << QStringList{"host web", "get /large.bin"} << "" << 10000 << none
        << host + QStringList{"started 2", "header 200 OK", "progress", "finished 2 ok", "done"};
    QTest::newRow("fields sent: the rest of a body from a Range")
        << QStringList{"host web", "get /large.bin 3000000"} << "" << 10000 << none
        << host + QStringList{"started 2", "header 206 Partial Content", "progress", "finished 2 ok", "done"};

    // A failure drops the HEAD queued behind it.
    QTest::newRow("connection refused")
        << QStringList{"host dead", "get /a.bin", "head /dropped.bin"} << "" << 10000
        << int(HttpClient::ConnectionRefused)
        << host + QStringList{"started 2 +pending", "finished 2 failed: Connection refused"};
    QTest::newRow("connection cut in the middle of the body")
        << QStringList{"host fake", "get /cut", "head /dropped.bin"} << "" << 10000
        << int(HttpClient::UnexpectedClose)
        << host + QStringList{"started 2 +pending", "header 200 OK", "progress",
                              "finished 2 failed: The connection was closed after 400 of 1000 bytes."};
    QTest::newRow("connection closed without an answer")
        << QStringList{"host fake", "get /closed", "head /dropped.bin"} << "" << 10000
        << int(HttpClient::UnexpectedClose)
        << host + QStringList{"started 2 +pending", "finished 2 failed: Connection closed"};
    QTest::newRow("server silent")
        << QStringList{"host fake", "head /silent", "head /dropped.bin"} << "" << 300
        << int(HttpClient::UnknownError)
        << host + QStringList{"started 2 +pending",
                              "finished 2 failed: The server did not answer within 0.3 seconds."};
    // The floor is for each window, not for the whole transfer.
    QTest::newRow("server slow but steady")
        << QStringList{"host fake", "get /steady"} << "" << 500 << none
        << host + QStringList{"started 2", "header 200 OK", "progress", "finished 2 ok", "done"};
    QTest::newRow("disk full, first write fails")
        << QStringList{"host web", "get-full-unbuffered /large.bin", "head /dropped.bin"} << "" << 10000
        << int(HttpClient::DeviceWriteError)
        << host + QStringList{"started 2 +pending", "header 200 OK",
                              "finished 2 failed: Cannot write the downloaded data: No space left on device"};
    QTest::newRow("disk full noticed when the file is flushed")
        << QStringList{"host web", "get-full /a.bin", "head /dropped.bin"} << "" << 10000
        << int(HttpClient::DeviceWriteError)
        << host + QStringList{"started 2 +pending", "header 200 OK", "progress",
                              "finished 2 failed: Cannot write the downloaded data: No space left on device"};

    QTest::newRow("abort when idle changes nothing")
        << QStringList{"host web", "get /large.bin", "head /a.bin"} << "idle" << 10000 << none
        << QStringList{"abort: "} + host
            + QStringList{"started 2 +pending", "header 200 OK", "progress", "finished 2 ok",
                          "started 3", "header 200 OK", "finished 3 ok", "done"};
    QTest::newRow("abort before the first request starts")
        << largeThenHead << "queued" << 10000 << aborted << QStringList{"abort: Request aborted"};
    QTest::newRow("abort in requestFinished of setHost")
        << largeThenHead << "finished 1" << 10000 << aborted
        << host + QStringList{"abort: Request aborted"};
    QTest::newRow("abort in requestStarted")
        << largeThenHead << "started 2" << 10000 << aborted
        << host + QStringList{"started 2 +pending", "finished 2 failed: Request aborted",
                              "abort: Request aborted"};
    QTest::newRow("abort in responseHeaderReceived")
        << largeThenHead << "header" << 10000 << aborted
        << host + QStringList{"started 2 +pending", "header 200 OK",
                              "finished 2 failed: Request aborted", "abort: Request aborted"};
    QTest::newRow("abort in dataReadProgress")
        << largeThenHead << "progress" << 10000 << aborted
        << host + QStringList{"started 2 +pending", "header 200 OK", "progress",
                              "finished 2 failed: Request aborted", "abort: Request aborted"};
    QTest::newRow("abort in requestFinished of a get drops the rest")
        << largeThenHead << "finished 2" << 10000 << aborted
        << host + QStringList{"started 2 +pending", "header 200 OK", "progress", "finished 2 ok",
                              "abort: Request aborted"};
    QTest::newRow("abort in requestFinished of the last request suppresses done")
        << QStringList{"host web", "get /a.bin"} << "finished 2" << 10000 << none
        << host + QStringList{"started 2", "header 200 OK", "progress", "finished 2 ok", "abort: "};
}

void HttpClientTest::requests()
{
    QFETCH(QStringList, operations);
    QFETCH(QString, abortAt);
    QFETCH(int, stallWindow);
    QFETCH(int, error);
    QFETCH(QStringList, expected);

    HttpClient client;
    client.setStallWindow(stallWindow);
    QStringList log;
    QStringList problems;
    bool abortDone = false;
    auto abortNow = [&] {
        abortDone = true;
        client.abort();
        log << QStringLiteral("abort: ") + client.errorString();
    };
    auto note = [&](const QString &line) {
        log << line;
        if (!abortDone && !abortAt.isEmpty() && line.startsWith(abortAt))
            abortNow();
    };
    auto last = [&] { return log.isEmpty() ? QString() : log.last(); };

    // Each GET's body is checked against its header and against the file.
    std::vector<std::unique_ptr<QIODevice>> devices;
    struct Body
    {
        QBuffer *buffer = nullptr;
        QString path;
        qint64 from = 0;
    };
    QHash<int, Body> bodies;
    HttpResponseHeader header;
    qint64 lastDone = 0;
    qint64 lastTotal = 0;
    connect(&client, &HttpClient::requestStarted, this, [&](int id) {
        lastDone = 0;
        note(QStringLiteral("started %1%2").arg(id).arg(client.hasPendingRequests() ? " +pending" : ""));
    });
    connect(&client, &HttpClient::responseHeaderReceived, this, [&](const HttpResponseHeader &h) {
        header = h;
        note(QStringLiteral("header %1 %2").arg(h.statusCode()).arg(h.reasonPhrase()));
    });
    connect(&client, &HttpClient::dataReadProgress, this, [&](qint64 done, qint64 total) {
        if (done <= lastDone)
            problems << QStringLiteral("progress from %1 to %2").arg(lastDone).arg(done);
        lastDone = done;
        lastTotal = total;
        if (last() != QLatin1String("progress"))
            note(QStringLiteral("progress"));
    });
    connect(&client, &HttpClient::requestFinished, this, [&](int id, bool failed) {
        const QBuffer *body = bodies.value(id).buffer;
        const QString file = m_root.path() + bodies.value(id).path;
        if (body && !failed
            && (body->size() != header.contentLength() || lastDone != body->size()
                || (lastDone > 0 && lastTotal != lastDone)
                || (QFileInfo(file).isFile()
                    && body->data() != readFile(file).mid(bodies.value(id).from))))
            problems << QStringLiteral("request %1: %2 bytes, progress %3/%4, header %5")
                            .arg(id).arg(body->size()).arg(lastDone).arg(lastTotal)
                            .arg(header.contentLength());
        note(failed ? QStringLiteral("finished %1 failed: %2").arg(id).arg(client.errorString())
                    : QStringLiteral("finished %1 ok").arg(id));
    });
    connect(&client, &HttpClient::done, this, [&] { note(QStringLiteral("done")); });

    if (abortAt == QLatin1String("idle"))
        abortNow();
    QList<int> ids;
    for (const QString &operation : operations) {
        const QString argument = operation.section(QLatin1Char(' '), 1);
        if (operation.startsWith(QLatin1String("host "))) {
            ids << client.setHost(argument == QLatin1String("web")    ? WebAddress
                                  : argument == QLatin1String("fake") ? FakeAddress
                                                                      : DeadAddress,
                                  Port);
        } else if (operation.startsWith(QLatin1String("head "))) {
            ids << client.head(argument);
        } else if (operation.startsWith(QLatin1String("get-full"))) {
            devices.push_back(std::make_unique<QFile>(QStringLiteral("/dev/full")));
            QVERIFY(devices.back()->open(operation.startsWith(QLatin1String("get-full-unbuffered "))
                                             ? QIODevice::WriteOnly | QIODevice::Unbuffered
                                             : QIODevice::WriteOnly));
            ids << client.get(argument, devices.back().get());
        } else {
            auto body = std::make_unique<QBuffer>();
            body->open(QIODevice::WriteOnly);
            const QString path = argument.section(QLatin1Char(' '), 0, 0);
            const qint64 from = argument.section(QLatin1Char(' '), 1).toLongLong();
            HttpClient::Fields fields;
            if (from > 0)
                fields << qMakePair(QByteArray("Range"), "bytes=" + QByteArray::number(from) + '-');
            ids << client.get(path, body.get(), fields);
            bodies.insert(ids.last(), {body.get(), path, from});
            devices.push_back(std::move(body));
        }
        QCOMPARE(ids.last(), int(ids.size()));
    }
    QCOMPARE(client.hasPendingRequests(), operations.size() > 1);
    if (abortAt == QLatin1String("queued"))
        abortNow();

    QTRY_VERIFY_WITH_TIMEOUT(last() == QLatin1String("done") || last().contains("failed")
                                 || (last().startsWith("abort") && abortAt != "idle"),
                             10000);
    QCOMPARE(int(client.error()), error);
    QVERIFY(!client.hasPendingRequests());

    // The client is usable afterwards, and since it works in order, anything
    // still coming from the requests above would show up before this one.
    log << QStringLiteral("--");
    client.setHost(WebAddress, Port);
    QTRY_COMPARE_WITH_TIMEOUT(log.last(), QStringLiteral("done"), 10000);
    const int next = operations.size() + 1;
    const QStringList tail{"--", QStringLiteral("started %1").arg(next),
                           QStringLiteral("finished %1 ok").arg(next), "done"};
    QCOMPARE(log, expected + tail);
    QCOMPARE(problems, QStringList());
    QVERIFY(!m_web.accessLog().join('\n').contains(QLatin1String("/dropped.bin")));
}

VEMO_TEST_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
