#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakehttpserver.h"
#include "fakeupdateserver.h"
#include "localwebserver.h"
#include "testmain.h"
#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QUrl>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// nginx and the fake server of this test executable; downloads always go to
// the build's download port on the link's host.
const QString WebAddress = QStringLiteral("127.0.0.22");
const QString FakeAddress = QStringLiteral("127.0.0.24");
constexpr quint16 DownloadPort = VEMO_DOWNLOAD_PORT;

// Files by path relative to the work directory.
using Files = QMap<QString, QByteArray>;

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

// The update server's answer offering one update per "name|link" or
// "name|link|size|sha256" item. Without the last two, the size and SHA-256
// of the file that nginx serves for the link are given, if there is one;
// *digests tells whether every update got both.
QByteArray answerOffering(const QStringList &packages, const QString &webRoot, bool *digests)
{
    *digests = true;
    QString document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><updates>");
    for (const QString &package : packages) {
        const QString link = package.section('|', 1, 1);
        QString size = package.section('|', 2, 2);
        QString sha256 = package.section('|', 3, 3);
        const QString served = webRoot + QUrl(link).path();
        if (size.isEmpty() && link.contains(WebAddress) && QFileInfo(served).isFile()) {
            const QByteArray data = readFile(served);
            size = QString::number(data.size());
            sha256 = sha256Of(data);
        }
        *digests = *digests && !size.isEmpty();
        document += QStringLiteral("<request project=\"vemo\" name=\"%1\" type=\"app\"><link>%2</link>"
                                   "<size>%3</size><sha256>%4</sha256></request>")
                        .arg(package.section('|', 0, 0).toHtmlEscaped(), link.toHtmlEscaped(),
                             size, sha256);
    }
    return (document + QStringLiteral("</updates>")).toUtf8();
}

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

private:
    QTemporaryDir m_root;
    QTemporaryDir m_installDir;
    LocalWebServer m_web;
    FakeHttpServer m_fake;
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
    QVERIFY(writeFile(m_root.filePath(QString::fromUtf8("pak ić?.zip")), sampleData(80, 'p')));
    QVERIFY(writeFile(m_root.filePath("sub/d.zip"), sampleData(60, 'd')));
    QVERIFY(writeFile(m_root.filePath("slow/big.zip"), sampleData(1024 * 1024, 's')));
    QVERIFY(m_web.start(m_root.path(), WebAddress, DownloadPort, QStringLiteral("128k")));

    QVERIFY(m_fake.listen(QHostAddress(FakeAddress), DownloadPort));
    m_fake.setHandler([](const QByteArray &method, const QByteArray &target) -> FakeHttpServer::Reply {
        const bool head = method == "HEAD";
        if (target == "/nolength.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 200 OK", sampleData(40, 'n'))};
        if (target == "/gone.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 404 Not Found", "<html>gone</html>")};
        if (target == "/shifty.zip")
            return {head ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n")
                         : FakeHttpServer::response("HTTP/1.1 200 OK", sampleData(12, 's'))};
        if (target == "/cut.zip")
            return {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n"
                    + (head ? QByteArray() : sampleData(400, 'x'))};
        return {QByteArray(), false}; // silence
    });

    QVERIFY(writeFile(m_installDir.filePath("vemo7.exe"), "#!/bin/sh\necho '<s><c/></s>'\n"));
    QVERIFY(QFile::setPermissions(m_installDir.filePath("vemo7.exe"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_updateServer = std::make_unique<FakeUpdateServer>();
    QVERIFY(m_updateServer->listen(QHostAddress(QStringLiteral(VEMO_UPDATE_HOST)), VEMO_UPDATE_PORT));
    TestMain::setApplicationArguments(
        {QCoreApplication::applicationFilePath(), "-u", "-root", m_installDir.path()});
}

void PackageDownloadTest::init()
{
    m_tmp.reset();
    m_tmp = std::make_unique<QTemporaryDir>(m_baseTemp + QStringLiteral("/tmpdir-XXXXXX"));
    QVERIFY(m_tmp->isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp->path()));
    m_web.clearAccessLog();
    m_fake.clearRequests();
}

void PackageDownloadTest::percentage_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("percentage");

    QTest::newRow("half of 500 000 000 bytes") << 250000000 << 500000000 << 50;
    QTest::newRow("largest int of itself") << 2147483647 << 2147483647 << 100;
    QTest::newRow("truncated, not rounded") << 299 << 1000 << 29;
    QTest::newRow("more than announced passes 100") << 1100 << 1000 << 110;
    QTest::newRow("nothing announced") << 500 << 0 << 0;
}

