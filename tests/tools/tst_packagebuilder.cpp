#include "install/deltapackage.h"
#include "platform/fileio.h"
#include "testmain.h"
#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cerrno>

#include <minizip/unzip.h>

namespace {

struct Entry
{
    QString name; // UTF-8 where the entry is flagged so, else Latin-1, as the updater reads it
    bool utf8 = false;
    int method = -1;
    QByteArray content;
};

// Reads every entry back with minizip's unzip API; an empty list on any
// failure, CRC mismatches included.
QList<Entry> readArchive(const QString &path)
{
    QList<Entry> entries;
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    for (int more = zip ? unzGoToFirstFile(zip) : UNZ_BADZIPFILE; more == UNZ_OK;
         more = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char name[512];
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        constexpr uLong Utf8NameFlag = 1 << 11;
        const QString decoded =
            (info.flag & Utf8NameFlag) ? QString::fromUtf8(name) : QString::fromLatin1(name);
        Entry entry{decoded, (info.flag & Utf8NameFlag) != 0, int(info.compression_method), {}};
        char block[4096];
        int got = unzOpenCurrentFile(zip) == UNZ_OK ? 1 : -1;
        while (got > 0 && (got = unzReadCurrentFile(zip, block, sizeof block)) > 0)
            entry.content.append(block, got);
        if (got < 0 || unzCloseCurrentFile(zip) != UNZ_OK) {
            unzClose(zip);
            return {};
        }
        entries << entry;
    }
    if (zip)
        unzClose(zip);
    return entries;
}

// "package project name type" and "file path|name|action" per element.
QStringList manifestElements(const QByteArray &xml)
{
    QStringList elements;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        if (reader.name() == QLatin1String("package"))
            elements << QStringLiteral("package %1 %2 %3")
                            .arg(a.value("project"), a.value("name"), a.value("type"));
        else
            elements << QStringLiteral("%1 %2|%3|%4")
                            .arg(reader.name(), a.value("path"), a.value("name"),
                                 a.hasAttribute("action") ? a.value("action") : u"(none)");
    }
    if (reader.hasError())
        elements << "error: " + reader.errorString();
    return elements;
}

} // namespace

class PackageBuilderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void archive_data();
    void archive();
    void manifestCommand();
    void delta_data();
    void delta();
    void failures_data();
    void failures();

private:
    int run(const QStringList &arguments);
    QString path(const QString &name) const { return m_dir->filePath(name); }

    QScopedPointer<QTemporaryDir> m_dir;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

void PackageBuilderTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

int PackageBuilderTest::run(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    // Text mode: what the tool prints ends its lines with "\r\n" on Windows.
    process.start(VEMO_TOOLS_DIR "/vemo-package", arguments, QIODevice::ReadWrite | QIODevice::Text);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    m_stdout = process.readAllStandardOutput();
    m_stderr = process.readAllStandardError();
    return process.exitCode();
}

