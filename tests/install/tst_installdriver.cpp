#include "buildconfig.h"
#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"
#include "fakeprogram.h"
#include "install/engineinstallation.h"
#include "install/installdriver.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"
#include "scopedtmpdir.h"

#include "fakeupdateserver.h"
#include "packagetestsupport.h"
#include "scriptedprompts.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QSet>

#include <cerrno>
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
    QByteArray archive = QByteArray(); // file name without ".zip"; empty: the name
    QByteArray type = "app";
    ArchiveEntries payload;
    QByteArray manifest; // null: the archive has no manifest
    QByteArray damagedEntry = QByteArray();
    Damage damage = Damage::None;
    // A delta package offered beside the archive, as "<archive>-delta"
    // (none while its manifest is null), and how its preparation ends: the
    // start of the reason it gives, or empty when it is prepared and
    // installed instead of the archive (%R: the installation folder).
    ArchiveEntries deltaPayload = {};
    QByteArray deltaManifest = QByteArray();
    QString deltaRefusal = QString();
};
using TestPackages = QList<TestPackage>;
using Answers = QList<ScriptedPrompts::Answer>;
QByteArray archiveOf(const TestPackage &package)
{
    return package.archive.isEmpty() ? package.name : package.archive;
}
Q_DECLARE_METATYPE(TestPackage)
Q_DECLARE_METATYPE(Answers)

namespace {

const QByteArray Messenger = "print Vemo 7\nprint <s><c/></s>";

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
// package writes keeps the mode of the file it replaces, or takes the root's
// read bits and the owner's write bit: 0644 as well.
bool buildTree(const QString &dir, const FileMap &files)
{
    if (!QDir().mkpath(dir) || !writeFiles(dir, files))
        return false;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!QFile::setPermissions(dir + QLatin1Char('/') + it.key(), FileMode))
            return false;
    }
    return QFile::setPermissions(dir, FolderMode);
}

// The run's id in the backup folder's name changes from run to run.
QString withoutRunId(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("\\.vemo-backup-[0-9a-z]+")),
                        QStringLiteral(".vemo-backup-*"));
}

// What the file layer says when a file is to be made below a file (each
// system words that its own way).
QString belowAFileError(const QString &folder)
{
    const QString file = folder + QStringLiteral("/not-a-folder");
    if (!writeFile(file, "x"))
        return QStringLiteral("(%1 not written)").arg(file);
    Platform::FileHandle handle(Platform::createNew(Platform::encodeName(file + QStringLiteral("/b")), 0600));
    const QString text = handle.isOpen() ? QStringLiteral("(made below a file)") : Platform::systemError(errno);
    handle.reset();
    QFile::remove(file);
    return text;
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
    QString journal() const
    {
        return temp() + QStringLiteral("/state/vemo-updater/install-journal");
    }

    // Checks for updates, lays out the archives and runs the installation
    // from the event loop. Fills m_events, m_quit and m_boxes.
    void runInstallation(const TestPackages &packages, const Answers &answers,
                         const QStringList &argumentsForInstall = {});

    // Made in initTestCase: the restarted "updater" (this executable, which
    // only records its arguments) must not start the server's thread.
    std::unique_ptr<FakeUpdateServer> m_server;
    std::unique_ptr<QTemporaryDir> m_temp;
    // The user: answers the run's questions and keeps what it was told.
    ScriptedPrompts m_prompts;
    std::unique_ptr<VemoUpdaterEngine> m_engine;
    bool m_succeeded = false;
    QString m_outcome;
    QByteArray m_savedTmpDir;
    QByteArray m_savedAppData;
    QByteArray m_savedStateHome;
    // The updater's command line: update mode on the installation.
    QStringList m_commandLine;
    QStringList m_events;
    QList<ScriptedPrompts::Prompt> m_boxes;
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
    m_savedTmpDir = qgetenv(TempVariable);
    m_savedAppData = qgetenv("APPDATA");
    m_savedStateHome = qgetenv("XDG_STATE_HOME");
}

