#include "buildconfig.h"
#include "engine/messenger.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "startup/relocation.h"
#include "testmain.h"
#include "treelisting.h"
#include "zipwriter.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <memory>
#include <signal.h>
#include <unistd.h>

namespace {

const QString UpdaterBinary = QStringLiteral(VEMO_BINARY_DIR "/src/updater");
const QString BenchDriver = QStringLiteral(VEMO_BINARY_DIR "/bench/vemo-bench");
const QString KillPoint = QStringLiteral(VEMO_KILLPOINT_LIBRARY);
const QByteArray NoUpdates = "<updates><request name=\"alpha\"><latest/></request></updates>";

// The packages of the crash runs. alpha (app) replaces 400 files, adds 400
// in 20 new folders and removes 100; beta (plug-in) replaces 200 and adds
// 200; gamma (app) replaces 100 and adds 100, then fails on its identity.
constexpr int Replaced = 400;

QByteArray content(const char *what, int n)
{
    return QByteArray(what) + ' ' + QByteArray::number(n) + '\n'
           + QByteArray(200, char('a' + n % 26));
}

QByteArray fileName(const char *folder, int n)
{
    return QByteArray(folder) + "/f" + QByteArray::number(n) + ".dat";
}

struct CrashPackage
{
    QByteArray name;
    QByteArray type;
    QList<QPair<QByteArray, QByteArray>> files; // entry name, content
    QByteArray elements;
};

bool writePackage(const QString &path, const CrashPackage &package)
{
    ZipWriter zip(path);
    const QByteArray manifest = "<manifest><package project=\"vemo\" name=\"" + package.name
                                + "\" type=\"" + package.type + "\"/>" + package.elements
                                + "</manifest>";
    bool ok = zip.addFile(package.name + ".xml", manifest);
    for (const auto &file : package.files)
        ok = ok && zip.addFile(file.first, file.second);
    return zip.close() && ok;
}

QByteArray element(const QByteArray &entry, const char *action)
{
    const qsizetype slash = entry.lastIndexOf('/');
    return "<file path=\"" + entry.left(slash) + "\" name=\"" + entry.mid(slash + 1)
           + "\" action=\"" + action + "\"/>";
}

const QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

} // namespace

// The real updater program started as a user would start it, from a
// temporary installation with a private TMPDIR. The stand-in messenger
// records which process ran it and with which command line, which is how the
// test sees the relaunched updater; the test then stops that process.
class UpdaterProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void relocatesAndRelaunches_data();
    void relocatesAndRelaunches();
    void crashRecovery_data();
    void crashRecovery();
    void secondUpdaterDuringADownload();

private:
    // Below the test's folder T: install/ (app root with the messenger),
    // appdata/Vemo/plugins/, tmp/vupdates/ (work folder with the archives),
    // state/ (journal and lock). Made afresh from the pristine copies.
    void prepareCrashRun(const QStringList &archives);
    QProcessEnvironment childEnvironment() const;
    // Runs the bench driver over the prepared folders, killed before its
    // killAt-th change below T (0: not killed; then every change is logged).
    bool runInstaller(const QString &mode, int killAt, QString *log = nullptr);
    QStringList roots() const;
    QString journal() const { return m_temp->filePath("state/vemo-updater/install-journal"); }

    std::unique_ptr<FakeUpdateServer> m_server;
    QTemporaryDir m_shared; // pristine roots and the archives
    QHash<QString, QStringList> m_changes; // per package set: "kind path" below T, in order
    QHash<QString, QStringList> m_updated; // per package set: the roots after a full run
    struct Relaunch
    {
        qint64 pid = 0;
        QString executable;
        QStringList arguments;
    };
    Relaunch waitForMessengerRun();

    ScopedTmpDir *m_temp = nullptr;
    QString m_install;
    QString m_record;
    QList<qint64> m_started;
};

