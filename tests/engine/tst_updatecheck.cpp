#include "buildconfig.h"
#include "engine/messenger.h"
#include "engine/updateinfo.h"
#include "engine/updateserverconnection.h"
#include "engine/vemoupdaterengine.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "localproxy.h"
#include "platform/processes.h"
#include "scopedtmpdir.h"
#include "scriptedprompts.h"
#include "testmain.h"
#include "treelisting.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QFile>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QSysInfo>
#include <QTest>
#include <QTranslator>


namespace {

const QString CheckTitle = QStringLiteral("Check updates");
const QString ConnectError =
    QStringLiteral("Couldn't connect to update server. Check your internet connection.");
const QString CommunicationError = QStringLiteral(
    "An error occured while comunicating update server. Check your internet connection.");

const QString NotVerified = QStringLiteral(
    "The update server's answer could not be verified, so no updates will be installed. "
    "Someone may be interfering with your connection; try again later or from another network.");
const QString NoQuery = QStringLiteral("Vemo did not report its installed components, so "
                                       "updates cannot be checked. Reinstalling Vemo may help.");
const QString TooLarge = QStringLiteral("The update server's answer is larger or more deeply "
                                        "nested than any answer can be (16 MiB, 64 levels).");

const QByteArray TwoUpdates =
    "<?xml version=\"1.0\"?><updates>"
    "<request project=\"vemo\" name=\"core\" type=\"app\"><version>7.1</version>"
    "<link>http://127.0.0.1/core.zip</link>" + AnyArchiveDigests + "</request>"
    "<request project=\"vemo\" name=\"old\" type=\"app\"><latest/></request>"
    "<request project=\"vemo\" name=\"sms\" type=\"plugin\"><version>2.0</version>"
    + AnyArchiveDigests + "</request></updates>";

// A messenger stand-in that prints the given bytes.
bool writeMessenger(const QString &dir, const QByteArray &output)
{
    return writeFile(dir + QStringLiteral("/query.out"), output)
           && FakeProgram::write(Messenger::executablePath(dir),
                                 "on -updatequery\ncat query.out\non *\nexit 3");
}

// An answer whose updates lack size and checksum is signed correctly and
// refused for that alone.
bool withoutDigestsExpected(const QList<QByteArray> &pieces)
{
    return !pieces.join().contains("<size>");
}

QStringList names(const VemoUpdaterEngine &engine)
{
    QStringList result;
    for (const UpdateInfo &u : engine.updates())
        result << u.name();
    return result;
}

} // namespace

class UpdateCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sendsTheCutOutQuery_data();
    void sendsTheCutOutQuery();
    void answerInPieces_data();
    void answerInPieces();
    void serverFailures_data();
    void serverFailures();
    void unusableQuery_data();
    void unusableQuery();
    void untrustedAnswers_data();
    void untrustedAnswers();
    void refusedConnection();
    void emptiesTheListFirst();
    void withoutRoot_data();
    void withoutRoot();
    void messengerThatNeverEnds();
    void polishMessages();
    void throughProxy_data();
    void throughProxy();

private:
    // Knows the update server as "updates.vemo.test" and refuses
    // "blocked.vemo.test"; the test process itself resolves neither.
    LocalProxy m_proxy;
    ScopedTmpDir *m_temp = nullptr;
    QString m_install;
    UpdaterPaths m_paths;
};

void UpdateCheckTest::initTestCase()
{
    QVERIFY(m_proxy.start(QStringLiteral("127.0.0.36"), VEMO_UPDATE_PORT,
                          {{"updates.vemo.test", "127.0.0.1"}, {"blocked.vemo.test", "127.0.0.1"}},
                          {"blocked.vemo.test"}));
}

void UpdateCheckTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    m_install = m_temp->filePath("Vemo IM");
    QDir().mkpath(m_install);
    m_paths = TestMain::paths({"updater", "-u", "-root", m_install});
}

void UpdateCheckTest::cleanup()
{
    delete m_temp;
    m_temp = nullptr;
}

void UpdateCheckTest::sendsTheCutOutQuery_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("banner and trailer stripped")
        << QByteArray("Vemo 7\n<s><component name=\"core\"/></s>\nbye\n")
        << QByteArray("<s><component name=\"core\"/></s>");
    QTest::newRow("latin-1 output sent as utf-8")
        << QByteArray("<s>caf\xe9</s>") << QByteArray("<s>caf\xc3\xa9</s>");
}

