#include "buildconfig.h"
#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"

#include "fakeupdateserver.h"
#include "messageboxwatcher.h"
#include "packagetestsupport.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A whole install run of the engine: the update check fills the engine's list
// for real (messenger stand-in in the installation folder, fake update server
// on the test endpoint), the test puts the archives where the download would
// have stored them, and installUpdates() runs from the event loop.
//
// Layout below the temporary folder T:
//   T/install                 installation folder ("app" packages)
//   T/appdata/Vemo/plugins    plug-in folder ("plugin" packages), APPDATA=T/appdata
//   T/tmp/vupdates            work directory, TMPDIR=T/tmp

struct TestPackage
{
    QByteArray name;
    QByteArray type = "app";
    ArchiveEntries payload;
    QByteArray manifest; // null: the archive has no manifest
    QByteArray damagedEntry = QByteArray();
    Damage damage = Damage::None;
};
using TestPackages = QList<TestPackage>;
using Answers = QList<QMessageBox::StandardButton>;
Q_DECLARE_METATYPE(TestPackage)
Q_DECLARE_METATYPE(Answers)

namespace {

const QByteArray Messenger = "echo 'Vemo 7'\necho '<s><c/></s>'\n";

const FileMap InstallFiles{{"core.dll", "core 1"},
                           {"readme.txt", "readme"},
                           {"lang/pl.qm", "pl 1"},
                           {"data/config.xml", "config"},
                           {"cache/index", "cache"}};
const FileMap PluginFiles{{"sound/sound.dll", "sound 1"}, {"sound/beep.wav", "beep"}};

const QFileDevice::Permissions FolderMode = QFile::ReadOwner | QFile::WriteOwner
                                            | QFile::ExeOwner | QFile::ReadGroup
                                            | QFile::ExeGroup | QFile::ReadOther
                                            | QFile::ExeOther;
const QFileDevice::Permissions FileMode =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

ArchiveEntry entry(const QByteArray &name, const QByteArray &content,
                   ZipWriter::Method method = ZipWriter::Deflated)
{
    return ArchiveEntry{name, content, method};
}

QByteArray fileElement(const QByteArray &name, const QByteArray &path, const QByteArray &action)
{
    return "<file name=\"" + name + "\" path=\"" + path + "\" action=\"" + action + "\"/>";
}

QByteArray manifestOf(const QByteArray &name, const QByteArray &type, const QByteArray &files)
{
    return "<manifest><package project=\"vemo\" name=\"" + name + "\" type=\"" + type + "\"/>"
           + files + "</manifest>";
}

TestPackage package(const QByteArray &name, const QByteArray &type,
                    const ArchiveEntries &payload, const QByteArray &files)
{
    TestPackage result;
    result.name = name;
    result.type = type;
    result.payload = payload;
    result.manifest = manifestOf(name, type, files);
    return result;
}

// Builds a folder with the given files, folders 0755 and files 0644; what a
// package writes takes the root's permissions, which are the same 0755.
bool buildTree(const QString &dir, const FileMap &files, const QStringList &installed = {})
{
    if (!QDir().mkpath(dir) || !writeFiles(dir, files))
        return false;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = dir + QLatin1Char('/') + it.key();
        const bool fromPackage = installed.contains(it.key());
        if (!QFile::setPermissions(path, fromPackage ? FolderMode : FileMode))
            return false;
    }
    return QFile::setPermissions(dir, FolderMode);
}

} // namespace

class InstallDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void nothingLost_data();
    void nothingLost();
    void run_data();
    void run();

private:
    QString temp() const { return m_temp->path(); }
    QString installDir() const { return temp() + QStringLiteral("/install"); }
    QString pluginDir() const { return temp() + QStringLiteral("/appdata/Vemo/plugins"); }
    QString workDir() const { return temp() + QStringLiteral("/tmp/vupdates/"); }
    QString relaunchRecord() const { return temp() + QStringLiteral("/relaunch.txt"); }

    // Checks for updates, lays out the archives and runs the installation
    // from the event loop. Fills m_events, m_quit and m_boxes.
    void runInstallation(const TestPackages &packages, const Answers &answers,
                         const QStringList &argumentsForInstall = {});

    // Made in initTestCase: the restarted "updater" (this executable, which
    // only records its arguments) must not start the server's thread.
    std::unique_ptr<FakeUpdateServer> m_server;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<VemoUpdaterEngine> m_engine;
    QByteArray m_savedTmpDir;
    QByteArray m_savedAppData;
    QStringList m_events;
    QList<MessageBoxWatcher::Box> m_boxes;
    bool m_quit = false;
};

