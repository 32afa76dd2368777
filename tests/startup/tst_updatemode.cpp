#include "buildconfig.h"
#include "engine/messenger.h"
#include "engine/runlog.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "install/installjournal.h"
#include "messageboxwatcher.h"
#include "packagetestsupport.h"
#include "platform/fileio.h"
#include "scopedtmpdir.h"
#include "sharedfolder.h"
#include "startup/updatemode.h"
#include "testmain.h"
#include "treelisting.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

const QByteArray NoUpdates = "<updates><request name=\"core\"><latest/></request></updates>";
const QByteArray OneUpdate = "<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                             "<version>7.1</version><description>Core</description>"
                             "<changelog>Fixes</changelog>"
                             "<link>http://127.0.0.1/core.zip</link>"
                             + AnyArchiveDigests + "</request></updates>";

QWidget *visibleWindow(const QString &objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == objectName && w->isVisible())
            return w;
    }
    return nullptr;
}

} // namespace

// Update mode of the program, run in this process: the check, the first
// window or the "No updates available." box, and the exit codes.
class UpdateModeTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void withoutUpdates_data();
    void withoutUpdates();
    void failedCheck_data();
    void failedCheck();
    void offerWindowRunsTheEventLoop();
    void refusesASharedWorkDirectory();
    void interruptedUpdate_data();
    void interruptedUpdate();

private:
    ScopedTmpDir *m_temp = nullptr;
    QStringList m_commandLine;
    QByteArray m_savedStateHome;
};

void UpdateModeTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    const QString install = m_temp->filePath("vemo");
    const QString messenger = Messenger::executablePath(install);
    QVERIFY(FakeProgram::write(messenger, FakeProgram::Messenger));
    m_commandLine = QStringList{"updater", "-u", "-root", install};
    // The journal, the lock and the run's log of this test alone.
    m_savedStateHome = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_temp->filePath("state")));
}

void UpdateModeTest::cleanup()
{
    qputenv("XDG_STATE_HOME", m_savedStateHome);
    delete m_temp;
    m_temp = nullptr;
}

void UpdateModeTest::withoutUpdates_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<int>("boxCount");
    QTest::addColumn<bool>("logBlocked"); // folders where the run's logs go
    // In the order written, after the run before's log has become the previous one.
    QTest::addColumn<QStringList>("logged");
    const QString box = "updater: box \"Update\": No updates available.";
    QTest::newRow("interactive: one information box")
        << false << 1 << false
        << QStringList{"phase update check: started", box, "outcome: no updates"};
    QTest::newRow("quiet: no box")
        << true << 0 << false << QStringList{"phase update check: ended", "outcome: no updates"};
    QTest::newRow("a log that cannot be written does not stop the run")
        << false << 1 << true << QStringList();
}

