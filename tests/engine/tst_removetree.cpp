#include "engine/removetree.h"
#include "engine/workdirectory.h"
#include "platform/fileio.h"
#include "packagetestsupport.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/resource.h>
#endif

// Each test works in a temporary folder T with the tree to remove at T/tree
// and data that must survive at T/outside.
class RemoveTreeTest : public QObject
{
    Q_OBJECT

private slots:
    void removeTree_data();
    void removeTree();
    void clearWorkDirectory_data();
    void clearWorkDirectory();
};

void RemoveTreeTest::removeTree_data()
{
    QTest::addColumn<FileMap>("files");      // below T
    QTest::addColumn<QStringList>("links");  // "link path -> target", both below T
    QTest::addColumn<QString>("removed");    // path below T handed to removeTree
    QTest::addColumn<FileMap>("remaining");  // files below T afterwards
    QTest::addColumn<bool>("removedExists"); // whether the removed path is still there

    const FileMap outside{{"outside/data.txt", "keep"}, {"outside/sub/more.txt", "keep too"}};
    FileMap nested = outside;
    nested.insert("tree/a.txt", "A");
    nested.insert("tree/.hidden", "H");
    nested.insert("tree/.hiddendir/x", "X");
    nested.insert("tree/b/c/d/e.txt", "E");

    QTest::newRow("nested folders and hidden files")
        << nested << QStringList() << "tree" << outside << false;
    QTest::newRow("empty folder") << outside << QStringList{"mkdir tree"} << "tree" << outside
                                  << false;
    QTest::newRow("missing path") << outside << QStringList() << "tree" << outside << false;
    QTest::newRow("link to an outside folder inside the tree")
        << nested << QStringList{"tree/b/link -> outside"} << "tree" << outside << false;
    QTest::newRow("link to an outside file inside the tree")
        << nested << QStringList{"tree/file-link -> outside/data.txt"} << "tree" << outside
        << false;
    QTest::newRow("dangling link inside the tree")
        << nested << QStringList{"tree/b/dangling -> nowhere"} << "tree" << outside << false;
    QTest::newRow("the path itself is a link")
        << outside << QStringList{"tree -> outside"} << "tree" << outside << false;
    // Such names would be taken for resource paths, not for files of the tree.
    FileMap colons = outside;
    colons.insert("tree/:x", "X");
    colons.insert("tree/:d/:y", "Y");
    QTest::newRow("names that begin with a colon")
        << colons << QStringList() << "tree" << outside << false;
    // Enough files in one folder for several threads to unlink them.
    FileMap many = nested;
    for (int i = 0; i < 200; ++i)
        many.insert(QStringLiteral("tree/many/f%1").arg(i), "F");
    QTest::newRow("many files in a folder, links to outside among them")
        << many
        << QStringList{"tree/many/dir-link -> outside", "tree/many/file-link -> outside/data.txt"}
        << "tree" << outside << false;
    QTest::newRow("the path itself is a link, named with a trailing slash")
        << outside << QStringList{"tree -> outside"} << "tree/" << outside << false;
    // Deeper than the folders held open at once: the deep part is moved up
    // into the tree, past a name that is taken there already.
    FileMap deep = nested;
    QString deepFolder = QStringLiteral("tree");
    for (int i = 0; i < 300; ++i)
        deepFolder += QStringLiteral("/d");
    deep.insert(deepFolder + QStringLiteral("/f"), "F");
    deep.insert("tree/.removing-0", "R");
    QTest::newRow("a folder hundreds of levels deep, a link to outside at the bottom")
        << deep << QStringList{deepFolder + QStringLiteral("/link -> outside")} << "tree"
        << outside << false;
    // Another program holds a file open, letting others delete it (as
    // scanners do on Windows): the removal ends all the same, and what stays
    // for that program goes once it lets go.
    QTest::newRow("a file held open with leave to delete it")
        << nested << QStringList{"hold tree/b/c/d/e.txt"} << "tree" << outside << false;
    QTest::newRow("a plain file is no folder")
        << FileMap{{"tree", "file"}} << QStringList() << "tree" << FileMap{{"tree", "file"}}
        << true;
}