void InstallDriverTest::cleanupTestCase()
{
    m_server.reset();
}

void InstallDriverTest::initTestCase()
{
    m_server = std::make_unique<FakeUpdateServer>();
    QVERIFY2(m_server->listen(QHostAddress(QStringLiteral(VEMO_UPDATE_HOST)), VEMO_UPDATE_PORT),
             "the fake update server needs the update server's address");
    m_savedTmpDir = qgetenv("TMPDIR");
    m_savedAppData = qgetenv("APPDATA");
}

void InstallDriverTest::init()
{
    // Made before TMPDIR moves into it.
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temp->isValid());
    QVERIFY(buildTree(installDir(), InstallFiles));
    QVERIFY(writeScript(installDir() + QStringLiteral("/vemo7.exe"), Messenger));
    QVERIFY(buildTree(pluginDir(), PluginFiles));
    QVERIFY(QDir().mkpath(temp() + QStringLiteral("/tmp")));

    qputenv("TMPDIR", QFile::encodeName(temp() + QStringLiteral("/tmp")));
    qputenv("APPDATA", QFile::encodeName(temp() + QStringLiteral("/appdata")));
    qputenv("VEMO_TEST_RELAUNCH_RECORD", QFile::encodeName(relaunchRecord()));
    TestMain::setApplicationArguments({QCoreApplication::applicationFilePath(),
                                       QStringLiteral("-u"), QStringLiteral("-root"),
                                       installDir()});
    m_events.clear();
    m_boxes.clear();
    m_quit = false;
}

