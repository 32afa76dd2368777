#include "fakeprogram.h"
#include "install/deltapackage.h"
#include "install/filepatch.h"
#include "install/packageinstaller.h"
#include "install/runtimeinstaller.h"
#include "platform/fileio.h"
#include "platform/processes.h"
#include "platform/systemerror.h"

#include "packagetestsupport.h"
#include "testmain.h"
#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif
#include <zstd.h>

// Every test works in its own temporary folder T:
//   T/install          the install root of "app" packages (holds vemo7.exe)
//   T/work/vupdates/   the work directory with the archive "archives/core.zip";
//                      the package unpacks into "unpack/0", and its backups
//                      go to T/install/.vemo-backup-0/0/
// The package is project "vemo", name "core", type "app" unless a row says
// otherwise; its manifest is the archive entry "core.xml".
class PackageInstallerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void installRoot_data();
    void installRoot();
    void manifestLocation_data();
    void manifestLocation();
    void extraction_data();
    void extraction();
    void manifest_data();
    void manifest();
    void deltaPackage_data();
    void deltaPackage();
    void patchCancelled();
    void fileModes_data();
    void fileModes();
    void runtimeInstaller_data();
    void runtimeInstaller();
    void runtimeInstallerThatHangs();
    void failures_data();
    void failures();
    void unsafeEntryNames_data();
    void unsafeEntryNames();
    void restore_data();
    void restore();
    void restoreOfPackageNeverInstalled();
    void restoreOnAFullDisk();
    void readOnlyTarget_data();
    void readOnlyTarget();
    void firstPluginKeepsReadableFiles();

private:
    QString temp() const { return m_temp->path(); }
    QString root() const { return temp() + QStringLiteral("/install"); }
    QString workDir() const { return temp() + QStringLiteral("/work/vupdates/"); }
    QString unpackDir() const { return workDir() + QStringLiteral("unpack/0"); }
    // Where the download saves the archive of a link with this URL path.
    QString archiveFile(const QString &urlPath) const
    {
        return workDir() + QStringLiteral("archives/") + urlPath;
    }
    QString backupDir() const { return root() + QStringLiteral("/.vemo-backup-0/0"); }
    QString expand(QString text) const;
    // Files of T except the work directory and the messenger stand-in.
    FileMap filesOutsideWork() const;

    PackageInstaller *makeInstaller(const QByteArray &name = "core",
                                    const QByteArray &type = "app",
                                    const QByteArray &link = "http://127.0.0.1/core.zip");
    bool writePackage(const ArchiveEntries &payload, const QByteArray &manifest);

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<UpdateInfo> m_record;
    std::unique_ptr<PackageInstaller> m_installer;
    QByteArray m_appData;
    bool m_hadAppData = false;
    // The updater's command line for the installers the test makes.
    QStringList m_commandLine;
};

namespace {

ArchiveEntry entry(const QByteArray &name, const QByteArray &content = QByteArray(),
                   ZipWriter::Method method = ZipWriter::Deflated)
{
    return ArchiveEntry{name, content, method};
}

QByteArray identity(const QByteArray &files)
{
    return "<package project=\"vemo\" name=\"core\" type=\"app\">" + files + "</package>";
}

// A zstd frame that makes to from the prefix from, as "zstd --patch-from"
// writes it.
QByteArray patchFrame(const QByteArray &from, const QByteArray &to, int level = 19)
{
    QByteArray frame(int(ZSTD_compressBound(size_t(to.size()))), Qt::Uninitialized);
    ZSTD_CCtx *context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_refPrefix(context, from.constData(), size_t(from.size()));
    const size_t size =
        ZSTD_compress2(context, frame.data(), size_t(frame.size()), to.constData(), size_t(to.size()));
    ZSTD_freeCCtx(context);
    frame.resize(ZSTD_isError(size) ? 0 : int(size));
    return frame;
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// "zażółć.txt" in UTF-8, composed (NFC) and decomposed (NFD): two names.
const QByteArray ComposedName = "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87.txt";
const QByteArray DecomposedName = "zaz\xcc\x87o\xcc\x81\xc5\x82" "c\xcc\x81.txt";

} // namespace

void PackageInstallerTest::init()
{
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temp->isValid());
    QVERIFY(FakeProgram::write(root() + QStringLiteral("/vemo7.exe"), "print <s></s>"));
    QVERIFY(QFile::setPermissions(root(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                              | QFile::ReadGroup | QFile::ExeGroup
                                              | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(QDir().mkpath(workDir()));
    m_commandLine = QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("-u"),
                                QStringLiteral("-root"), root()};
    m_hadAppData = qEnvironmentVariableIsSet("APPDATA");
    m_appData = qgetenv("APPDATA");
}

void PackageInstallerTest::cleanup()
{
    m_installer.reset();
    m_record.reset();
    m_temp.reset();
    qunsetenv("appdata");
    qunsetenv("APPDATA_X");
    if (m_hadAppData)
        qputenv("APPDATA", m_appData);
    else
        qunsetenv("APPDATA");
}

QString PackageInstallerTest::expand(QString text) const
{
    text.replace(QStringLiteral("%B"), backupDir())
        .replace(QStringLiteral("%U"), unpackDir())
        .replace(QStringLiteral("%R"), QDir::cleanPath(root()))
        .replace(QStringLiteral("%T"), temp());
    text = withSystemPaths(text);
    // %O[path]: what the file layer says when path cannot be opened (each
    // system words a missing file or folder its own way).
    static const QRegularExpression openError(QStringLiteral("%O\\[([^\\]]*)\\]"));
    for (QRegularExpressionMatch match = openError.match(text); match.hasMatch();
         match = openError.match(text)) {
        Platform::FileHandle file(Platform::openForReading(Platform::encodeName(match.captured(1))));
        const QString reason = file.isOpen() ? QStringLiteral("(%1 opened)").arg(match.captured(1))
                                             : Platform::systemError(errno);
        text.replace(match.capturedStart(), match.capturedLength(), reason);
    }
    return text;
}

FileMap PackageInstallerTest::filesOutsideWork() const
{
    FileMap files = fileMap(temp());
    files.remove(QStringLiteral("install/vemo7.exe"));
    for (auto it = files.begin(); it != files.end();) {
        if (it.key().startsWith(QLatin1String("work/"))
            || it.key().startsWith(QLatin1String("install/.vemo-backup-")))
            it = files.erase(it);
        else
            ++it;
    }
    return files;
}

PackageInstaller *PackageInstallerTest::makeInstaller(const QByteArray &name,
                                                      const QByteArray &type,
                                                      const QByteArray &link)
{
    m_installer.reset();
    m_record = std::make_unique<UpdateInfo>(makeRecord("vemo", name, type, link));
    m_installer = std::make_unique<PackageInstaller>(*m_record, TestMain::paths(m_commandLine));
    return m_installer.get();
}

bool PackageInstallerTest::writePackage(const ArchiveEntries &payload, const QByteArray &manifest)
{
    ArchiveEntries entries = payload;
    if (!manifest.isNull())
        entries.prepend(entry("core.xml", manifest));
    return writeArchive(archiveFile(QStringLiteral("core.zip")), entries);
}

void PackageInstallerTest::installRoot_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("expectedRoot");
    QTest::addColumn<bool>("cannotRun");

    const QStringList noEnvironment;
    QTest::newRow("app: the value after -root")
        << QByteArray("app") << QStringList{"-u", "-root", "%T/install"} << noEnvironment
        << "%T/install" << false;
    QTest::newRow("app: -root twice, the first counts")
        << QByteArray("app") << QStringList{"-root", "%T/install", "-root", "%T/other"}
        << noEnvironment << "%T/install" << false;
    QTest::newRow("app: -root twice, the first lacks the messenger")
        << QByteArray("app") << QStringList{"-root", "%T/other", "-root", "%T/install"}
        << noEnvironment << "%T/other" << true;
    QTest::newRow("app: -ROOT in capitals is no switch")
        << QByteArray("app") << QStringList{"-u", "-ROOT", "%T/install"} << noEnvironment
        << QString() << true;
    QTest::newRow("app: -root is the last argument")
        << QByteArray("app") << QStringList{"-u", "-root"} << noEnvironment << QString() << true;
    QTest::newRow("app: folder without the messenger")
        << QByteArray("app") << QStringList{"-root", "%T/work"} << noEnvironment << "%T/work"
        << true;
    QTest::newRow("plugin: APPDATA") << QByteArray("plugin") << QStringList{"-root", "%T/install"}
                                     << QStringList{"APPDATA=%T/appdata"}
                                     << "%T/appdata/Vemo/plugins/" << false;
    QTest::newRow("plugin: appdata in other letters is not read")
        << QByteArray("plugin") << QStringList{"-root", "%T/install"}
        << QStringList{"appdata=%T/appdata"} << QString() << false;
    QTest::newRow("plugin: a longer name starting with APPDATA is not read")
        << QByteArray("plugin") << QStringList{} << QStringList{"APPDATA_X=%T/appdata"}
        << QString() << false;
    QTest::newRow("plugin: APPDATA empty") << QByteArray("plugin") << QStringList{}
                                           << QStringList{"APPDATA="} << "/Vemo/plugins/" << false;
    QTest::newRow("other type: no root, no message")
        << QByteArray("theme") << QStringList{"-root", "%T/install"}
        << QStringList{"APPDATA=%T/appdata"} << QString() << false;
    QTest::newRow("type compared case-sensitively")
        << QByteArray("App") << QStringList{"-root", "%T/install"} << noEnvironment << QString()
        << false;
}

void PackageInstallerTest::installRoot()
{
    QFETCH(QByteArray, type);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QString, expectedRoot);
    QFETCH(bool, cannotRun);
#ifdef Q_OS_WIN
    if (environment.contains(QStringLiteral("APPDATA=")))
        QSKIP("Windows removes a variable that is set empty");
#endif