void UpdateCheckTest::sendsTheCutOutQuery()
{
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, sent);
    QVERIFY(writeMessenger(m_install, output));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(TwoUpdates);

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(server.queries(), QList<QByteArray>{sent});
    QCOMPARE(names(engine), (QStringList{"core", "sms"}));
    QCOMPARE(prompts.count(), 0);
}

void UpdateCheckTest::answerInPieces_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("closeAtEnd");

    const QByteArray doc = TwoUpdates;
    QTest::newRow("whole") << QList<QByteArray>{doc} << false;
    QTest::newRow("cut mid-element, connection kept open")
        << QList<QByteArray>{doc.left(70), doc.mid(70, 61), doc.mid(131)} << false;
    QTest::newRow("byte by byte through a tag")
        << QList<QByteArray>{doc.left(20), doc.mid(20, 1), doc.mid(21, 1), doc.mid(22)} << true;
    QTest::newRow("complete document, then the server closes") << QList<QByteArray>{doc} << true;
}

void UpdateCheckTest::answerInPieces()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, closeAtEnd);
    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.setBehaviour({pieces, 50, closeAtEnd});

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(names(engine), (QStringList{"core", "sms"}));
    QCOMPARE(engine.updates().at(0).link(), QStringLiteral("http://127.0.0.1/core.zip"));
    QCOMPARE(prompts.count(), 0);
}

void UpdateCheckTest::serverFailures_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("pauseMs");
    // The server leaves the connection open after the last piece; the check
    // then gets a deadline far beyond the time the row may take, so only
    // the answer's own end or the size limit can end it in time.
    QTest::addColumn<bool>("keepsOpen");
    QTest::addColumn<QString>("text");

    QTest::newRow("closes without answering") << QList<QByteArray>{} << 0 << false
                                              << CommunicationError;
    QTest::newRow("closes mid-document") << QList<QByteArray>{TwoUpdates.left(90)} << 0 << false
                                         << CommunicationError;
    QTest::newRow("answers something that is not xml")
        << QList<QByteArray>{"HTTP/1.0 400\r\n"} << 0 << false << CommunicationError;
    // Each byte comes well within the wait for it, but the check as a whole
    // has its deadline.
    QTest::newRow("dribbling server") << QList<QByteArray>(40, "<") << 250 << false
                                      << CommunicationError;
    // An answer that never completes must not fill memory: 20 MiB of an
    // unfinished element.
    QList<QByteArray> endless{"<updates><request name=\"x\"><description>"};
    for (int i = 0; i < 20; ++i)
        endless << QByteArray(1024 * 1024, 'a');
    QTest::newRow("endless answer") << endless << 0 << false << TooLarge;
    QTest::newRow("endless answer, connection kept open") << endless << 0 << true << TooLarge;
    QTest::newRow("17 MiB, well-formed")
        << QList<QByteArray>{"<updates>" + QByteArray(17 * 1024 * 1024, 'a') + "</updates>"} << 0
        << false << TooLarge;
    QTest::newRow("nested 100 000 deep")
        << QList<QByteArray>{QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000)}
        << 0 << false << TooLarge;
    // Signed, stamped and verified: its root element's start tag is sound.
    QTest::newRow("not well-formed inside the root")
        << QList<QByteArray>{"<updates><request name=core/></updates>"} << 0 << false
        << "The update server's answer is not a valid XML document.";
    QTest::newRow("no request at all")
        << QList<QByteArray>{"<updates/>"} << 0 << false
        << "The update server's answer says nothing about the installed components.";
}

void UpdateCheckTest::serverFailures()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, pauseMs);
    QFETCH(bool, keepsOpen);
    QFETCH(QString, text);
    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.setBehaviour({pieces, pauseMs, !keepsOpen});

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    engine.setCheckTimeout(keepsOpen ? 60000 : 3000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!engine.checkForUpdates());
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!engine.hasUpdates());
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().summary(), "critical | " + CheckTitle + " | " + text);
}

void UpdateCheckTest::unusableQuery_data()
{
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("no markers") << QByteArray("usage: vemo7\n");
    QTest::newRow("nothing between the markers") << QByteArray("<s> \n </s>");
    QTest::newRow("a query after more than 1 MiB of output")
        << QByteArray(1024 * 1024, 'x') + "<s><c/></s>";
}

void UpdateCheckTest::unusableQuery()
{
    QFETCH(QByteArray, output);
    QVERIFY(writeMessenger(m_install, output));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(TwoUpdates);

    // The messenger is blamed, and the server is not asked.
    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(!engine.checkForUpdates());
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().summary(), "critical | " + CheckTitle + " | " + NoQuery);
    QTest::qWait(50);
    QVERIFY(server.queries().isEmpty());
}