void InstallDriverTest::cleanup()
{
    m_engine.reset();
    TestMain::resetApplicationArguments();
    qunsetenv("VEMO_TEST_RELAUNCH_RECORD");
    qputenv("APPDATA", m_savedAppData);
    if (m_savedTmpDir.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", m_savedTmpDir);
    m_temp.reset();
}

void InstallDriverTest::runInstallation(const TestPackages &packages, const Answers &answers,
                                        const QStringList &argumentsForInstall)
{
    QByteArray answer = "<?xml version=\"1.0\"?><updates>";
    for (const TestPackage &package : packages) {
        answer += "<request project=\"vemo\" name=\"" + package.name + "\" type=\"" + package.type
                  + "\"><version>2</version><link>http://127.0.0.1/" + package.name
                  + ".zip</link>" + AnyArchiveDigests + "</request>";
    }
    answer += "<request project=\"vemo\" name=\"vemo7\" type=\"app\"><latest/></request>";
    answer += "</updates>";
    m_server->answerWith(answer);

    m_engine = std::make_unique<VemoUpdaterEngine>();
    QVERIFY(m_engine->checkForUpdates());
    QCOMPARE(m_engine->updates().size(), packages.size());

    for (const TestPackage &package : packages) {
        ArchiveEntries entries = package.payload;
        if (!package.manifest.isNull())
            entries.prepend(entry(package.name + ".xml", package.manifest));
        const QString archive = workDir() + QString::fromLatin1(package.name) + ".zip";
        QVERIFY(writeArchive(archive, entries));
        QVERIFY(damageArchiveEntry(archive, package.damagedEntry, package.damage));
    }
    if (!argumentsForInstall.isEmpty())
        TestMain::setApplicationArguments(argumentsForInstall);

    QObject context;
    connect(m_engine.get(), &VemoUpdaterEngine::installFile, &context,
            [this](const QString &name) { m_events << QStringLiteral("file ") + name; });
    connect(m_engine.get(), &VemoUpdaterEngine::installProgress, &context,
            [this](int done) { m_events << QStringLiteral("progress %1").arg(done); });
    connect(m_engine.get(), &VemoUpdaterEngine::installFinished, &context,
            [this] { m_events << QStringLiteral("finished"); });
    connect(m_engine.get(), &VemoUpdaterEngine::error, &context,
            [this](const QString &text) { m_events << QStringLiteral("error ") + text; });

    MessageBoxWatcher watcher;
    watcher.answerWith(answers);
    m_quit = requestsQuit([this] { m_engine->installUpdates(); });
    m_boxes = watcher.boxes();

    for (const MessageBoxWatcher::Box &box : std::as_const(m_boxes)) {
        QVERIFY2(!box.answerMissing, qPrintable(box.summary()));
        QVERIFY2(box.hasUsualShape(), qPrintable(box.summary()));
        QCOMPARE(box.icon == QMessageBox::Warning, box.buttons.testFlag(QMessageBox::Retry));
    }
    QCOMPARE(m_events.count(QStringLiteral("finished")), 1);
    QCOMPARE(m_events.last(), QStringLiteral("finished"));
}

void InstallDriverTest::nothingLost_data()
{
    QTest::addColumn<TestPackages>("packages");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<FileMap>("installAfter");
    QTest::addColumn<FileMap>("pluginsAfter");
    QTest::addColumn<QStringList>("installedFiles"); // carry the root's permissions afterwards

    const Answers ok{QMessageBox::Ok};
    const Answers abort{QMessageBox::Ok, QMessageBox::Abort};
    const Answers retry{QMessageBox::Ok, QMessageBox::Retry};

    const TestPackage core =
        package("core", "app",
                {entry("core.dll", "core 2"), entry("lang/de.qm", "de"),
                 entry("lang/pl.qm", "pl 2", ZipWriter::Stored)},
                fileElement("core.dll", "", "add") + fileElement("readme.txt", "", "remove")
                    + fileElement("pl.qm", "lang", "add") + fileElement("de.qm", "lang", "add"));
    const TestPackage sound =
        package("sound", "plugin", {entry("sound/sound.dll", "sound 2")},
                fileElement("sound.dll", "sound", "add") + fileElement("beep.wav", "sound", ""));
    const TestPackage extra = package("extra", "app", {entry("extra.txt", "extra")},
                                      fileElement("extra.txt", "", "add"));

    FileMap installUpdated = InstallFiles;
    installUpdated.remove("readme.txt");
    installUpdated.insert("core.dll", "core 2");
    installUpdated.insert("lang/pl.qm", "pl 2");
    installUpdated.insert("lang/de.qm", "de");
    FileMap pluginsUpdated = PluginFiles;
    pluginsUpdated.insert("sound/sound.dll", "sound 2");

    QTest::newRow("success: application and plug-in")
        << TestPackages{core, sound} << ok << true << installUpdated << pluginsUpdated
        << QStringList{"core.dll", "lang/pl.qm", "lang/de.qm", "sound/sound.dll"};

    // Failures. A package that adds a file where none was leaves it behind
    // (the backups only know what existed); these rows replace and remove
    // existing files only, so both folders must be exactly as before.
    TestPackage wrongIdentity = package(
        "core", "app", {entry("core.dll", "core 2"), entry("lang/pl.qm", "pl 2")},
        fileElement("core.dll", "", "add") + fileElement("readme.txt", "", "remove")
            + fileElement("pl.qm", "lang", "add"));
    wrongIdentity.manifest.replace("</manifest>", "<package project=\"other\"/></manifest>");
    QTest::newRow("wrong identity after files were applied")
        << TestPackages{wrongIdentity} << abort << false << InstallFiles << PluginFiles
        << QStringList();

    QTest::newRow("archive lacks a file to add")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2")},
                                fileElement("core.dll", "", "add")
                                    + fileElement("readme.txt", "", "remove")
                                    + fileElement("pl.qm", "lang", "add"))}
        << abort << false << InstallFiles << PluginFiles << QStringList();

    TestPackage damaged = package("sound", "plugin",
                                  {entry("sound/sound.dll", "sound 2", ZipWriter::Stored)},
                                  fileElement("sound.dll", "sound", "add"));
    damaged.damagedEntry = "sound/sound.dll";
    damaged.damage = Damage::FlipDataByte;
    TestPackage replaceOnly = package(
        "core", "app", {entry("core.dll", "core 2")},
        fileElement("core.dll", "", "add") + fileElement("readme.txt", "", "remove"));
    QTest::newRow("damaged archive after a good package")
        << TestPackages{replaceOnly, damaged} << abort << false << InstallFiles << PluginFiles
        << QStringList();

    QTest::newRow("folder where a file must go")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2"), entry("cache", "c")},
                                fileElement("core.dll", "", "add")
                                    + fileElement("readme.txt", "", "remove")
                                    + fileElement("cache", "", "add"))}
        << abort << false << InstallFiles << PluginFiles << QStringList();

    QTest::newRow("file where a folder must go")
        << TestPackages{package("core", "app",
                                {entry("core.dll", "core 2"), entry("readme.txt/x", "x")},
                                fileElement("data/config.xml", "", "remove")
                                    + fileElement("core.dll", "", "add")
                                    + fileElement("x", "readme.txt", "add"))}
        << abort << false << InstallFiles << PluginFiles << QStringList();

    TestPackage secondFails = package("sound", "plugin", {entry("sound/sound.dll", "sound 2")},
                                      fileElement("sound.dll", "sound", "add")
                                          + fileElement("beep.wav", "sound", "remove")
                                          + "<package type=\"app\"/>");
    QTest::newRow("second of three packages fails")
        << TestPackages{replaceOnly, secondFails, extra} << abort << false << InstallFiles
        << PluginFiles << QStringList();

    const TestPackage patch = package(
        "patch", "app", {entry("core.dll", "core 3")},
        fileElement("core.dll", "", "add") + "<package project=\"vemo\" name=\"other\"/>");
    QTest::newRow("two packages replace one file, the second fails")
        << TestPackages{replaceOnly, patch} << abort << false << InstallFiles << PluginFiles
        << QStringList();

    QTest::newRow("retry restores as well")
        << TestPackages{replaceOnly, patch} << retry << false << InstallFiles << PluginFiles
        << QStringList();
}

