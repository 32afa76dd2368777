#include "installjournal.h"

#include "engine/statedirectory.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>

namespace {

const QByteArray Header = "vemo-update-journal 1";
const QLatin1String BackupFolderPrefix(".vemo-backup-");
const QByteArray PackageLine = "package";
const QByteArray DirectoryLine = "dir";
const QByteArray FileLine = "file";
const QByteArray InstalledLine = "installed";
const QByteArray FinishedLine = "finished";
const QByteArray RolledBackLine = "rolled-back";

// Paths go in percent-encoded, so that no name can break a line.
QByteArray encoded(const QString &path)
{
    return path.toUtf8().toPercentEncoding("/");
}

QString decoded(const QByteArray &field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

// A run names its backups after its id, so the id must be a plain word.
bool isRunId(const QByteArray &id)
{
    if (id.isEmpty())
        return false;
    for (const char c : id) {
        if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
            return false;
    }
    return true;
}

// An absolute path as the installer writes it: from "/" on Linux, from a
// drive ("C:/") or a share ("//server/share/") on Windows.
bool startsAbsolute(const QString &path)
{
#ifdef Q_OS_WIN
    if (path.startsWith(QLatin1String("//"))) {
        // Not a device's namespace ("//./", "//?/"), which no run writes.
        const qsizetype shareStart = path.indexOf(QLatin1Char('/'), 2) + 1;
        const QStringView server = QStringView(path).mid(2, shareStart - 3);
        return shareStart > 3 && shareStart < path.size() && path.at(shareStart) != QLatin1Char('/')
               && server != u"." && server != u"?";
    }
    return path.size() >= 3 && path.at(0).isLetter() && path.at(0).unicode() < 128
           && path.at(1) == QLatin1Char(':') && path.at(2) == QLatin1Char('/');
#else
    return path.startsWith(QLatin1Char('/'));
#endif
}

// No run writes a NUL: the system would take the path for its part before
// it, another place than the one checked here.
bool isCleanAbsolute(const QString &path)
{
    return startsAbsolute(path) && QDir::cleanPath(path) == path && !path.contains(QChar(0));
}

// Below the root, outside the run's backups: where a package may create.
bool isInsideRoot(const QString &root, const QString &path)
{
    // A file system's root ("/", "C:/") already ends with the separator.
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return isCleanAbsolute(path) && path.size() > prefix.size() && path.startsWith(prefix)
           && !path.mid(prefix.size()).startsWith(BackupFolderPrefix);
}

// Recovery deletes, moves and empties what the journal names, so every
// place in it must be one that the run could have written: its backups
// exactly where the installer puts them, its files inside their root, and
// its folders inside their root or on the way to it (a plug-in folder the
// run made).
bool isPlausible(const QByteArray &kind, const InstallJournal::Package &package,
                 const QByteArray &runId)
{
    if (kind == PackageLine) {
        return isCleanAbsolute(package.root)
               && package.backupDir
                      == QDir::cleanPath(package.root + QLatin1Char('/')
                                         + BackupFolderPrefix
                                         + QString::fromLatin1(runId) + QLatin1Char('/')
                                         + QString::number(package.index));
    }
    if (kind == FileLine)
        return isInsideRoot(package.root, package.createdFiles.at(package.createdFiles.size() - 1));
    const QString &dir = package.createdDirectories.last();
    return isInsideRoot(package.root, dir)
           || (isCleanAbsolute(dir)
               && (dir == package.root || dir.endsWith(QLatin1Char('/'))
                   || package.root.startsWith(dir + QLatin1Char('/'))));
}

} // namespace

// A run writes a line per file and folder it creates: "file", the package's
// index and the absolute path, percent-encoded. Archive entries are shorter
// than 256 bytes, so with the install root in front such a line stays under
// about 400 bytes even for a deep root; 64 MiB hold some 170 000 lines of
// that worst length and over half a million of a common one (a root of 40
// bytes, an entry of 60): more than the largest update. Anything larger was
// not written by a run, and reading it would only cost memory.
const qint64 InstallJournal::MaxSize = 64 * 1024 * 1024;

QLatin1String InstallJournal::backupFolderPrefix()
{
    return BackupFolderPrefix;
}

QString InstallJournal::pathIn(const QString &stateDir)
{
    return stateDir + QStringLiteral("install-journal");
}

InstallJournal::InstallJournal(const QString &path)
    : m_path(path)
    , m_runId(QString::number(QDateTime::currentMSecsSinceEpoch(), 36))
{
}

InstallJournal::~InstallJournal()
{
    if (m_fd >= 0)
        Platform::closeFile(m_fd);
}

bool InstallJournal::fail(const QString &what)
{
    m_error =
        QCoreApplication::translate("InstallJournal", "Cannot write the update journal %1: %2")
            .arg(QDir::toNativeSeparators(m_path), what);
    return false;
}

bool InstallJournal::append(const QByteArray &line, bool flush)
{
    if (m_fd < 0) {
        const QString directory = QFileInfo(m_path).absolutePath();
        if (!QFileInfo(directory).isDir()) {
            QDir().mkpath(QFileInfo(directory).absolutePath());
            Platform::makeDirectory(Platform::encodeName(directory), Platform::OwnerOnlyMode);
        }
        m_fd = Platform::createForAppending(Platform::encodeName(m_path), 0600);
        if (m_fd < 0)
            return fail(Platform::systemError(errno));
        // The header is on the disk, and so is the file's name in its
        // directory, before the first change to an install root.
        if (!Platform::writeAll(m_fd, Header + ' ' + m_runId.toLatin1() + '\n')
            || !Platform::sync(m_fd) || !StateDirectory::syncDirectory(directory))
            return fail(Platform::systemError(errno));
    }
    if (!Platform::writeAll(m_fd, line + '\n') || (flush && !Platform::syncData(m_fd)))
        return fail(Platform::systemError(errno));
    return true;
}

bool InstallJournal::addPackage(int index, const QString &root, const QString &backupDir)
{
    return append(PackageLine + ' ' + QByteArray::number(index) + ' ' + encoded(root) + ' '
                      + encoded(backupDir),
                  true);
}

bool InstallJournal::addCreatedDirectory(int index, const QString &path)
{
    return append(DirectoryLine + ' ' + QByteArray::number(index) + ' ' + encoded(path), false);
}

bool InstallJournal::addCreatedFile(int index, const QString &path)
{
    return append(FileLine + ' ' + QByteArray::number(index) + ' ' + encoded(path), false);
}

bool InstallJournal::packageInstalled(int index)
{
    return append(InstalledLine + ' ' + QByteArray::number(index), true);
}

bool InstallJournal::markFinished()
{
    return append(FinishedLine, true);
}

bool InstallJournal::markRolledBack()
{
    return append(RolledBackLine, true);
}

bool InstallJournal::markRolledBack(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray bytes = file.readAll();
    const qint64 complete = bytes.lastIndexOf('\n') + 1;
    if (!file.resize(complete) || !file.seek(complete))
        return false;
    const QByteArray line = RolledBackLine + '\n';
    if (file.write(line) != line.size() || !file.flush())
        return false;
    return Platform::sync(file.handle());
}

bool InstallJournal::remove()
{
    // Only a journal this run wrote: one found in place belongs to a run
    // that was never taken back.
    if (m_fd < 0)
        return true;
    Platform::closeFile(m_fd);
    m_fd = -1;
    if (!Platform::removeFile(Platform::encodeName(m_path)) && errno != ENOENT)
        return fail(Platform::systemError(errno));
    StateDirectory::syncDirectory(QFileInfo(m_path).absolutePath());
    return true;
}

InstallJournal::Contents InstallJournal::read(const QString &path)
{
    Contents contents;
    // Never waits (a FIFO opens at once and is refused) and never follows
    // a link: only a regular file in the state folder is a journal.
    Platform::FileHandle handle(Platform::openForReadingNoFollow(Platform::encodeName(path)));
    const int fd = handle.get();
    const int openError = fd < 0 ? errno : 0;
    if (openError == ENOENT)
        return contents;
    Platform::FileStatus info;
    if (fd >= 0 && !Platform::fileStatus(fd, &info))
        info.mode = 0;
    // Windows opens no folder for reading, so a folder shows as EISDIR
    // there, where POSIX opens it and its status tells.
    if (openError == ELOOP || openError == EISDIR || (fd >= 0 && !info.isRegular())) {
        contents.state = State::Refused;
        contents.problem =
            QCoreApplication::translate("InstallJournal", "it is not a regular file");
        return contents;
    }
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        contents.state = State::Unreadable;
        contents.problem = fd < 0 ? Platform::systemError(openError) : file.errorString();
        return contents;
    }
    handle.release();
    // No more than the bound, even of a file that grows meanwhile.
    const QByteArray bytes = info.size <= MaxSize ? file.read(qint64(info.size) + 1) : QByteArray();
    if (info.size > MaxSize || bytes.size() > MaxSize) {
        contents.state = State::Refused;
        contents.problem = QCoreApplication::translate(
                               "InstallJournal", "it is larger than any update writes (%1 bytes)")
                               .arg(qMax(qint64(info.size), qint64(bytes.size())));
        return contents;
    }
    // Lines one at a time: a list of them all would cost a block per line.
    // What follows the last line break is empty, or a line that a crash
    // cut short, whose change was never made.
    qsizetype lineStart = 0;
    const auto nextLine = [&bytes, &lineStart](QByteArray *line) {
        const qsizetype end = bytes.indexOf('\n', lineStart);
        if (end < 0)
            return false;
        *line = bytes.mid(lineStart, end - lineStart);
        lineStart = end + 1;
        return true;
    };

