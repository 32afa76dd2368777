#include "engine/workdirectory.h"
#include "fakeprogram.h"
#include "messageboxwatcher.h"
#include "platform/fileio.h"
#include "scopedtmpdir.h"
#include "sharedfolder.h"
#include "startup/relocation.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
#ifdef Q_OS_WIN
const QString UpdaterName = QStringLiteral("updater.exe");
#else
const QString UpdaterName = QStringLiteral("updater");
#endif

// QT_PLUGIN_PATH set for a test and put back as it was.
class ScopedPluginPath
{
public:
    explicit ScopedPluginPath(const QByteArray &value)
        : m_wasSet(qEnvironmentVariableIsSet("QT_PLUGIN_PATH")), m_saved(qgetenv("QT_PLUGIN_PATH"))
    {
        qputenv("QT_PLUGIN_PATH", value);
    }
    ~ScopedPluginPath()
    {
        if (m_wasSet)
            qputenv("QT_PLUGIN_PATH", m_saved);
        else
            qunsetenv("QT_PLUGIN_PATH");
    }

private:
    bool m_wasSet;
    QByteArray m_saved;
};

} // namespace

// Relocation run in this process against a temporary installation and a
// temporary TMPDIR. The "updater" in the installation is a fake program that
// records the arguments it was started with, so the relaunch can be seen.
class RelocationTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void relaunchesTheCopy_data();
    void relaunchesTheCopy();
    void replacesAStaleCopy();
    void forgetsItsOwnPluginPath_data();
    void forgetsItsOwnPluginPath();
    void missingLibrary();
    void copyThatCannotStart();
    void refusesAWorkDirectoryThatIsNotPrivate_data();
    void refusesAWorkDirectoryThatIsNotPrivate();
    void createsAPrivateWorkDirectory();
    void oneUpdaterAtATime_data();
    void oneUpdaterAtATime();

private:
    QString workDir() const { return m_temp->workDir(); }
    QStringList relaunches() const;

    ScopedTmpDir *m_temp = nullptr;
    QString m_install;
    QString m_record;
    QString m_pluginPathRecord;
    QByteArray m_updater;
};

void RelocationTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    m_install = m_temp->filePath("Program Files/Vemo");
    m_record = m_temp->filePath("relaunch.txt");
    m_pluginPathRecord = m_temp->filePath("plugin-path.txt");
    m_updater = FakeProgram::bytes("args " + QFile::encodeName(m_record) + "\nenv QT_PLUGIN_PATH "
                                   + QFile::encodeName(m_pluginPathRecord));
    QVERIFY(writeFile(m_install + "/" + UpdaterName, m_updater));
    QVERIFY(QFile::setPermissions(m_install + "/" + UpdaterName, Executable));
    QVERIFY(writeFile(m_install + "/libone.so", "one"));
    QVERIFY(writeFile(m_install + "/libtwo.so", "two"));
    QVERIFY(writeFile(m_install + "/platforms/libplatform.so", "platform"));
}

void RelocationTest::cleanup()
{
    // A row's relaunched copy is a stand-in that never takes the lock it was
    // promised; the promise would stop the next row while the stand-in is
    // still ending, as it may on a busy machine.
    QFile::remove(TestMain::paths().stateDir + "updater.lock.next");
    delete m_temp;
    m_temp = nullptr;
}