    QVERIFY(QDir().mkpath(temp() + QStringLiteral("/appdata/Vemo/plugins")));
    QVERIFY(QDir().mkpath(temp() + QStringLiteral("/other")));
    QStringList commandLine{QCoreApplication::applicationFilePath()};
    for (const QString &argument : arguments)
        commandLine << expand(argument);
    m_commandLine = commandLine;
    qunsetenv("APPDATA");
    for (const QString &variable : environment) {
        const QString value = expand(variable);
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        qputenv(value.left(equals).toLocal8Bit().constData(), value.mid(equals + 1).toLocal8Bit());
    }

    const bool quit = requestsQuit([&] { makeInstaller("core", type); });

    QCOMPARE(m_installer->rootDir(), expand(expectedRoot));
    // The quit waits for the end of the install run, so that its boxes stay
    // answerable; the package is failed instead.
    QVERIFY(!quit);
    QCOMPARE(m_installer->setupFailed(), cannotRun);
    // A failed set-up touches nothing: install() fails at once, with no
    // text of its own (the install driver tells the user).
    if (cannotRun) {
        CompactStringList installed;
        QVERIFY(!m_installer->install(workDir(), &installed));
        QVERIFY(m_installer->errorString().isEmpty());
    }
}

void PackageInstallerTest::manifestLocation_data()
{
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QByteArray>("manifestEntry");

    QTest::newRow("archive at the top") << QByteArray("http://127.0.0.1/core.zip") << "core.zip"
                                        << QByteArray("core.xml");
    QTest::newRow("archive in a folder")
        << QByteArray("http://127.0.0.1:8080/dir/sub/core.zip") << "dir/sub/core.zip"
        << QByteArray("dir/sub/core.xml");
    QTest::newRow("percent-encoded path") << QByteArray("http://127.0.0.1/my%20core.zip")
                                          << "my core.zip" << QByteArray("my core.xml");
    QTest::newRow("other extension loses four characters too")
        << QByteArray("http://127.0.0.1/core.pack") << "core.pack" << QByteArray("core..xml");
    QTest::newRow("query is not part of the path")
        << QByteArray("http://127.0.0.1/get.zip?id=5") << "get.zip" << QByteArray("get.xml");
}

void PackageInstallerTest::manifestLocation()
{
    QFETCH(QByteArray, link);
    QFETCH(QString, archive);
    QFETCH(QByteArray, manifestEntry);

    QVERIFY(writeArchive(archiveFile(archive),
                         {entry(manifestEntry, identity("<file name=\"new.txt\" action=\"add\"/>")),
                          entry("new.txt", "installed")}));
    CompactStringList installed;
    QVERIFY(makeInstaller("core", "app", link)->install(workDir(), &installed));
    QVERIFY(m_installer->errorString().isEmpty());
    QCOMPARE(readFile(root() + QStringLiteral("/new.txt")), QByteArray("installed"));
    // The manifest that was read is the one entry the summary leaves out.
    QCOMPARE(installed.toStringList(), QStringList{QStringLiteral(" - new.txt")});
}

void PackageInstallerTest::extraction_data()
{
    QTest::addColumn<ArchiveEntries>("entries");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<FileMap>("unpacked");
    QTest::addColumn<QStringList>("directories");

    QTest::newRow("directory entries only")
        << ArchiveEntries{entry("a/"), entry("a/b/"), entry("c/")} << QStringList() << FileMap()
        << QStringList{"a", "a/b", "c"};
    QTest::newRow("no entries") << ArchiveEntries() << QStringList() << FileMap()
                                << QStringList();
    QTest::newRow("nested names, archive order kept")
        << ArchiveEntries{entry("z.txt", "Z"), entry("a/b/c.txt", "C"), entry("a/d.txt", "D")}
        << QStringList{" - z.txt", " - a/b/c.txt", " - a/d.txt"}
        << FileMap{{"z.txt", "Z"}, {"a/b/c.txt", "C"}, {"a/d.txt", "D"}}
        << QStringList{"a", "a/b"};
    const QByteArray large = QByteArray("0123456789abcdef").repeated(6000) + "tail";
    QTest::newRow("stored and deflated, many blocks")
        << ArchiveEntries{entry("stored.bin", large, ZipWriter::Stored),
                          entry("deflated.bin", large, ZipWriter::Deflated),
                          entry("empty.txt", QByteArray(), ZipWriter::Stored)}
        << QStringList{" - stored.bin", " - deflated.bin", " - empty.txt"}
        << FileMap{{"stored.bin", large}, {"deflated.bin", large}, {"empty.txt", QByteArray()}}
        << QStringList();
    QTest::newRow("only the top-level manifest is left out of the list")
        << ArchiveEntries{entry("core.xml", "<x/>"), entry("other.xml", "<x/>"),
                          entry("sub/core.xml", "<x/>"), entry("Core.xml", "<x/>")}
        << QStringList{" - other.xml", " - sub/core.xml", " - Core.xml"}
        << FileMap{{"core.xml", "<x/>"}, {"other.xml", "<x/>"}, {"sub/core.xml", "<x/>"},
                   {"Core.xml", "<x/>"}}
        << QStringList{"sub"};
    QTest::newRow("entries under unwind are files like any other")
        << ArchiveEntries{entry("unwind/x.txt", "X")} << QStringList{" - unwind/x.txt"}
        << FileMap{{"unwind/x.txt", "X"}} << QStringList{"unwind"};
    QTest::newRow("latin-1 name") << ArchiveEntries{entry("caf\xe9.txt", "L")}
                                  << QStringList{QString::fromLatin1(" - caf\xe9.txt")}
                                  << FileMap{{QString::fromLatin1("caf\xe9.txt"), "L"}}
                                  << QStringList();
    // A UTF-8 name that begins with a byte-order mark keeps it: dropped, the
    // entry would land on the file of the name without it.
    const QString marked = QString(QChar(0xfeff)) + QStringLiteral("bom.txt");
    QTest::newRow("UTF-8 name that begins with a byte-order mark")
        << ArchiveEntries{entry("\xef\xbb\xbf" "bom.txt", "M"), entry("bom.txt", "P")}
        << QStringList{" - " + marked, " - bom.txt"} << FileMap{{marked, "M"}, {"bom.txt", "P"}}
        << QStringList();
    QTest::newRow("dot-dot that stays inside")
        << ArchiveEntries{entry("a/"), entry("a/../b.txt", "B")} << QStringList{" - a/../b.txt"}
        << FileMap{{"b.txt", "B"}} << QStringList{"a"};
    const QByteArray longName = QByteArray(100, 'd') + '/' + QByteArray(100, 'e') + '/'
                                + QByteArray(53, 'f'); // 255 bytes
    QTest::newRow("name of 255 bytes")
        << ArchiveEntries{entry(longName, "long")}
        << QStringList{QStringLiteral(" - ") + QString::fromLatin1(longName)}
        << FileMap{{QString::fromLatin1(longName), "long"}}
        << QStringList{QString(100, 'd'), QString(100, 'd') + '/' + QString(100, 'e')};
}

void PackageInstallerTest::extraction()
{
    QFETCH(ArchiveEntries, entries);
    QFETCH(QStringList, installed);
    QFETCH(FileMap, unpacked);
    QFETCH(QStringList, directories);
#ifdef Q_OS_WIN
    QSet<QString> folded;
    for (auto it = unpacked.cbegin(); it != unpacked.cend(); ++it) {
        const QString name = it.key().toCaseFolded();
        if (folded.contains(name))
            QSKIP("names that differ only in case are one file on Windows");
        folded.insert(name);
        // Wine writes such a name but leaves it out of a folder's listing.
        if (name.startsWith(QChar(0xfeff))) {
            const QString probe = temp() + QStringLiteral("/") + name;
            QVERIFY(writeFile(probe, "probe"));
            const bool listed = QDir(temp()).entryList(QDir::Files).contains(name);
            QFile::remove(probe);
            if (!listed)
                QSKIP("this system lists no file name that begins with a byte-order mark");
        }
    }
#endif

    // Every archive with entries carries a manifest; one without is a
    // failure of its own (manifest table).
    ArchiveEntries withManifest = entries;
    bool hasManifest = entries.isEmpty();
    for (const ArchiveEntry &e : entries)
        hasManifest = hasManifest || e.name == "core.xml";
    if (!hasManifest) {
        withManifest.append(entry("core.xml", identity(QByteArray())));
        unpacked.insert(QStringLiteral("core.xml"), identity(QByteArray()));
    }
    QVERIFY(writeArchive(archiveFile(QStringLiteral("core.zip")), withManifest));
    const FileMap rootBefore = fileMap(root());
    CompactStringList installedList;
    QVERIFY(makeInstaller()->install(workDir(), &installedList));

    QVERIFY(m_installer->errorString().isEmpty());
    QCOMPARE(installedList.toStringList(), installed);
    QCOMPARE(fileMap(unpackDir()), unpacked);
    QStringList foundDirectories;
    for (const QString &line : treeListing(unpackDir())) {
        if (line.endsWith(QLatin1String(" dir")))
            foundDirectories << line.chopped(4);
    }
    QCOMPARE(foundDirectories, directories);
    QCOMPARE(fileMap(root()), rootBefore);
    QVERIFY(m_installer->errorReason().isEmpty());
}