void PackageBuilderTest::archive_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("options");
    // As read back; a name flagged as UTF-8 is followed by " (UTF-8)".
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("method");
    QTest::addColumn<QStringList>("manifest");

    const QStringList identity = {"--project", "vemo", "--name", "core", "--type", "app"};
    QTest::newRow("manifest named after the package file")
        << QStringList{"vemo7.exe", "plugins/emoji/emoji.dll"} << identity
        << QStringList{"core-7.1.0.xml", "plugins/emoji/emoji.dll", "vemo7.exe"} << int(Z_DEFLATED)
        << QStringList{"package vemo core app", "file plugins/emoji|emoji.dll|add",
                       "file |vemo7.exe|add"};
    QTest::newRow("manifest named after the url path, removals last")
        << QStringList{"new.dll"}
        << QStringList{"--project", "vemo", "--remove", "old:b.dll", "--name", "emoji", "--remove",
                       ":a.dll", "--type", "plugin", "--url-path", "/packages/v/emoji.zip"}
        << QStringList{"packages/v/emoji.xml", "new.dll"} << int(Z_DEFLATED)
        << QStringList{"package vemo emoji plugin", "file |new.dll|add", "file old|b.dll|remove",
                       "file |a.dll|remove"};
    QTest::newRow("url path without zip extension loses four characters too")
        << QStringList() << identity + QStringList{"--url-path", "/dl/core.tar.gz"}
        << QStringList{"dl/core.ta.xml"} << int(Z_DEFLATED) << QStringList{"package vemo core app"};
    QTest::newRow("stored, hidden and nested files, Latin-1 names unflagged")
        << QStringList{"x/y/z/deep.txt", ".hidden", "caf\u00e9.txt"}
        << identity + QStringList{"--stored"}
        << QStringList{"core-7.1.0.xml", ".hidden", "caf\u00e9.txt", "x/y/z/deep.txt"} << 0
        << QStringList{"package vemo core app", "file |.hidden|add", "file |caf\u00e9.txt|add",
                       "file x/y/z|deep.txt|add"};
    // Composed and decomposed forms stay apart, byte for byte.
    QTest::newRow("Polish names, composed and decomposed, flagged UTF-8")
        << QStringList{"za\u017c\u00f3\u0142\u0107.txt", "zaz\u0307o\u0301\u0142c\u0301.txt"}
        << identity
        << QStringList{"core-7.1.0.xml", "zaz\u0307o\u0301\u0142c\u0301.txt (UTF-8)",
                       "za\u017c\u00f3\u0142\u0107.txt (UTF-8)"}
        << int(Z_DEFLATED)
        << QStringList{"package vemo core app", "file |zaz\u0307o\u0301\u0142c\u0301.txt|add",
                       "file |za\u017c\u00f3\u0142\u0107.txt|add"};
    QTest::newRow("given manifest stored as it stands")
        << QStringList{"vemo7.exe"}
        << QStringList{"--manifest", "manifest.xml", "--url-path", "/u/core-7.1.0.zip"}
        << QStringList{"u/core-7.1.0.xml", "vemo7.exe"} << int(Z_DEFLATED)
        << QStringList{"package vemo core app", "file |vemo7.exe|ADD", "file |keep.ini|(none)"};
    QTest::newRow("file larger than one copy block")
        << QStringList{"big.bin"} << identity << QStringList{"core-7.1.0.xml", "big.bin"}
        << int(Z_DEFLATED) << QStringList{"package vemo core app", "file |big.bin|add"};
}