void UpdateCheckTest::untrustedAnswers_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("sign");
    QTest::addColumn<QString>("signWith");
    QTest::addColumn<int>("lifetime");
    QTest::addColumn<bool>("keyed");
    QTest::addColumn<bool>("accepted");

    const QString otherKey = QStringLiteral(VEMO_SOURCE_DIR "/tests/keys/test-only-other.key");
    const QByteArray query = "<s><c/></s>";
    FakeUpdateServer::Behaviour signedAnswer{{TwoUpdates}};
    QList<QByteArray> tampered = FakeUpdateServer::signedPieces(signedAnswer, query);
    tampered.first().replace("7.1", "7.2");
    const QList<QByteArray> otherQuery =
        FakeUpdateServer::signedPieces(signedAnswer, "<s><c name=\"x\"/></s>");
    const QByteArray bare = TwoUpdates;

    QTest::newRow("signed") << QList<QByteArray>{bare} << true << QString() << 60 << true << true;
    QTest::newRow("another key") << QList<QByteArray>{bare} << true << otherKey << 60 << true
                                 << false;
    QTest::newRow("unsigned") << QList<QByteArray>{bare} << false << QString() << 60 << true
                              << false;
    QTest::newRow("expired") << QList<QByteArray>{bare} << true << QString() << -1 << true
                             << false;
    QTest::newRow("one byte changed") << tampered << false << QString() << 60 << true << false;
    QTest::newRow("answer to another query") << otherQuery << false << QString() << 60 << true
                                             << false;
    const QByteArray withoutDigests = QByteArray(TwoUpdates).replace(AnyArchiveDigests, "");
    QTest::newRow("signed, without sizes and checksums")
        << QList<QByteArray>{withoutDigests} << true << QString() << 60 << true << false;
    // Without keys the instruction and the two attributes mean nothing.
    QTest::newRow("no keys: unsigned") << QList<QByteArray>{withoutDigests} << false << QString()
                                       << 60 << false << true;
    QTest::newRow("no keys: another key, expired, another query")
        << otherQuery << true << otherKey << -1 << false << true;
}

void UpdateCheckTest::untrustedAnswers()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, sign);
    QFETCH(QString, signWith);
    QFETCH(int, lifetime);
    QFETCH(bool, keyed);
    QFETCH(bool, accepted);
    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.setBehaviour({pieces, 0, true, sign, signWith, lifetime});

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    if (!keyed)
        engine.setUpdateKeys(QByteArray());
    if (accepted) {
        QVERIFY(engine.checkForUpdates());
        QCOMPARE(names(engine), (QStringList{"core", "sms"}));
        QCOMPARE(prompts.count(), 0);
        return;
    }
    if (!withoutDigestsExpected(pieces))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^updater: the update answer was not accepted: "));
    QVERIFY(!engine.checkForUpdates());
    QVERIFY(!engine.hasUpdates());
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().title, CheckTitle);
    QCOMPARE(prompts.last().text,
             withoutDigestsExpected(pieces)
                 ? QStringLiteral("The update server's answer does not give the size and "
                                  "checksum of the package core.")
                 : NotVerified);
}

void UpdateCheckTest::refusedConnection()
{
    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));
    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(!engine.checkForUpdates());
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().kind, QStringLiteral("critical"));
    QCOMPARE(prompts.last().title, CheckTitle);
    QCOMPARE(prompts.last().text, ConnectError);
}

void UpdateCheckTest::emptiesTheListFirst()
{
    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));
    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    {
        FakeUpdateServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
        server.answerWith(TwoUpdates);
        QVERIFY(engine.checkForUpdates());
        QCOMPARE(engine.updates().size(), 2);
    }
    // The records of the first check are gone even though the second one
    // cannot reach the server.
    QVERIFY(!engine.checkForUpdates());
    QVERIFY(engine.updates().isEmpty());
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().text, ConnectError);
}

void UpdateCheckTest::withoutRoot_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no -root") << QStringList{"updater", "-u"};
    QTest::newRow("-root is the last argument") << QStringList{"updater", "-u", "-root"};
    QTest::newRow("-ROOT is no switch") << QStringList{"updater", "-u", "-ROOT", "/tmp"};
}

void UpdateCheckTest::withoutRoot()
{
    QFETCH(QStringList, arguments);
    m_paths = TestMain::paths(arguments);

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(TwoUpdates);

    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(!engine.checkForUpdates());
    QVERIFY(!engine.hasUpdates());
    QCOMPARE(prompts.count(), 0);
    QTest::qWait(50);
    QVERIFY(server.queries().isEmpty());
}