    contents.state = State::Empty;
    QByteArray line;
    if (!nextLine(&line) || !line.startsWith(Header + ' '))
        return contents; // the header never got to the disk: nothing was changed

    qsizetype n = 0;
    const auto invalid = [&contents, &line, &n]() {
        contents.state = State::Refused;
        contents.problem = QCoreApplication::translate("InstallJournal", "line %1 is not valid: %2")
                               .arg(n + 1)
                               .arg(QString::fromUtf8(line.left(200)));
        return contents;
    };
    // The backups are named after the run's id.
    const QByteArray runId = line.mid(Header.size() + 1);
    if (!isRunId(runId))
        return invalid();

    contents.state = State::Open;
    // Where each package's index stands in the list: a journal may name
    // many (a planted one), and each line looks its package up.
    QHash<int, qsizetype> positions;
    while (nextLine(&line)) {
        ++n;
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray &kind = fields.first();
        bool numbered = fields.size() >= 2;
        const int index = numbered ? fields.at(1).toInt(&numbered) : -1;
        const auto known = positions.constFind(index);
        Package *package = known == positions.cend() ? nullptr : &contents.packages[*known];

        bool valid = true;
        if (kind == PackageLine && numbered && fields.size() == 4 && !package) {
            // Only a plausible package is kept: a refusal names its backups.
            Package added{index, decoded(fields.at(2)), decoded(fields.at(3)), {}, {}};
            valid = isPlausible(kind, added, runId);
            if (valid) {
                positions.insert(index, contents.packages.size());
                contents.packages.append(std::move(added));
            }
        } else if (kind == DirectoryLine && package && fields.size() == 3) {
            package->createdDirectories.append(decoded(fields.at(2)));
            valid = isPlausible(kind, *package, runId);
        } else if (kind == FileLine && package && fields.size() == 3) {
            package->createdFiles.append(decoded(fields.at(2)));
            valid = isPlausible(kind, *package, runId);
        } else if (kind == InstalledLine && package && fields.size() == 2) {
            // Progress only: what the package did is taken back all the same.
        } else if (kind == FinishedLine && fields.size() == 1) {
            contents.state = State::Finished;
        } else if (kind == RolledBackLine && fields.size() == 1) {
            contents.state = State::RolledBack;
        } else {
            valid = false;
        }
        if (!valid)
            return invalid();
    }
    return contents;
}