void RemoveTreeTest::removeTree()
{
    QFETCH(FileMap, files);
    QFETCH(QStringList, links);
    QFETCH(QString, removed);
    QFETCH(FileMap, remaining);
    QFETCH(bool, removedExists);

    QTemporaryDir temp;
    QVERIFY(writeFiles(temp.path(), files));
    QFile held;
    for (const QString &link : std::as_const(links)) {
        if (link.startsWith(QLatin1String("mkdir "))) {
            QVERIFY(QDir(temp.path()).mkpath(link.mid(6)));
            continue;
        }
        if (link.startsWith(QLatin1String("hold "))) {
            const QString name = temp.path() + QLatin1Char('/') + link.mid(5);
#ifdef Q_OS_WIN
            const HANDLE handle = CreateFileW(
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(name).utf16()),
                GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            QVERIFY(handle != INVALID_HANDLE_VALUE);
            const int fd = _open_osfhandle(intptr_t(handle), 0);
            QVERIFY(fd >= 0);
            QVERIFY(held.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
#else
            held.setFileName(name);
            QVERIFY(held.open(QIODevice::ReadOnly));
#endif
            continue;
        }
        const QStringList parts = link.split(QStringLiteral(" -> "));
        if (!Platform::makeSymbolicLink(Platform::encodeName(temp.path() + QLatin1Char('/') + parts.at(1)),
                                        Platform::encodeName(temp.path() + QLatin1Char('/') + parts.at(0)))) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
    }
    const QString path = temp.path() + QLatin1Char('/') + removed;

    // Few files may be open at once, as where the limit is low: a deep tree
    // goes all the same.
#ifdef Q_OS_WIN
    ::removeTree(path);
#else
    rlimit openFiles{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &openFiles), 0);
    rlimit low = openFiles;
    low.rlim_cur = std::min<rlim_t>(openFiles.rlim_cur, 64);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    ::removeTree(path);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &openFiles), 0);
#endif

    if (held.isOpen()) {
        held.close();
        ::removeTree(path);
    }

    QCOMPARE(fileMap(temp.path()), remaining);
    const QFileInfo after(path);
    QCOMPARE(after.exists() || after.isSymLink(), removedExists);
}

void RemoveTreeTest::clearWorkDirectory_data()
{
    QTest::addColumn<QStringList>("kept");       // paths below T
    QTest::addColumn<FileMap>("remaining");      // files below T afterwards
    QTest::addColumn<bool>("workDirRemains");

    QTest::newRow("nothing kept: the work directory goes")
        << QStringList() << FileMap{{"outside/data.txt", "keep"}} << false;
    QTest::newRow("program and library in the work directory stay")
        << QStringList{"tmp/vupdates/updater", "tmp/vupdates/libfoo.so"}
        << FileMap{{"outside/data.txt", "keep"},
                   {"tmp/vupdates/updater", "program"},
                   {"tmp/vupdates/libfoo.so", "library"}}
        << true;
    QTest::newRow("work directory named with repeated separators")
        << QStringList{"tmp//vupdates///updater"}
        << FileMap{{"outside/data.txt", "keep"}, {"tmp/vupdates/updater", "program"}} << true;
    QTest::newRow("program elsewhere: the work directory goes")
        << QStringList{"outside/updater"} << FileMap{{"outside/data.txt", "keep"}} << false;
    QTest::newRow("a plug-in in a subfolder stays, the rest of the subfolder goes")
        << QStringList{"tmp/vupdates/core/updater"}
        << FileMap{{"outside/data.txt", "keep"}, {"tmp/vupdates/core/updater", "unpacked"}}
        << true;
    QTest::newRow("a kept name reached through a link is not kept")
        << QStringList{"tmp/vupdates/top-link/data.txt"}
        << FileMap{{"outside/data.txt", "keep"}} << false;
    QTest::newRow("kept name that does not exist keeps nothing else")
        << QStringList{"tmp/vupdates/libbar.so", "tmp/vupdates/updater"}
        << FileMap{{"outside/data.txt", "keep"}, {"tmp/vupdates/updater", "program"}} << true;
}

void RemoveTreeTest::clearWorkDirectory()
{
    QFETCH(QStringList, kept);
    QFETCH(FileMap, remaining);
    QFETCH(bool, workDirRemains);

#ifdef Q_OS_WIN
    if (kept.join(QLatin1Char(' ')).contains(QLatin1String("top-link")))
        QSKIP("QFile::link makes a shortcut on Windows, which no path leads through");
#endif
    QTemporaryDir temp;
    QVERIFY(writeFiles(temp.path(), {{"outside/data.txt", "keep"},
                                     {"tmp/vupdates/updater", "program"},
                                     {"tmp/vupdates/libfoo.so", "library"},
                                     {"tmp/vupdates/core.zip", "archive"},
                                     {"tmp/vupdates/core/updater", "unpacked"},
                                     {"tmp/vupdates/core/unwind/.hidden", "backup"},
                                     {"tmp/vupdates/:entry", "unpacked"}}));
    // A link in the work directory is removed, never followed.
    QVERIFY(QFile::link(temp.path() + QStringLiteral("/outside"),
                        temp.path() + QStringLiteral("/tmp/vupdates/core/outside-link")));
    QVERIFY(QFile::link(temp.path() + QStringLiteral("/outside"),
                        temp.path() + QStringLiteral("/tmp/vupdates/top-link")));
    QStringList keptFiles;
    for (const QString &file : std::as_const(kept))
        keptFiles << temp.path() + QLatin1Char('/') + file;

    const QString workDir = temp.path() + QStringLiteral("/tmp/vupdates/");
    WorkDirectory::clear(workDir, keptFiles);

    QCOMPARE(fileMap(temp.path()), remaining);
    QCOMPARE(QFileInfo::exists(workDir), workDirRemains);
}

VEMO_TEST_MAIN(RemoveTreeTest)
#include "tst_removetree.moc"
