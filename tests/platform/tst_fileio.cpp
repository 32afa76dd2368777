#include "platform/fileio.h"

#include "testmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// What the file layer promises beyond what the installer's tests reach:
// names that are links are never followed, a taken name is never replaced
// where that is asked, reads reach past 4 GiB, and the names Windows would
// turn into others or into devices are told apart from plain ones.
class FileIoTest : public QObject
{
    Q_OBJECT

private slots:
    void createNoFollow_data();
    void createNoFollow();
    void renameNoReplaceAt();
    void readAtLargeOffset();
    void nameProblem_data();
    void nameProblem();
#ifdef Q_OS_WIN
    void waitsOutSharingViolation();
#endif
};

void FileIoTest::createNoFollow_data()
{
    QTest::addColumn<QString>("present");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<int>("error"); // 0: made, or emptied when it was there

    QTest::newRow("nothing") << "none" << false << 0;
    QTest::newRow("file, kept") << "file" << false << EEXIST;
    QTest::newRow("file, replaced") << "file" << true << 0;
    QTest::newRow("link to a file") << "link" << true << ELOOP;
    QTest::newRow("dangling link") << "dangling link" << false << EEXIST;
    QTest::newRow("dangling link, replaced") << "dangling link" << true << ELOOP;
}

void FileIoTest::createNoFollow()
{
    QFETCH(QString, present);
    QFETCH(bool, replace);
    QFETCH(int, error);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("t"));
    const QString other = dir.filePath(QStringLiteral("other"));
    QFile file(present == QLatin1String("file") ? name : other);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("older content") == 13);
    file.close();
    if (present == QLatin1String("dangling link"))
        QVERIFY(QFile::remove(other));
    if (present.contains(QLatin1String("link"))
        && !Platform::makeSymbolicLink(QFile::encodeName(other), QFile::encodeName(name))) {
        QCOMPARE(errno, EOPNOTSUPP);
        QSKIP("this system makes no symbolic links");
    }

    errno = 0;
    Platform::FileHandle handle(Platform::createNoFollow(QFile::encodeName(name), 0600, replace));
    QCOMPARE(handle.isOpen() ? 0 : errno, error);
    if (error == 0) {
        QVERIFY(Platform::writeAll(handle.get(), QByteArray("new")));
        QVERIFY(handle.close());
        Platform::FileStatus status;
        QVERIFY(Platform::nameStatus(QFile::encodeName(name), &status));
        QVERIFY(status.isRegular());
        QCOMPARE(status.size, 3);
    }
    // A link's target is never touched.
    if (present == QLatin1String("link")) {
        QFile target(other);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("older content"));
    }
}

void FileIoTest::renameNoReplaceAt()
{
    QTemporaryDir dir;
    for (const char *name : {"a", "b"}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name) == 1);
    }
    const Platform::FileHandle handle(
        Platform::openDirectoryNoFollow(QFile::encodeName(dir.path())));
    QVERIFY(handle.isOpen());
    QVERIFY(!Platform::renameNoReplaceAt(handle.get(), "a", handle.get(), "b"));
    QCOMPARE(errno, EEXIST);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("a"))));
    QVERIFY(Platform::renameNoReplaceAt(handle.get(), "a", handle.get(), "c"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("a"))));
}

void FileIoTest::readAtLargeOffset()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("sparse")));
    constexpr qint64 Offset = (qint64(5) << 30) + 7;
    if (!file.open(QIODevice::WriteOnly) || !file.seek(Offset) || file.write("tail") != 4)
        QSKIP("no sparse file of 5 GiB can be made here");
    file.close();
    const Platform::FileHandle handle(Platform::openForReading(QFile::encodeName(file.fileName())));
    char buffer[8] = {};
    QCOMPARE(Platform::readAt(handle.get(), buffer, sizeof buffer, Offset), 4);
    QCOMPARE(QByteArray(buffer, 4), QByteArray("tail"));
    QCOMPARE(Platform::readAt(handle.get(), buffer, sizeof buffer, Offset + 4), 0);
    // As pread(): the position stays where it was.
    QCOMPARE(Platform::read(handle.get(), buffer, sizeof buffer), qint64(sizeof buffer));
    QCOMPARE(QByteArray(buffer, sizeof buffer), QByteArray(sizeof buffer, '\0'));
}

void FileIoTest::nameProblem_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("refusedOnWindows"); // elsewhere only NUL is refused

    QTest::newRow("plain names and steps") << "a/./b/../c..d/.x" << false;
    QTest::newRow("device in any case, with extensions") << "lib/cOnOuT$.tar.gz" << true;
    QTest::newRow("device before blanks and an extension") << "Nul  .txt" << true;
    QTest::newRow("device after a backslash") << "lib\\AUX" << true;
    QTest::newRow("port with a superscript digit") << QString::fromUtf8("COM\u00b3.log") << true;
    QTest::newRow("port with two digits") << "COM10.dll" << false;
    QTest::newRow("device name as the extension") << "a.con" << false;
    QTest::newRow("device name within a name") << "console.txt" << false;
    QTest::newRow("pipe") << "a|b" << true;
    QTest::newRow("control character") << "a\x1f" << true;
    QTest::newRow("folder ending in a blank") << "docs /a.txt" << true;
    QTest::newRow("name of 255 units") << QString(255, QChar(0x17c)) << false;
    QTest::newRow("name of 256 units") << "a/" + QString(256, QLatin1Char('n')) << true;
    QTest::newRow("path of 32768 units") << QString("abcdefg/").repeated(4096) << true;
    QTest::newRow("NUL") << QString(QChar(0)) << true;
    QTest::newRow("short name of a file") << "docs/LONGFI~1.TXT" << true;
    QTest::newRow("short name of a folder") << "PROGRA~1/a.txt" << true;
    QTest::newRow("tilde in a name longer than a short one") << "notes~1.text/backup~copy.txt" << false;
}

// The installer's tests show the messages; these rows the rules' edges.
void FileIoTest::nameProblem()
{
    QFETCH(QString, path);
    QFETCH(bool, refusedOnWindows);
#ifdef Q_OS_WIN
    const bool refused = refusedOnWindows;
#else
    const bool refused = path.contains(QChar(0));
#endif
    QCOMPARE(Platform::nameProblem(path).isEmpty(), !refused);
}

#ifdef Q_OS_WIN
// Another program (a virus scanner) holding a file without sharing it for a
// moment delays a rename; it does not fail it.
void FileIoTest::waitsOutSharingViolation()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from"));
    QFile file(from);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
    file.close();
    const HANDLE held = CreateFileW(reinterpret_cast<const wchar_t *>(from.utf16()), GENERIC_READ,
                                    0, nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(held != INVALID_HANDLE_VALUE);
    std::thread release([held] {
        Sleep(100);
        CloseHandle(held);
    });
    const bool renamed = Platform::rename(QFile::encodeName(from),
                                          QFile::encodeName(dir.filePath(QStringLiteral("to"))));
    const int error = errno;
    release.join();
    QVERIFY2(renamed, qPrintable(QString::number(error)));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("to"))));
}
#endif

VEMO_TEST_MAIN(FileIoTest)
#include "tst_fileio.moc"