void PackageInstallerTest::manifest_data()
{
    QTest::addColumn<FileMap>("before"); // below T
    QTest::addColumn<ArchiveEntries>("payload");
    QTest::addColumn<QByteArray>("manifest"); // null: no manifest in the archive
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<FileMap>("after"); // below T, without the work directory
    QTest::addColumn<FileMap>("backups"); // below the backup directory

    const FileMap none;

    QTest::newRow("add replaces an existing file after backing it up")
        << FileMap{{"install/plugins/x.dll", "old"}}
        << ArchiveEntries{entry("plugins/x.dll", "new")}
        << identity("<file name=\"x.dll\" path=\"plugins\" action=\"add\"/>") << true << QString()
        << FileMap{{"install/plugins/x.dll", "new"}} << FileMap{{"plugins/x.dll", "old"}};
    QTest::newRow("add creates a new file and its folders")
        << none << ArchiveEntries{entry("new/sub/a.txt", "A")}
        << identity("<file name=\"a.txt\" path=\"new/sub\" action=\"add\"/>") << true << QString()
        << FileMap{{"install/new/sub/a.txt", "A"}} << none;
    QTest::newRow("remove deletes after backing up")
        << FileMap{{"install/readme.txt", "R"}, {"install/keep.txt", "K"}} << ArchiveEntries()
        << identity("<file name=\"readme.txt\" path=\"\" action=\"remove\"/>") << true << QString()
        << FileMap{{"install/keep.txt", "K"}} << FileMap{{"readme.txt", "R"}};
    // Names flagged as UTF-8 in the archive; the manifest names them by the
    // same bytes, and they reach the root byte for byte, never normalised.
    for (const QByteArray &name : {ComposedName, DecomposedName}) {
        const QString file = QString::fromUtf8(name);
        QTest::addRow("UTF-8 name %s replaced and one added",
                      name == ComposedName ? "composed" : "decomposed")
            << FileMap{{"install/" + file, "old"}}
            << ArchiveEntries{entry(name, "new"), entry("nowe/" + name, "added")}
            << identity("<file name=\"" + name + "\" action=\"add\"/><file path=\"nowe\" name=\""
                        + name + "\" action=\"add\"/>")
            << true << QString()
            << FileMap{{"install/" + file, "new"}, {"install/nowe/" + file, "added"}}
            << FileMap{{file, "old"}};
    }
    QTest::newRow("remove of a missing file records nothing")
        << none << ArchiveEntries() << identity("<file name=\"gone.txt\" action=\"remove\"/>")
        << true << QString() << none << none;
    QTest::newRow("without action only a backup")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("a.txt", "A2")}
        << identity("<file name=\"a.txt\" path=\"\"/>") << true << QString()
        << FileMap{{"install/a.txt", "A"}} << FileMap{{"a.txt", "A"}};
    QTest::newRow("unknown action only a backup")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("a.txt", "A2")}
        << identity("<file name=\"a.txt\" action=\"replace\"/>") << true << QString()
        << FileMap{{"install/a.txt", "A"}} << FileMap{{"a.txt", "A"}};
    QTest::newRow("actions in any letter case")
        << FileMap{{"install/a.txt", "A"}, {"install/b.txt", "B"}}
        << ArchiveEntries{entry("a.txt", "A2")}
        << identity("<file name=\"a.txt\" action=\"ADD\"/><file name=\"b.txt\" action=\"ReMoVe\"/>")
        << true << QString() << FileMap{{"install/a.txt", "A2"}}
        << FileMap{{"a.txt", "A"}, {"b.txt", "B"}};
    QTest::newRow("elements at any depth, root of any name")
        << none << ArchiveEntries{entry("a.txt", "A")}
        << QByteArray("<?xml version=\"1.0\"?><update><group><deeper>"
                      "<file name=\"a.txt\" action=\"add\"/></deeper></group>"
                      "<package project=\"vemo\"/></update>")
        << true << QString() << FileMap{{"install/a.txt", "A"}} << none;
    QTest::newRow("files before a failing package element are applied")
        << FileMap{{"install/a.txt", "old"}} << ArchiveEntries{entry("a.txt", "new")}
        << QByteArray("<r><file name=\"a.txt\" action=\"add\"/><package project=\"other\"/>"
                      "<file name=\"b.txt\" action=\"add\"/></r>")
        << false << "Wrong project!" << FileMap{{"install/a.txt", "new"}}
        << FileMap{{"a.txt", "old"}};
    QTest::newRow("project compared case-sensitively")
        << none << ArchiveEntries() << QByteArray("<package project=\"Vemo\"/>") << false
        << "Wrong project!" << none << none;
    QTest::newRow("wrong name") << none << ArchiveEntries()
                                << QByteArray("<package project=\"vemo\" name=\"cor\"/>") << false
                                << "Wrong name!" << none << none;
    QTest::newRow("wrong type") << none << ArchiveEntries()
                                << QByteArray("<package type=\"plugin\" name=\"core\"/>") << false
                                << "Wrong type!" << none << none;
    QTest::newRow("attributes compared in their order")
        << none << ArchiveEntries()
        << QByteArray("<package type=\"plugin\" name=\"other\" project=\"other\"/>") << false
        << "Wrong type!" << none << none;
    QTest::newRow("package element without identity attributes passes")
        << none << ArchiveEntries{entry("a.txt", "A")}
        << QByteArray("<r><package version=\"3\"/><file name=\"a.txt\" action=\"add\"/></r>")
        << true << QString() << FileMap{{"install/a.txt", "A"}} << none;
    QTest::newRow("dot-dot in path leaving the root is skipped")
        << FileMap{{"outside/a.txt", "O"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" path=\"../outside\" action=\"add\"/>"
                    "<file name=\"a.txt\" path=\"../outside\" action=\"remove\"/>")
        << true << QString() << FileMap{{"outside/a.txt", "O"}} << none;
    QTest::newRow("dot-dot in name leaving the root is skipped")
        << FileMap{{"outside/a.txt", "O"}} << ArchiveEntries()
        << identity("<file name=\"../outside/a.txt\" action=\"remove\"/>") << true << QString()
        << FileMap{{"outside/a.txt", "O"}} << none;
    QTest::newRow("sibling folder starting with the root's name is outside")
        << FileMap{{"install2/a.txt", "S"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" path=\"../install2\" action=\"remove\"/>"
                    "<file name=\"../install2/a.txt\" action=\"add\"/>")
        << true << QString() << FileMap{{"install2/a.txt", "S"}} << none;
    QTest::newRow("dot-dot out of the root and back in adds nothing from outside the archive")
        << FileMap{{"work/vupdates/install/a.txt", "planted"}}
        << ArchiveEntries{entry("a.txt", "A")}
        << identity("<file name=\"a.txt\" path=\"../install\" action=\"add\"/>") << true
        << QString() << none << none;
    QTest::newRow("dot-dot that stays inside the root applies")
        << FileMap{{"install/plugins/x.dll", "old"}}
        << ArchiveEntries{entry("plugins/x.dll", "new")}
        << identity("<file name=\"x.dll\" path=\"sub/../plugins\" action=\"add\"/>") << true
        << QString() << FileMap{{"install/plugins/x.dll", "new"}}
        << FileMap{{"plugins/x.dll", "old"}};
    QTest::newRow("identity prefix: backed up, deleted, not copied")
        << FileMap{{"install/vemo_core_app.cfg", "C"}}
        << ArchiveEntries{entry("vemo_core_app.cfg", "N")}
        << identity("<file name=\"vemo_core_app.cfg\" action=\"add\"/>") << true << QString()
        << none << FileMap{{"vemo_core_app.cfg", "C"}};
    QTest::newRow("identity prefix compared case-sensitively")
        << none << ArchiveEntries{entry("Vemo_core_app.cfg", "N")}
        << identity("<file name=\"Vemo_core_app.cfg\" action=\"add\"/>") << true << QString()
        << FileMap{{"install/Vemo_core_app.cfg", "N"}} << none;
    QTest::newRow("same target twice keeps the first backup")
        << FileMap{{"install/a.txt", "original"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/><file name=\"a.txt\" action=\"add\"/>")
        << true << QString() << FileMap{{"install/a.txt", "new"}} << FileMap{{"a.txt", "original"}};
    QTest::newRow("same target under two spellings keeps the first backup")
        << FileMap{{"install/a.txt", "original"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" path=\"\" action=\"add\"/>"
                    "<file name=\"a.txt\" path=\".\" action=\"add\"/>")
        << true << QString() << FileMap{{"install/a.txt", "new"}} << FileMap{{"a.txt", "original"}};
    // Where the file system ignores case the two rows are one file, whose
    // second backup would overwrite the first (what the update had not yet
    // changed) under the same name: refused before the root is touched.
    QTest::newRow("same target in two cases")
        << FileMap{{"install/a.txt", "original"}}
        << ArchiveEntries{entry("a.txt", "new"), entry("A.TXT", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/><file name=\"A.TXT\" action=\"add\"/>")
        << !Platform::NamesIgnoreCase
        << (Platform::NamesIgnoreCase ? QStringLiteral("The update archive holds one file twice, "
                                                       "as a.txt and as A.TXT, which this system "
                                                       "takes for the same name")
                                      : QString())
        << (Platform::NamesIgnoreCase
                ? FileMap{{"install/a.txt", "original"}}
                : FileMap{{"install/A.TXT", "new"}, {"install/a.txt", "new"}})
        << (Platform::NamesIgnoreCase ? none : FileMap{{"a.txt", "original"}});
    QTest::newRow("same target in two cases, one entry")
        << FileMap{{"install/a.txt", "original"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/><file name=\"A.TXT\" action=\"add\"/>")
        << false
        << (Platform::NamesIgnoreCase ? QStringLiteral("The package core names one file twice, as "
                                                       "a.txt and as A.TXT, which this system "
                                                       "takes for the same name")
                                      : QStringLiteral("Cannot copy file %U/A.TXT to %R/A.TXT! (No such file "
                                                       "or directory)"))
        << FileMap{{"install/a.txt", Platform::NamesIgnoreCase ? "original" : "new"}}
        << (Platform::NamesIgnoreCase ? none : FileMap{{"a.txt", "original"}});
    // A file renamed in case only: on Windows the remove row would take away
    // the file that the add row has just put there in its new spelling.
    QTest::newRow("file renamed in case only")
        << FileMap{{"install/readme.txt", "old"}} << ArchiveEntries{entry("README.txt", "new")}
        << identity("<file name=\"README.txt\" action=\"add\"/>"
                    "<file name=\"readme.txt\" action=\"remove\"/>")
        << true << QString() << FileMap{{"install/README.txt", "new"}}
        << (Platform::NamesIgnoreCase ? FileMap{{"README.txt", "old"}}
                                      : FileMap{{"readme.txt", "old"}});
    // The Kelvin sign is not "k" to NTFS, whose upper case of "k" is "K":
    // two files, each with its backup.
    QTest::newRow("names that only full case folding makes one")
        << FileMap{{"install/k.txt", "k"}, {QString::fromUtf8("install/\u212a.txt"), "kelvin"}}
        << ArchiveEntries{entry("k.txt", "new"), entry("\u212a.txt", "new")}
        << identity("<file name=\"k.txt\" action=\"add\"/><file name=\"\u212a.txt\" action=\"add\"/>")
        << true << QString()
        << FileMap{{"install/k.txt", "new"}, {QString::fromUtf8("install/\u212a.txt"), "new"}}
        << FileMap{{"k.txt", "k"}, {QString::fromUtf8("\u212a.txt"), "kelvin"}};
    QTest::newRow("stale archive entry at the backup's place gives way")
        << FileMap{{"install/a.txt", "original"}}
        << ArchiveEntries{entry("unwind/a.txt", "fake"), entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/>") << true << QString()
        << FileMap{{"install/a.txt", "new"}} << FileMap{{"a.txt", "original"}};
    QTest::newRow("entry named by no element is not copied")
        << none << ArchiveEntries{entry("extra.txt", "E")} << identity(QByteArray()) << true
        << QString() << none << none;
    QTest::newRow("add of a file missing from the archive")
        << FileMap{{"install/a.txt", "original"}} << ArchiveEntries()
        << identity("<file name=\"a.txt\" action=\"add\"/>") << false
        << "Cannot copy file [[%U/a.txt]] to [[%R/a.txt]]! (%O[%U/a.txt])" << none
        << FileMap{{"a.txt", "original"}};
    QTest::newRow("target folder is a file")
        << FileMap{{"install/plugins", "a file"}} << ArchiveEntries{entry("plugins/x.dll", "X")}
        << identity("<file name=\"x.dll\" path=\"plugins\" action=\"add\"/>") << false
        << "Cannot copy file [[%U/plugins/x.dll]] to [[%R/plugins/x.dll]]! (%O[%R/plugins/x.dll])"
        << FileMap{{"install/plugins", "a file"}} << none;
    QTest::newRow("target that cannot be backed up stays untouched")
        << FileMap{{"install/a.txt/inner", "I"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/>") << false
        << "Cannot back up file [[%R/a.txt]] to [[%B/a.txt]]! (Is a directory)"
        << FileMap{{"install/a.txt/inner", "I"}} << none;
    // A manifest that cannot be read whole fails the package; what it
    // applied before the damage stays for the rollback to take back.
    QTest::newRow("malformed XML fails after what was read before the error")
        << none << ArchiveEntries{entry("a.txt", "A"), entry("b.txt", "B")}
        << QByteArray("<r><file name=\"a.txt\" action=\"add\"/><oops></r>"
                      "<file name=\"b.txt\" action=\"add\"/>")
        << false
        << "The manifest of package core is damaged: Opening and ending tag mismatch. (line 1)"
        << FileMap{{"install/a.txt", "A"}} << none;
    QTest::newRow("manifest cut short")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/>").chopped(10) << false
        << "The manifest of package core is damaged: Premature end of document. (line 1)"
        << FileMap{{"install/a.txt", "new"}} << FileMap{{"a.txt", "A"}};
    // A manifest in a single-byte encoding names the same file; one in an
    // encoding that not every platform reads fails the package.
    QTest::newRow("manifest in ISO-8859-2")
        << none << ArchiveEntries{entry(ComposedName, "new")}
        << "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>"
               + identity("<file name=\"za\xbf\xf3\xb3\xe6.txt\" action=\"add\"/>")
        << true << QString() << FileMap{{"install/" + QString::fromUtf8(ComposedName), "new"}}
        << none;
    QTest::newRow("manifest in an encoding that is not read")
        << none << ArchiveEntries{entry("a.txt", "new")}
        << "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>"
               + identity("<file name=\"a.txt\" action=\"add\"/>")
        << false << "The manifest of package core is damaged: The encoding KOI8-R is not supported."
        << none << none;
    QTest::newRow("no manifest in the archive")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("a.txt", "new")} << QByteArray()
        << false << "Cannot read the manifest of package core (%O[%U/core.xml])."
        << FileMap{{"install/a.txt", "A"}} << none;
    // A row that names a place Windows cannot hold (a data stream, a device,
    // a name it would shorten) fails the package there before the first row
    // changes the root; elsewhere such names are plain and missing here.
    const auto refusedRow = [&none](const char *tag, const QByteArray &row, const QString &place,
                                    const QString &reason) {
        const FileMap before{{"install/readme.txt", "R"}, {"install/docs/a.txt", "D"}};
        FileMap installed = before;
        installed.insert(QStringLiteral("install/a.txt"), "A");
        QTest::newRow(tag) << before << ArchiveEntries{entry("a.txt", "A")}
                           << identity("<file name=\"a.txt\" action=\"add\"/>" + row)
#ifdef Q_OS_WIN
                           << false
                           << "The package core names a file that cannot exist on this system: "
                                  + QDir::toNativeSeparators(place) + " (" + reason + ")"
                           << before << none;
        Q_UNUSED(installed);
#else
                           << true << QString() << installed << none;
        Q_UNUSED(place);
        Q_UNUSED(reason);
#endif
    };
    refusedRow("row naming a file's own data stream",
               "<file name=\"readme.txt::$DATA\" action=\"remove\"/>", "readme.txt::$DATA",
               "readme.txt::$DATA holds the character \":\", which file names on this system "
               "cannot hold");
    refusedRow("row naming a device in a folder", "<file path=\"docs\" name=\"nul.txt\"/>",
               "docs/nul.txt", "nul.txt is the name of a device on this system");
    refusedRow("row in a folder ending in a dot",
               "<file path=\"docs.\" name=\"a.txt\" action=\"remove\"/>", "docs./a.txt",
               "docs. ends with a dot or a blank, which this system drops from file names");
    const QString longName(256, QLatin1Char('n'));
    refusedRow("row naming a file of 256 characters",
               "<file name=\"" + longName.toUtf8() + "\" action=\"remove\"/>", longName,
               "the name " + longName + " is too long (256 characters, at most 255)");
    // Its entry is a frame, not the file: installing it would break the file.
    QTest::newRow("patch row in a package nobody prepared")
        << FileMap{{"install/a.txt", "old"}}
        << ArchiveEntries{entry("a.txt", patchFrame("old", "new"))}
        << identity("<file name=\"a.txt\" action=\"patch\" from-size=\"3\" from-sha256=\""
                    + sha256("old") + "\" size=\"3\" sha256=\"" + sha256("new") + "\"/>")
        << false
        << "Package core holds patches of installed files, which only a delta installation can "
           "apply."
        << FileMap{{"install/a.txt", "old"}} << none;
}

void PackageInstallerTest::deltaPackage_data()
{
    QTest::addColumn<FileMap>("before"); // below T
    QTest::addColumn<QByteArray>("frame"); // the entry lib/a.so
    QTest::addColumn<QByteArray>("row"); // the patch row's attributes
    QTest::addColumn<QByteArray>("reason"); // empty: prepared and installed
    QTest::addColumn<FileMap>("after"); // below T, without the work directory
    // "NAME -> TARGET": a symbolic link made below the root after "before".
    QTest::addColumn<QByteArray>("link");

    // 100 KiB in which the new version changes a few bytes.
    QByteArray old(100 * 1024, Qt::Uninitialized);
    for (int i = 0; i < old.size(); ++i)
        old[i] = char((i * 7919) >> 5);
    QByteArray changed = old;
    changed.replace(5000, 3, "NEW");
    const QByteArray frame = patchFrame(old, changed);
    const auto row = [](const QByteArray &from, const QByteArray &to, const QByteArray &toSha) {
        return "from-size=\"" + QByteArray::number(from.size()) + "\" from-sha256=\"" + sha256(from)
               + "\" size=\"" + QByteArray::number(to.size()) + "\" sha256=\"" + toSha + "\"";
    };
    const QByteArray fits = row(old, changed, sha256(changed));
    const FileMap installed{{"install/lib/a.so", old}, {"install/keep.txt", "K"}};
    // A frame whose header alone asks for a window of 128 MiB (window
    // descriptor 0x88) and whose one empty block makes nothing.
    const QByteArray wideWindow("\x28\xb5\x2f\xfd\x00\x88\x01\x00\x00", 9);

    QTest::newRow("patched file applies and verifies")
        << installed << frame << fits << QByteArray()
        << FileMap{{"install/lib/a.so", changed}, {"install/keep.txt", "K"}}
        << QByteArray();
    // Several runs of the result's pages prepared and handed back.
    QByteArray large(5 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < large.size(); ++i)
        large[i] = char((i * 7919) >> 7);
    const QByteArray largeChanged = QByteArray(large).replace(4 << 20, 3, "NEW") + "tail";
    // Changed throughout: the patch reads only some of it, and a change
    // where it reads nothing does not show in the result.
    const QByteArray largeTouched(large.size(), 'x');
    QTest::newRow("large file applies and verifies")
        << FileMap{{"install/lib/a.so", large}} << patchFrame(large, largeChanged, 3)
        << row(large, largeChanged, sha256(largeChanged)) << QByteArray()
        << FileMap{{"install/lib/a.so", largeChanged}}
        << QByteArray();
    QTest::newRow("large installed file changed locally")
        << FileMap{{"install/lib/a.so", largeTouched}} << patchFrame(large, largeChanged, 3)
        << row(large, largeChanged, sha256(largeChanged))
        << "The installed file [[%R/lib/a.so]] differs from the one the patch applies to (SHA-256 "
               + sha256(largeTouched) + ")."
        << FileMap{{"install/lib/a.so", largeTouched}}
        << QByteArray();
    const QByteArray touched(old.size(), 'x');
    QTest::newRow("installed file changed locally")
        << FileMap{{"install/lib/a.so", touched}} << frame << fits
        << "The installed file [[%R/lib/a.so]] differs from the one the patch applies to (SHA-256 "
               + sha256(touched) + ")."
        << FileMap{{"install/lib/a.so", touched}}
        << QByteArray();
    // The result's digest decides: a change where the patch reads nothing
    // of the installed file (the 3 bytes it replaces) still makes the new
    // version.
    QTest::newRow("installed file changed where the patch reads nothing")
        << FileMap{{"install/lib/a.so", QByteArray(old).replace(5001, 1, "y")}} << frame << fits
        << QByteArray()
        << FileMap{{"install/lib/a.so", changed}}
        << QByteArray();
    QTest::newRow("installed file missing")
        << FileMap{{"install/keep.txt", "K"}} << frame << fits
        << QByteArray("Cannot open the installed file [[%R/lib/a.so]] (%O[%R/lib/a.so]).")
        << FileMap{{"install/keep.txt", "K"}}
        << QByteArray();
    QTest::newRow("result that does not verify")
        << installed << frame << row(old, changed, sha256("other"))
        << "The patched file [[lib/a.so]] differs from the new version (SHA-256 "
               + sha256(changed) + ")."
        << installed
        << QByteArray();
    QTest::newRow("frame that makes another size")
        << installed << frame << row(old, old + "x", sha256(old + "x"))
        << QByteArray("The patch [[%U/lib/a.so]] makes 102400 bytes, the manifest says 102401.")
        << installed
        << QByteArray();
    QTest::newRow("window above the bound refused from the header")
        << installed << wideWindow << row(old, QByteArray(), sha256(QByteArray()))
        << QByteArray("The patch [[%U/lib/a.so]] asks for a window of 134217728 bytes, more than the "
                      "1458176 allowed for its files.")
        << installed
        << QByteArray();
    // A frame without a content size whose one block (RLE) makes 1 KiB: no
    // room is reserved for the 30 GB that its row claims.
    QTest::newRow("size beyond what the frame can make refused from the header")
        << installed << QByteArray("\x28\xb5\x2f\xfd\x00\x00\x03\x20\x00x", 10)
        << row(old, QByteArray(), sha256(QByteArray())).replace("size=\"0\"", "size=\"30000000000\"")
        << QByteArray("The patch [[%U/lib/a.so]] can make at most 1024 bytes, the manifest says "
                      "30000000000.")
        << installed
        << QByteArray();
    QTest::newRow("entry that is no frame")
        << installed << QByteArray("not a frame") << fits
        << QByteArray("The patch [[%U/lib/a.so]] is no zstd frame.")
        << installed
        << QByteArray();
    // A second patch row that names the file's own data stream: on Windows
    // that would read the installed file under another name.
    QTest::newRow("patch of a data stream")
        << installed << frame
        << fits + "/><file path=\"lib\" name=\"a.so::$DATA\" action=\"patch\" " + fits
#ifdef Q_OS_WIN
        << QByteArray("The patch of lib\\a.so::$DATA names a file that cannot exist on this system "
                      "(a.so::$DATA holds the character \":\", which file names on this system "
                      "cannot hold).")
#else
        << QByteArray("The patch of lib/a.so::$DATA is not in the package.")
#endif
        << installed
        << QByteArray();
    QTest::newRow("digest in capitals")
        << installed << frame << row(old, changed, sha256(changed).toUpper())
        << QByteArray("The patch of [[lib/a.so]] lacks valid sizes or SHA-256 digests.") << installed
        << QByteArray();
    // The installed name a link: patched from what it leads to inside the
    // root, then replaced by the new file as an "add" row replaces a link.
    QTest::newRow("installed file a link to a file inside the root")
        << FileMap{{"install/lib/real.so", old}} << frame << fits << QByteArray()
        << FileMap{{"install/lib/a.so", changed}, {"install/lib/real.so", old}}
        << QByteArray("lib/a.so -> real.so");
    QTest::newRow("installed file a link out of the root")
        << FileMap{{"outside/real.so", old}} << frame << fits
        << QByteArray("The installed file [[lib/a.so]] is a link that leads to no file in the "
                      "installation.")
        << FileMap{{"install/lib/a.so", old}, {"outside/real.so", old}}
        << QByteArray("lib/a.so -> ../../outside/real.so");
    QTest::newRow("folder on the way a link inside the root")
        << FileMap{{"install/real/a.so", old}} << frame << fits
        << QByteArray("The installed file [[lib/a.so]] lies beyond a link.")
        << FileMap{{"install/real/a.so", old}} << QByteArray("lib -> real");
}

// A delta package is prepared in its unpack directory without touching the
// root, then installed like any package from there.
void PackageInstallerTest::deltaPackage()
{
    QFETCH(FileMap, before);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, row);
    QFETCH(QByteArray, reason);
    QFETCH(FileMap, after);
    QFETCH(QByteArray, link);

    QVERIFY(writeFiles(temp(), before));
    const QList<QByteArray> linkParts = link.split(' ');
    const QString linkName = root() + '/' + QString::fromUtf8(linkParts.value(0));
    const QByteArray linkPath = Platform::encodeName(linkName);
    QVERIFY(QDir().mkpath(QFileInfo(linkName).path()));
    if (!link.isEmpty() && !Platform::makeSymbolicLink(linkParts.value(2), linkPath)) {
        QCOMPARE(errno, EOPNOTSUPP);
        QSKIP("this system makes no symbolic links");
    }
    QVERIFY(writePackage(ArchiveEntries{entry("lib/a.so", frame, ZipWriter::Stored)},
                         identity("<file path=\"lib\" name=\"a.so\" action=\"patch\" " + row
                                  + "/>")));
    PreparedPackage prepared;
    QString why;
    const bool ready = DeltaPackage::prepare(archiveFile(QStringLiteral("core.zip")),
                                             QStringLiteral("/core.zip"), unpackDir(), root(),
                                             &prepared, &why);
    QCOMPARE(why, expand(QString::fromUtf8(reason)));
    QCOMPARE(ready, reason.isEmpty());
    if (ready) {
        QCOMPARE(prepared.patchedFiles, 1);
        CompactStringList installed;
        PackageInstaller *installer = makeInstaller();
        installer->usePrepared(std::move(prepared));
        QVERIFY(installer->install(workDir(), &installed));
        QCOMPARE(installed.toStringList(), QStringList{" - lib/a.so"});
        QByteArray saved;
        if (link.isEmpty()) {
            QCOMPARE(fileMap(backupDir()),
                     FileMap({{"lib/a.so", before.value("install/lib/a.so")}}));
        } else {
            QVERIFY(Platform::readSymbolicLink(
                Platform::encodeName(backupDir() + QStringLiteral("/lib/a.so")), &saved));
        }
        QCOMPARE(filesOutsideWork(), after);
        // The rollback puts the link back, not the file it led to.
        QVERIFY(installer->restore());
        if (!link.isEmpty()) {
            QVERIFY(Platform::readSymbolicLink(linkPath, &saved));
            QCOMPARE(saved, linkParts.value(2));
        }
        return;
    }
    QCOMPARE(filesOutsideWork(), after);
}

// A cancellation stops the decoding and the hash of a large installed file
// (on a thread of its own) alike, and leaves no result behind.
void PackageInstallerTest::patchCancelled()
{
    QByteArray large(5 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < large.size(); ++i)
        large[i] = char((i * 7919) >> 7);
    const QByteArray changed = QByteArray(large).replace(4 << 20, 3, "NEW");
    const QString installed = temp() + QStringLiteral("/a.so");
    const QString frame = temp() + QStringLiteral("/a.zst");
    const QString output = temp() + QStringLiteral("/a.new");
    QVERIFY(writeFile(installed, large));
    QVERIFY(writeFile(frame, patchFrame(large, changed, 3)));
    const FilePatch::Versions versions{large.size(), sha256(large), changed.size(),
                                       sha256(changed)};
    const std::atomic_bool cancelled(true);
    QString reason;
    QVERIFY(!FilePatch::apply(installed, frame, output, versions, &reason, &cancelled));
    QCOMPARE(reason, QStringLiteral("Cancelled."));
    QVERIFY(!QFileInfo::exists(output));
}

void PackageInstallerTest::manifest()
{
    QFETCH(FileMap, before);
    QFETCH(ArchiveEntries, payload);
    QFETCH(QByteArray, manifest);
    QFETCH(bool, succeeds);
    QFETCH(QString, boxText);
    QFETCH(FileMap, after);
    QFETCH(FileMap, backups);

    QVERIFY(writeFiles(temp(), before));
    QVERIFY(writePackage(payload, manifest));

    CompactStringList installed;
    PackageInstaller *installer = makeInstaller();
    QCOMPARE(installer->install(workDir(), &installed), succeeds);

    QCOMPARE(installer->errorString(), expand(boxText));
    // A file that cannot be copied gives the system's reason to the
    // Abort/Retry question too; one that cannot be saved is told once.
    QCOMPARE(installer->errorReason().isEmpty(),
             !boxText.startsWith(QLatin1String("Cannot copy")));
    QCOMPARE(filesOutsideWork(), after);
    QCOMPARE(QDir::cleanPath(installer->backupDir()), backupDir());

    QCOMPARE(fileMap(installer->backupDir()), backups);
}

void PackageInstallerTest::fileModes_data()
{
    QTest::addColumn<int>("rootMode");
    QTest::addColumn<int>("targetMode"); // -1: no file there before
    QTest::addColumn<int>("entryMode");  // 0: the archive records none
    QTest::addColumn<int>("expected");

    QTest::newRow("new file under a root everyone may write") << 0777 << -1 << 0 << 0644;
    QTest::newRow("new file under a private root") << 0700 << -1 << 0 << 0600;
    QTest::newRow("replaced file keeps its mode") << 0755 << 0640 << 0 << 0640;
    QTest::newRow("replaced file writable by others is not any more") << 0755 << 0666 << 0 << 0644;
    QTest::newRow("replaced program keeps its execute bits") << 0755 << 0755 << 0 << 0755;
    QTest::newRow("new program from an executable entry") << 0755 << -1 << 0755 << 0755;
    QTest::newRow("execute bits only where the root lets read") << 0750 << -1 << 0777 << 0750;
}

void PackageInstallerTest::fileModes()
{
#ifdef Q_OS_WIN
    QSKIP("POSIX file modes");
#else
    QFETCH(int, rootMode);
    QFETCH(int, targetMode);
    QFETCH(int, entryMode);
    QFETCH(int, expected);

    const QString target = root() + QStringLiteral("/bin/tool");
    QVERIFY(QDir().mkpath(root() + QStringLiteral("/bin")));
    if (targetMode >= 0) {
        QVERIFY(writeFile(target, "old"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(targetMode)), 0);
    }
    QCOMPARE(::chmod(QFile::encodeName(root()).constData(), mode_t(rootMode)), 0);
    ArchiveEntry tool = entry("bin/tool", "new");
    tool.mode = unsigned(entryMode);
    QVERIFY(writePackage({tool}, identity("<file name=\"tool\" path=\"bin\" action=\"add\"/>")));

    CompactStringList installed;
    QVERIFY(makeInstaller()->install(workDir(), &installed));
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
    QCOMPARE(QString::number(info.st_mode & 07777, 8), QString::number(expected, 8));
    QCOMPARE(readFile(target), QByteArray("new"));
#endif
}

void PackageInstallerTest::runtimeInstaller_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("existedBefore");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<QByteArray>("ending"); // the script's last line
    QTest::addColumn<QString>("problem");   // empty: the package installs

    QTest::newRow("new, at the root") << QByteArray() << QByteArray("vcredist.exe") << false
                                      << true << QByteArray("exit 0") << QString();
    QTest::newRow("failing exit code fails the package")
        << QByteArray() << QByteArray("vcredist.exe") << false << true << QByteArray("exit 1")
        << "The runtime installer [[%R/vcredist.exe]] failed with exit code 1.";
    // Windows Installer's codes for "a newer version is there" and "done,
    // restart later" are successes; its fatal error is not.
    QTest::newRow("exit code 1638 (newer version present) installs")
        << QByteArray() << QByteArray("vcredist.exe") << false << true << QByteArray("exit 1638")
        << QString();
    QTest::newRow("exit code 3010 (reboot required) installs")
        << QByteArray() << QByteArray("vcredist.exe") << false << true << QByteArray("exit 3010")
        << QString();
    QTest::newRow("exit code 1603 (fatal error) fails the package")
        << QByteArray() << QByteArray("vcredist.exe") << false << true << QByteArray("exit 1603")
        << QStringLiteral("The runtime installer [[%R/vcredist.exe]] failed with exit code %1.")
               .arg(Platform::exitCodeAsSeen(1603));
    QTest::newRow("a crash fails the package")
        << QByteArray() << QByteArray("vcredist.exe") << false << true
        << QByteArray("crash") << "The runtime installer [[%R/vcredist.exe]] crashed.";
    QTest::newRow("replacing an old one, in a folder")
        << QByteArray("redist") << QByteArray("vcredist.exe") << true << true
        << QByteArray("exit 0") << QString();
    QTest::newRow("name that ends like it is an ordinary file")
        << QByteArray() << QByteArray("x86_vcredist.exe") << false << false
        << QByteArray("exit 0") << QString();
    QTest::newRow("other letter case is an ordinary file")
        << QByteArray() << QByteArray("VCREDIST.EXE") << false << false << QByteArray("exit 0")
        << QString();
}

void PackageInstallerTest::runtimeInstaller()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, name);
    QFETCH(bool, existedBefore);
    QFETCH(bool, runs);
    QFETCH(QByteArray, ending);
    QFETCH(QString, problem);

    const QString record = temp() + QStringLiteral("/ran.txt");
    const QByteArray entryName = path.isEmpty() ? name : path + '/' + name;
    const QString target = root() + QLatin1Char('/') + QString::fromLatin1(entryName);
    if (existedBefore)
        QVERIFY(writeFile(target, "old installer"));
    // The archive keeps no permissions: the script is not executable when
    // it is extracted.
    const QByteArray script = "args " + QFile::encodeName(record) + '\n' + ending;
    QVERIFY(writePackage({entry(entryName, FakeProgram::bytes(script))},
                         identity("<file name=\"" + name + "\" path=\"" + path
                                  + "\" action=\"add\"/>")));

    CompactStringList installed;
    QCOMPARE(makeInstaller()->install(workDir(), &installed), problem.isEmpty());
    QCOMPARE(m_installer->errorString(), expand(problem));

    QCOMPARE(readFile(record), runs ? QByteArray("/Q|\n") : QByteArray());
    QCOMPARE(QFileInfo::exists(target), !runs);
    const QString backup = backupDir() + QLatin1Char('/') + QString::fromLatin1(entryName);
    QCOMPARE(readFile(backup), existedBefore ? QByteArray("old installer") : QByteArray());
}

void PackageInstallerTest::runtimeInstallerThatHangs()
{
    const QString installer = temp() + QStringLiteral("/vcredist.exe");
    QVERIFY(FakeProgram::write(installer, "sleep 30"));
    QElapsedTimer timer;
    timer.start();
    QString problem;
    QVERIFY(!RuntimeInstaller::run(installer, 300, &problem));
    QVERIFY(timer.elapsed() < 10000);
    QCOMPARE(problem, QStringLiteral("The runtime installer %1 did not finish within 1 minutes "
                                     "and was stopped.")
                          .arg(QDir::toNativeSeparators(installer)));
}

void PackageInstallerTest::failures_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("type");
    // "write", "none", "garbage", "full disk", "in use" (written, and the
    // installed a.txt held open by a program that shares nothing)
    QTest::addColumn<QString>("archive");
    QTest::addColumn<ArchiveEntries>("entries");
    QTest::addColumn<QByteArray>("damagedEntry");
    QTest::addColumn<Damage>("damage");
    // %E stands for the error text; %H for the programs that hold a file and
    // %C for them again ("another program" and "that program" where the
    // system names none)
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<bool>("errorTextSet");
    QTest::addColumn<QStringList>("installed");

    const ArchiveEntries two{entry("a.txt", "A"), entry("b.txt", QByteArray("B").repeated(9000))};
    const ArchiveEntries twoStored{entry("a.txt", "A", ZipWriter::Stored),
                                   entry("b.txt", QByteArray("B").repeated(9000),
                                         ZipWriter::Stored)};

    QTest::newRow("archive missing")
        << QByteArray("core") << QByteArray("app") << "none" << ArchiveEntries() << QByteArray()
        << Damage::None << "Unable to open update archive" << false << QStringList();
    QTest::newRow("archive is no zip file")
        << QByteArray("core") << QByteArray("app") << "garbage" << ArchiveEntries()
        << QByteArray() << Damage::None << "Unable to open update archive" << false
        << QStringList();
    QTest::newRow("file cannot be created")
        << QByteArray("core") << QByteArray("app") << "write"
        << ArchiveEntries{entry("a", "A"), entry("a/b", "B")} << QByteArray() << Damage::None
        << "Cannot create file a/b (%E)" << true << QStringList{" - a"};
    QTest::newRow("entry cannot be opened")
        << QByteArray("core") << QByteArray("app") << "write" << two << QByteArray("b.txt")
        << Damage::LocalMethodMismatch << "Cannot extract update file (b.txt)!" << false
        << QStringList{" - a.txt"};
    QTest::newRow("damaged deflated entry")
        << QByteArray("core") << QByteArray("app") << "write" << two << QByteArray("b.txt")
        << Damage::InvalidDeflateBlock << "Cannot read file from archive!" << false
        << QStringList{" - a.txt"};
    QTest::newRow("damaged directory of the archive")
        << QByteArray("core") << QByteArray("app") << "write" << two << QByteArray("a.txt")
        << Damage::CentralHeader << "Cannot read file from archive!" << false << QStringList();
    QTest::newRow("damaged stored entry")
        << QByteArray("core") << QByteArray("app") << "write" << twoStored << QByteArray("b.txt")
        << Damage::FlipDataByte << "Damaged file in update archive: b.txt" << false
        << QStringList{" - a.txt"};
    QTest::newRow("not enough room to unpack")
        << QByteArray("core") << QByteArray("app") << "full disk" << two << QByteArray()
        << Damage::None
        << "Not enough free space to unpack the update in [[%U]]: it needs 8.79 KiB, and 4.00 KiB are "
           "free."
        << false << QStringList();
    for (const char *name : {"", ".", "..", "a/b", "..\\core"}) {
        QTest::addRow("package name \"%s\"", name)
            << QByteArray(name) << QByteArray("app") << "write" << two << QByteArray()
            << Damage::None << QStringLiteral("Invalid package name \"%1\"!").arg(name) << false
            << QStringList();
    }
    QTest::newRow("a file held open without sharing fails the package, naming it")
        << QByteArray("core") << QByteArray("app") << "in use"
        << ArchiveEntries{entry("a.txt", "new A"),
                          entry("core.xml", identity("<file name=\"a.txt\" action=\"add\"/>"))}
        << QByteArray() << Damage::None
        << "The file [[%R/a.txt]] is in use by %H and cannot be replaced. Close %C and try the "
           "update again."
        << false << QStringList{" - a.txt"};
    QTest::newRow("plugin without APPDATA")
        << QByteArray("core") << QByteArray("plugin") << "write" << two << QByteArray()
        << Damage::None << "Cannot find the folder to install package core into!" << false
        << QStringList();
    QTest::newRow("unknown type")
        << QByteArray("core") << QByteArray("skin") << "write" << two << QByteArray()
        << Damage::None << "Cannot find the folder to install package core into!" << false
        << QStringList();
}

void PackageInstallerTest::failures()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, type);
    QFETCH(QString, archive);
    QFETCH(ArchiveEntries, entries);
    QFETCH(QByteArray, damagedEntry);
    QFETCH(Damage, damage);
    QFETCH(QString, boxText);
    QFETCH(bool, errorTextSet);
    QFETCH(QStringList, installed);

    qunsetenv("APPDATA");
    const QString archivePath = archiveFile(QStringLiteral("core.zip"));
    if (archive == QLatin1String("garbage")) {
        QVERIFY(writeFile(archivePath, QByteArray("not a zip archive").repeated(50)));
    } else if (archive != QLatin1String("none")) {
        QVERIFY(writeArchive(archivePath, entries));
        QVERIFY(damageArchiveEntry(archivePath, damagedEntry, damage));
    }
    if (archive == QLatin1String("full disk") && !mountSmallFileSystem(unpackDir(), "4k"))
        QSKIP("needs a tmpfs mount (root)");
    const QString inUse = root() + QStringLiteral("/a.txt");
    if (archive == QLatin1String("in use"))
        QVERIFY(writeFile(inUse, "old A"));
    const QStringList workBefore = treeListing(workDir());
    const QStringList rootBefore = treeListing(root());
    QString holders;
    QString closeWhat;
#ifdef Q_OS_WIN
    HANDLE held = INVALID_HANDLE_VALUE;
    if (archive == QLatin1String("in use")) {
        held = CreateFileW(inUse.toStdWString().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        // Wine's Restart Manager names nobody: the message then says
        // "another program".
        const QStringList programs = Platform::programsUsingFile(Platform::encodeName(inUse));
        holders = programs.isEmpty() ? QStringLiteral("another program")
                                     : programs.join(QStringLiteral(", "));
        closeWhat = programs.isEmpty() ? QStringLiteral("that program") : holders;
    }
    const auto release = [&] {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    };
    const auto releaseAtTheEnd = qScopeGuard(release);
#else
    if (archive == QLatin1String("in use"))
        QSKIP("an open file keeps nobody from replacing it on POSIX systems");
#endif

    CompactStringList installedList;
    QVERIFY(!makeInstaller(name, type)->install(workDir(), &installedList));
#ifdef Q_OS_WIN
    release(); // the checks below read the file
#endif

    const QString errorReason = m_installer->errorReason();
    QCOMPARE(errorReason.isEmpty(), !errorTextSet);
    QCOMPARE(m_installer->errorString(), expand(boxText)
                                             .replace(QStringLiteral("%E"), errorReason)
                                             .replace(QStringLiteral("%H"), holders)
                                             .replace(QStringLiteral("%C"), closeWhat));
    QCOMPARE(installedList.toStringList(), installed);
    // Rolled back as the driver does it, the root is as it was.
    QVERIFY(m_installer->restore());
    m_installer->removeBackups();
    QCOMPARE(treeListing(root()), rootBefore);
    if (archive == QLatin1String("in use"))
        QCOMPARE(readFile(inUse), QByteArray("old A"));

    if (damage == Damage::LocalMethodMismatch) {
        // The destination was opened before the entry: it stays, empty.
        QVERIFY(QFileInfo::exists(unpackDir() + QStringLiteral("/b.txt")));
        QCOMPARE(readFile(unpackDir() + QStringLiteral("/b.txt")), QByteArray());
    }
    if (archive == QLatin1String("full disk"))
        unmountSmallFileSystem(unpackDir());
    if (installed.isEmpty() && damage == Damage::None && archive == QLatin1String("write")) {
        // Refused before anything was written.
        QCOMPARE(treeListing(workDir()), workBefore);
    }
}

void PackageInstallerTest::unsafeEntryNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("message"); // %N: the name; empty: unpacked like any other

    const QString invalid = QStringLiteral("Invalid file name in update archive: %N");
    QTest::newRow("absolute") << QByteArray("/escape.txt") << invalid;
    QTest::newRow("absolute with backslash") << QByteArray("\\escape.txt") << invalid;
    QTest::newRow("drive letter") << QByteArray("C:escape.txt") << invalid;
    QTest::newRow("drive letter and backslash") << QByteArray("C:\\escape.txt") << invalid;
    QTest::newRow("climbing out") << QByteArray("../../../escape.txt") << invalid;
    // One level up from the unpack directory is the work directory: a check
    // that lets one ".." too many through is caught only by these.
    QTest::newRow("climbing exactly one level") << QByteArray("../escape.txt") << invalid;
    QTest::newRow("climbing one level after a folder") << QByteArray("a/../../escape.txt") << invalid;
    QTest::newRow("climbing out after a folder") << QByteArray("a/../../../../escape.txt") << invalid;
    QTest::newRow("climbing out with backslashes") << QByteArray("..\\..\\..\\escape.txt") << invalid;
    QTest::newRow("mixed separators") << QByteArray("a\\../../..\\../escape.txt") << invalid;
    QTest::newRow("climbing folder entry") << QByteArray("../../../escape/") << invalid;
    QTest::newRow("name of 256 bytes")
        << QByteArray(252, 'n') + ".txt"
        << "A file name in the update archive is too long (256 bytes, at most 255): %N";
    QTest::newRow("name of 300 bytes")
        << QByteArray(100, 'd') + '/' + QByteArray(199, 'n')
        << "A file name in the update archive is too long (300 bytes, at most 255): %N";

    // Names that Windows would take for another file or a device, or refuse;
    // elsewhere they are plain names.
    const auto onWindows = [](const char *reason) {
#ifdef Q_OS_WIN
        return QStringLiteral("The update archive holds a file whose name cannot exist on this "
                              "system: %N (%1)")
            .arg(QString::fromUtf8(reason));
#else
        Q_UNUSED(reason);
        return QString();
#endif
    };
    QTest::newRow("the data stream of a file")
        << QByteArray("readme.txt::$DATA")
        << onWindows("readme.txt::$DATA holds the character \":\", which file names on this "
                     "system cannot hold");
    QTest::newRow("wildcard") << QByteArray("what?.txt")
                              << onWindows("what?.txt holds the character \"?\", which file "
                                           "names on this system cannot hold");
    QTest::newRow("control character") << QByteArray("a\x01.txt")
                                       << onWindows("a\x01.txt holds the character U+0001, which "
                                                    "file names on this system cannot hold");
    QTest::newRow("trailing dot") << QByteArray("a.txt.")
                                  << onWindows("a.txt. ends with a dot or a blank, which this "
                                               "system drops from file names");
    QTest::newRow("folder ending in a blank")
        << QByteArray("docs /a.txt")
        << onWindows("docs  ends with a dot or a blank, which this system drops from file names");
    QTest::newRow("device with an extension in a folder")
        << QByteArray("lib/Com1.dll") << onWindows("Com1.dll is the name of a device on this system");
    QTest::newRow("device with a superscript digit")
        << QByteArray("LPT\xc2\xb9") << onWindows("LPT\u00b9 is the name of a device on this system");
}

