#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakehttpserver.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "localproxy.h"
#include "localwebserver.h"
#include "scopedtmpdir.h"
#include "scriptedprompts.h"
#include "testmain.h"
#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// nginx, the fake server and the proxies of this test executable; downloads
// always go to the build's download port on the link's host. Through a proxy
// the servers go by names that only the proxies know.
const QString WebAddress = QStringLiteral("127.0.0.22");
const QString FakeAddress = QStringLiteral("127.0.0.24");
const QString ProxyAddress = QStringLiteral("127.0.0.26");
const QString DeadAddress = QStringLiteral("127.0.0.28");
const QString WebName = QStringLiteral("packages.vemo.test");
const QString BlockedName = QStringLiteral("blocked.vemo.test");
constexpr quint16 DownloadPort = VEMO_DOWNLOAD_PORT;
constexpr qint64 HugeSize = qint64(5) << 30;

// Files by path relative to the work directory; a path ending in "/" is a
// folder.
using Files = QMap<QString, QByteArray>;
// An archive expected with this content is saved through a link to
// /dev/null, made beforehand, so that gigabytes go nowhere.
const QByteArray Discarded = QByteArrayLiteral("-> /dev/null");
// The archive of a package of this name is saved through a link to
// /dev/full, made beforehand: a disk that is full.
const QString FullDisk = QStringLiteral("Full");

// A 200 (or, from a Range field "bytes=N-", a 206) with the given ETag, of
// which only 'sent' bytes of the body come before the connection closes (all
// of it when 'sent' is negative).
QByteArray answerFrom(const FakeHttpServer::Request &request, const QByteArray &data,
                      const QByteArray &etag, qsizetype sent = -1, bool ignoreRange = false)
{
    const QByteArray range = request.fields.value("range");
    const qsizetype from = range.startsWith("bytes=") && !ignoreRange
        ? range.mid(6).chopped(1).toLongLong() : 0;
    QByteArray head = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
            + QByteArray::number(from) + '-' + QByteArray::number(data.size() - 1) + '/'
            + QByteArray::number(data.size()) + "\r\n"
                               : QByteArray("HTTP/1.1 200 OK\r\n");
    head += "ETag: " + etag + "\r\nContent-Length: " + QByteArray::number(data.size() - from)
        + "\r\n\r\n";
    if (request.method == "HEAD")
        return head;
    return head + data.mid(from, sent < 0 ? -1 : sent);
}

QByteArray sampleData(int size, char seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(seed + i * 13 + i / 509);
    return data;
}

QString sha256Of(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

// The size and SHA-256 of the file that nginx serves for the link, if there
// is one; gigabytes are not read to give their digest.
bool servedDigests(const QString &link, const QString &webRoot, QString *size, QString *sha256)
{
    const QFileInfo served(webRoot + QUrl(link).path());
    if (!link.contains(WebAddress) || !served.isFile() || served.size() > 64 * 1024 * 1024)
        return false;
    const QByteArray data = readFile(served.filePath());
    *size = QString::number(data.size());
    *sha256 = sha256Of(data);
    return true;
}

// The update server's answer offering one update per "name|link" or
// "name|link|size|sha256" item. Without the last two, the size and SHA-256
// of the file that nginx serves for the link are given, if there is one;
// *digests tells whether every update got both. A fifth part is the link of
// a delta package, given with the size and SHA-256 of the served file, or
// else with 10 bytes and a made-up checksum.
QByteArray answerOffering(const QStringList &packages, const QString &webRoot, bool *digests)
{
    *digests = true;
    QString document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><updates>");
    for (const QString &package : packages) {
        const QString link = package.section('|', 1, 1);
        QString size = package.section('|', 2, 2);
        QString sha256 = package.section('|', 3, 3);
        if (size.isEmpty())
            servedDigests(link, webRoot, &size, &sha256);
        *digests = *digests && !size.isEmpty();
        QString delta;
        if (const QString deltaLink = package.section('|', 4, 4); !deltaLink.isEmpty()) {
            QString deltaSize = QStringLiteral("10");
            QString deltaSha256(64, QLatin1Char('d'));
            servedDigests(deltaLink, webRoot, &deltaSize, &deltaSha256);
            delta = QStringLiteral("<delta><link>%1</link><size>%2</size><sha256>%3</sha256></delta>")
                        .arg(deltaLink.toHtmlEscaped(), deltaSize, deltaSha256);
        }
        document += QStringLiteral("<request project=\"vemo\" name=\"%1\" type=\"app\"><link>%2</link>"
                                   "<size>%3</size><sha256>%4</sha256>%5</request>")
                        .arg(package.section('|', 0, 0).toHtmlEscaped(), link.toHtmlEscaped(),
                             size, sha256, delta);
    }
    return (document + QStringLiteral("</updates>")).toUtf8();
}

// The delta packages of updates by this name do not fit the installation.
const QString Modified = QStringLiteral("Modified");
// A delta package whose preparation lasts until it is cancelled.
const QString Slow = QStringLiteral("Slow");

} // namespace

class PackageDownloadTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void percentage_data();
    void percentage();
    void run_data();
    void run();
    void diskFull();