void InstallDriverTest::nothingLost()
{
    QFETCH(TestPackages, packages);
    QFETCH(Answers, answers);
    QFETCH(bool, succeeds);
    QFETCH(FileMap, installAfter);
    QFETCH(FileMap, pluginsAfter);
    QFETCH(QStringList, installedFiles);

    // The expected folders, built beside the real ones.
    const QString expected = temp() + QStringLiteral("/expected");
    QVERIFY(buildTree(expected + QStringLiteral("/install"), installAfter, installedFiles));
    QVERIFY(writeScript(expected + QStringLiteral("/install/vemo7.exe"), Messenger));
    QVERIFY(buildTree(expected + QStringLiteral("/plugins"), pluginsAfter, installedFiles));

    runInstallation(packages, answers);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(treeListing(installDir()), treeListing(expected + QStringLiteral("/install")));
    QCOMPARE(treeListing(pluginDir()), treeListing(expected + QStringLiteral("/plugins")));
    QCOMPARE(m_engine->installSucceeded(), succeeds);
    QVERIFY(!QFileInfo::exists(workDir()));
    if (answers.contains(QMessageBox::Retry))
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(relaunchRecord()), 20000);
}

void InstallDriverTest::run_data()
{
    QTest::addColumn<TestPackages>("packages");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QStringList>("installArguments"); // empty: as for the check
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<bool>("relaunches");

    const QString failed = QStringLiteral("An error occured while installing updates");
    const QStringList rollback{"file Rollback update", "progress 0"};

    const TestPackage core =
        package("core", "app",
                {entry("lang/de.qm", "de"), entry("core.dll", "core 2"), entry("Zeta.txt", "Z"),
                 entry("lang/", QByteArray())},
                fileElement("core.dll", "", "add"));
    const TestPackage sound = package("sound", "plugin", {entry("sound/sound.dll", "sound 2")},
                                      fileElement("sound.dll", "sound", "add"));
    const TestPackage empty = package("extra", "app", {}, QByteArray());
    TestPackage soundFails = sound;
    soundFails.manifest.replace("type=\"plugin\"", "type=\"app\"");

    QTest::newRow("three packages")
        << TestPackages{core, sound, empty} << Answers() << QStringList()
        << QStringList{"file core",  "progress 33", "file sound", "progress 66",
                       "file extra", "progress 100", "finished"}
        << "Installing package core:\n - Zeta.txt\n - core.dll\n - lang/de.qm\n\n"
           "Installing package sound:\n - sound/sound.dll\n\n"
           "Installing package extra:\n\n\n"
        << true << QStringList() << false << false;
    QTest::newRow("no updates") << TestPackages() << Answers() << QStringList()
                                << QStringList{"finished"} << QString() << true << QStringList()
                                << false << false;
    QTest::newRow("second of three fails, abort")
        << TestPackages{core, soundFails, empty}
        << Answers{QMessageBox::Ok, QMessageBox::Abort} << QStringList()
        << QStringList{"file core", "progress 33", "file sound"} + rollback
               + QStringList{"progress 33", "progress 66", "progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong type!",
                       "warning | Update | Failed installing package sound"}
        << false << false;
    QTest::newRow("only package fails, retry")
        << TestPackages{soundFails} << Answers{QMessageBox::Ok, QMessageBox::Retry}
        << QStringList() << QStringList{"file sound"} + rollback + QStringList{"progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong type!",
                       "warning | Update | Failed installing package sound"}
        << true << true;

    // The file "a" keeps "a/b" from being created: the failure carries the
    // system's error text, which the warning repeats on a second line.
    QTest::newRow("failure with an error text")
        << TestPackages{package("core", "app", {entry("a", "A"), entry("a/b", "B")}, "")}
        << Answers{QMessageBox::Ok, QMessageBox::Abort} << QStringList()
        << QStringList{"file core"} + rollback + QStringList{"progress 100", "finished"} << failed
        << false
        << QStringList{"critical | Update | Cannot create file a/b (Not a directory)",
                       "warning | Update | Failed installing package core\nNot a directory"}
        << false << false;

    // The first package removes readme.txt; the second puts a folder in its
    // place and fails. The first one's restore cannot put the file back.
    const TestPackage removeReadme =
        package("core", "app", {}, fileElement("readme.txt", "", "remove"));
    const TestPackage folderInPlace =
        package("patch", "app", {entry("readme.txt/x", "x")},
                fileElement("readme.txt/x", "", "add") + "<package name=\"core\"/>");
    QTest::newRow("rollback error")
        << TestPackages{removeReadme, folderInPlace}
        << Answers{QMessageBox::Ok, QMessageBox::Abort, QMessageBox::Ok} << QStringList()
        << QStringList{"file core", "progress 50", "file patch"} + rollback
               + QStringList{"progress 50", "progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong name!",
                       "warning | Update | Failed installing package patch",
                       "critical | Update | An error occured while rolling back update progress. "
                       "Software may not work properly. Try reinstalling whole application"}
        << true << false;

    // The installation folder has no messenger any more when the installer
    // is built: the user is told, a quit is asked for, and the run goes on.
    QTest::newRow("application root without the messenger")
        << TestPackages{core} << Answers() << QStringList{"-u", "-root", "%T/elsewhere"}
        << QStringList{"file core", "progress 100", "finished"}
        << "Installing package core:\n - Zeta.txt\n - core.dll\n - lang/de.qm\n\n" << true
        << QStringList{"critical | Update | Cannot run update!"} << true << false;
}