void UpdaterProcessTest::initTestCase()
{
    m_server = std::make_unique<FakeUpdateServer>();
    QVERIFY(m_server->listen(QHostAddress(QStringLiteral(VEMO_UPDATE_HOST)), VEMO_UPDATE_PORT));
    QVERIFY(m_shared.isValid());

    // Pristine roots.
    const QString install = m_shared.filePath("install");
    const QString plugins = m_shared.filePath("appdata/Vemo/plugins");
    QVERIFY(FakeProgram::write(Messenger::executablePath(install), FakeProgram::Messenger));
    CrashPackage alpha{"alpha", "app", {}, {}};
    CrashPackage beta{"beta", "plugin", {}, {}};
    CrashPackage gamma{"gamma", "app", {}, {}};
    for (int n = 0; n < Replaced; ++n) {
        QVERIFY(writeFile(install + '/' + fileName("a", n), content("old", n)));
        alpha.files.append({fileName("a", n), content("new", n)});
        alpha.elements += element(fileName("a", n), "add");
        const QByteArray added =
            "n/d" + QByteArray::number(n % 20) + "/f" + QByteArray::number(n) + ".dat";
        alpha.files.append({added, content("added", n)});
        alpha.elements += element(added, "add");
    }
    for (int n = 0; n < Replaced / 4; ++n) {
        QVERIFY(writeFile(install + '/' + fileName("r", n), content("removed", n)));
        alpha.elements += element(fileName("r", n), "remove");
        QVERIFY(writeFile(install + '/' + fileName("c", n), content("old", n)));
        gamma.files.append({fileName("c", n), content("new", n)});
        gamma.files.append({fileName("z", n), content("added", n)});
        gamma.elements += element(fileName("c", n), "add") + element(fileName("z", n), "add");
    }
    gamma.elements += "<package name=\"other\"/>";
    for (int n = 0; n < Replaced / 2; ++n) {
        QVERIFY(writeFile(plugins + '/' + fileName("p", n), content("old", n)));
        beta.files.append({fileName("p", n), content("new", n)});
        beta.files.append({fileName("q", n), content("added", n)});
        beta.elements += element(fileName("p", n), "add") + element(fileName("q", n), "add");
    }
    QVERIFY(QDir().mkpath(m_shared.filePath("archives")));
    for (const CrashPackage &package : {alpha, beta, gamma})
        QVERIFY(writePackage(m_shared.filePath("archives/" + package.name + ".zip"), package));
}

void UpdaterProcessTest::cleanupTestCase()
{
    m_server.reset();
}

void UpdaterProcessTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    m_install = m_temp->filePath("Vemo IM");
    m_record = m_temp->filePath("messenger-run.txt");
    QVERIFY(QDir().mkpath(m_install));
    QVERIFY(QFile::copy(UpdaterBinary, m_install + "/updater"));

    QVERIFY(FakeProgram::write(Messenger::executablePath(m_install),
                               "parent " + QFile::encodeName(m_record) + "\nprint <s><c/></s>"));
}

void UpdaterProcessTest::cleanup()
{
    for (qint64 pid : std::as_const(m_started))
        ::kill(pid_t(pid), SIGKILL);
    m_started.clear();
    delete m_temp;
    m_temp = nullptr;
}

UpdaterProcessTest::Relaunch UpdaterProcessTest::waitForMessengerRun()
{
    Relaunch run;
    if (!QTest::qWaitFor([&] { return QFile::exists(m_record); }, 20000))
        return run;
    QStringList lines = QString::fromLocal8Bit(readFile(m_record)).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 3)
        return run;
    run.pid = lines.takeFirst().toLongLong();
    run.executable = lines.takeFirst();
    run.arguments = lines;
    m_started << run.pid;
    return run;
}