void PackageDownloadTest::percentage()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, percentage);
    QCOMPARE(downloadPercentage(done, total), percentage);
}

void PackageDownloadTest::run_data()
{
    // Updates as "name|link"; the log of the engine's signals (consecutive
    // progress reports folded into the last); nginx's "METHOD URI STATUS
    // BYTES" and the fake's "METHOD target" lines; the work directory's files.
    QTest::addColumn<QStringList>("packages");
    // Cancel when the log reaches this line (a progress line: this percentage
    // or more); "now": right after beginDownload(); "HEAD x": once the fake
    // server got that request.
    QTest::addColumn<QString>("cancelAt");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("webRequests");
    QTest::addColumn<QStringList>("fakeRequests");
    QTest::addColumn<Files>("files");
    // A file expected to hold only the start of the served file of that path.
    QTest::addColumn<QString>("partial");

    const QString web = QStringLiteral("http://") + WebAddress;
    const QString fake = QStringLiteral("http://") + FakeAddress;
    const QByteArray a = sampleData(300, 'a');
    const QByteArray b = sampleData(700, 'b');
    const QString none;

    QTest::newRow("two archives of 300 and 700 bytes")
        << QStringList{"Core|" + web + "/a.zip", "Sounds|" + web + "/b.zip"} << none
        << QStringList{"file Core", "progress 30", "file Sounds", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300", "GET /b.zip 200 700"}
        << QStringList() << Files{{"a.zip", a}, {"b.zip", b}} << none;
    QTest::newRow("query string is not requested")
        << QStringList{"Core|" + web + "/get?id=5"} << none
        << QStringList{"file Core", "progress 100", "finished"}
        << QStringList{"HEAD /get 200 0", "GET /get 200 50"} << QStringList()
        << Files{{"get", sampleData(50, 'g')}} << none;
    QTest::newRow("port and scheme of the link are ignored")
        << QStringList{"Core|https://" + WebAddress + ":8080/a.zip"} << none
        << QStringList{"file Core", "progress 100", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"} << QStringList()
        << Files{{"a.zip", a}} << none;
    QTest::newRow("blank, question mark and non-ascii letter in the path")
        << QStringList{QString::fromUtf8("Język|") + web + "/pak%20i%C4%87%3F.zip"} << none
        << QStringList{QString::fromUtf8("file Język"), "progress 100", "finished"}
        << QStringList{"HEAD /pak%20i%C4%87%3F.zip 200 0", "GET /pak%20i%C4%87%3F.zip 200 80"}
        << QStringList() << Files{{QString::fromUtf8("pak ić?.zip"), sampleData(80, 'p')}} << none;
    QTest::newRow("size unknown, then more bytes than announced")
        << QStringList{"Skin|" + fake + "/nolength.zip", "Core|" + web + "/a.zip"} << none
        << QStringList{"file Skin", "progress 13", "file Core", "progress 113", "finished"}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList{"HEAD /nolength.zip", "GET /nolength.zip"}
        << Files{{"nolength.zip", sampleData(40, 'n')}, {"a.zip", a}} << none;

    QTest::newRow("HEAD answered 404")
        << QStringList{"Core|" + web + "/a.zip", "Lost|" + web + "/missing.zip", "Sounds|" + web + "/b.zip"}
        << none << QStringList{"error Cannot download package Lost: the server answered 404 Not Found."}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /missing.zip 404 0"} << QStringList() << Files() << none;
    QTest::newRow("GET answered 404")
        << QStringList{"Core|" + web + "/a.zip", "Gone|" + fake + "/gone.zip"} << none
        << QStringList{"file Core", "progress 96", "file Gone",
                       "error Cannot download package Gone: the server answered 404 Not Found."}
        << QStringList{"HEAD /a.zip 200 0", "GET /a.zip 200 300"}
        << QStringList{"HEAD /gone.zip", "GET /gone.zip"} << Files{{"a.zip", a}} << none;
    QTest::newRow("connection cut in the middle of an archive")
        << QStringList{"Cut|" + fake + "/cut.zip", "Core|" + web + "/a.zip"} << none
        << QStringList{"file Cut", "progress 30", "error The connection was closed after 400 of 1000 bytes."}
        << QStringList{"HEAD /a.zip 200 0"} << QStringList{"HEAD /cut.zip", "GET /cut.zip"}
        << Files{{"cut.zip", sampleData(400, 'x')}} << none;
    QTest::newRow("directory of a nested path missing")
        << QStringList{"Core|" + web + "/a.zip", "Deep|" + web + "/sub/d.zip"} << none
        << QStringList{"file Core", "progress 83", "file Deep", "error No such file or directory"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /sub/d.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files{{"a.zip", a}} << none;
    QTest::newRow("dot-dot segment refused before any request")
        << QStringList{"Core|" + web + "/a.zip", "Evil|" + web + "/../evil.zip"} << none
        << QStringList{"error Cannot download package Evil: its address " + web
                       + "/../evil.zip is not a valid package address."}
        << QStringList() << QStringList() << Files() << none;
    QTest::newRow("encoded dot-dot segment refused")
        << QStringList{"Evil|" + web + "/x/%2E%2E/%2e%2e/a.zip"} << none
        << QStringList{"error Cannot download package Evil: its address " + web
                       + "/x/%2E%2E/%2e%2e/a.zip is not a valid package address."}
        << QStringList() << QStringList() << Files() << none;
    QTest::newRow("empty link refused")
        << QStringList{"Core|" + web + "/a.zip", "Blank|"} << none
        << QStringList{"error Cannot download package Blank: its address  is not a valid package address."}
        << QStringList() << QStringList() << Files() << none;

    QByteArray changed = a;
    changed[150] = char(changed.at(150) ^ 0x01);
    QTest::newRow("archive changed by one byte: deleted, nothing further fetched")
        << QStringList{"Core|" + web + "/a.zip|300|" + sha256Of(changed), "Sounds|" + web + "/b.zip"}
        << none
        << QStringList{"file Core", "progress 30",
                       "error The downloaded package Core is not the one the update server "
                       "announced: its checksum differs. Nothing was installed."}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files() << none;
    QTest::newRow("HEAD announces another size than the answer")
        << QStringList{"Core|" + web + "/a.zip|299|" + sha256Of(a)} << none
        << QStringList{"error Cannot download package Core: the download server gives its size "
                       "as 300 bytes, the update server as 299 bytes."}
        << QStringList{"HEAD /a.zip 200 0"} << QStringList() << Files() << none;
    QTest::newRow("body longer than the size given is cut off")
        << QStringList{"Skin|" + fake + "/nolength.zip|20|" + sha256Of(sampleData(20, 'n'))}
        << none
        << QStringList{"file Skin", "error Cannot download package Skin: the download server "
                                    "sent more than the 20 bytes announced."}
        << QStringList() << QStringList{"HEAD /nolength.zip", "GET /nolength.zip"} << Files()
        << none;
    QTest::newRow("GET announces another size than its HEAD")
        << QStringList{"Shifty|" + fake + "/shifty.zip"} << none
        << QStringList{"file Shifty", "error Cannot download package Shifty: the download server "
                                      "gave its size as 10 bytes and then as 12 bytes."}
        << QStringList() << QStringList{"HEAD /shifty.zip", "GET /shifty.zip"} << Files()
        << none;

    QTest::newRow("cancel before any answer")
        << QStringList{"Core|" + web + "/a.zip"} << "now" << QStringList{"cancel"}
        << QStringList() << QStringList() << Files() << none;
    QTest::newRow("cancel while sizing")
        << QStringList{"Core|" + web + "/a.zip", "Quiet|" + fake + "/silent.zip"}
        << "HEAD /silent.zip" << QStringList{"cancel"} << QStringList{"HEAD /a.zip 200 0"}
        << QStringList{"HEAD /silent.zip"} << Files() << none;
    QTest::newRow("cancel in the middle of an archive")
        << QStringList{"Core|" + web + "/a.zip", "Big|" + web + "/slow/big.zip"} << "progress 20"
        << QStringList{"file Core", "progress 0", "file Big", "progress 20", "cancel"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /slow/big.zip 200 0", "GET /a.zip 200 300",
                       "GET /slow/big.zip 200"}
        << QStringList() << Files{{"a.zip", a}} << "slow/big.zip";
    QTest::newRow("cancel as the second archive starts")
        << QStringList{"Core|" + web + "/a.zip", "Sounds|" + web + "/b.zip"} << "file Sounds"
        << QStringList{"file Core", "progress 30", "file Sounds", "cancel"}
        << QStringList{"HEAD /a.zip 200 0", "HEAD /b.zip 200 0", "GET /a.zip 200 300"}
        << QStringList() << Files{{"a.zip", a}} << none;
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

    // Links whose archives have no known size and digest (the fake server's,
    // missing files) are offered by a server to an updater without keys.
    VemoUpdaterEngine engine;
    bool digests = false;
    m_updateServer->answerWith(answerOffering(packages, m_root.path(), &digests));
    if (!digests)
        engine.setUpdateKeys(QByteArray());
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(engine.updates().size(), packages.size());
    // The rate-limited archive is saved below "slow/", which must exist.
    const QString workDir = m_tmp->path() + QStringLiteral("/vupdates/");
    QVERIFY(QDir().mkpath(workDir + QStringLiteral("slow")));

    QStringList log;
    bool cancelled = false;
    auto cancel = [&] {
        cancelled = true;
        engine.abortDownload();
        log << QStringLiteral("cancel");
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
    connect(&engine, &VemoUpdaterEngine::downloadFile, this,
            [&](const QString &name) { note(QStringLiteral("file ") + name); });
    connect(&engine, &VemoUpdaterEngine::downloadProgress, this, [&](int done) {
        QVERIFY(done >= lastProgress);
        lastProgress = done;
        note(QStringLiteral("progress %1").arg(done));
    });
    connect(&engine, &VemoUpdaterEngine::downloadFinished, this, [&] { note(QStringLiteral("finished")); });
    connect(&engine, &VemoUpdaterEngine::error, this,
            [&](const QString &text) { note(QStringLiteral("error ") + text); });

    engine.beginDownload();
    if (cancelAt == QLatin1String("now")) {
        cancel();
    } else if (cancelAt.startsWith(QLatin1String("HEAD "))) {
        QTRY_VERIFY_WITH_TIMEOUT(m_fake.requests().contains(cancelAt), 10000);
        cancel();
    }
    QTRY_VERIFY2_WITH_TIMEOUT(cancelled || log.value(log.size() - 1) == QLatin1String("finished")
                                  || log.value(log.size() - 1).startsWith(QLatin1String("error ")),
                              qPrintable(log.join(QLatin1String(", "))), 20000);
    // Nothing may follow a cancel: only silence can show that, so late
    // signals get time to arrive.
    if (cancelled)
        QTest::qWait(500);
    QCOMPARE(log, expected);

    if (!partial.isEmpty()) {
        const QByteArray written = readFile(workDir + partial);
        const QByteArray whole = readFile(m_root.filePath(partial));
        QVERIFY(!written.isEmpty() && written.size() < whole.size() && whole.startsWith(written));
        files.insert(partial, written);
    }
    QTemporaryDir expectedTmp(m_baseTemp + QStringLiteral("/expected-XXXXXX"));
    QVERIFY(QDir().mkpath(expectedTmp.filePath("vupdates/slow")));
    QVERIFY(QFile::setPermissions(expectedTmp.filePath("vupdates"), QFileInfo(workDir).permissions()));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(writeFile(expectedTmp.filePath("vupdates/" + it.key()), it.value()));
    QCOMPARE(treeListing(m_tmp->path()), treeListing(expectedTmp.path()));

    QCOMPARE(m_fake.requests(), fakeRequests);
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

VEMO_TEST_MAIN(PackageDownloadTest)
#include "tst_packagedownload.moc"