QStringList RelocationTest::relaunches() const
{
    return QString::fromUtf8(readFile(m_record)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void RelocationTest::relaunchesTheCopy_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("libraries");
    QTest::addColumn<QString>("arguments");
    QTest::newRow("interactive") << false << QStringList{"libone.so", "libtwo.so"}
                                 << "-u|-root|%1|";
    QTest::newRow("quiet") << true << QStringList{"libone.so", "libtwo.so"} << "-u|-q|-root|%1|";
    QTest::newRow("a plug-in in a subfolder")
        << false << QStringList{"libone.so", "platforms/libplatform.so", "libtwo.so"}
        << "-u|-root|%1|";
}

void RelocationTest::relaunchesTheCopy()
{
    QFETCH(bool, quiet);
    QFETCH(QStringList, libraries);
    QFETCH(QString, arguments);

    // A plug-in path the messenger set for itself is not the copy's.
    const ScopedPluginPath messengers(QFile::encodeName(m_install));
    MessageBoxWatcher boxes;
    const int exitCode = Relocation::run(TestMain::paths(), m_install, UpdaterName, libraries, quiet);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(relaunches(), QStringList{arguments.arg(m_install)});
    QCOMPARE(boxes.count(), 0);
    // The listed files, each at its place, and nothing else.
    QStringList expected = QStringList{UpdaterName} + libraries;
    QStringList copied;
    QDirIterator files(workDir(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext())
        copied << QDir(workDir()).relativeFilePath(files.next());
    expected.sort();
    copied.sort();
    QCOMPARE(copied, expected);
    QCOMPARE(readFile(workDir() + UpdaterName), m_updater);
    for (const QString &library : std::as_const(libraries))
        QCOMPARE(readFile(workDir() + library), readFile(m_install + "/" + library));
    // The copy loads the plug-ins it brought along.
    QTRY_COMPARE(readFile(m_pluginPathRecord),
                 QFile::encodeName(QDir::toNativeSeparators(QDir::cleanPath(workDir()))) + '\n');
}

void RelocationTest::replacesAStaleCopy()
{
    // Files of an earlier run are in the way; QFile::copy never overwrites.
    QVERIFY(WorkDirectory::preparePrivate(workDir(), nullptr));
    QVERIFY(writeFile(workDir() + UpdaterName, "stale updater"));
    QVERIFY(writeFile(workDir() + "libtwo.so", "stale library"));

    MessageBoxWatcher boxes;
    QCOMPARE(
        Relocation::run(TestMain::paths(), m_install, UpdaterName, {"libone.so", "libtwo.so"}, false),
        0);
    QTRY_COMPARE(relaunches().size(), 1);
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(readFile(workDir() + UpdaterName), m_updater);
    QCOMPARE(readFile(workDir() + "libtwo.so"), QByteArray("two"));
}

void RelocationTest::forgetsItsOwnPluginPath_data()
{
    QTest::addColumn<QString>("pluginPath");
    QTest::addColumn<bool>("kept");
    const QString own = QCoreApplication::applicationDirPath();
    QTest::newRow("the program's own folder") << own << false;
    QTest::newRow("its own folder, written natively with a separator at the end")
        << QDir::toNativeSeparators(own + "/") << false;
    QTest::newRow("another folder") << own + "/platforms" << true;
}

void RelocationTest::forgetsItsOwnPluginPath()
{
    QFETCH(QString, pluginPath);
    QFETCH(bool, kept);
    const ScopedPluginPath given(QFile::encodeName(pluginPath));
    Relocation::forgetOwnPluginPath();
    QCOMPARE(qEnvironmentVariableIsSet("QT_PLUGIN_PATH"), kept);
}

void RelocationTest::missingLibrary()
{
    QVERIFY(QFile::remove(m_install + "/libtwo.so"));
    MessageBoxWatcher boxes;
    QCOMPARE(Relocation::run(TestMain::paths(), m_install, UpdaterName,
                             {"libone.so", "libtwo.so", "libthree.so"}, false),
             1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Update"));
    const QString missing = m_install + "/libtwo.so";
    QCOMPARE(boxes.last().text,
             QStringLiteral("Copy error: Cannot open %1 for input (%2)")
                 .arg(missing, QDir::toNativeSeparators(missing)));
    // The names before the missing one stay copied; nothing after it is, and
    // nothing is started.
    QVERIFY(QFile::exists(workDir() + UpdaterName));
    QVERIFY(QFile::exists(workDir() + "libone.so"));
    QVERIFY(!QFile::exists(workDir() + "libtwo.so"));
    QTest::qWait(200);
    QVERIFY(relaunches().isEmpty());
}

void RelocationTest::copyThatCannotStart()
{
#ifdef Q_OS_WIN
    // Windows runs any program it may read: this copy is no program at all.
    QVERIFY(writeFile(m_install + "/" + UpdaterName, "not a program"));
#else
    QVERIFY(QFile::setPermissions(m_install + "/" + UpdaterName, QFile::ReadOwner | QFile::WriteOwner));
#endif
    MessageBoxWatcher boxes;
    QCOMPARE(Relocation::run(TestMain::paths(), m_install, UpdaterName, {}, false), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Update"));
    QCOMPARE(boxes.last().text, QStringLiteral("Cannot run update!"));
}

void RelocationTest::refusesAWorkDirectoryThatIsNotPrivate_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("writable by others") << "shared" << "can be changed by other users";
    QTest::newRow("writable by the group") << "group" << "can be changed by other users";
    QTest::newRow("owned by another user") << "foreign" << "belongs to another user";
    QTest::newRow("a symbolic link to a directory") << "link" << "is not a directory";
    QTest::newRow("a plain file") << "file" << "is not a directory";
}

void RelocationTest::refusesAWorkDirectoryThatIsNotPrivate()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString dir = m_temp->filePath("tmp/vupdates");
    if (kind == "shared" || kind == "group" || kind == "foreign") {
        QVERIFY(QDir().mkpath(dir));
        QFile::Permissions permissions = Executable;
        if (kind == "shared")
            permissions |= QFile::ReadOther | QFile::ExeOther;
        if (kind == "group")
            permissions |= QFile::ReadGroup | QFile::ExeGroup;
        QVERIFY(QFile::setPermissions(dir, permissions));
        if (kind != "foreign") {
            QVERIFY(SharedFolder::letOthersChange(dir, kind == "group"));
            if (!SharedFolder::othersMayChange(dir, kind == "group"))
                QSKIP("the file system keeps no ACL entry for the Users group (Wine keeps "
                      "only what POSIX mode bits can hold)");
        }
        if (kind == "foreign") {
#ifdef Q_OS_WIN
            QSKIP("giving a directory away is done with POSIX owners");
#else
            if (::geteuid() != 0)
                QSKIP("giving a directory away needs root");
            QCOMPARE(::chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
#endif
        }
    } else if (kind == "link") {
        QVERIFY(QDir().mkpath(m_temp->filePath("elsewhere")));
        if (!Platform::makeSymbolicLink(Platform::encodeName(m_temp->filePath("elsewhere")),
                                        Platform::encodeName(dir))) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
    } else {
        QVERIFY(writeFile(dir, "not a directory"));
    }
    const QStringList before = treeListing(m_temp->filePath("tmp"));

    MessageBoxWatcher boxes;
    QCOMPARE(Relocation::run(TestMain::paths(), m_install, UpdaterName, {}, false), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY2(boxes.last().text.contains(reason), qPrintable(boxes.last().text));
    QVERIFY2(boxes.last().text.contains(QDir::toNativeSeparators(dir)),
             qPrintable(boxes.last().text));
    // The advice names the variable that moves this system's temporary folder.
    if (kind == "shared" || kind == "group" || kind == "foreign") {
#ifdef Q_OS_WIN
        const QString variable = QStringLiteral("set TEMP ");
#else
        const QString variable = QStringLiteral("set TMPDIR ");
#endif
        QVERIFY2(boxes.last().text.contains(variable), qPrintable(boxes.last().text));
    }
    // Nothing copied, nothing started.
    QCOMPARE(treeListing(m_temp->filePath("tmp")), before);
    QTest::qWait(200);
    QVERIFY(relaunches().isEmpty());
}

void RelocationTest::createsAPrivateWorkDirectory()
{
    QCOMPARE(Relocation::run(TestMain::paths(), m_install, UpdaterName, {}, false), 0);
#ifndef Q_OS_WIN
    // (On Windows a protected ACL makes it private; there are no mode bits.)
    QCOMPARE(QFile::permissions(workDir()) & ~QFile::Permissions(QFile::ReadUser
                                                                   | QFile::WriteUser
                                                                   | QFile::ExeUser),
             Executable);
#endif
}

void RelocationTest::oneUpdaterAtATime_data()
{
    QTest::addColumn<QString>("holder"); // who the lock file or the promise names
    QTest::addColumn<bool>("relocates");

    QTest::newRow("no other updater") << "nobody" << true;
    QTest::newRow("the lock of an updater that died is taken over") << "dead lock" << true;
    QTest::newRow("the lock of a running updater") << "live lock" << false;
    QTest::newRow("a lock naming this process, whose number the system gave on")
        << "own number lock" << true;
    QTest::newRow("the lock promised to a running successor") << "live promise" << false;
    QTest::newRow("a promise to a successor that died") << "dead promise" << true;
    QTest::newRow("a lock file left empty by a power cut is taken over") << "old empty lock"
                                                                          << true;
    QTest::newRow("an empty lock file that is being written is not") << "new empty lock" << false;
    QTest::newRow("a state folder others can change is not used") << "shared state folder" << false;
    QTest::newRow("a FIFO as the lock file is refused, not waited on") << "FIFO lock" << false;
    QTest::newRow("a folder as the lock file is refused") << "folder lock" << false;
}

void RelocationTest::oneUpdaterAtATime()
{
    QFETCH(QString, holder);
    QFETCH(bool, relocates);

    const QString state = m_temp->filePath("state");
    const QString lockDir = state + QStringLiteral("/vemo-updater/");
    QVERIFY(QDir().mkpath(lockDir));
    // As the updater makes it, whatever the umask.
    QVERIFY(QFile::setPermissions(lockDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // A process that has ended, and one that runs (this one, as far as the
    // lock file goes, or a stand-in that waits until the row ends).
    const QString standIn = m_temp->filePath(QStringLiteral("stand-in-") + UpdaterName);
    QVERIFY(FakeProgram::write(standIn, "on wait\nsleep 60\non *\nexit 0"));
    QProcess ended;
    ended.start(standIn, QStringList());
    QVERIFY(ended.waitForFinished());
    const qint64 deadPid = ended.processId() > 0 ? ended.processId() : 999999;
    QProcess running;
    const auto lockFile = [&](qint64 pid, const QString &application) {
        // As QLockFile writes it: process id, application, host, machine, boot.
        return QByteArray::number(pid) + '\n' + application.toUtf8()
               + '\n' + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId()
               + '\n' + QSysInfo::bootUniqueId() + '\n';
    };
    const auto promise = [&](qint64 pid) {
        return QByteArray::number(pid) + '\n'
               + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n';
    };
    if (holder == QLatin1String("dead lock"))
        QVERIFY(writeFile(lockDir + "updater.lock",
                          lockFile(deadPid, QCoreApplication::applicationName())));
    else if (holder == QLatin1String("own number lock"))
        QVERIFY(writeFile(lockDir + "updater.lock", lockFile(QCoreApplication::applicationPid(),
                                                             QCoreApplication::applicationName())));
    else if (holder == QLatin1String("live lock")) {
        running.start(standIn, QStringList{QStringLiteral("wait")});
        QVERIFY(running.waitForStarted());
        QVERIFY(writeFile(lockDir + "updater.lock",
                          lockFile(running.processId(), QFileInfo(standIn).completeBaseName())));
    }
    else if (holder == QLatin1String("live promise")) {
        running.start(standIn, QStringList{QStringLiteral("wait")});
        QVERIFY(running.waitForStarted());
        QVERIFY(writeFile(lockDir + "updater.lock.next", promise(running.processId())));
    }
    else if (holder == QLatin1String("dead promise"))
        QVERIFY(writeFile(lockDir + "updater.lock.next", promise(deadPid)));
    else if (holder.endsWith(QLatin1String("empty lock")))
        QVERIFY(writeFile(lockDir + "updater.lock", QByteArray()));
    else if (holder == QLatin1String("shared state folder"))
        QVERIFY(SharedFolder::letOthersChange(lockDir, false));
    else if (holder == QLatin1String("FIFO lock"))
#ifdef Q_OS_WIN
        QSKIP("Windows has no FIFOs in its file system");
#else
        QCOMPARE(::mkfifo(QFile::encodeName(lockDir + "updater.lock").constData(), 0600), 0);
#endif
    else if (holder == QLatin1String("folder lock"))
        QVERIFY(QDir().mkdir(lockDir + "updater.lock"));
    if (holder == QLatin1String("old empty lock")) {
        QFile lock(lockDir + "updater.lock");
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    }

    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    const QStringList before = treeListing(m_temp->path());
    MessageBoxWatcher boxes;
    const int exitCode = Relocation::run(TestMain::paths(), m_install, UpdaterName, {}, false);
    qputenv("XDG_STATE_HOME", savedState);
    running.kill();
    running.waitForFinished();

    if (relocates) {
        QCOMPARE(exitCode, 0);
        QCOMPARE(boxes.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(relaunches().size(), 1, 20000);
    } else {
        QCOMPARE(exitCode, 1);
        QCOMPARE(boxes.count(), 1);
        QString expected = QStringLiteral("Another update of the messenger is in progress. "
                                          "Wait until it has finished, then start the update "
                                          "again if it is still needed.");
        if (holder == QLatin1String("shared state folder")) {
            expected = QStringLiteral("The folder %1 for the update's records is not a folder of "
                                      "your own that only you can change. Remove it and start the "
                                      "update again.")
                           .arg(QDir::toNativeSeparators(QDir::cleanPath(lockDir)));
        } else if (holder == QLatin1String("FIFO lock") || holder == QLatin1String("folder lock")) {
            expected = QStringLiteral("The lock file %1updater.lock is not a regular file, so the "
                                      "updater cannot tell whether another update is in progress. "
                                      "Remove it and start the update again.")
                           .arg(QDir::toNativeSeparators(lockDir));
        }
        QCOMPARE(boxes.last().text, expected);
        // Nothing copied, nothing started, the other updater's lock kept.
        QCOMPARE(treeListing(m_temp->path()), before);
        QTest::qWait(200);
        QVERIFY(relaunches().isEmpty());
    }
}

VEMO_TEST_MAIN(RelocationTest)
#include "tst_relocation.moc"