void UpdaterProcessTest::relocatesAndRelaunches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("staleCopy");
    QTest::addColumn<bool>("relocates");
    QTest::addColumn<QStringList>("relaunchArguments");

    QTest::newRow("no arguments") << QStringList{} << false << true
                                  << QStringList{"-u", "-root", "%1"};
    QTest::newRow("-q is passed on") << QStringList{"-q"} << false << true
                                     << QStringList{"-u", "-q", "-root", "%1"};
    QTest::newRow("unknown arguments are dropped") << QStringList{"--u", "-U", "x"} << false
                                                   << true << QStringList{"-u", "-root", "%1"};
    QTest::newRow("a stale updater from an earlier run is replaced")
        << QStringList{} << true << true << QStringList{"-u", "-root", "%1"};
    QTest::newRow("-u runs in place")
        << QStringList{"-u", "-root", "%1"} << false << false << QStringList{"-u", "-root", "%1"};
}

void UpdaterProcessTest::relocatesAndRelaunches()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, staleCopy);
    QFETCH(bool, relocates);
    QFETCH(QStringList, relaunchArguments);
    const QString copy = m_temp->workDir() + "updater";
    if (staleCopy) {
        QVERIFY(QDir().mkpath(m_temp->workDir()));
        QVERIFY(QFile::setPermissions(m_temp->workDir(), Executable));
        QVERIFY(writeFile(copy, "an updater left by an earlier run"));
    }
    for (QString &a : arguments)
        a.replace("%1", m_install);
    for (QString &a : relaunchArguments)
        a.replace("%1", m_install);

    QProcess updater;
    updater.setProgram(m_install + "/updater");
    updater.setArguments(arguments);
    updater.start();
    QVERIFY(updater.waitForStarted());
    if (relocates) {
        QVERIFY(updater.waitForFinished(20000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);
    } else {
        m_started << updater.processId();
    }

    const Relaunch run = waitForMessengerRun();
    QVERIFY2(run.pid > 0, "the messenger was not run by an updater");
    if (relocates) {
        QCOMPARE(run.executable, QFileInfo(copy).canonicalFilePath());
        QCOMPARE(readFile(copy), readFile(UpdaterBinary));
    } else {
        QCOMPARE(run.executable, QFileInfo(m_install + "/updater").canonicalFilePath());
        QVERIFY(!QFile::exists(copy));
    }
    QCOMPARE(run.arguments.mid(1), relaunchArguments);
    updater.kill();
    updater.waitForFinished();
}

void UpdaterProcessTest::prepareCrashRun(const QStringList &archives)
{
    for (const char *dir : {"install", "appdata", "tmp", "state"})
        QVERIFY(QDir(m_temp->filePath(dir)).removeRecursively());
    QCOMPARE(QProcess::execute("cp", {"-a", m_shared.filePath("install"),
                                      m_shared.filePath("appdata"), m_temp->path()}),
             0);
    QVERIFY(QDir().mkpath(m_temp->workDir()));
    QVERIFY(QFile::setPermissions(m_temp->workDir(), Executable));
    QByteArray answer = "<updates>";
    for (const QString &name : archives) {
        QVERIFY(QDir().mkpath(m_temp->workDir() + "archives"));
        QVERIFY(QFile::copy(m_shared.filePath("archives/" + name + ".zip"),
                            m_temp->workDir() + "archives/" + name + ".zip"));
        const QByteArray type = name == "beta" ? "plugin" : "app";
        answer += "<request project=\"vemo\" name=\"" + name.toUtf8() + "\" type=\"" + type
                  + "\"><version>2</version><link>http://127.0.0.1/" + name.toUtf8()
                  + ".zip</link>" + AnyArchiveDigests + "</request>";
    }
    m_server->answerWith(answer + "</updates>");
}

