#include "updaterlock.h"

#include "platform/fileio.h"
#include "platform/processes.h"

#include "statedirectory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <ctime>

namespace {

const QLatin1String LockName("updater.lock");
const QLatin1String ReservationName("updater.lock.next");
// A successor that has not taken the lock this long after it was promised
// to it never will.
constexpr qint64 ReservationLifetimeMs = 60000;

QString withSlash(const QString &directory)
{
    return directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
}

// Making a lock file (creating it, then writing its holder into it) takes
// far less than this.
constexpr time_t HolderlessLockAgeS = 10;

// Two lock files that QLockFile would take for held for good, removed
// before it looks; removeStaleLockFile() refuses while a live QLockFile
// holds the file (it keeps it locked, on Windows open without leave to
// delete), so a lock in use is never lost:
// - one that names this very process: its writer has died and the system
//   has given its number on to this updater, which QLockFile finds running
//   under the same name (Windows hands out numbers of ended processes
//   again, and a restart, or Wine's server started anew, begins them from
//   the start, while the state folder keeps the file);
// - one that names no holder (the system went down between creating and
//   writing it, or it is not a lock file at all), once it is older than any
//   making of a lock takes.
void removeDeadLock(QLockFile &lock, const QString &path)
{
    qint64 pid = 0;
    QString host;
    QString application;
    Platform::FileStatus info;
    if (lock.getLockInfo(&pid, &host, &application)) {
        // The state folder is this machine's own; the host's name in the
        // file is left aside, as the one QLockFile writes on Windows (the
        // NetBIOS name, in capitals) need not be the one QSysInfo gives.
        if (pid == QCoreApplication::applicationPid())
            lock.removeStaleLockFile();
        return;
    }
    if (!Platform::nameStatus(Platform::encodeName(path), &info)
        || std::time(nullptr) - info.modifiedS < HolderlessLockAgeS)
        return;
    lock.removeStaleLockFile();
}

// What stands at path when it is not a regular file (a FIFO, a folder, a
// link): reading it could wait for ever, and QLockFile takes whatever it
// cannot read for a lock held by another updater.
bool isSpecial(const QString &path)
{
    Platform::FileStatus info;
    return Platform::nameStatus(Platform::encodeName(path), &info) && !info.isRegular();
}

// The process the lock is promised to, or 0 when there is no live, recent
// promise.
qint64 promisedTo(const QString &path)
{
    if (isSpecial(path))
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().split('\n');
    if (fields.size() < 2)
        return 0;
    const qint64 pid = fields.at(0).toLongLong();
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - fields.at(1).toLongLong();
    if (since < 0 || since > ReservationLifetimeMs || !Platform::processIsAlive(pid))
        return 0;
    return pid;
}

QString anotherUpdate()
{
    return QCoreApplication::translate(
        "UpdaterLock",
        "Another update of the messenger is in progress. Wait until it has finished, then "
        "start the update again if it is still needed.");
}

} // namespace

UpdaterLock::UpdaterLock(const QString &directory)
    : m_directory(withSlash(directory))
    , m_lock(m_directory + LockName)
{
    // Only a dead holder makes the lock stale, never its age: an update
    // may take long.
    m_lock.setStaleLockTime(0);
}

UpdaterLock::~UpdaterLock() = default;

bool UpdaterLock::acquire(int waitMs, QString *problem)
{
    if (!StateDirectory::prepare(m_directory, problem))
        return false;
    const QString path = m_directory + LockName;
    if (isSpecial(path)) {
        if (problem) {
            *problem = QCoreApplication::translate(
                           "UpdaterLock",
                           "The lock file %1 is not a regular file, so the updater cannot tell "
                           "whether another update is in progress. Remove it and start the "
                           "update again.")
                           .arg(QDir::toNativeSeparators(path));
        }
        return false;
    }
    removeDeadLock(m_lock, path);
    if (!m_lock.tryLock(waitMs)) {
        if (problem) {
            *problem =
                m_lock.error() == QLockFile::LockFailedError
                    ? anotherUpdate()
                    : QCoreApplication::translate("UpdaterLock", "Cannot create the lock file %1.")
                          .arg(QDir::toNativeSeparators(m_directory + LockName));
        }
        return false;
    }

    const QString reservation = m_directory + ReservationName;
    const qint64 successor = promisedTo(reservation);
    if (successor != 0 && successor != QCoreApplication::applicationPid()) {
        m_lock.unlock();
        if (problem)
            *problem = anotherUpdate();
        return false;
    }
    m_handedOver = successor == QCoreApplication::applicationPid();
    QFile::remove(reservation);
    return true;
}

void UpdaterLock::handOverTo(qint64 pid, const QString &directory)
{
    QSaveFile file(withSlash(directory) + ReservationName);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QByteArray::number(pid) + '\n'
               + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n');
    file.commit();
}