void UpdateModeTest::withoutUpdates()
{
    QFETCH(bool, quiet);
    QFETCH(int, boxCount);
    QFETCH(bool, logBlocked);
    QFETCH(QStringList, logged);
    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(NoUpdates);
    const QString stateDir = m_temp->filePath("state/vemo-updater/");
    const QString lastLog = stateDir + RunLog::LastName;
    const QString previousLog = stateDir + RunLog::PreviousName;
    if (logBlocked) {
        QVERIFY(QDir().mkpath(lastLog + "/x"));
        QVERIFY(QDir().mkpath(previousLog + "/x"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^updater: the log of this run cannot be written"));
    } else {
        QVERIFY(writeFile(lastLog, "the run before\n"));
    }
    QVERIFY(
        QFile::setPermissions(stateDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(TestMain::paths(m_commandLine), quiet), 0);
    QCOMPARE(boxes.count(), boxCount);
    if (!logBlocked) {
        QFile log(lastLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        qsizetype at = 0;
        for (const QString &line : logged) {
            at = text.indexOf(line, at);
            QVERIFY2(at >= 0, qPrintable(line + " is not in order in:\n" + text));
        }
        QFile previous(previousLog);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("the run before\n"));
    }
    if (boxCount) {
        QCOMPARE(boxes.last().icon, QMessageBox::Information);
        QCOMPARE(boxes.last().title, QStringLiteral("Update"));
        QCOMPARE(boxes.last().text, QStringLiteral("No updates available."));
        QCOMPARE(boxes.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

void UpdateModeTest::failedCheck_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("interactive") << false;
    QTest::newRow("quiet") << true;
}

void UpdateModeTest::failedCheck()
{
    // No server: only the check's own box, and exit code 0.
    QFETCH(bool, quiet);
    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(TestMain::paths(m_commandLine), quiet), 0);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Check updates"));
}

void UpdateModeTest::offerWindowRunsTheEventLoop()
{
    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(OneUpdate);

    bool offered = false;
    bool sawDownloadWindow = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (visibleWindow("Updater_Download_MainWindow"))
            sawDownloadWindow = true;
        if (QWidget *offer = visibleWindow("Updater_Changelog_MainWindow")) {
            offered = true;
            offer->close();
        }
    });
    poll.start();
    // A broken window sequence must fail the test, not hang it.
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(TestMain::paths(m_commandLine), false), 0);
    QVERIFY(offered);
    QVERIFY(!sawDownloadWindow);
    QCOMPARE(boxes.count(), 0);
}

void UpdateModeTest::refusesASharedWorkDirectory()
{
    QVERIFY(QDir().mkpath(m_temp->workDir()));
    QVERIFY(QFile::setPermissions(m_temp->workDir(), QFile::Permissions(0x7777)));
    // Windows keeps who may write in the folder's ACL, not in mode bits.
    QVERIFY(SharedFolder::letOthersChange(m_temp->workDir(), false));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(OneUpdate);

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(TestMain::paths(m_commandLine), false), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Update"));
    QVERIFY(boxes.last().text.contains(QStringLiteral("can be changed by other users")));
    QTest::qWait(100);
    QVERIFY(server.queries().isEmpty());
}

void UpdateModeTest::interruptedUpdate_data()
{
    QTest::addColumn<bool>("quiet");
    // %R the root, %B the run's backups, %J the journal, %T the test's folder;
    // [[...]] a path as the system writes it (backslashes on Windows)
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<FileMap>("rootAfter"); // besides vemo7.exe

    // The run saved a.txt, then made the folder made/ with n.txt and the
    // file new.txt, when it was cut short.
    const QByteArray cutShort = "vemo-update-journal 1 x\npackage 0 %R %B/0\ndir 0 %R/made\n"
                                "file 0 %R/made/n.txt\nfile 0 %R/new.txt\n";
    const FileMap before{{"keep.txt", "keep"}, {"a.txt", "original"}};
    const QString rolledBack = "information | Update | The last update was interrupted before it "
                               "finished. Everything it had changed has been put back as it was "
                               "before that update.";
    const QString noUpdates = "information | Update | No updates available.";

    QTest::newRow("rolled back, then told") << false << cutShort << QString() << 0
                                            << QStringList{rolledBack, noUpdates} << before;
    QTest::newRow("quiet: rolled back without a box")
        << true << cutShort << QString() << 0 << QStringList() << before;
    QTest::newRow("a line cut short is no change")
        << false << cutShort + "file 0 %R/keep.txt" << QString() << 0
        << QStringList{rolledBack, noUpdates} << before;
    QTest::newRow("a finished run is only cleared up")
        << false << cutShort + "installed 0\nfinished\n" << QString() << 0
        << QStringList{noUpdates}
        << FileMap{{"keep.txt", "keep"}, {"a.txt", "updated"}, {"new.txt", "new"},
                   {"made/n.txt", "n"}};
    QTest::newRow("what cannot be put back stays, and the updater stops")
        << false << cutShort << "folder at a.txt" << 1
        << QStringList{"critical | Update | The last update was interrupted before it finished, "
                       "and not everything it had changed could be put back: [[%R/a.txt]] (Is a "
                       "directory)\n\nThe backups of the replaced files are kept in [[%B]]. The next "
                       "start of the updater tries again to put them back."}
        << FileMap{{"keep.txt", "keep"}, {"a.txt/inner", "i"}};
    // A journal that a run cannot have written is left alone, with every
    // file it names, and the user is told once: it is then kept aside (%A).
    const FileMap untouched{{"keep.txt", "keep"}, {"a.txt", "updated"}, {"new.txt", "new"},
                            {"made/n.txt", "n"}};
    const QString damaged =
        "critical | Update | The record of the last update, the update journal [[%J]], is "
        "damaged: %1. Nothing has been put back automatically, so if that update was "
        "interrupted, the messenger may be left partly updated; installing the messenger again "
        "restores it.%2\n\nThe damaged journal is kept as [[%A]], and the next start of the "
        "updater goes on as usual.";
    const QString keptIn = " The files that update replaced are kept in [[%B]].";
    QTest::newRow("a damaged journal stops one start and is kept aside")
        << false << cutShort + "garbage\n" << QString() << 1
        << QStringList{damaged.arg("line 6 is not valid: garbage", keptIn)} << untouched;
    // Recovery deletes and moves what a journal names: only places the run
    // could have written count.
    QTest::newRow("backups named anywhere but the run's own folder: nothing deleted")
        << false << QByteArray("vemo-update-journal 1 x\npackage 0 %R %R/made\nfinished\n")
        << QString() << 1
        << QStringList{damaged.arg("line 2 is not valid: package 0 %R %R/made", QString())}
        << untouched;
    QTest::newRow("a created file outside the root is not deleted")
        << false << cutShort + "file 0 %J\n" << QString() << 1
        << QStringList{damaged.arg("line 6 is not valid: file 0 %J", keptIn)} << untouched;
    // The system would take the name for its part before the NUL.
    QTest::newRow("a created file named as a kept one, a NUL and more: nothing deleted")
        << false << cutShort + "file 0 %R/keep.txt%00.new\n" << QString() << 1
        << QStringList{damaged.arg("line 6 is not valid: file 0 %R/keep.txt%00.new", keptIn)}
        << untouched;
    QTest::newRow("backups gone: what the run created is not deleted")
        << false << cutShort << "no backups" << 1
        << QStringList{damaged.arg("the backups it names in [[%B/0]] are missing", QString())}
        << untouched;
    QTest::newRow("a root without the messenger: nothing is touched")
        << false << QByteArray("vemo-update-journal 1 x\npackage 0 %T %T/.vemo-backup-x/0\n"
                               "file 0 %T/vemo/new.txt\n")
        << QString() << 1
        << QStringList{damaged.arg("it names [[%T]], which is neither an installation of the "
                                   "messenger nor its plug-in folder",
                                   QString())}
        << untouched;
    QTest::newRow("a created file through a link in the root: nothing is touched")
        << false
        << QByteArray("vemo-update-journal 1 x\npackage 0 %R %B/0\nfile 0 %R/linked/n.txt\n")
        << "link to made" << 1
        << QStringList{damaged.arg("it names [[%R/linked/n.txt]], which leads through a link",
                                   keptIn)}
        << untouched;
    QTest::newRow("a FIFO as the journal is not waited on")
        << false << cutShort << "FIFO journal" << 1
        << QStringList{damaged.arg("it is not a regular file", QString())} << untouched;
    QTest::newRow("a folder as the journal")
        << false << cutShort << "folder journal" << 1
        << QStringList{damaged.arg("it is not a regular file", QString())} << untouched;
    QTest::newRow("a journal larger than any run writes")
        << false << cutShort << "oversized journal" << 1
        << QStringList{damaged.arg("it is larger than any update writes (67108865 bytes)",
                                   QString())}
        << untouched;
    QTest::newRow("a run id that leads out of the root")
        << false << QByteArray("vemo-update-journal 1 a/../../v\npackage 0 %R %T/v/0\nfinished\n")
        << QString() << 1
        << QStringList{damaged.arg("line 1 is not valid: vemo-update-journal 1 a/../../v",
                                   QString())}
        << untouched;
}

void UpdateModeTest::interruptedUpdate()
{
    QFETCH(bool, quiet);
    QFETCH(QByteArray, journal);
    QFETCH(QString, tamper);
    QFETCH(int, exitCode);
    QFETCH(QStringList, boxes);
    QFETCH(FileMap, rootAfter);

    const QString root = m_temp->filePath("vemo");
    const QString backups = root + QStringLiteral("/.vemo-backup-x");
    const QString journalPath = m_temp->filePath("state/vemo-updater/install-journal");
    QString asideName;
    const auto expand = [&](QString text) {
        text.replace("%A", asideName)
            .replace("%R", root)
            .replace("%B", backups)
            .replace("%J", journalPath)
            .replace("%T", m_temp->path());
        return withSystemPaths(text);
    };
    QVERIFY(writeFiles(root, {{"keep.txt", "keep"}, {"a.txt", "updated"}, {"new.txt", "new"},
                              {"made/n.txt", "n"}}));
    QVERIFY(writeFile(backups + QStringLiteral("/0/a.txt"), "original"));
    QVERIFY(writeFile(journalPath, expand(QString::fromUtf8(journal)).toUtf8()));
    // The state folder as the updater makes it, whatever the umask.
    QVERIFY(QFile::setPermissions(QFileInfo(journalPath).absolutePath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (tamper == QLatin1String("folder at a.txt")) {
        QVERIFY(QFile::remove(root + QStringLiteral("/a.txt")));
        QVERIFY(writeFile(root + QStringLiteral("/a.txt/inner"), "i"));
    } else if (tamper == QLatin1String("no backups")) {
        QVERIFY(QDir(backups + QStringLiteral("/0")).removeRecursively());
    } else if (tamper == QLatin1String("link to made")) {
        if (!Platform::makeSymbolicLink(Platform::encodeName(root + QStringLiteral("/made")),
                                        Platform::encodeName(root + QStringLiteral("/linked")))) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
    } else if (tamper == QLatin1String("FIFO journal")) {
        QVERIFY(QFile::remove(journalPath));
#ifdef Q_OS_WIN
        QSKIP("Windows has no FIFOs in its file system");
#else
        QCOMPARE(::mkfifo(QFile::encodeName(journalPath).constData(), 0600), 0);
#endif
    } else if (tamper == QLatin1String("folder journal")) {
        QVERIFY(QFile::remove(journalPath));
        QVERIFY(QDir().mkdir(journalPath));
    } else if (tamper == QLatin1String("oversized journal")) {
        QVERIFY(QFile::resize(journalPath, InstallJournal::MaxSize + 1));
    }
    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(NoUpdates);

    MessageBoxWatcher watcher;
    const int exited = runUpdateMode(TestMain::paths(m_commandLine), quiet);
    QCOMPARE(exited, exitCode);
    const QStringList aside = QDir(QFileInfo(journalPath).absolutePath())
                                  .entryList({QStringLiteral("install-journal-damaged-*")},
                                             QDir::AllEntries | QDir::System | QDir::Hidden);
    QCOMPARE(aside.size(), boxes.join(QString()).count(QStringLiteral("%A")));
    if (!aside.isEmpty())
        asideName = QFileInfo(journalPath).absolutePath() + QLatin1Char('/') + aside.first();
    QStringList shown;
    for (const MessageBoxWatcher::Box &box : watcher.boxes())
        shown << box.summary();
    for (QString &box : boxes)
        box = expand(box);
    QCOMPARE(shown, boxes);
    // The boxes are in the run's log, and so is a recovery: a run that
    // continues after a journal without its end has taken that run back.
    QFile runLog(m_temp->filePath("state/vemo-updater/") + RunLog::LastName);
    QVERIFY(runLog.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(runLog.readAll());
    for (const MessageBoxWatcher::Box &box : watcher.boxes()) {
        const QString line = QStringLiteral("updater: box \"%1\": %2")
                                 .arg(box.title, QString(box.text).replace("\n", "\\n"));
        QVERIFY2(logged.contains(line), qPrintable(line + " is not in:\n" + logged));
    }
    QCOMPARE(logged.contains("outcome: recovered at start-up"),
             exitCode == 0 && !journal.contains("finished"));

    FileMap files = fileMap(root);
    files.remove(QStringLiteral("vemo7.exe"));
    const bool kept = exitCode != 0;
    for (auto it = files.begin(); it != files.end();) {
        if (kept && it.key().startsWith(QLatin1String(".vemo-backup-x/")))
            it = files.erase(it);
        else
            ++it;
    }
    QCOMPARE(files, rootAfter);
    // Journal and backups go once the run is taken back or cleared up; they
    // stay for the next start otherwise.
    QCOMPARE(QFileInfo::exists(journalPath), kept && asideName.isEmpty());
    QCOMPARE(QFileInfo::exists(backups), kept);

    if (!asideName.isEmpty()) {
        // The journal set aside stops no other start, and it stays, as do
        // the backups.
        const int shownBefore = watcher.count();
        QCOMPARE(runUpdateMode(TestMain::paths(m_commandLine), quiet), 0);
        QCOMPARE(watcher.count(), shownBefore + 1);
        QCOMPARE(watcher.last().text, QStringLiteral("No updates available."));
        QVERIFY(QFileInfo::exists(asideName));
        QCOMPARE(QFileInfo::exists(backups), kept);
    }
}

VEMO_TEST_MAIN(UpdateModeTest)
#include "tst_updatemode.moc"