void UpdateCheckTest::messengerThatNeverEnds()
{
    // The messenger prints a query, then hangs. A run past the bound counts
    // as one that printed nothing, and the process is killed.
    // It has started a child of its own, which goes with it.
    const QString pidFile = m_temp->filePath("messenger.pid");
    const QString childFile = m_temp->filePath("child.pid");
    QVERIFY(FakeProgram::write(Messenger::executablePath(m_install),
                               "spawn " + QFile::encodeName(childFile) + " sleep 600\npid "
                                   + QFile::encodeName(pidFile) + "\nprint <s>x</s>\nsleep 600"));
    QElapsedTimer clock;
    clock.start();
    // Long enough for it to start its child (process starts are slow under
    // an emulator).
    const int bound = QSysInfo::productType() == QLatin1String("windows") ? 3000 : 500;
    QCOMPARE(Messenger::runUpdateQuery(m_install, bound), QByteArray());
    QVERIFY(clock.elapsed() < 10000);

    for (const QString &file : {pidFile, childFile}) {
        const qint64 pid = readFile(file).trimmed().toLongLong();
        QVERIFY(pid > 0);
        QTRY_VERIFY(!Platform::processIsAlive(pid));
    }
}

void UpdateCheckTest::polishMessages()
{
    QTranslator polish;
    QVERIFY(polish.load(QStringLiteral(":/languages/vemo_pl_PL.qm")));
    QCoreApplication::installTranslator(&polish);

    QVERIFY(writeMessenger(m_install, "<s><c/></s>"));
    ScriptedPrompts prompts;
    VemoUpdaterEngine engine(m_paths, prompts);
    QVERIFY(!engine.checkForUpdates());
    QCoreApplication::removeTranslator(&polish);

    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.last().title, QString::fromUtf8("Sprawdzanie aktualizacji"));
    QCOMPARE(prompts.last().text,
             QString::fromUtf8("Nie można nawiązać połączenia z serwerem aktualizacji. "
                               "Sprawdź połączenie z internetem."));
}

void UpdateCheckTest::throughProxy_data()
{
    // http_proxy: "proxy" (with its password), "proxy without password",
    // "dead" (nothing listens there). A connection to a host in no_proxy goes
    // straight to it.
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("noProxy");
    QTest::addColumn<QString>("host");
    // The failure text; empty when the server got the query.
    QTest::addColumn<QString>("outcome");

    const QString proxy = QStringLiteral("the proxy server 127.0.0.36:%1").arg(VEMO_UPDATE_PORT);
    QTest::newRow("with the proxy's password") << "proxy" << "" << "updates.vemo.test" << "";
    QTest::newRow("without the password")
        << "proxy without password" << "" << "updates.vemo.test"
        << "Couldn't connect to update server: " + proxy + " asks for a user name and password.";
    QTest::newRow("host refused by the proxy")
        << "proxy" << "" << "blocked.vemo.test"
        << "Couldn't connect to update server through " + proxy + ": Proxy denied connection";
    QTest::newRow("proxy not reachable")
        << "dead" << "" << "updates.vemo.test"
        << "Couldn't connect to update server through the proxy server 127.0.0.37:1: "
           "Proxy connection refused";
    QTest::newRow("host in no_proxy: straight, and unknown here")
        << "proxy" << ".vemo.test" << "updates.vemo.test" << ConnectError;
}

void UpdateCheckTest::throughProxy()
{
    QFETCH(QString, proxy);
    QFETCH(QString, noProxy);
    QFETCH(QString, host);
    QFETCH(QString, outcome);

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(TwoUpdates);
    const QString proxyUrl = proxy == QLatin1String("proxy")  ? m_proxy.url(true)
                           : proxy == QLatin1String("dead") ? QStringLiteral("http://127.0.0.37:1")
                                                            : m_proxy.url(false);
    // A connection that goes straight needs no password.
    if (!SystemProxySetting::canCarry(proxyUrl) && noProxy.isEmpty())
        QSKIP("the system's proxy settings hold no password here");
    const SystemProxySetting setting(proxyUrl, noProxy);

    // The test process cannot resolve the host: only the proxy can reach it.
    QTcpSocket socket;
    QString failure;
    UpdateServerConnection::open(socket, host, VEMO_UPDATE_PORT, 10000, &failure);
    QCOMPARE(failure, outcome);
    if (outcome.isEmpty()) {
        socket.write("<s></s>");
        QTRY_COMPARE(server.queries(), QList<QByteArray>{"<s></s>"});
    }
}

VEMO_TEST_MAIN(UpdateCheckTest)
#include "tst_updatecheck.moc"