void InstallDriverTest::init()
{
    // Made before TMPDIR moves into it.
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temp->isValid());
    QVERIFY(buildTree(installDir(), InstallFiles));
    QVERIFY(FakeProgram::write(installDir() + QStringLiteral("/vemo7.exe"), Messenger));
    QVERIFY(buildTree(pluginDir(), PluginFiles));
    QVERIFY(QDir().mkpath(temp() + QStringLiteral("/tmp")));

    qputenv(TempVariable, QFile::encodeName(temp() + QStringLiteral("/tmp")));
    qputenv("APPDATA", QFile::encodeName(temp() + QStringLiteral("/appdata")));
    qputenv("VEMO_TEST_RELAUNCH_RECORD", QFile::encodeName(relaunchRecord()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(temp() + QStringLiteral("/state")));
    m_commandLine = QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("-u"),
                                QStringLiteral("-root"), installDir()};
    m_events.clear();
    m_boxes.clear();
    m_prompts = ScriptedPrompts();
    m_quit = false;
}

void InstallDriverTest::cleanup()
{
    m_engine.reset();
    qunsetenv("VEMO_TEST_RELAUNCH_RECORD");
    qputenv("APPDATA", m_savedAppData);
    qputenv("XDG_STATE_HOME", m_savedStateHome);
    if (m_savedTmpDir.isEmpty())
        qunsetenv(TempVariable);
    else
        qputenv(TempVariable, m_savedTmpDir);
    m_temp.reset();
}

void InstallDriverTest::runInstallation(const TestPackages &packages, const Answers &answers,
                                        const QStringList &argumentsForInstall)
{
    QByteArray answer = "<?xml version=\"1.0\"?><updates>";
    for (const TestPackage &package : packages) {
        answer += "<request project=\"vemo\" name=\"" + package.name + "\" type=\"" + package.type
                  + "\"><version>2</version><link>http://127.0.0.1/" + archiveOf(package)
                  + ".zip</link>" + AnyArchiveDigests;
        if (!package.deltaManifest.isNull())
            answer += "<delta><link>http://127.0.0.1/" + archiveOf(package) + "-delta.zip</link>"
                      + AnyArchiveDigests + "</delta>";
        answer += "</request>";
    }
    answer += "<request project=\"vemo\" name=\"vemo7\" type=\"app\"><latest/></request>";
    answer += "</updates>";
    m_server->answerWith(answer);

    // The update check refuses an answer that offers one name twice; the
    // installation must keep such packages apart all the same, so those
    // records go to the install driver directly.
    QSet<QByteArray> names;
    for (const TestPackage &package : packages)
        names.insert(package.name);
    const bool direct = names.size() < packages.size();
    m_engine = std::make_unique<VemoUpdaterEngine>(TestMain::paths(m_commandLine), m_prompts);
    QVector<UpdateInfo> records;
    if (direct) {
        for (const TestPackage &package : packages) {
            const QByteArray link = "http://127.0.0.1/" + archiveOf(package) + ".zip";
            records << makeRecord("vemo", package.name, package.type, link);
        }
    } else {
        QVERIFY(m_engine->checkForUpdates());
        QCOMPARE(m_engine->updates().size(), packages.size());
    }

    for (const TestPackage &package : packages) {
        ArchiveEntries entries = package.payload;
        if (!package.manifest.isNull())
            entries.prepend(entry(archiveOf(package) + ".xml", package.manifest));
        const QString archive = workDir() + QStringLiteral("archives/")
                                + QString::fromLatin1(archiveOf(package)) + ".zip";
        QVERIFY(writeArchive(archive, entries));
        QVERIFY(damageArchiveEntry(archive, package.damagedEntry, package.damage));
        if (!package.deltaManifest.isNull()) {
            ArchiveEntries delta = package.deltaPayload;
            delta.prepend(entry(archiveOf(package) + "-delta.xml", package.deltaManifest));
            QVERIFY(writeArchive(workDir() + QStringLiteral("archives/")
                                     + QString::fromLatin1(archiveOf(package)) + "-delta.zip",
                                 delta));
        }
    }
    // The installation may run with another command line than the check.
    const UpdaterPaths installPaths =
        TestMain::paths(argumentsForInstall.isEmpty() ? m_commandLine : argumentsForInstall);
    // The delta packages are prepared as after the download, each one that
    // does not fit leaving its update to the archive.
    m_engine->setInstallation([this, installPaths](VemoUpdaterEngine &engine) {
        EngineInstallation::PreparedPackages prepared;
        for (int index = 0; index < engine.updates().size(); ++index) {
            QString reason;
            if (engine.updates().at(index).hasDelta()
                && !EngineInstallation::prepareDelta(engine.updates().at(index), index, installPaths,
                                                     &prepared,
                                                     &reason))
                m_events << QStringLiteral("delta refused ") + reason;
        }
        EngineInstallation::run(engine, installPaths, std::move(prepared));
    });

    QObject context;
    connect(m_engine.get(), &VemoUpdaterEngine::installFile, &context,
            [this](const QString &name) { m_events << QStringLiteral("file ") + name; });
    connect(m_engine.get(), &VemoUpdaterEngine::installProgress, &context,
            [this](int done) { m_events << QStringLiteral("progress %1").arg(done); });
    connect(m_engine.get(), &VemoUpdaterEngine::installFinished, &context,
            [this] { m_events << QStringLiteral("finished"); });
    connect(m_engine.get(), &VemoUpdaterEngine::error, &context,
            [this](const QString &text) { m_events << QStringLiteral("error ") + text; });

    InstallDriver driver(records, installPaths, m_prompts);
    if (direct) {
        connect(&driver, &InstallDriver::fileStarted, m_engine.get(),
                &VemoUpdaterEngine::installFile);
        connect(&driver, &InstallDriver::progress, m_engine.get(),
                &VemoUpdaterEngine::installProgress);
        connect(&driver, &InstallDriver::finished, m_engine.get(),
                &VemoUpdaterEngine::installFinished);
    }

    m_prompts.answerWith(answers);
    m_quit = requestsQuit([&] {
        if (direct)
            driver.run();
        else
            m_engine->installUpdates();
    });
    m_boxes = m_prompts.prompts();
    m_succeeded = direct ? driver.succeeded() : m_engine->installSucceeded();
    m_outcome = direct ? driver.outcome() : m_engine->installOutcome();

    for (const ScriptedPrompts::Prompt &box : std::as_const(m_boxes))
        QVERIFY2(!box.unscripted, qPrintable(box.summary()));
    QCOMPARE(m_events.count(QStringLiteral("finished")), 1);
    QCOMPARE(m_events.last(), QStringLiteral("finished"));
}

