#include "installjournal.h"

#include "engine/statedirectory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isCleanAbsolute(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) && QDir::cleanPath(path) == path;
}

// Below the root, outside the run's backups: where a package may create.
bool isInsideRoot(const QString &root, const QString &path)
{
    const QString prefix = root == QLatin1String("/") ? root : root + QLatin1Char('/');
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
        return isInsideRoot(package.root, package.createdFiles.last());
    const QString &dir = package.createdDirectories.last();
    return isInsideRoot(package.root, dir)
           || (isCleanAbsolute(dir)
               && (dir == package.root || dir == QLatin1String("/")
                   || package.root.startsWith(dir + QLatin1Char('/'))));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QString InstallJournal::backupFolderPrefix()
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
        ::close(m_fd);
}

bool InstallJournal::fail(const QString &what)
{
    m_error =
        QCoreApplication::translate("translation", "Cannot write the update journal %1: %2", "nc")
            .arg(m_path, what);
    return false;
}

bool InstallJournal::append(const QByteArray &line, bool flush)
{
    if (m_fd < 0) {
        const QString directory = QFileInfo(m_path).absolutePath();
        if (!QFileInfo(directory).isDir()) {
            QDir().mkpath(QFileInfo(directory).absolutePath());
            ::mkdir(QFile::encodeName(directory).constData(), S_IRWXU);
        }
        m_fd = ::open(QFile::encodeName(m_path).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return fail(qt_error_string(errno));
        // The header is on the disk, and so is the file's name in its
        // directory, before the first change to an install root.
        if (!writeAll(m_fd, Header + ' ' + m_runId.toLatin1() + '\n') || ::fsync(m_fd) != 0
            || !StateDirectory::syncDirectory(directory))
            return fail(qt_error_string(errno));
    }
    if (!writeAll(m_fd, line + '\n') || (flush && ::fdatasync(m_fd) != 0))
        return fail(qt_error_string(errno));
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
    return ::fsync(file.handle()) == 0;
}

bool InstallJournal::remove()
{
    // Only a journal this run wrote: one found in place belongs to a run
    // that was never taken back.
    if (m_fd < 0)
        return true;
    ::close(m_fd);
    m_fd = -1;
    if (::unlink(QFile::encodeName(m_path).constData()) != 0 && errno != ENOENT)
        return fail(qt_error_string(errno));
    StateDirectory::syncDirectory(QFileInfo(m_path).absolutePath());
    return true;
}

InstallJournal::Contents InstallJournal::read(const QString &path)
{
    Contents contents;
    QFile file(path);
    if (!file.exists())
        return contents;
    if (!file.open(QIODevice::ReadOnly)) {
        contents.state = State::Unreadable;
        contents.problem = file.errorString();
        return contents;
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    // The last piece follows the last line break: empty, or a line that a
    // crash cut short, whose change was never made.
    lines.removeLast();

    contents.state = State::Empty;
    if (lines.isEmpty() || !lines.first().startsWith(Header + ' '))
        return contents; // the header never got to the disk: nothing was changed

    const auto invalid = [&contents, &lines](qsizetype n) {
        contents.state = State::Unreadable;
        contents.problem =
            QCoreApplication::translate("translation", "line %1 is not valid: %2", "nc")
                .arg(n + 1)
                .arg(QString::fromUtf8(lines.at(n).left(200)));
        return contents;
    };
    // The backups are named after the run's id.
    const QByteArray runId = lines.first().mid(Header.size() + 1);
    if (!isRunId(runId))
        return invalid(0);

    contents.state = State::Open;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QList<QByteArray> fields = lines.at(n).split(' ');
        const QByteArray &kind = fields.first();
        bool numbered = fields.size() >= 2;
        const int index = numbered ? fields.at(1).toInt(&numbered) : -1;
        Package *package = nullptr;
        for (Package &known : contents.packages) {
            if (known.index == index)
                package = &known;
        }

        bool valid = true;
        if (kind == PackageLine && numbered && fields.size() == 4 && !package) {
            contents.packages.append(
                Package{index, decoded(fields.at(2)), decoded(fields.at(3)), {}, {}});
            valid = isPlausible(kind, contents.packages.last(), runId);
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
            return invalid(n);
    }
    return contents;
}