private:
    QTemporaryDir m_root;
    QTemporaryDir m_installDir;
    LocalWebServer m_web;
    FakeHttpServer m_fake;
    LocalProxy m_proxy;
    // The fake server has answered a ranged GET of /flaky.zip with 503.
    bool m_flakyAnsweredBusy = false;
    // Created once the application exists: it runs its own thread.
    std::unique_ptr<FakeUpdateServer> m_updateServer;
    // The temporary directory of the test itself; each test's TMPDIR lies
    // below it.
    QString m_baseTemp;
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void PackageDownloadTest::initTestCase()
{
    m_baseTemp = QDir::tempPath();
    QVERIFY(writeFile(m_root.filePath("a.zip"), sampleData(300, 'a')));
    QVERIFY(writeFile(m_root.filePath("b.zip"), sampleData(700, 'b')));
    QVERIFY(writeFile(m_root.filePath("get"), sampleData(50, 'g')));
    QVERIFY(writeFile(m_root.filePath("core-delta.zip"), sampleData(50, 'c')));
    QVERIFY(writeFile(m_root.filePath("empty.zip"), QByteArray()));
    QVERIFY(QDir(m_root.path()).mkpath("dir"));
#ifndef Q_OS_WIN
    QVERIFY(writeFile(m_root.filePath(QString::fromUtf8("pak ić?.zip")), sampleData(80, 'p')));
#endif
    QVERIFY(writeFile(m_root.filePath("releases/7.1/d.zip"), sampleData(60, 'd')));
    QVERIFY(writeFile(m_root.filePath("slow/big.zip"), sampleData(1024 * 1024, 's')));
    QVERIFY(writeFile(m_root.filePath("cut-once/r.zip"), sampleData(300 * 1024, 'r')));
    // Read from a disk, the holes of a sparse file come slowly on some
    // machines; from a tmpfs they come as fast as memory.
    const QString tmpfs = qEnvironmentVariable("VEMO_TEST_TMPFS");
    if (!tmpfs.isEmpty()) {
        QFile huge(tmpfs + QStringLiteral("/huge.zip"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(HugeSize));
        QVERIFY(huge.link(m_root.filePath("huge.zip")));
    }
    QVERIFY(m_web.start(m_root.path(), WebAddress, DownloadPort, QStringLiteral("128k"),
                        QStringLiteral("64k")));

    QVERIFY(m_proxy.start(ProxyAddress, DownloadPort, {{WebName, WebAddress}, {BlockedName, WebAddress}},
                          {BlockedName}));

    QVERIFY(m_fake.listen(QHostAddress(FakeAddress), DownloadPort));
    m_fake.setHandler([this](const FakeHttpServer::Request &request) -> FakeHttpServer::Reply {
        const QByteArray &target = request.target;
        const bool head = request.method == "HEAD";
        const bool ranged = request.fields.contains("range");
        const QByteArray data = sampleData(1000, 'x');
        // A GET without Range ends 400 bytes into the body; with Range, 100
        // bytes into what it sends.
        if (target == "/cut.zip")
            return {answerFrom(request, data, "\"c1\"", ranged ? 100 : 400)};
        if (target == "/flaky.zip" && ranged && !std::exchange(m_flakyAnsweredBusy, true))
            return {FakeHttpServer::response("HTTP/1.1 503 Service Unavailable", "busy")};
        if (target == "/flaky.zip")
            return {answerFrom(request, data, "\"f1\"", ranged ? -1 : 400)};
        if (target == "/norange.zip")
            return {answerFrom(request, data, "\"n1\"", ranged ? -1 : 400, true)};
        if (target == "/changed.zip" && request.fields.value("if-range") == "\"v1\"")
            return {answerFrom({request.method, target, {}}, sampleData(1000, 'y'), "\"v2\"")};
        if (target == "/changed.zip")
            return {answerFrom(request, data, "\"v1\"", 400)};
        // The rest, but with a length that promises ten bytes more than it holds.
        if (target == "/liar.zip" && ranged)
            return {answerFrom(request, data, "\"l1\"").replace("Content-Length: 600",
                                                                   "Content-Length: 610")};
        if (target == "/liar.zip")
            return {answerFrom(request, data, "\"l1\"", 400)};
        if (target == "/stall.zip" && ranged)
            return {QByteArray(), false};
        if (target == "/stall.zip")
            return {answerFrom(request, data, "\"s1\"", 400)};
        // The header and 400 bytes at once, then a byte a second, from where
        // the request asks; or the header itself a byte a second.
        if (target == "/dribble.zip") {
            const qsizetype from
                = ranged ? request.fields.value("range").mid(6).chopped(1).toLongLong() : 400;
            QList<QByteArray> later;
            for (const char c : data.mid(from, 10))
                later << QByteArray(1, c);
            return {answerFrom(request, data, "\"d1\"", ranged ? 0 : 400), true,
                    head ? QList<QByteArray>() : later, 1000};
        }
        if (target == "/dribble-header.zip") {
            QList<QByteArray> later;
            for (const char c : QByteArray("TTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"))
                later << QByteArray(1, c);
            return {"H", true, later, 1000};
        }
        // 300 bytes every 100 ms for 2 s: slow, but above the floor.
        if (target == "/steady.zip") {
            QList<QByteArray> later;
            for (int i = 0; i < 6000 && !head; i += 300)
                later << sampleData(6000, 't').mid(i, 300);
            return {"HTTP/1.1 200 OK\r\nContent-Length: 6000\r\n\r\n", true, later, 100};
        }
        if (target == "/closed.zip")
            return {QByteArray(), true};
        if (target == "/nolength.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 200 OK", sampleData(40, 'n'))};
        if (target == "/gone.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 404 Not Found", "<html>gone</html>")};
        if (target == "/shifty.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 200 OK", sampleData(12, 's'))};
        return {QByteArray(), false}; // silence
    });

    QVERIFY(FakeProgram::write(m_installDir.filePath("vemo7.exe"), FakeProgram::Messenger));
    m_updateServer = std::make_unique<FakeUpdateServer>();
    QVERIFY(m_updateServer->listen(QHostAddress(QStringLiteral(VEMO_UPDATE_HOST)), VEMO_UPDATE_PORT));
}