void PackageBuilderTest::archive()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, options);
    QFETCH(QStringList, entries);
    QFETCH(int, method);
    QFETCH(QStringList, manifest);

    const QByteArray given = "<package project=\"vemo\" name=\"core\" type=\"app\">\n"
                             "<file path=\"\" name=\"vemo7.exe\" action=\"ADD\"/>\n"
                             "<file path=\"\" name=\"keep.ini\"/></package>\n";
    QVERIFY(writeFile(path("manifest.xml"), given));
    QVERIFY(QDir().mkpath(path("folder")));
    QMap<QString, QByteArray> contents;
    for (const QString &file : files) {
        QByteArray content = "content of " + file.toUtf8();
        if (file == QLatin1String("big.bin")) {
            content.resize(3 * 1024 * 1024 + 16);
            QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(content.data()),
                                           content.size() / 4);
        }
        contents.insert(file, content);
        QVERIFY(writeFile(path("folder/" + file), content));
    }
    // "folder-out" only begins like the packed folder; an existing package
    // there is replaced.
    QVERIFY(writeFile(path("folder-out/core-7.1.0.zip"), "previous package"));

    QCOMPARE(run(QStringList{"build", "--folder", "folder", "--out", "folder-out/core-7.1.0.zip"}
                 + options),
             0);
    QCOMPARE(m_stderr, QByteArray());
    // The catalogue's size and sha256 of the package.
    const QByteArray package = readFile(path("folder-out/core-7.1.0.zip"));
    QVERIFY2(m_stdout.endsWith("\n<size>" + QByteArray::number(package.size()) + "</size>\n<sha256>"
                               + QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex()
                               + "</sha256>\n"),
             m_stdout);
    QCOMPARE(QDir(path("folder-out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"core-7.1.0.zip"});

    const QList<Entry> archive = readArchive(path("folder-out/core-7.1.0.zip"));
    QStringList names;
    for (const Entry &entry : archive) {
        names << (entry.utf8 ? entry.name + " (UTF-8)" : entry.name);
        QCOMPARE(entry.method, method);
        if (entry.name != entries.first())
            QCOMPARE(entry.content, contents.value(entry.name));
    }
    QCOMPARE(names, entries);
    QCOMPARE(manifestElements(archive.first().content), manifest);
    if (options.contains("--manifest"))
        QCOMPARE(archive.first().content, given);
}

void PackageBuilderTest::manifestCommand()
{
    const QStringList options = {"--remove", "a:b", "--project", "vemo", "--add", ":core.component",
                                 "--name=core", "--keep", "conf:settings.ini", "--type", "app",
                                 "--add", "x/y:z/w:v"};
    QCOMPARE(run(QStringList{"manifest"} + options), 0);
    // Entries in the order of the options; only the first colon splits.
    QCOMPARE(manifestElements(m_stdout),
             QStringList({"package vemo core app", "file a|b|remove", "file |core.component|add",
                          "file conf|settings.ini|(none)", "file x/y|z/w:v|add"}));
    const QByteArray printed = m_stdout;
    QCOMPARE(run(QStringList{"manifest", "--out", "m.xml"} + options), 0);
    QCOMPARE(readFile(path("m.xml")), printed);
}

void PackageBuilderTest::delta_data()
{
    QTest::addColumn<bool>("fromPackages");
    // Where the old library is a link to real.so: its target (empty: no link).
    QTest::addColumn<QByteArray>("linkTarget");
    QTest::newRow("two folders") << false << QByteArray();
    QTest::newRow("two packages, identity from the new one") << true << QByteArray();
    // The updater patches through a link only to a file inside the
    // installation; through any other the library goes whole.
    QTest::newRow("two folders, the old library a link beside it") << false << QByteArray("real.so");
    QTest::newRow("two folders, the old library a link out of the folder")
        << false << QByteArray("../../outside/real.so");
}

// A delta made from two versions turns the old one into the new one once
// the updater has prepared it; each file goes the cheapest way.
void PackageBuilderTest::delta()
{
    QFETCH(bool, fromPackages);
    QFETCH(QByteArray, linkTarget);
    const bool linkedOut = linkTarget.startsWith("../");

    QByteArray library(256 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(library.data()),
                                  library.size() / 4);
    QByteArray changed = library;
    changed.replace(1000, 5, "12345");
    const QMap<QString, QByteArray> old{{"lib/core.so", library},
                                        {"same.txt", "unchanged"},
                                        {"gone.txt", "removed"},
                                        {"tiny.txt", "a"}};
    const QMap<QString, QByteArray> fresh{{"lib/core.so", changed},
                                          {"same.txt", "unchanged"},
                                          {"new/added.txt", "added"},
                                          {"tiny.txt", "b"}};
    for (auto it = old.cbegin(); it != old.cend(); ++it)
        QVERIFY(writeFile(path("old/" + it.key()), it.value()));
    if (!linkTarget.isEmpty()) {
        const QString real = path(linkedOut ? "outside/real.so" : "old/lib/real.so");
        QVERIFY(QDir().mkpath(QFileInfo(real).path()));
        QVERIFY(QFile::rename(path("old/lib/core.so"), real));
        if (!Platform::makeSymbolicLink(linkTarget, Platform::encodeName(path("old/lib/core.so")))) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
    }
    for (auto it = fresh.cbegin(); it != fresh.cend(); ++it)
        QVERIFY(writeFile(path("new/" + it.key()), it.value()));
    QStringList versions{"old", "new"};
    QStringList identity{"--project", "vemo", "--name", "core", "--type", "app"};
    if (fromPackages) {
        for (const QString &version : {QStringLiteral("old"), QStringLiteral("new")})
            QCOMPARE(run(QStringList{"build", "--folder", version, "--out", version + ".zip"}
                         + identity),
                     0);
        versions = QStringList{"old.zip", "new.zip"};
        identity.clear();
    }

    QCOMPARE(run(QStringList{"delta", "--from", versions.at(0), "--to", versions.at(1), "--out",
                             "delta.zip", "--url-path", "/d/core-delta.zip"}
                 + identity),
             0);
    QCOMPARE(m_stderr, QByteArray());
    QVERIFY2(m_stdout.startsWith(
                 linkedOut ? "Wrote delta.zip: 0 patched, 3 whole, 1 removed, 1 unchanged\n"
                 : linkTarget.isEmpty()
                     ? "Wrote delta.zip: 1 patched, 2 whole, 1 removed, 1 unchanged\n"
                     : "Wrote delta.zip: 1 patched, 2 whole, 2 removed, 1 unchanged\n"),
             m_stdout);
    const QList<Entry> archive = readArchive(path("delta.zip"));
    QVERIFY(!archive.isEmpty());
    QCOMPARE(archive.first().name, "d/core-delta.xml");
    // A one-byte file costs less whole than as a frame.
    QStringList rows{"package vemo core app", "file lib|core.so|patch", "file new|added.txt|add",
                     "file |tiny.txt|add", "file |gone.txt|remove"};
    if (linkedOut)
        rows.replace(1, "file lib|core.so|add");
    else if (!linkTarget.isEmpty())
        rows << "file lib|real.so|remove";
    QCOMPARE(manifestElements(archive.first().content), rows);
    if (linkedOut)
        return;

    PreparedPackage prepared;
    QString reason;
    QVERIFY2(DeltaPackage::prepare(path("delta.zip"), "/d/core-delta.zip", path("unpack"),
                                   path("old"), &prepared, &reason),
             qPrintable(reason));
    QCOMPARE(prepared.patchedFiles, 1);
    QCOMPARE(readFile(path("unpack/lib/core.so")), changed);
}

void PackageBuilderTest::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("extraFile");
    QTest::addColumn<QString>("message");

    const QStringList identity = {"--project", "p", "--name", "n", "--type", "t"};
    const QStringList build = QStringList{"build", "--folder", "folder", "--out", "out/pkg.zip"};
    const QString longName = QString(200, 'd') + '/' + QString(60, 'f');

    QTest::newRow("missing folder")
        << QStringList{"build", "--folder", "none", "--out", "out/pkg.zip"} + identity << QString()
        << "The folder none does not exist";
    QTest::newRow("output inside the packed folder")
        << QStringList{"build", "--folder", "out", "--out", "out/pkg.zip"} + identity << QString()
        << "Cannot write out/pkg.zip inside the folder out that it packs";
    QTest::newRow("url path climbing up") << build + identity + QStringList{"--url-path", "/a/../p.zip"}
                                          << QString()
                                          << "The URL path /a/../p.zip must not contain empty, "
                                             "\".\" or \"..\" parts";
    QTest::newRow("entry name too long")
        << build + identity << longName
        << longName + " cannot be stored: archive entry names are limited to 255 bytes";
    QTest::newRow("folder already holds the manifest entry")
        << build + identity << "pkg.xml"
        << "The folder folder already holds pkg.xml, the archive entry of the manifest";
    // Reading a process's own memory at offset 0 fails even for root, after
    // the archive was begun.
    QTest::newRow("file that cannot be read") << build + identity << "mem"
                                              << "Cannot read folder/mem: Input/output error";
    QTest::newRow("delta of a folder without identity")
        << QStringList{"delta", "--from", "folder", "--to", "folder", "--out", "out/pkg.zip"}
        << QString()
        << "The delta needs --project, --name and --type (the new version is no package)";
    QTest::newRow("delta from a version that does not exist")
        << QStringList{"delta", "--from", "none", "--to", "folder", "--out", "out/pkg.zip"}
               + identity
        << QString() << "none is neither a folder nor a package";
    QTest::newRow("malformed manifest")
        << build + QStringList{"--manifest", "bad.xml"} << QString()
        << "The manifest is not well-formed XML: line 1, column 25: Opening and ending tag "
           "mismatch.";
}

void PackageBuilderTest::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, extraFile);
    QFETCH(QString, message);

    QVERIFY(writeFile(path("folder/vemo7.exe"), "exe"));
    QVERIFY(writeFile(path("out/pkg.zip"), "previous package"));
    QVERIFY(writeFile(path("bad.xml"), "<package><file></package>"));
    if (extraFile == QLatin1String("mem")) {
#ifdef Q_OS_WIN
        QSKIP("a file that fails to read needs Linux's /proc/self/mem");
#endif
        QVERIFY(QFile::link("/proc/self/mem", path("folder/mem")));
    }
    else if (!extraFile.isEmpty())
        QVERIFY(writeFile(path("folder/" + extraFile), "x"));
    const QStringList before = treeListing(path("out"));

    QCOMPARE(run(arguments), 1);
    QCOMPARE(m_stdout, QByteArray());
    QCOMPARE(QString::fromLocal8Bit(m_stderr).section('\n', 0, 0),
             "vemo-package: " + message);
    // The previous package survives, and no temporary file is left beside it.
    QCOMPARE(treeListing(path("out")), before);
}

VEMO_TEST_MAIN(PackageBuilderTest)
#include "tst_packagebuilder.moc"