void PackageInstallerTest::unsafeEntryNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, message);

    QVERIFY(writeArchive(archiveFile(QStringLiteral("core.zip")),
                         {entry("ok.txt", "fine"), entry(name, "bad"), entry("core.xml", "<r/>")}));
    QVERIFY(writeFiles(temp(), {{"escape.txt", "untouched"}}));
    const FileMap outsideBefore = filesOutsideWork();
    const QStringList workBefore = treeListing(workDir());

    CompactStringList installed;
    const QString decoded = QString::fromUtf8(name);
    if (message.isEmpty()) {
        QVERIFY(makeInstaller()->install(workDir(), &installed));
        QCOMPARE(installed.toStringList(), (QStringList{" - ok.txt", " - " + decoded}));
        QCOMPARE(fileMap(unpackDir()),
                 (FileMap{{"ok.txt", "fine"}, {decoded, "bad"}, {"core.xml", "<r/>"}}));
        return;
    }
    QVERIFY(!makeInstaller()->install(workDir(), &installed));

    QCOMPARE(m_installer->errorString(), message.replace(QStringLiteral("%N"), decoded));
    QCOMPARE(installed.toStringList(), QStringList{" - ok.txt"});
    QCOMPARE(filesOutsideWork(), outsideBefore);
    QCOMPARE(fileMap(unpackDir()), (FileMap{{"ok.txt", "fine"}}));
    // Nothing beside the unpack directory changed either.
    QStringList workAfter = treeListing(workDir());
    workAfter.removeIf([](const QString &line) {
        return line.startsWith(QLatin1String("unpack/")) || line == QLatin1String("unpack dir");
    });
    QCOMPARE(workAfter, workBefore);
}

