#include "install/filecopy.h"
#include "platform/fileio.h"

#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

// Each test works in a temporary folder T: the source at T/src/s.dat, the
// target at T/dst/t.dat, and whatever a row puts in the target's place.
class FileCopyTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copyToNew_data();
    void copyToNew();
    void replaceWith_data();
    void replaceWith();
    void moveRegularFile_data();
    void moveRegularFile();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString source() const { return path(QStringLiteral("src/s.dat")); }
    QString target() const { return path(QStringLiteral("dst/t.dat")); }
    // "none", "file", "directory", "dangling link", "link to file", "no folder"
    bool prepareTarget(const QString &kind);
    // A folder on another file system than T, for the copies the kernel
    // cannot make between two files; empty when there is none.
    QString otherFileSystem();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_otherDir;
};

namespace {

// Content that is not the same at every offset, so a copy that drops or
// repeats a chunk shows.
QByteArray pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + i / 4093) & 0xff);
    return data;
}

const QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
const QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                      | QFile::ExeOther;
const QFile::Permissions Odd = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;

} // namespace

void FileCopyTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(path(QStringLiteral("src"))));
}

namespace {

// A symbolic link as the file layer makes it; false with errno EOPNOTSUPP
// where the system makes none.
bool symbolicLink(const QString &target, const QString &path)
{
    return Platform::makeSymbolicLink(Platform::encodeName(target), Platform::encodeName(path));
}

} // namespace

bool FileCopyTest::prepareTarget(const QString &kind)
{
    if (kind == QLatin1String("no folder"))
        return true;
    if (!QDir().mkpath(path(QStringLiteral("dst"))))
        return false;
    if (kind == QLatin1String("file"))
        return writeFile(target(), "already there");
    if (kind == QLatin1String("directory"))
        return writeFile(target() + QStringLiteral("/inner"), "inner");
    if (kind == QLatin1String("dangling link"))
        return symbolicLink(path(QStringLiteral("elsewhere/gone.dat")), target());
    if (kind == QLatin1String("link to file"))
        return writeFile(path(QStringLiteral("elsewhere/kept.dat")), "kept")
               && symbolicLink(path(QStringLiteral("elsewhere/kept.dat")), target());
    return true;
}

QString FileCopyTest::otherFileSystem()
{
#ifdef Q_OS_WIN
    return QString(); // no second file system to be had for a test
#else
    struct stat here;
    struct stat there;
    if (::stat(QFile::encodeName(m_dir->path()).constData(), &here) != 0
        || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        return QString();
    m_otherDir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vemo-copy-XXXXXX"));
    return m_otherDir->isValid() ? m_otherDir->path() : QString();
#endif
}

void FileCopyTest::copyToNew_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QFile::Permissions>("permissions");
    QTest::addColumn<QString>("targetKind");
    QTest::addColumn<bool>("acrossFileSystems");
    QTest::addColumn<bool>("copied");
    // linkOrCopy() instead of copyToNew(): where both lie on one file
    // system the target is the source's file under a second name.
    QTest::addColumn<bool>("mayLink");

    const QByteArray large = pattern(3 * 256 * 1024 + 123); // several fallback buffers

    QTest::newRow("empty file") << QByteArray() << OwnerOnly << "none" << false << true << false;
    QTest::newRow("owner-only rights are kept") << QByteArray("abc") << OwnerOnly << "none"
                                                << false << true << false;
    QTest::newRow("execute rights are kept") << QByteArray("#!/bin/sh\n") << Executable << "none"
                                             << false << true << false;
    QTest::newRow("large file") << large << Odd << "none" << false << true << false;
    QTest::newRow("large file to another file system")
        << large << Odd << "none" << true << true << false;
    QTest::newRow("dangling link in the way is replaced")
        << QByteArray("new") << OwnerOnly << "dangling link" << false << true << false;
    QTest::newRow("existing file is not overwritten")
        << QByteArray("new") << OwnerOnly << "file" << false << false << false;
    QTest::newRow("link to an existing file is not followed")
        << QByteArray("new") << OwnerOnly << "link to file" << false << false << false;
    QTest::newRow("directory in the way") << QByteArray("new") << OwnerOnly << "directory"
                                          << false << false << false;
    QTest::newRow("target folder missing") << QByteArray("new") << OwnerOnly << "no folder"
                                           << false << false << false;
    QTest::newRow("linked within one file system")
        << large << Executable << "none" << false << true << true;
    QTest::newRow("copied where no link can be made")
        << large << Odd << "none" << true << true << true;
    QTest::newRow("a dangling link in the way gives way to a copy")
        << QByteArray("new") << OwnerOnly << "dangling link" << false << true << true;
    QTest::newRow("never links over an existing file")
        << QByteArray("new") << OwnerOnly << "file" << false << false << true;
}