void InstallDriverTest::nothingLost_data()
{
    QTest::addColumn<TestPackages>("packages");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("succeeds");
    // Both folders afterwards; on failure they must read as before the run.
    QTest::addColumn<FileMap>("installAfter");
    QTest::addColumn<FileMap>("pluginsAfter");

    const Answers ok{};
    const Answers abort{ScriptedPrompts::Abort};
    const Answers retry{ScriptedPrompts::Retry};
    const FileMap asBefore;

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
        << TestPackages{core, sound} << ok << QString() << true << installUpdated
        << pluginsUpdated;

    // The first package's unpack folder is cleared before it unpacks; an
    // archive whose link lies under "/0/" is still there for the second.
    TestPackage soundUnderZero = sound;
    soundUnderZero.archive = "0/sound";
    QTest::newRow("success: plug-in linked under a folder named like an unpack folder")
        << TestPackages{core, soundUnderZero} << ok << QString() << true << installUpdated
        << pluginsUpdated;

    // Delta packages: the archives beside them cannot be installed, so
    // that only the prepared delta can bring the new version.
    const PatchRow corePatch = patchRow("", "core.dll", "core 1", "core 2");
    const PatchRow plPatch = patchRow("lang", "pl.qm", "pl 1", "pl 2");
    TestPackage coreDelta = package("core", "app", {}, "<package project=\"other\"/>");
    coreDelta.deltaPayload = {corePatch.entry, plPatch.entry, entry("lang/de.qm", "de")};
    coreDelta.deltaManifest = manifestOf("core", "app", corePatch.element + plPatch.element
                                                            + fileElement("readme.txt", "", "remove")
                                                            + fileElement("de.qm", "lang", "add"));
    const PatchRow soundPatch = patchRow("sound", "sound.dll", "sound 1", "sound 2");
    TestPackage soundDelta = package("sound", "plugin", {}, "<package project=\"other\"/>");
    soundDelta.deltaPayload = {soundPatch.entry};
    soundDelta.deltaManifest = manifestOf("sound", "plugin", soundPatch.element);
    QTest::newRow("delta packages prepared and installed: application and plug-in")
        << TestPackages{coreDelta, soundDelta} << ok << QString() << true << installUpdated
        << pluginsUpdated;
    // Made against another version of core.dll than the one installed, of
    // another size: a frame of a few bytes holds them whole and reads
    // nothing of the installed file, so that its result would verify.
    TestPackage coreStaleDelta = core;
    const PatchRow stalePatch = patchRow("", "core.dll", "core 10", "core 2");
    coreStaleDelta.deltaPayload = {stalePatch.entry};
    coreStaleDelta.deltaManifest = manifestOf("core", "app", stalePatch.element);
    coreStaleDelta.deltaRefusal = "The installed file [[%R/core.dll]] has 6 bytes, the patch applies to 7.";
    QTest::newRow("locally changed file: the full package instead, fully updated")
        << TestPackages{coreStaleDelta, soundDelta} << ok << QString() << true << installUpdated
        << pluginsUpdated;
    TestPackage soundDeltaFails = soundDelta;
    soundDeltaFails.deltaManifest.replace("</manifest>", "<package name=\"other\"/></manifest>");
    QTest::newRow("delta installed, then a delta fails: both rolled back")
        << TestPackages{coreDelta, soundDeltaFails} << abort << QString() << false << asBefore
        << asBefore;

    // Failures: both folders must be exactly as before, files and folders
    // the run added included.
    TestPackage wrongIdentity = package(
        "core", "app", {entry("core.dll", "core 2"), entry("lang/pl.qm", "pl 2")},
        fileElement("core.dll", "", "add") + fileElement("readme.txt", "", "remove")
            + fileElement("pl.qm", "lang", "add"));
    wrongIdentity.manifest.replace("</manifest>", "<package project=\"other\"/></manifest>");
    QTest::newRow("wrong identity after files were applied")
        << TestPackages{wrongIdentity} << abort << QString() << false << asBefore << asBefore;

    QTest::newRow("archive lacks a file to add")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2")},
                                fileElement("core.dll", "", "add")
                                    + fileElement("readme.txt", "", "remove")
                                    + fileElement("pl.qm", "lang", "add"))}
        << abort << QString() << false << asBefore << asBefore;

    TestPackage damaged = package("sound", "plugin",
                                  {entry("sound/sound.dll", "sound 2", ZipWriter::Stored)},
                                  fileElement("sound.dll", "sound", "add"));
    damaged.damagedEntry = "sound/sound.dll";
    damaged.damage = Damage::FlipDataByte;
    TestPackage replaceOnly = package(
        "core", "app", {entry("core.dll", "core 2")},
        fileElement("core.dll", "", "add") + fileElement("readme.txt", "", "remove"));
    QTest::newRow("damaged archive after a good package")
        << TestPackages{replaceOnly, damaged} << abort << QString() << false << asBefore
        << asBefore;

    QTest::newRow("folder where a file must go")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2"), entry("cache", "c")},
                                fileElement("core.dll", "", "add")
                                    + fileElement("readme.txt", "", "remove")
                                    + fileElement("cache", "", "add"))}
        << abort << QString() << false << asBefore << asBefore;

    QTest::newRow("file where a folder must go")
        << TestPackages{package("core", "app",
                                {entry("core.dll", "core 2"), entry("readme.txt/x", "x")},
                                fileElement("data/config.xml", "", "remove")
                                    + fileElement("core.dll", "", "add")
                                    + fileElement("x", "readme.txt", "add"))}
        << abort << QString() << false << asBefore << asBefore;

    TestPackage secondFails = package("sound", "plugin", {entry("sound/sound.dll", "sound 2")},
                                      fileElement("sound.dll", "sound", "add")
                                          + fileElement("beep.wav", "sound", "remove")
                                          + "<package type=\"app\"/>");
    QTest::newRow("second of three packages fails")
        << TestPackages{replaceOnly, secondFails, extra} << abort << QString() << false
        << asBefore << asBefore;

    const TestPackage patch = package(
        "patch", "app", {entry("core.dll", "core 3")},
        fileElement("core.dll", "", "add") + "<package project=\"vemo\" name=\"other\"/>");
    QTest::newRow("two packages replace one file, the second fails")
        << TestPackages{replaceOnly, patch} << abort << QString() << false << asBefore
        << asBefore;

    QTest::newRow("retry restores as well")
        << TestPackages{replaceOnly, patch} << retry << QString() << false << asBefore
        << asBefore;

    TestPackage cutShort = core;
    cutShort.manifest.chop(20);
    QTest::newRow("manifest cut short")
        << TestPackages{cutShort} << abort << QString() << false << asBefore << asBefore;

    TestPackage noManifest = core;
    noManifest.manifest = QByteArray();
    QTest::newRow("manifest missing")
        << TestPackages{sound, noManifest} << abort << QString() << false << asBefore << asBefore;

    const TestPackage adds =
        package("extra", "app",
                {entry("new/deeper/a.txt", "a"), entry("lang/de.qm", "de"),
                 entry("data/more/b.txt", "b")},
                fileElement("a.txt", "new/deeper", "add") + fileElement("de.qm", "lang", "add")
                    + fileElement("b.txt", "data/more", "add"));
    const TestPackage pluginAdds = package(
        "sound", "plugin", {entry("echo/echo.dll", "echo")},
        fileElement("echo.dll", "echo", "add") + "<package type=\"app\"/>");
    QTest::newRow("added files and folders go again")
        << TestPackages{adds, pluginAdds} << abort << QString() << false << asBefore << asBefore;

    TestPackage coreAgain = package("core", "app", {entry("core.dll", "core 3")},
                                    fileElement("core.dll", "", "add")
                                        + fileElement("lang/pl.qm", "", "remove")
                                        + "<package project=\"other\"/>");
    coreAgain.archive = "core-again";
    QTest::newRow("two packages of one name")
        << TestPackages{replaceOnly, coreAgain} << abort << QString() << false << asBefore
        << asBefore;

    TestPackage soundApp =
        package("sound", "app", {entry("sound.cfg", "cfg"), entry("core.dll", "c")},
                fileElement("sound.cfg", "", "add") + fileElement("core.dll", "", "add"));
    soundApp.archive = "sound-app";
    const TestPackage soundFails =
        package("sound", "plugin", {entry("sound/sound.dll", "sound 2")},
                fileElement("sound.dll", "sound", "add")
                    + fileElement("beep.wav", "sound", "remove") + "<package project=\"other\"/>");
    QTest::newRow("an application and a plug-in of one name")
        << TestPackages{soundApp, soundFails} << abort << QString() << false << asBefore
        << asBefore;

    // T/outside holds lib.dll and secret.txt; the root holds the links ext
    // (to the folder) and lib.dll (to the file).
    const TestPackage throughLinks =
        package("core", "app", {entry("ext/new.txt", "new"), entry("lib.dll", "lib 2")},
                fileElement("new.txt", "ext", "add") + fileElement("secret.txt", "ext", "remove")
                    + fileElement("lib.dll", "", "add"));
    FileMap linkReplaced = InstallFiles;
    linkReplaced.insert("lib.dll", "lib 2");
    QTest::newRow("links in the root: replaced themselves, never followed")
        << TestPackages{throughLinks} << ok << "links" << true << linkReplaced << PluginFiles;
    TestPackage throughLinksFails = throughLinks;
    throughLinksFails.manifest.replace("</manifest>", "<package name=\"other\"/></manifest>");
    QTest::newRow("links in the root, rolled back")
        << TestPackages{throughLinksFails} << abort << "links" << false << asBefore << asBefore;

    // The installation folder lacks the messenger when the package's
    // installer is set up: the box, then the package fails, and the quit
    // waits until the run is over, so Abort/Retry is still answered.
    QTest::newRow("failed set-up, then retry")
        << TestPackages{sound, core} << retry << "root without messenger" << false << asBefore
        << asBefore;

    TestPackage bomb = package("core", "app",
                               {entry("core.dll", "core 2"),
                                entry("bomb.bin", QByteArray(32 * 1024 * 1024, '\0'))},
                               fileElement("core.dll", "", "add"));
    QTest::newRow("zip bomb on a small file system")
        << TestPackages{sound, bomb} << abort << "small work folder" << false << asBefore
        << asBefore;
    TestPackage lyingBomb = bomb;
    lyingBomb.damagedEntry = "bomb.bin";
    lyingBomb.damage = Damage::DeclaredSmall;
    QTest::newRow("zip bomb that lies about its size")
        << TestPackages{sound, lyingBomb} << abort << "small work folder" << false << asBefore
        << asBefore;

    // Unpacked files are linked into the root where both share a file
    // system, and copied where they do not; a file added, removed and added
    // again comes from the same unpacked file each time.
    QTest::newRow("work folder on another file system: copies instead of links")
        << TestPackages{core, sound} << ok << "work folder elsewhere" << true << installUpdated
        << pluginsUpdated;
    const QByteArray againAndAgain = fileElement("core.dll", "", "add")
                                     + fileElement("core.dll", "", "remove")
                                     + fileElement("core.dll", "", "add");
    FileMap coreReplaced = InstallFiles;
    coreReplaced.insert("core.dll", "core 2");
    QTest::newRow("one file added, removed and added again")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2")}, againAndAgain)}
        << ok << QString() << true << coreReplaced << PluginFiles;
    QTest::newRow("one file added, removed and added again, rolled back")
        << TestPackages{package("core", "app", {entry("core.dll", "core 2")},
                                againAndAgain + "<package project=\"other\"/>")}
        << abort << QString() << false << asBefore << asBefore;

    // The backups of a run that was never taken back must wait for the next
    // start's recovery: a run that finds its journal does not touch it.
    QTest::newRow("journal of an earlier run left in place")
        << TestPackages{core} << abort << "earlier journal" << false << asBefore << asBefore;

    const QByteArray failingInstaller = FakeProgram::bytes("exit 1");
    QTest::newRow("runtime installer fails")
        << TestPackages{sound, package("core", "app",
                                       {entry("core.dll", "core 2"),
                                        entry("redist/vcredist.exe", failingInstaller)},
                                       fileElement("core.dll", "", "add")
                                           + fileElement("vcredist.exe", "redist", "add"))}
        << abort << QString() << false << asBefore << asBefore;
}