void PackageDownloadTest::init()
{
    m_tmp.reset();
    m_tmp = std::make_unique<QTemporaryDir>(m_baseTemp + QStringLiteral("/tmpdir-XXXXXX"));
    QVERIFY(m_tmp->isValid());
    qputenv(TempVariable, QFile::encodeName(m_tmp->path()));
    m_web.clearAccessLog();
    m_fake.clearRequests();
    m_flakyAnsweredBusy = false;
}

void PackageDownloadTest::percentage_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percentage");

    const qint64 gib = qint64(1) << 30;
    QTest::newRow("half of 500 000 000 bytes") << qint64(250000000) << qint64(500000000) << 50;
    QTest::newRow("largest int of itself") << qint64(INT_MAX) << qint64(INT_MAX) << 100;
    QTest::newRow("truncated, not rounded") << qint64(299) << qint64(1000) << 29;
    QTest::newRow("more than announced passes 100") << qint64(1100) << qint64(1000) << 110;
    QTest::newRow("nothing announced") << qint64(500) << qint64(0) << 0;
    QTest::newRow("4 GiB of 5 GiB") << 4 * gib << 5 * gib << 80;
    QTest::newRow("one byte short of 5 GiB") << 5 * gib - 1 << 5 * gib << 99;
    QTest::newRow("largest count of itself") << LLONG_MAX << LLONG_MAX << 100;
    QTest::newRow("far more than announced stops at the largest int") << 5 * gib << qint64(1) << INT_MAX;
}

void PackageDownloadTest::percentage()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, percentage);
    QCOMPARE(downloadPercentage(done, total), percentage);
}