void PackageInstallerTest::restore_data()
{
    QTest::addColumn<FileMap>("before"); // below T
    QTest::addColumn<ArchiveEntries>("payload");
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("tamper"); // what happens between install and restore
    QTest::addColumn<bool>("restored");
    QTest::addColumn<FileMap>("after"); // below T, without the work directory

    const FileMap original{{"install/plugins/x.dll", "old x"}, {"install/readme.txt", "R"}};
    const QByteArray replaceAndRemove =
        identity("<file name=\"x.dll\" path=\"plugins\" action=\"add\"/>"
                 "<file name=\"readme.txt\" path=\"\" action=\"remove\"/>");

    QTest::newRow("replaced and removed files come back")
        << original << ArchiveEntries{entry("plugins/x.dll", "new x")} << replaceAndRemove
        << "" << true << original;
    for (const QByteArray &name : {ComposedName, DecomposedName}) {
        const FileMap utf8Original{{"install/" + QString::fromUtf8(name), "old"}};
        QTest::addRow("UTF-8 name %s replaced and one added come back as before",
                      name == ComposedName ? "composed" : "decomposed")
            << utf8Original << ArchiveEntries{entry(name, "new"), entry("nowe/" + name, "added")}
            << identity("<file name=\"" + name + "\" action=\"add\"/><file path=\"nowe\" name=\""
                        + name + "\" action=\"add\"/>")
            << "" << true << utf8Original;
    }
    QTest::newRow("a folder that went away is made again")
        << original << ArchiveEntries{entry("plugins/x.dll", "new x")} << replaceAndRemove
        << "remove folder install/plugins" << true << original;
    QTest::newRow("target named twice gets its original back")
        << FileMap{{"install/a.txt", "original"}} << ArchiveEntries{entry("a.txt", "new")}
        << identity("<file name=\"a.txt\" action=\"add\"/><file name=\"a.txt\" action=\"add\"/>")
        << "" << true << FileMap{{"install/a.txt", "original"}};
    QTest::newRow("file and folder added new go")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("n/m/new.txt", "N")}
        << identity("<file name=\"new.txt\" path=\"n/m\" action=\"add\"/>") << "" << true
        << FileMap{{"install/a.txt", "A"}};
    QTest::newRow("added folder that holds something else stays")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("n/new.txt", "N")}
        << identity("<file name=\"new.txt\" path=\"n\" action=\"add\"/>")
        << "file at install/n/other.txt" << true
        << FileMap{{"install/a.txt", "A"}, {"install/n/other.txt", "O"}};
    QTest::newRow("missing saved copy stops there, the current file stays")
        << FileMap{{"install/a.txt", "A"}, {"install/b.txt", "B"}, {"install/c.txt", "C"}}
        << ArchiveEntries{entry("a.txt", "A2"), entry("b.txt", "B2"), entry("c.txt", "C2")}
        << identity("<file name=\"a.txt\" action=\"add\"/><file name=\"b.txt\" action=\"add\"/>"
                    "<file name=\"c.txt\" action=\"add\"/>")
        << "remove backup b.txt" << false
        << FileMap{{"install/a.txt", "A"}, {"install/b.txt", "B2"}, {"install/c.txt", "C2"}};
    QTest::newRow("target that cannot be replaced")
        << FileMap{{"install/a.txt", "A"}} << ArchiveEntries{entry("a.txt", "A2")}
        << identity("<file name=\"a.txt\" action=\"add\"/>") << "folder at install/a.txt"
        << false << FileMap{{"install/a.txt/inner", "I"}};
}