void InstallDriverTest::nothingLost()
{
    QFETCH(TestPackages, packages);
    QFETCH(Answers, answers);
    QFETCH(QString, setup);
    QFETCH(bool, succeeds);
    QFETCH(FileMap, installAfter);
    QFETCH(FileMap, pluginsAfter);

    // The expected folders, built beside the real ones.
    const QString expected = temp() + QStringLiteral("/expected");
    QStringList arguments;
    if (setup == QLatin1String("links")) {
        const QString outside = temp() + QStringLiteral("/outside");
        QVERIFY(writeFiles(outside, {{"lib.dll", "outside lib"}, {"secret.txt", "secret"}}));
        const auto link = [](const QString &target, const QString &path) {
            return Platform::makeSymbolicLink(Platform::encodeName(target), Platform::encodeName(path));
        };
        if (!link(outside, installDir() + QStringLiteral("/ext"))) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
        QVERIFY(link(outside + QStringLiteral("/lib.dll"), installDir() + QStringLiteral("/lib.dll")));
        QVERIFY(QDir().mkpath(expected + QStringLiteral("/install")));
        QVERIFY(link(outside, expected + QStringLiteral("/install/ext")));
    } else if (setup == QLatin1String("root without messenger")) {
        QVERIFY(QDir().mkpath(temp() + QStringLiteral("/elsewhere")));
        arguments = QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("-u"),
                                QStringLiteral("-root"), temp() + QStringLiteral("/elsewhere")};
    } else if (setup == QLatin1String("earlier journal")) {
        QVERIFY(writeFile(journal(), "vemo-update-journal 1 earlier\n"));
    } else if (setup == QLatin1String("small work folder")
               || setup == QLatin1String("work folder elsewhere")) {
        if (!mountSmallFileSystem(temp() + QStringLiteral("/tmp"),
                                  setup.startsWith(QLatin1String("small")) ? "1m" : "16m"))
            QSKIP("needs a tmpfs mount (root)");
    }
    QVERIFY(buildTree(expected + QStringLiteral("/install"), installAfter));
    QVERIFY(FakeProgram::write(expected + QStringLiteral("/install/vemo7.exe"), Messenger));
    QVERIFY(buildTree(expected + QStringLiteral("/plugins"), pluginsAfter));
    const QStringList installBefore = treeListing(installDir());
    const QStringList pluginsBefore = treeListing(pluginDir());
    const QStringList outsideBefore = treeListing(temp() + QStringLiteral("/outside"));

    runInstallation(packages, answers, arguments);
    if (setup == QLatin1String("small work folder")
        || setup == QLatin1String("work folder elsewhere"))
        unmountSmallFileSystem(temp() + QStringLiteral("/tmp"));
    if (QTest::currentTestFailed())
        return;

    if (succeeds) {
        QCOMPARE(treeListing(installDir()), treeListing(expected + QStringLiteral("/install")));
        QCOMPARE(treeListing(pluginDir()), treeListing(expected + QStringLiteral("/plugins")));
    } else {
        QCOMPARE(treeListing(installDir()), installBefore);
        QCOMPARE(treeListing(pluginDir()), pluginsBefore);
    }
    QCOMPARE(treeListing(temp() + QStringLiteral("/outside")), outsideBefore);
    QCOMPARE(m_succeeded, succeeds);
    QStringList refusals;
    for (const TestPackage &package : std::as_const(packages)) {
        if (!package.deltaRefusal.isEmpty())
            refusals << QStringLiteral("delta refused ")
                            + withSystemPaths(QString(package.deltaRefusal).replace("%R", installDir()));
    }
    QStringList refused = m_events.filter(QStringLiteral("delta refused "));
    for (qsizetype i = 0; i < refused.size() && i < refusals.size(); ++i)
        refused[i].truncate(refusals.at(i).size());
    QCOMPARE(refused, refusals);
    // What the run's log says, as the folders show it.
    QCOMPARE(m_outcome,
             succeeds ? QStringLiteral("updated") : QStringLiteral("failed and rolled back"));
    // Nothing of the run is left: neither work folder nor journal.
    QVERIFY(!QFileInfo::exists(workDir()));
    if (setup == QLatin1String("earlier journal"))
        QCOMPARE(readFile(journal()), QByteArray("vemo-update-journal 1 earlier\n"));
    else
        QVERIFY(!QFileInfo::exists(journal()));
    if (answers.contains(ScriptedPrompts::Retry))
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
        << Answers{ScriptedPrompts::Abort} << QStringList()
        << QStringList{"file core", "progress 33", "file sound"} + rollback
               + QStringList{"progress 33", "progress 66", "progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong type!",
                       "question | Update | Failed installing package sound"}
        << false << false;
    QTest::newRow("only package fails, retry")
        << TestPackages{soundFails} << Answers{ScriptedPrompts::Retry}
        << QStringList() << QStringList{"file sound"} + rollback + QStringList{"progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong type!",
                       "question | Update | Failed installing package sound"}
        << true << true;

    // The file "a" keeps "a/b" from being created: the failure carries the
    // system's error text, which the question repeats on a second line.
    QTest::newRow("failure with an error text")
        << TestPackages{package("core", "app", {entry("a", "A"), entry("a/b", "B")}, "")}
        << Answers{ScriptedPrompts::Abort} << QStringList()
        << QStringList{"file core"} + rollback + QStringList{"progress 100", "finished"} << failed
        << false
        << QStringList{"critical | Update | Cannot create file a/b (%N)",
                       "question | Update | Failed installing package core\n%N"}
        << false << false;

    // The first package removes readme.txt; the second ships a runtime
    // installer that puts a folder of its own in that place, and fails. The
    // first one's restore cannot put the file back: the backups stay, and
    // Retry does not start the updater again.
    const TestPackage removeReadme =
        package("core", "app", {}, fileElement("readme.txt", "", "remove"));
    const TestPackage folderInPlace = package(
        "patch", "app",
        {entry("vcredist.exe", FakeProgram::bytes("mkdir readme.txt\nwrite readme.txt/keep k"))},
        fileElement("vcredist.exe", "", "add") + "<package name=\"core\"/>");
    const QString rollbackError =
        "critical | Update | An error occured while rolling back update progress. Software may "
        "not work properly. Try reinstalling whole application\n\n[[%T/install/readme.txt]] "
        "(Is a directory)\n\nThe backups of the replaced files are kept in "
        "%K. The next start of the updater tries again to put them "
        "back.";
    QTest::newRow("rollback error")
        << TestPackages{removeReadme, folderInPlace}
        << Answers{ScriptedPrompts::Abort} << QStringList()
        << QStringList{"file core", "progress 50", "file patch"} + rollback
               + QStringList{"progress 50", "progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong name!",
                       "question | Update | Failed installing package patch", rollbackError}
        << true << false;
    QTest::newRow("rollback error, retry")
        << TestPackages{removeReadme, folderInPlace}
        << Answers{ScriptedPrompts::Retry} << QStringList()
        << QStringList{"file core", "progress 50", "file patch"} + rollback
               + QStringList{"progress 50", "progress 100", "finished"}
        << failed << false
        << QStringList{"critical | Update | Wrong name!",
                       "question | Update | Failed installing package patch",
                       rollbackError + " The update is not started again."}
        << true << false;

    // The installation folder has no messenger any more when the installer
    // is built: the user is told, the package fails without touching
    // anything, and the application quits once the run is over.
    QTest::newRow("application root without the messenger")
        << TestPackages{core} << Answers{ScriptedPrompts::Abort}
        << QStringList{"-u", "-root", "%T/elsewhere"}
        << QStringList{"file core"} + rollback + QStringList{"progress 100", "finished"} << failed
        << false
        << QStringList{"critical | Update | Cannot run update!",
                       "question | Update | Failed installing package core"}
        << true << false;
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
    for (const ScriptedPrompts::Prompt &box : std::as_const(m_boxes))
        shown << withoutRunId(box.summary());
    // %N: the system's words for a file below a file; %K: the backups'
    // folder as the system writes paths.
    const QString belowAFile = belowAFileError(temp());
    for (QString &box : boxes)
        box.replace(QStringLiteral("%K"), QDir::toNativeSeparators(temp() + QStringLiteral("/install/.vemo-backup-*")))
            .replace(QStringLiteral("%T"), temp())
            .replace(QStringLiteral("%N"), belowAFile);
    for (QString &box : boxes)
        box = withSystemPaths(box);
    QCOMPARE(shown, boxes);
    QCOMPARE(m_quit, quits);
    // After a rollback that could not put everything back, the backups are
    // the only copy of the user's files: they stay, and so does the journal
    // that leads the next start to them.
    const bool rollbackFailed = boxes.join('\n').contains(QStringLiteral("rolling back"));
    QVERIFY(!QFileInfo::exists(workDir()));
    QCOMPARE(QFileInfo::exists(journal()), rollbackFailed);
    const QStringList backups =
        QDir(installDir()).entryList({QStringLiteral(".vemo-backup-*")}, QDir::Dirs | QDir::Hidden);
    QCOMPARE(backups.size(), rollbackFailed ? 1 : 0);
    if (rollbackFailed) {
        QCOMPARE(readFile(installDir() + '/' + backups.first() + QStringLiteral("/0/readme.txt")),
                 QByteArray("readme"));
    }

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