void PackageDownloadTest::run_data()
{
    // Updates as "name|link"; the log of the engine's signals (consecutive
    // progress reports folded into the last); nginx's "METHOD URI STATUS
    // BYTES" and the fake's "METHOD target [range R] [if-range V]" lines; the
    // work directory's files.
    QTest::addColumn<QStringList>("packages");
    // Cancel when the log reaches this line (a progress line: this percentage
    // or more); "now": right after beginDownload(); "HEAD x" or "GET x...":
    // once the fake server got that request.
    QTest::addColumn<QString>("cancelAt");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("webRequests");
    QTest::addColumn<QStringList>("fakeRequests");
    QTest::addColumn<Files>("files");
    // A file expected to hold only the start of the served file of that path.
    QTest::addColumn<QString>("partial");
    // http_proxy for the download: "proxy" (with its password), "proxy
    // without password" or "dead" (nothing listens); empty for none.
    QTest::addColumn<QString>("proxy");

    const QString web = QStringLiteral("http://") + WebAddress;
    const QString fake = QStringLiteral("http://") + FakeAddress;
    const QByteArray a = sampleData(300, 'a');
    const QByteArray b = sampleData(700, 'b');
    const QByteArray x = sampleData(1000, 'x');
    const QString none;

    QTest::newRow("two archives of 300 and 700 bytes")
        << QStringList{"Core|" + web + "/a.zip", "Sounds|" + web + "/b.zip"} << none
        << QStringList{"file Core", "progress 30", "file Sounds", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300", "GET /b.zip 200 700"}
        << QStringList() << Files{{"a.zip", a}, {"b.zip", b}} << none << none;
    QTest::newRow("query string is not requested")
        << QStringList{"Core|" + web + "/get?id=5"} << none
        << QStringList{"file Core", "progress 100", "finished"}
        << QStringList{"HEAD /get 200 0", "GET /get 200 50"} << QStringList()
        << Files{{"get", sampleData(50, 'g')}} << none << none;
    QTest::newRow("port and scheme of the link are ignored")
        << QStringList{"Core|https://" + WebAddress + ":8080/a.zip"} << none
        << QStringList{"file Core", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"} << QStringList()
        << Files{{"a.zip", a}} << none << none;
    QTest::newRow("blank, question mark and non-ascii letter in the path")
        << QStringList{QString::fromUtf8("Język|") + web + "/pak%20i%C4%87%3F.zip"} << none
        << QStringList{QString::fromUtf8("file Język"), "progress 100", "finished"}
        << QStringList{"HEAD /pak%20i%C4%87%3F.zip 200 0", "GET /pak%20i%C4%87%3F.zip 200 80"}
        << QStringList() << Files{{QString::fromUtf8("pak ić?.zip"), sampleData(80, 'p')}} << none << none;
    QTest::newRow("size unknown, then more bytes than announced")
        << QStringList{"Skin|" + fake + "/nolength.zip", "Core|" + web + "/a.zip"} << none
        << QStringList{"file Skin", "progress 13", "file Core", "progress 113", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList{"HEAD /nolength.zip", "GET /nolength.zip"}
        << Files{{"nolength.zip", sampleData(40, 'n')}, {"a.zip", a}} << none << none;
    QTest::newRow("folders of a nested link path are made")
        << QStringList{"Core|" + web + "/a.zip", "Deep|" + web + "/releases/7.1/d.zip"} << none
        << QStringList{"file Core", "progress 83", "file Deep", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /releases/7.1/d.zip 200 0", "GET /a.zip 200 300",
                       "GET /releases/7.1/d.zip 200 60"}
        << QStringList() << Files{{"a.zip", a}, {"releases/7.1/d.zip", sampleData(60, 'd')}} << none << none;
    QTest::newRow("empty archive")
        << QStringList{"Empty|" + web + "/empty.zip"} << none
        << QStringList{"file Empty", "finished"}
        << QStringList{"HEAD /empty.zip 200 0", "GET /empty.zip 200 0"} << QStringList()
        << Files{{"empty.zip", {}}} << none << none;
    QTest::newRow("slow but above the floor for longer than its window")
        << QStringList{"Steady|" + fake + "/steady.zip"} << none
        << QStringList{"file Steady", "progress 100", "finished"} << QStringList()
        << QStringList{"HEAD /steady.zip", "GET /steady.zip"}
        << Files{{"steady.zip", sampleData(6000, 't')}} << none << none;
    QTest::newRow("5 GiB archive: the bar only grows, up to 100")
        << QStringList{"Huge|" + web + "/huge.zip"} << none
        << QStringList{"file Huge", "progress 100", "finished"}
        << QStringList{"HEAD /huge.zip 200 0", "GET /huge.zip 200 " + QString::number(HugeSize)}
        << QStringList() << Files{{"huge.zip", Discarded}} << none << none;

    // Tries again after a cut, a 5xx or a timeout, from where it stopped.
    QTest::newRow("cut by nginx once, resumed from where it stopped")
        << QStringList{"Resumed|" + web + "/cut-once/r.zip"} << none
        << QStringList{"file Resumed", "progress 100", "finished"}
        << QStringList{"HEAD /cut-once/r.zip 200 0", "GET /cut-once/r.zip 200 65536",
                       "GET /cut-once/r.zip 206 241664"}
        << QStringList() << Files{{"cut-once/r.zip", sampleData(300 * 1024, 'r')}} << none << none;
    QTest::newRow("cut, then 503, then the rest")
        << QStringList{"Flaky|" + fake + "/flaky.zip"} << none
        << QStringList{"file Flaky", "progress 100", "finished"} << QStringList()
        << QStringList{"HEAD /flaky.zip", "GET /flaky.zip",
                       "GET /flaky.zip range bytes=400- if-range \"f1\""}
        << Files{{"flaky.zip", x}} << none << none;
    QTest::newRow("cut four times: the error after the last try")
        << QStringList{"Cut|" + fake + "/cut.zip", "Core|" + web + "/a.zip"} << none
        << QStringList{"file Cut", "progress 53",
                       "error Cannot download package Cut after 4 tries. The connection was "
                       "closed after 100 of 400 bytes."}
        << QStringList{"HEAD /a.zip 200 0"}
        << QStringList{"HEAD /cut.zip", "GET /cut.zip",
                       "GET /cut.zip range bytes=400- if-range \"c1\"",
                       "GET /cut.zip range bytes=500- if-range \"c1\"",
                       "GET /cut.zip range bytes=600- if-range \"c1\""}
        << Files() << none << none;
    QTest::newRow("server without ranges sends all again: the file starts again")
        << QStringList{"Whole|" + fake + "/norange.zip"} << none
        << QStringList{"file Whole", "progress 100", "finished"} << QStringList()
        << QStringList{"HEAD /norange.zip", "GET /norange.zip",
                       "GET /norange.zip range bytes=400- if-range \"n1\""}
        << Files{{"norange.zip", x}} << none << none;
    // A server that keeps a transfer alive below the floor.
    QTest::newRow("body dribbled a byte a second: stalled, resumed, the error after the last try")
        << QStringList{"Dribble|" + fake + "/dribble.zip"} << none
        << QStringList{"file Dribble", "progress 40",
                       "error Cannot download package Dribble after 4 tries. The download is too "
                       "slow: the server sent only 1 bytes in 1.5 seconds."}
        << QStringList()
        << QStringList{"HEAD /dribble.zip", "GET /dribble.zip",
                       "GET /dribble.zip range bytes=401- if-range \"d1\"",
                       "GET /dribble.zip range bytes=402- if-range \"d1\"",
                       "GET /dribble.zip range bytes=403- if-range \"d1\""}
        << Files() << none << none;
    QTest::newRow("header dribbled a byte a second: stalled")
        << QStringList{"Dribble|" + fake + "/dribble-header.zip"} << none
        << QStringList{"error Cannot download package Dribble: The server did not answer within "
                       "1.5 seconds."}
        << QStringList() << QStringList{"HEAD /dribble-header.zip"} << Files() << none << none;
    QTest::newRow("archive changed between tries: the file starts again")
        << QStringList{"Changed|" + fake + "/changed.zip"} << none
        << QStringList{"file Changed", "progress 100", "finished"} << QStringList()
        << QStringList{"HEAD /changed.zip", "GET /changed.zip",
                       "GET /changed.zip range bytes=400- if-range \"v1\""}
        << Files{{"changed.zip", sampleData(1000, 'y')}} << none << none;
    QTest::newRow("resumed part longer in its header than on the wire: the archive is whole")
        << QStringList{"Liar|" + fake + "/liar.zip"} << none
        << QStringList{"file Liar", "progress 100", "finished"} << QStringList()
        << QStringList{"HEAD /liar.zip", "GET /liar.zip",
                       "GET /liar.zip range bytes=400- if-range \"l1\""}
        << Files{{"liar.zip", x}} << none << none;

    QTest::newRow("HEAD answered 404")
        << QStringList{"Core|" + web + "/a.zip", "Lost|" + web + "/missing.zip", "Sounds|" + web + "/b.zip"}
        << none << QStringList{"error Cannot download package Lost: the server answered 404 Not Found."}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /missing.zip 404 0"} << QStringList() << Files()
        << none << none;
    QTest::newRow("GET answered 404")
        << QStringList{"Core|" + web + "/a.zip", "Gone|" + fake + "/gone.zip"} << none
        << QStringList{"file Core", "progress 96", "file Gone",
                       "error Cannot download package Gone: the server answered 404 Not Found."}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList{"HEAD /gone.zip", "GET /gone.zip"} << Files{{"a.zip", a}} << none << none;
    QTest::newRow("redirect not followed")
        << QStringList{"Dir|" + web + "/dir"} << none
        << QStringList{"error Cannot download package Dir: the server answered 301 Moved Permanently."}
        << QStringList{"HEAD /dir 301"} << QStringList() << Files() << none << none;
    QTest::newRow("connection closed without an answer")
        << QStringList{"Closed|" + fake + "/closed.zip"} << none
        << QStringList{"error Cannot download package Closed: Connection closed"} << QStringList()
        << QStringList{"HEAD /closed.zip"} << Files() << none << none;
    QTest::newRow("server silent")
        << QStringList{"Quiet|" + fake + "/silent.zip"} << none
        << QStringList{"error Cannot download package Quiet: The server did not answer within "
                       "1.5 seconds."}
        << QStringList() << QStringList{"HEAD /silent.zip"} << Files() << none << none;
    QTest::newRow("disk full, noticed when the file is flushed")
        << QStringList{FullDisk + "|" + web + "/a.zip"} << none
        << QStringList{"file Full", "progress 100",
                       "error Cannot write the downloaded data: No space left on device"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"} << QStringList() << Files()
        << none << none;
    QTest::newRow("disk full, the first write fails")
        << QStringList{FullDisk + "|" + web + "/slow/big.zip"} << none
        << QStringList{"file Full", "error Cannot write the downloaded data: No space left on device"}
        << QStringList{"HEAD /slow/big.zip 200 0", "GET /slow/big.zip 200"} << QStringList()
        << Files() << none << none;
    QTest::newRow("dot-dot segment refused before any request")
        << QStringList{"Core|" + web + "/a.zip", "Evil|" + web + "/../evil.zip"} << none
        << QStringList{"error Cannot download package Evil: its address " + web
                       + "/../evil.zip is not a valid package address."}
        << QStringList() << QStringList() << Files() << none << none;
    QTest::newRow("encoded dot-dot segment refused")
        << QStringList{"Evil|" + web + "/x/%2E%2E/%2e%2e/a.zip"} << none
        << QStringList{"error Cannot download package Evil: its address " + web
                       + "/x/%2E%2E/%2e%2e/a.zip is not a valid package address."}
        << QStringList() << QStringList() << Files() << none << none;
    QTest::newRow("link without a host refused")
        << QStringList{"Core|file:///a.zip"} << none
        << QStringList{"error Cannot download package Core: its address file:///a.zip is not a "
                       "valid package address."}
        << QStringList() << QStringList() << Files() << none << none;
    QTest::newRow("download server not reachable: the package is named")
        << QStringList{"Core|" + web + "/a.zip", "Sounds|http://" + DeadAddress + "/b.zip"}
        << none << QStringList{"error Cannot download package Sounds: Connection refused"}
        << QStringList{"HEAD /a.zip 200 0"} << QStringList() << Files() << none << none;
    QTest::newRow("empty link refused")
        << QStringList{"Core|" + web + "/a.zip", "Blank|"} << none
        << QStringList{"error Cannot download package Blank: its address  is not a valid package address."}
        << QStringList() << QStringList() << Files() << none << none;

    // Through the proxy, the servers go by names only the proxy knows.
    const QString webByName = QStringLiteral("http://") + WebName;
    QTest::newRow("through a proxy, with its password: cut once, resumed")
        << QStringList{"Core|" + webByName + "/a.zip", "Resumed|" + webByName + "/cut-once/r.zip"}
        << none << QStringList{"file Core", "progress 0", "file Resumed", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /cut-once/r.zip 200 0", "GET /a.zip 200 300",
                       "GET /cut-once/r.zip 200 65536", "GET /cut-once/r.zip 206 241664"}
        << QStringList() << Files{{"a.zip", a}, {"cut-once/r.zip", sampleData(300 * 1024, 'r')}}
        << none << "proxy";
    QTest::newRow("proxy asks for a password")
        << QStringList{"Core|" + webByName + "/a.zip"} << none
        << QStringList{"error Cannot download package Core: the proxy server " + ProxyAddress
                       + ":18080 asks for a user name and password."}
        << QStringList() << QStringList() << Files() << none << "proxy without password";
    QTest::newRow("proxy refuses")
        << QStringList{"Core|http://" + BlockedName + "/a.zip"} << none
        << QStringList{"error Cannot download package Core through the proxy server "
                       + ProxyAddress + ":18080: the answer was 403 Filtered."}
        << QStringList() << QStringList() << Files() << none << "proxy";
    QTest::newRow("proxy not reachable")
        << QStringList{"Core|" + webByName + "/a.zip"} << none
        << QStringList{"error Cannot use the proxy server " + DeadAddress
                       + ":18080: Connection refused"}
        << QStringList() << QStringList() << Files() << none << "dead";

    QByteArray changed = a;
    changed[150] = char(changed.at(150) ^ 0x01);
    QTest::newRow("archive changed by one byte: deleted, nothing further fetched")
        << QStringList{"Core|" + web + "/a.zip|300|" + sha256Of(changed), "Sounds|" + web + "/b.zip"}
        << none
        << QStringList{"file Core", "progress 30",
                       "error The downloaded package Core is not the one the update server "
                       "announced: its checksum differs. Nothing was installed."}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files() << none << none;
    QTest::newRow("HEAD announces another size than the answer")
        << QStringList{"Core|" + web + "/a.zip|299|" + sha256Of(a)} << none
        << QStringList{"error Cannot download package Core: the download server gives its size "
                       "as 300 bytes, the update server as 299 bytes."}
        << QStringList{"HEAD /a.zip 200 0"} << QStringList() << Files() << none << none;
    QTest::newRow("body longer than the size given is cut off")
        << QStringList{"Skin|" + fake + "/nolength.zip|20|" + sha256Of(sampleData(20, 'n'))}
        << none
        << QStringList{"file Skin", "error Cannot download package Skin: the download server "
                                    "sent more than the 20 bytes announced."}
        << QStringList() << QStringList{"HEAD /nolength.zip", "GET /nolength.zip"} << Files()
        << none << none;
    QTest::newRow("GET announces another size than its HEAD")
        << QStringList{"Shifty|" + fake + "/shifty.zip"} << none
        << QStringList{"file Shifty", "error Cannot download package Shifty: the download server "
                                      "gave its size as 10 bytes and then as 12 bytes."}
        << QStringList() << QStringList{"HEAD /shifty.zip", "GET /shifty.zip"} << Files()
        << none << none;
    QTest::newRow("resumed archive checked whole: checksum differs, deleted")
        << QStringList{"Resumed|" + web + "/cut-once/r.zip|307200|" + sha256Of(b)} << none
        << QStringList{"file Resumed", "progress 100",
                       "error The downloaded package Resumed is not the one the update server "
                       "announced: its checksum differs. Nothing was installed."}
        << QStringList{"HEAD /cut-once/r.zip 200 0", "GET /cut-once/r.zip 200 65536",
                       "GET /cut-once/r.zip 206 241664"}
        << QStringList() << Files{{"cut-once/", {}}} << none << none;

    // A delta package instead of the full one; where it fails, the full
    // package follows in the same run.
    const QByteArray delta = sampleData(50, 'c');
    const QString fellBack = "log The delta package of %1 cannot be used, so its full package is "
                             "downloaded: %2";
    QTest::newRow("delta package fetched instead of the full one")
        << QStringList{"Core|" + web + "/a.zip|||" + web + "/core-delta.zip"} << none
        << QStringList{"file Core", "progress 100", "preparing Core 0", "finished",
                       "bytes 50 of 50"}
        << QStringList{"HEAD /core-delta.zip 200 0", "GET /core-delta.zip 200 50"}
        << QStringList() << Files{{"core-delta.zip", delta}} << none << none;
    QTest::newRow("delta not found: its full package after the others")
        << QStringList{"Core|" + web + "/a.zip|||" + web + "/missing-delta.zip",
                       "Sounds|" + web + "/b.zip"}
        << none
        << QStringList{"file Sounds", "progress 100", "file Core", "progress 100", "finished",
                       "bytes 1000 of 1000", fellBack.arg("Core", "Cannot download package Core: the server answered "
                                            "404 Not Found.")}
        << QStringList{"HEAD /missing-delta.zip 404 0", "HEAD /b.zip 200 0", "GET /b.zip 200 700",
                       "HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files{{"a.zip", a}, {"b.zip", b}} << none << none;
    QTest::newRow("delta refused half-way: what it did not fetch leaves the total")
        << QStringList{"Core|" + web + "/a.zip|||" + fake + "/gone.zip"} << none
        << QStringList{"file Core", "file Core", "progress 100", "finished", "bytes 300 of 300",
                       fellBack.arg("Core", "Cannot download package Core: the server answered "
                                            "404 Not Found.")}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList{"HEAD /gone.zip", "GET /gone.zip"} << Files{{"a.zip", a}} << none << none;
    QTest::newRow("delta that does not fit the installation: its full package after the others")
        << QStringList{Modified + "|" + web + "/a.zip|||" + web + "/core-delta.zip",
                       "Sounds|" + web + "/b.zip"}
        << none
        << QStringList{"file Modified", "progress 6", "file Sounds", "progress 100",
                       "preparing Modified 0", "file Modified", "progress 100", "finished",
                       "bytes 1050 of 1050",
                       fellBack.arg(Modified, "core.dll differs from the version the delta was "
                                              "made for.")}
        << QStringList{"HEAD /core-delta.zip 200 0", "HEAD /b.zip 200 0",
                       "GET /core-delta.zip 200 50", "GET /b.zip 200 700", "HEAD /a.zip 200 0",
                       "GET /a.zip 200 300"}
        << QStringList() << Files{{"core-delta.zip", delta}, {"a.zip", a}, {"b.zip", b}} << none
        << none;
    QTest::newRow("cancelled while its delta is prepared: nothing follows")
        << QStringList{Slow + "|" + web + "/a.zip|||" + web + "/core-delta.zip"}
        << QStringLiteral("preparing Slow 50")
        << QStringList{"file Slow", "progress 100", "preparing Slow 0", "preparing Slow 50",
                       "cancel", "bytes 50 of 50"}
        << QStringList{"HEAD /core-delta.zip 200 0", "GET /core-delta.zip 200 50"}
        << QStringList() << Files{{"core-delta.zip", delta}} << none << none;
    QTest::newRow("full package failing after its delta: the error as without a delta")
        << QStringList{"Core|" + web + "/missing.zip|||" + web + "/missing-delta.zip"} << none
        << QStringList{"error Cannot download package Core: the server answered 404 Not Found.",
                       "bytes 0 of 0", fellBack.arg("Core", "Cannot download package Core: the server answered "
                                            "404 Not Found.")}
        << QStringList{"HEAD /missing-delta.zip 404 0", "HEAD /missing.zip 404 0"}
        << QStringList() << Files() << none << none;

    QTest::newRow("cancel before any answer")
        << QStringList{"Core|" + web + "/a.zip"} << "now" << QStringList{"cancel"}
        << QStringList() << QStringList() << Files() << none << none;
    QTest::newRow("cancel while sizing")
        << QStringList{"Core|" + web + "/a.zip", "Quiet|" + fake + "/silent.zip"}
        << "HEAD /silent.zip" << QStringList{"cancel"} << QStringList{"HEAD /a.zip 200 0"}
        << QStringList{"HEAD /silent.zip"} << Files() << none << none;
    QTest::newRow("cancel in the middle of an archive")
        << QStringList{"Core|" + web + "/a.zip", "Big|" + web + "/slow/big.zip"} << "progress 20"
        << QStringList{"file Core", "progress 0", "file Big", "progress 20", "cancel"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /slow/big.zip 200 0", "GET /a.zip 200 300",
                       "GET /slow/big.zip 200"}
        << QStringList() << Files{{"a.zip", a}} << "slow/big.zip" << none;
    QTest::newRow("cancel as the second archive starts")
        << QStringList{"Core|" + web + "/a.zip", "Sounds|" + web + "/b.zip"} << "file Sounds"
        << QStringList{"file Core", "progress 30", "file Sounds", "cancel"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files{{"a.zip", a}} << none << none;
    QTest::newRow("cancel after the last archive: nothing follows")
        << QStringList{"Core|" + web + "/a.zip"} << "finished"
        << QStringList{"file Core", "progress 100", "finished", "cancel"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"} << QStringList()
        << Files{{"a.zip", a}} << none << none;
    QTest::newRow("cancel while a second try waits for its answer")
        << QStringList{"Stalled|" + fake + "/stall.zip"}
        << "GET /stall.zip range bytes=400- if-range \"s1\""
        << QStringList{"file Stalled", "progress 40", "cancel"} << QStringList()
        << QStringList{"HEAD /stall.zip", "GET /stall.zip",
                       "GET /stall.zip range bytes=400- if-range \"s1\""}
        << Files{{"stall.zip", x.left(400)}} << none << none;
}

void PackageDownloadTest::run()
{
    QFETCH(QStringList, packages);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, webRequests);
    QFETCH(QStringList, fakeRequests);
    QFETCH(Files, files);
    QFETCH(QString, partial);
    QFETCH(QString, proxy);
    if (files.values().contains(Discarded) && !QFileInfo::exists(m_root.filePath("huge.zip")))
        QSKIP("the 5 GiB archive needs VEMO_TEST_TMPFS (a small tmpfs)");
#ifdef Q_OS_WIN
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key().contains(QLatin1Char('?')))
            QSKIP("a file name with '?' cannot be made on Windows");
    }
#endif

    // Links whose archives have no known size and digest (the fake server's,
    // missing files) are offered by a server to an updater without keys.
    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(m_installDir.path()), prompts);
    bool digests = false;
    m_updateServer->answerWith(answerOffering(packages, m_root.path(), &digests));
    if (!digests)
        engine.setUpdateKeys(QByteArray());
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(engine.updates().size(), packages.size());
    // The fake server's rows judge the floor over windows of 1.5 s; nginx's
    // keep the updater's own, so that a busy machine cannot make them stall.
    if (packages.join(QLatin1Char(' ')).contains(FakeAddress))
        engine.setDownloadStallWindow(1500);
    // The installation's part, as the updater's own would find it.
    engine.setDeltaPreparation([](const UpdateInfo &update, int, const std::atomic_bool &cancelled,
                                  const VemoUpdaterEngine::PreparationProgress &progress,
                                  QString *reason) {
        // The slow one works until cancelled (or for 10 s).
        if (update.name() == Slow) {
            progress(1, 2);
            QDeadlineTimer deadline(10000);
            while (!cancelled && !deadline.hasExpired())
                QThread::msleep(5);
            *reason = QStringLiteral("Cancelled.");
            return false;
        }
        if (update.name() != Modified)
            return true;
        *reason = QStringLiteral("core.dll differs from the version the delta was made for.");
        return false;
    });
    // Archives are saved below the work directory's "archives/" at their
    // links' paths; the rate-limited one below "slow/", made here already.
    const QString workDir = m_tmp->path() + QStringLiteral("/vupdates/archives/");
    QVERIFY(QDir().mkpath(workDir + QStringLiteral("slow")));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.value() == Discarded)
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), workDir + it.key()));
    }
    for (const QString &package : packages) {
#ifdef Q_OS_WIN
        if (package.section('|', 0, 0) == FullDisk)
            QSKIP("a file that is always full needs Linux's /dev/full");
#endif
        if (package.section('|', 0, 0) == FullDisk)
            QVERIFY(QFile::link(QStringLiteral("/dev/full"),
                                workDir + QUrl(package.section('|', 1)).path()));
    }

    const QString proxyUrl = proxy == QLatin1String("proxy") ? m_proxy.url(true)
        : proxy == QLatin1String("proxy without password")  ? m_proxy.url(false)
        : proxy == QLatin1String("dead") ? QStringLiteral("http://%1:%2").arg(DeadAddress).arg(DownloadPort)
                                         : QString();
    if (!SystemProxySetting::canCarry(proxyUrl))
        QSKIP("the system's proxy settings hold no password here");
    const SystemProxySetting setting(proxyUrl);

    QStringList log;
    bool cancelled = false;
    QEventLoop *running = nullptr;
    auto cancel = [&] {
        cancelled = true;
        engine.abortDownload();
        log << QStringLiteral("cancel");
        if (running)
            running->quit();
    };
    int lastProgress = 0;
    auto note = [&](const QString &line) {
        const bool progress = line.startsWith(QLatin1String("progress "));
        if (progress && log.value(log.size() - 1).startsWith(QLatin1String("progress ")))
            log.removeLast();
        log << line;
        const bool reached = progress && cancelAt.startsWith(QLatin1String("progress "))
            ? line.section(' ', 1).toInt() >= cancelAt.section(' ', 1).toInt()
            : line == cancelAt;
        if (reached && !cancelled) {
            log.last() = cancelAt; // the percentage reached varies
            cancel();
        }
    };
    QSet<QString> started;
    connect(&engine, &VemoUpdaterEngine::downloadFile, this, [&](const QString &name) {
        // The full package after a delta adds to the total: the bar may
        // drop back then, once.
        if (started.contains(name))
            lastProgress = 0;
        started.insert(name);
        note(QStringLiteral("file ") + name);
    });
    connect(&engine, &VemoUpdaterEngine::downloadProgress, this, [&](int done) {
        QVERIFY2(done >= lastProgress, qPrintable(QStringLiteral("%1 after %2").arg(done).arg(lastProgress)));
        lastProgress = done;
        note(QStringLiteral("progress %1").arg(done));
    });
    connect(&engine, &VemoUpdaterEngine::downloadFinished, this, [&] { note(QStringLiteral("finished")); });
    connect(&engine, &VemoUpdaterEngine::preparing, this, [&](const QString &name, int percent) {
        note(QStringLiteral("preparing %1 %2").arg(name).arg(percent));
    });
    qint64 bytesDone = -1;
    qint64 bytesTotal = -1;
    connect(&engine, &VemoUpdaterEngine::downloadBytes, this, [&](qint64 done, qint64 total) {
        QVERIFY(done >= bytesDone);
        bytesDone = done;
        bytesTotal = total;
    });
    connect(&engine, &VemoUpdaterEngine::error, this,
            [&](const QString &text) { note(QStringLiteral("error ") + text); });

    // A real event loop, not a polling wait: the HTTP client's buffer is
    // emptied only while events are processed, so gigabytes would crawl.
    QEventLoop loop;
    connect(&engine, &VemoUpdaterEngine::downloadFinished, &loop, &QEventLoop::quit);
    connect(&engine, &VemoUpdaterEngine::error, &loop, &QEventLoop::quit);
    engine.beginDownload();
    if (cancelAt == QLatin1String("now")) {
        cancel();
    } else if (cancelAt.startsWith(QLatin1String("HEAD ")) || cancelAt.startsWith(QLatin1String("GET "))) {
        QTRY_VERIFY_WITH_TIMEOUT(m_fake.requests().contains(cancelAt), 10000);
        cancel();
    }
    auto ended = [&] {
        return cancelled || log.value(log.size() - 1) == QLatin1String("finished")
            || log.value(log.size() - 1).startsWith(QLatin1String("error "));
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    running = &loop;
    if (!ended())
        loop.exec();
    running = nullptr;
    QVERIFY2(ended(), qPrintable(log.join(QLatin1String(", "))));
    // Nothing may follow a cancel: only silence can show that, so late
    // signals get time to arrive.
    if (cancelled)
        QTest::qWait(500);
    // Where a delta is offered, the bytes downloaded as the run ended and
    // the lines the summary's log gets.
    if (std::any_of(packages.cbegin(), packages.cend(),
                    [](const QString &package) { return !package.section('|', 4).isEmpty(); }))
        log << QStringLiteral("bytes %1 of %2").arg(bytesDone).arg(bytesTotal);
    if (const QString lines = engine.installLog().trimmed(); !lines.isEmpty())
        log << QStringLiteral("log ") + lines;
    QCOMPARE(log, expected);

    if (!partial.isEmpty()) {
        const QByteArray written = readFile(workDir + partial);
        const QByteArray whole = readFile(m_root.filePath(partial));
        QVERIFY(!written.isEmpty() && written.size() < whole.size() && whole.startsWith(written));
        files.insert(partial, written);
    }
    QTemporaryDir expectedTmp(m_baseTemp + QStringLiteral("/expected-XXXXXX"));
    QVERIFY(QDir().mkpath(expectedTmp.filePath("vupdates/archives/slow")));
    QVERIFY(QFile::setPermissions(expectedTmp.filePath("vupdates"),
                                  QFileInfo(m_tmp->path() + "/vupdates").permissions()));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = expectedTmp.filePath("vupdates/archives/" + it.key());
        if (it.value() == Discarded)
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
        else if (it.key().endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(writeFile(path, it.value()));
    }
    QCOMPARE(treeListing(m_tmp->path()), treeListing(expectedTmp.path()));

    // After the server cuts a connection, Qt's HTTP stack may send that GET
    // once more by itself, a moment later, and drop the answer; the
    // download's own requests are the distinct ones.
    if (!fakeRequests.isEmpty())
        QTest::qWait(200);
    QStringList fakeLog = m_fake.requests();
    fakeLog.erase(std::unique(fakeLog.begin(), fakeLog.end()), fakeLog.end());
    QCOMPARE(fakeLog, fakeRequests);
    // An expected line without the byte count matches any count.
    auto webLog = [&] {
        QStringList lines = m_web.accessLog();
        for (int i = 0; i < lines.size() && i < webRequests.size(); ++i) {
            if (webRequests.at(i).count(' ') == 2)
                lines[i] = lines.at(i).section(' ', 0, 2);
        }
        return lines;
    };
    QTRY_COMPARE(webLog(), webRequests);
}