void InstallDriverTest::run()
{
    QFETCH(TestPackages, packages);
    QFETCH(Answers, answers);
    QFETCH(QStringList, installArguments);
    QFETCH(QStringList, events);
    QFETCH(QString, log);
    QFETCH(bool, succeeds);
    QFETCH(QStringList, boxes);
    QFETCH(bool, quits);
    QFETCH(bool, relaunches);

    QStringList arguments;
    if (!installArguments.isEmpty()) {
        QVERIFY(QDir().mkpath(temp() + QStringLiteral("/elsewhere")));
        arguments << QCoreApplication::applicationFilePath();
        for (const QString &argument : std::as_const(installArguments))
            arguments << QString(argument).replace(QStringLiteral("%T"), temp());
    }
    runInstallation(packages, answers, arguments);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(m_events, events);
    QCOMPARE(m_engine->installLog(), log);
    QCOMPARE(m_engine->installSucceeded(), succeeds);
    QStringList shown;
    for (const MessageBoxWatcher::Box &box : std::as_const(m_boxes))
        shown << box.summary();
    QCOMPARE(shown, boxes);
    QCOMPARE(m_quit, quits);
    // After a rollback that could not put everything back, the backups are
    // the only copy of the user's files: the work directory stays.
    const bool rollbackFailed = boxes.join('\n').contains(QStringLiteral("rolling back"));
    QCOMPARE(QFileInfo::exists(workDir()), rollbackFailed);
    if (rollbackFailed)
        QVERIFY(QFileInfo(workDir() + QStringLiteral("/core/unwind/readme.txt")).isFile());

    if (relaunches) {
        // The restart runs this test executable, which only records how it
        // was started.
        const QString program = QCoreApplication::applicationFilePath();
        const QByteArray started =
            QStringList{program, program, "-u", "-root", installDir()}.join('\t').toUtf8() + '\n';
        QTRY_COMPARE_WITH_TIMEOUT(readFile(relaunchRecord()), started, 20000);
    } else {
        QVERIFY(!QFileInfo::exists(relaunchRecord()));
    }
}

VEMO_TEST_MAIN(InstallDriverTest)
#include "tst_installdriver.moc"
