#pragma once

#include <QLockFile>
#include <QString>

// One updater at a time for each user: a QLockFile in the state directory.
// The relocating instance takes it before it touches the work directory and
// hands it to the instance it starts, which holds it until it exits; a
// Retry restart hands it on the same way. A lock whose process is gone is
// taken over.
//
// Handing over: while still holding the lock, the holder names its
// successor's process id in a reservation beside the lock file and only then
// lets go. Whoever takes the lock next reads the reservation: a live,
// recent successor other than itself means that the lock is promised away,
// and it lets go again and refuses. So no third updater gets in between the
// two, and a successor that died before it took the lock leaves nothing that
// blocks later starts.
class UpdaterLock
{
public:
    // The lock in the given directory, the state directory.
    explicit UpdaterLock(const QString &directory);
    ~UpdaterLock();

    UpdaterLock(const UpdaterLock &) = delete;
    UpdaterLock &operator=(const UpdaterLock &) = delete;

    // Takes the lock, waiting up to waitMs for a holder that is about to
    // let go. False when another updater holds it (or it is promised to
    // one); *problem then says so, ready for the user, as it does when the
    // state directory cannot be used.
    bool acquire(int waitMs, QString *problem);
    // True once acquire() took a lock that was promised to this process: the
    // run that an earlier updater began goes on here.
    bool wasHandedOver() const { return m_handedOver; }

    // Promises the lock to the process pid (the holder's successor). Call it
    // while holding the lock, right before letting go of it.
    static void handOverTo(qint64 pid, const QString &directory);

private:
    QString m_directory;
    QLockFile m_lock;
    bool m_handedOver = false;
};