QProcessEnvironment UpdaterProcessTest::childEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", m_temp->tmpDir());
    environment.insert("XDG_STATE_HOME", m_temp->filePath("state"));
    environment.insert("APPDATA", m_temp->filePath("appdata"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("VEMO_KILL_PREFIX", m_temp->path() + '/');
    environment.insert("LD_PRELOAD", KillPoint);
    return environment;
}

QStringList UpdaterProcessTest::roots() const
{
    return treeListing(m_temp->filePath("install")) + QStringList{"--"}
           + treeListing(m_temp->filePath("appdata"));
}

bool UpdaterProcessTest::runInstaller(const QString &mode, int killAt, QString *log)
{
    QProcessEnvironment environment = childEnvironment();
    environment.insert("VEMO_KILL_PROGRAM", "vemo-bench");
    environment.insert("VEMO_KILL_AT", QString::number(killAt));
    const QString logPath = m_temp->filePath("changes.log");
    if (log)
        environment.insert("VEMO_KILL_LOG", logPath);
    QProcess driver;
    driver.setProcessEnvironment(environment);
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(BenchDriver, {mode, "-root", m_temp->filePath("install")});
    if (!driver.waitForFinished(60000))
        return false;
    if (log) {
        *log = QString::fromUtf8(readFile(logPath));
        QFile::remove(logPath);
    }
    return killAt > 0 ? driver.exitStatus() == QProcess::CrashExit : driver.exitCode() == 0;
}

void UpdaterProcessTest::crashRecovery_data()
{
    QTest::addColumn<QString>("packages"); // "good": alpha, beta; "failing": gamma too
    QTest::addColumn<QString>("moment");
    QTest::addColumn<bool>("recoveryKilled");
    QTest::addColumn<bool>("updated"); // the roots afterwards: updated, or as before

    QTest::newRow("after the journal is written") << "failing" << "first change" << false << false;
    QTest::newRow("in the middle of a package") << "failing" << "mid-package" << false << false;
    QTest::newRow("between packages") << "failing" << "between" << false << false;
    QTest::newRow("during the rollback") << "failing" << "rollback" << false << false;
    QTest::newRow("during the recovery") << "failing" << "mid-package" << true << false;
    QTest::newRow("from outside, while the plug-in installs")
        << "failing" << "kill -9" << false << false;
    QTest::newRow("while clearing up after success") << "good" << "clear-up" << false << true;
}

void UpdaterProcessTest::crashRecovery()
{
    QFETCH(QString, packages);
    QFETCH(QString, moment);
    QFETCH(bool, recoveryKilled);
    QFETCH(bool, updated);

    const QStringList archives = packages == "good" ? QStringList{"alpha", "beta"}
                                                    : QStringList{"alpha", "beta", "gamma"};
    const QString mode = packages == "good" ? "install" : "rollback";
    // Every change of a whole run, once per package set, to pick the points.
    if (!m_changes.contains(packages)) {
        prepareCrashRun(archives);
        QString log;
        QVERIFY2(runInstaller(mode, 0, &log), "the run without a kill failed");
        QStringList changes;
        for (const QString &line : log.split('\n', Qt::SkipEmptyParts))
            changes << line.section(' ', 1).replace(m_temp->path() + '/', QString());
        m_changes.insert(packages, changes);
        m_updated.insert(packages, roots());
    }
    const QStringList changes = m_changes.value(packages);
    const auto first = [&](const QString &kind, const QString &below, int from = 0) {
        for (int n = from; n < changes.size(); ++n) {
            if (changes.at(n).startsWith(kind) && changes.at(n).contains(" " + below))
                return n + 1; // changes count from 1
        }
        return 0;
    };
    const int firstApp = first("", "install/");
    const int firstPlugin = first("", "appdata/");
    int killAt = 0;
    if (moment == "first change") {
        killAt = firstApp;
    } else if (moment == "mid-package") {
        killAt = (firstApp + firstPlugin) / 2;
    } else if (moment == "between") {
        int last = firstPlugin - 1;
        while (last > 0 && !changes.at(last - 1).contains(" install/"))
            --last;
        killAt = last + 1;
    } else if (moment == "rollback") {
        killAt = first("unlink", "install/", firstApp) + 200;
    } else if (moment == "clear-up") {
        killAt = first("unlink", "install/.vemo-backup-") + 50;
    }
    QVERIFY(moment == "kill -9" || killAt > 0);

    prepareCrashRun(archives);
    const QStringList before = roots();
    if (moment == "kill -9") {
        // Killed by another process once the plug-in's package is under way.
        QProcess driver;
        driver.setProcessEnvironment(childEnvironment());
        driver.start(BenchDriver, {mode, "-root", m_temp->filePath("install")});
        QVERIFY(QTest::qWaitFor(
            [&] { return readFile(journal()).contains("package 1 "); }, 30000));
        ::kill(pid_t(driver.processId()), SIGKILL);
        QVERIFY(driver.waitForFinished(10000));
    } else {
        QVERIFY2(runInstaller(mode, killAt), "the installation was not killed");
    }
    QVERIFY2(QFile::exists(journal()), "the kill came after the run had ended");
    QCOMPARE(roots() == before, moment == "first change");

    m_server->answerWith(NoUpdates);
    QProcessEnvironment environment = childEnvironment();
    if (recoveryKilled) {
        // Half way through taking back what the run had done.
        environment.insert("VEMO_KILL_PROGRAM", "updater");
        const int rootChanges = int(std::count_if(
            changes.cbegin(), changes.cbegin() + killAt - 1, [](const QString &change) {
                return change.contains(" install/") || change.contains(" appdata/");
            }));
        environment.insert("VEMO_KILL_AT", QString::number(rootChanges / 2));
        QProcess recovery;
        recovery.setProcessEnvironment(environment);
        recovery.start(UpdaterBinary, {"-u", "-q", "-root", m_temp->filePath("install")});
        QVERIFY(recovery.waitForFinished(60000));
        QCOMPARE(recovery.exitStatus(), QProcess::CrashExit);
        QVERIFY(QFile::exists(journal()));
        environment.remove("VEMO_KILL_PROGRAM");
    }

    // The next start, quiet: it rolls back (or clears up), says so in a log
    // line, and goes on with its check, which finds nothing.
    QProcess next;
    next.setProcessEnvironment(environment);
    next.start(UpdaterBinary, {"-u", "-q", "-root", m_temp->filePath("install")});
    QVERIFY(next.waitForFinished(60000));
    const QByteArray log = next.readAllStandardError();
    QCOMPARE(next.exitStatus(), QProcess::NormalExit);
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(log.contains("has been rolled back"), !updated);

    QCOMPARE(roots(), updated ? m_updated.value(packages) : before);
    QVERIFY(!QFile::exists(journal()));
}

void UpdaterProcessTest::secondUpdaterDuringADownload()
{
    // A web server that takes the connection and never answers keeps the
    // first updater in its download.
    QTcpServer stalled;
    QVERIFY(stalled.listen(QHostAddress(QStringLiteral("127.0.0.61")), VEMO_DOWNLOAD_PORT));
    m_server->answerWith("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                         "<version>2</version><link>http://127.0.0.61/core.zip</link>"
                         + AnyArchiveDigests + "</request></updates>");
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_temp->filePath("state")));

    QProcess first;
    QProcessEnvironment environment = childEnvironment();
    environment.remove("LD_PRELOAD");
    first.setProcessEnvironment(environment);
    first.start(m_install + "/updater", {"-q"});
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(stalled.waitForNewConnection(20000));
    const Relaunch run = waitForMessengerRun();
    QVERIFY(run.pid > 0);

    const QStringList before = treeListing(m_temp->path());
    MessageBoxWatcher boxes;
    QCOMPARE(Relocation::run(TestMain::paths(), m_install, "updater", {}, true), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().summary(),
             QStringLiteral("critical | Update | Another update of the messenger is in progress. "
                            "Wait until it has finished, then start the update again if it is "
                            "still needed."));
    QCOMPARE(treeListing(m_temp->path()), before);
    qunsetenv("XDG_STATE_HOME");
}

VEMO_TEST_MAIN(UpdaterProcessTest)
#include "tst_updaterprocess.moc"