void PackageInstallerTest::restore()
{
    QFETCH(FileMap, before);
    QFETCH(ArchiveEntries, payload);
    QFETCH(QByteArray, manifest);
    QFETCH(QString, tamper);
    QFETCH(bool, restored);
    QFETCH(FileMap, after);

    QVERIFY(writeFiles(temp(), before));
    // Odd permissions that a careless restore would not bring back.
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY(QFile::setPermissions(temp() + QLatin1Char('/') + it.key(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    const QStringList listingBefore = treeListing(root());
    QVERIFY(writePackage(payload, manifest));

    CompactStringList installed;
    PackageInstaller *installer = makeInstaller();
    QVERIFY(installer->install(workDir(), &installed));

    const QString backupDir = installer->backupDir();
    if (tamper.startsWith(QLatin1String("remove folder "))) {
        QVERIFY(QDir(temp() + QLatin1Char('/') + tamper.mid(14)).removeRecursively());
    } else if (tamper.startsWith(QLatin1String("remove backup "))) {
        QVERIFY(QFile::remove(backupDir + tamper.mid(14)));
    } else if (tamper.startsWith(QLatin1String("file at "))) {
        QVERIFY(writeFile(temp() + QLatin1Char('/') + tamper.mid(8), "O"));
    } else if (tamper.startsWith(QLatin1String("folder at "))) {
        const QString path = temp() + QLatin1Char('/') + tamper.mid(10);
        QVERIFY(QFile::remove(path));
        QVERIFY(writeFile(path + QStringLiteral("/inner"), "I"));
    }

    QCOMPARE(installer->restore(), restored);
    QCOMPARE(installer->errorString().isEmpty(), restored);
    if (restored)
        installer->removeBackups();
    QCOMPARE(filesOutsideWork(), after);
    if (restored && before.size() == after.size())
        QCOMPARE(treeListing(root()), listingBefore);
}

void PackageInstallerTest::restoreOfPackageNeverInstalled()
{
    QVERIFY(writeFiles(temp(), {{"install/a.txt", "A"}}));
    const QStringList before = treeListing(temp());
    PackageInstaller *installer = makeInstaller();
    QVERIFY(installer->restore());
    QCOMPARE(treeListing(temp()), before);
}

void PackageInstallerTest::restoreOnAFullDisk()
{
    // The install root is a tiny file system; once the update is in, the
    // disk fills up, so no copy of the original would fit. The backup lies
    // on the same file system and goes back by a link: the original returns
    // whole, and nothing is left half-written.
    if (!mountSmallFileSystem(root(), "512k"))
        QSKIP("needs a tmpfs mount (root)");

    QVERIFY(FakeProgram::write(root() + QStringLiteral("/vemo7.exe"), "print <s></s>"));
    const QByteArray original(300 * 1024, 'o');
    QVERIFY(writeFile(root() + QStringLiteral("/big.dat"), original));
    const QStringList before = treeListing(root());
    QVERIFY(writePackage({entry("big.dat", "small")},
                         identity("<file name=\"big.dat\" action=\"add\"/>")));

    CompactStringList installed;
    PackageInstaller *installer = makeInstaller();
    QVERIFY(installer->install(workDir(), &installed));
    QCOMPARE(readFile(root() + QStringLiteral("/big.dat")), QByteArray("small"));

    QFile filler(root() + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();

    QVERIFY(installer->restore());
    installer->removeBackups();
    QFile::remove(filler.fileName());
    QCOMPARE(treeListing(root()), before);
    unmountSmallFileSystem(root());
}

void PackageInstallerTest::readOnlyTarget_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::newRow("add") << QByteArray("add");
    QTest::newRow("remove") << QByteArray("remove");
}

void PackageInstallerTest::readOnlyTarget()
{
    // A folder of the root that cannot be written: the package fails with
    // the system's reason (the file neither passes for removed nor blocks the
    // copy with another reason), and the rollback finds the file as it was
    // instead of reporting that it could not be put back.
    QFETCH(QByteArray, action);
    const QString lang = root() + QStringLiteral("/lang");
    if (!mountSmallFileSystem(lang, "64k"))
        QSKIP("needs a tmpfs mount (root)");
    QVERIFY(writeFile(lang + QStringLiteral("/pl.qm"), "catalogue"));
    QVERIFY(makeReadOnly(lang));
    const QStringList before = treeListing(root());
    QVERIFY(writePackage({entry("lang/pl.qm", "new catalogue")},
                         identity("<file path=\"lang\" name=\"pl.qm\" action=\"" + action
                                  + "\"/>")));

    CompactStringList installed;
    PackageInstaller *installer = makeInstaller();
    QVERIFY(!installer->install(workDir(), &installed));
    QCOMPARE(installer->errorString(),
             expand(QStringLiteral("Cannot write file [[%R/lang/pl.qm]] (Read-only file system)")));
    QCOMPARE(installer->errorReason(), QStringLiteral("Read-only file system"));

    QVERIFY(installer->restore());
    installer->removeBackups();
    QCOMPARE(treeListing(root()), before);
    unmountSmallFileSystem(lang);
}

void PackageInstallerTest::firstPluginKeepsReadableFiles()
{
    // The plug-in folder does not exist before the first plug-in: its
    // permissions read as none, and the installed files must not end up
    // with none either.
    const QString appData = temp() + QStringLiteral("/appdata");
    qputenv("APPDATA", QFile::encodeName(appData));
    ArchiveEntries entries{entry("core.xml", "<package project=\"vemo\" name=\"core\" "
                                             "type=\"plugin\"><file name=\"p.dll\" "
                                             "action=\"add\"/></package>"),
                           entry("p.dll", "plugin")};
    QVERIFY(writeArchive(archiveFile(QStringLiteral("core.zip")), entries));

    CompactStringList installed;
    PackageInstaller *installer = makeInstaller("core", "plugin");
    QVERIFY(installer->install(workDir(), &installed));
    const QString plugin = appData + QStringLiteral("/Vemo/plugins/p.dll");
    QCOMPARE(readFile(plugin), QByteArray("plugin"));
    QVERIFY(QFile::permissions(plugin) & QFile::ReadOwner);
    QVERIFY(QFile::permissions(plugin) & QFile::WriteOwner);
}

VEMO_TEST_MAIN(PackageInstallerTest)
#include "tst_packageinstaller.moc"
