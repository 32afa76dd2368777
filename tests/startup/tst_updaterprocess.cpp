#include "engine/messenger.h"
#include "scopedtmpdir.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <signal.h>

namespace {

const QString UpdaterBinary = QStringLiteral(VEMO_BINARY_DIR "/src/updater");
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
    void init();
    void cleanup();

    void relocatesAndRelaunches_data();
    void relocatesAndRelaunches();

private:
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

void UpdaterProcessTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    m_install = m_temp->filePath("Vemo IM");
    m_record = m_temp->filePath("messenger-run.txt");
    QVERIFY(QDir().mkpath(m_install));
    QVERIFY(QFile::copy(UpdaterBinary, m_install + "/updater"));

    const QByteArray record = QFile::encodeName(m_record);
    const QByteArray script = "#!/bin/sh\n"
                              "{ echo \"$PPID\"; readlink \"/proc/$PPID/exe\";"
                              "  tr '\\0' '\\n' < \"/proc/$PPID/cmdline\"; } > '"
                              + record + ".part'\nmv '" + record + ".part' '" + record
                              + "'\necho '<s><c/></s>'\n";
    QVERIFY(writeFile(Messenger::executablePath(m_install), script));
    QVERIFY(QFile::setPermissions(Messenger::executablePath(m_install), Executable));
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

VEMO_TEST_MAIN(UpdaterProcessTest)
#include "tst_updaterprocess.moc"