void PackageDownloadTest::diskFull()
{
    // The test's command in CTest mounts a small file system there in a
    // mount namespace of its own.
    const QString smallDisk = qEnvironmentVariable("VEMO_TEST_TMPFS");
    if (smallDisk.isEmpty())
        QSKIP("needs VEMO_TEST_TMPFS, a folder on a small file system");
    QTemporaryDir tmp(smallDisk + QStringLiteral("/tmpdir-XXXXXX"));
    QVERIFY(tmp.isValid());
    qputenv(TempVariable, QFile::encodeName(tmp.path()));

    QVERIFY(QDir().mkpath(tmp.filePath("vupdates")));

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(m_installDir.path()), prompts);
    bool digests = true;
    m_updateServer->answerWith(
        answerOffering({"Big|http://" + WebAddress + "/huge.zip"}, m_root.path(), &digests));
    engine.setUpdateKeys(QByteArray());
    QVERIFY(engine.checkForUpdates());
    QSignalSpy errors(&engine, &VemoUpdaterEngine::error);
    engine.beginDownload();
    QVERIFY(errors.wait(30000));
    QCOMPARE(errors.first().first().toString(),
             QStringLiteral("Cannot write the downloaded data: No space left on device"));
    // The part that filled the disk is gone again.
    QCOMPARE(treeListing(tmp.path()), (QStringList{"vupdates dir", "vupdates/archives dir"}));
}

VEMO_TEST_MAIN(PackageDownloadTest)
#include "tst_packagedownload.moc"