void FileCopyTest::copyToNew()
{
    QFETCH(QByteArray, content);
    QFETCH(QFile::Permissions, permissions);
    QFETCH(QString, targetKind);
    QFETCH(bool, acrossFileSystems);
    QFETCH(bool, copied);
    QFETCH(bool, mayLink);

    QString from = source();
    if (acrossFileSystems) {
        const QString other = otherFileSystem();
        if (other.isEmpty())
            QSKIP("needs /dev/shm on another file system than the temporary folder");
        from = other + QStringLiteral("/s.dat");
    }
    QVERIFY(writeFile(from, content));
    QVERIFY(QFile::setPermissions(from, permissions));
    if (!prepareTarget(targetKind)) {
        // Only a link that the system cannot make lets the row go untested.
        QCOMPARE(errno, EOPNOTSUPP);
        QSKIP("this system makes no symbolic links");
    }
    const QStringList sourceBefore = treeListing(QFileInfo(from).absolutePath());
    const QStringList outside = treeListing(path(QStringLiteral("elsewhere")));
    const QStringList targetBefore = treeListing(path(QStringLiteral("dst")));

    QString error;
    QCOMPARE(mayLink ? FileCopy::linkOrCopy(from, target(), &error)
                     : FileCopy::copyToNew(from, target(), &error),
             copied);

    QCOMPARE(treeListing(QFileInfo(from).absolutePath()), sourceBefore);
    QCOMPARE(treeListing(path(QStringLiteral("elsewhere"))), outside);
    if (copied) {
        QVERIFY(error.isEmpty());
        const QFileInfo result(target());
        QVERIFY(result.isFile() && !result.isSymLink());
        QCOMPARE(readFile(target()), content);
        QCOMPARE(QFile::permissions(target()), QFile::permissions(from));
        // A hard link: what is written to the target shows in the source.
        QVERIFY(QFile::setPermissions(target(), QFile::permissions(target()) | QFile::WriteOwner));
        QFile written(target());
        QVERIFY(written.open(QIODevice::Append));
        QCOMPARE(written.write("+"), 1);
        written.close();
        const bool linked = readFile(from) == content + '+';
        QCOMPARE(linked, mayLink && !acrossFileSystems && targetKind == QLatin1String("none"));
    } else {
        QVERIFY(!error.isEmpty());
        QCOMPARE(treeListing(path(QStringLiteral("dst"))), targetBefore);
    }
}

void FileCopyTest::replaceWith_data()
{
    QTest::addColumn<QString>("targetKind");
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<bool>("acrossFileSystems");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("replaces a file") << "file" << true << false << 1 << true;
    QTest::newRow("puts back a file that is gone") << "none" << true << false << 1 << true;
    QTest::newRow("the same entry twice") << "file" << true << false << 2 << true;
    QTest::newRow("from another file system") << "file" << true << true << 1 << true;
    QTest::newRow("a dangling link gives way") << "dangling link" << true << false << 1 << true;
    QTest::newRow("directory in the way stays") << "directory" << true << false << 1 << false;
    QTest::newRow("missing source leaves the target") << "file" << false << false << 1 << false;
}

void FileCopyTest::replaceWith()
{
    QFETCH(QString, targetKind);
    QFETCH(bool, sourceExists);
    QFETCH(bool, acrossFileSystems);
    QFETCH(int, times);
    QFETCH(bool, replaced);

    QString from = source();
    if (acrossFileSystems) {
        const QString other = otherFileSystem();
        if (other.isEmpty())
            QSKIP("needs /dev/shm on another file system than the temporary folder");
        from = other + QStringLiteral("/s.dat");
    }
    const QByteArray saved = pattern(10000);
    if (sourceExists) {
        QVERIFY(writeFile(from, saved));
        QVERIFY(QFile::setPermissions(from, Odd));
    }
    if (!prepareTarget(targetKind)) {
        // Only a link that the system cannot make lets the row go untested.
        QCOMPARE(errno, EOPNOTSUPP);
        QSKIP("this system makes no symbolic links");
    }
    const QStringList sourceBefore = treeListing(QFileInfo(from).absolutePath());
    const QStringList targetBefore = treeListing(path(QStringLiteral("dst")));

    for (int i = 0; i < times; ++i)
        QCOMPARE(FileCopy::replaceWith(from, target(), QStringLiteral(".staged")), replaced);

    QCOMPARE(treeListing(QFileInfo(from).absolutePath()), sourceBefore);
    QVERIFY(!QFileInfo(target() + QStringLiteral(".staged")).exists());
    QVERIFY(!QFileInfo(target() + QStringLiteral(".staged")).isSymLink());
    if (replaced) {
        // The target now reads exactly like the saved file: bytes and rights.
        QStringList expected = sourceBefore;
        expected.replaceInStrings(QStringLiteral("s.dat"), QStringLiteral("t.dat"));
        QCOMPARE(treeListing(path(QStringLiteral("dst"))), expected);
        QVERIFY(!QFileInfo(target()).isSymLink());
    } else {
        QCOMPARE(treeListing(path(QStringLiteral("dst"))), targetBefore);
    }
}

void FileCopyTest::moveRegularFile_data()
{
    QTest::addColumn<QString>("sourceKind"); // "file", "link", "missing"
    QTest::addColumn<QString>("targetKind");
    QTest::addColumn<bool>("moved");

    QTest::newRow("a file moves") << "file" << "none" << true;
    QTest::newRow("a stale file at the target gives way") << "file" << "file" << true;
    QTest::newRow("a symbolic link moves as a link") << "link" << "none" << true;
    QTest::newRow("a directory at the target stays") << "file" << "directory" << false;
    QTest::newRow("target folder missing") << "file" << "no folder" << false;
    QTest::newRow("missing source") << "missing" << "none" << false;
}

void FileCopyTest::moveRegularFile()
{
    QFETCH(QString, sourceKind);
    QFETCH(QString, targetKind);
    QFETCH(bool, moved);

    QFile::Permissions rights;
    if (sourceKind == QLatin1String("file")) {
        QVERIFY(writeFile(source(), "original"));
        QVERIFY(QFile::setPermissions(source(), Odd));
        rights = QFile::permissions(source());
    } else if (sourceKind == QLatin1String("link")) {
        QVERIFY(writeFile(path(QStringLiteral("elsewhere/real.dat")), "real"));
        if (!symbolicLink(path(QStringLiteral("elsewhere/real.dat")), source())) {
            QCOMPARE(errno, EOPNOTSUPP);
            QSKIP("this system makes no symbolic links");
        }
    }
    if (!prepareTarget(targetKind)) {
        // Only a link that the system cannot make lets the row go untested.
        QCOMPARE(errno, EOPNOTSUPP);
        QSKIP("this system makes no symbolic links");
    }
    const QStringList sourceBefore = treeListing(path(QStringLiteral("src")));
    const QStringList targetBefore = treeListing(path(QStringLiteral("dst")));

    QCOMPARE(FileCopy::moveRegularFile(source(), target()), moved);

    if (moved && sourceKind == QLatin1String("link")) {
        // The link itself, never what it points to.
        QVERIFY(!QFileInfo(source()).isSymLink());
        QCOMPARE(QFileInfo(target()).symLinkTarget(), path(QStringLiteral("elsewhere/real.dat")));
        QCOMPARE(readFile(path(QStringLiteral("elsewhere/real.dat"))), QByteArray("real"));
    } else if (moved) {
        QVERIFY(!QFileInfo::exists(source()));
        QCOMPARE(readFile(target()), QByteArray("original"));
        QCOMPARE(QFile::permissions(target()), rights);
    } else {
        QCOMPARE(treeListing(path(QStringLiteral("src"))), sourceBefore);
        QCOMPARE(treeListing(path(QStringLiteral("dst"))), targetBefore);
    }
}

VEMO_TEST_MAIN(FileCopyTest)
#include "tst_filecopy.moc"
