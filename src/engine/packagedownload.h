#pragma once

#include "archivefile.h"
#include "updateinfo.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class QNetworkReply;

// The package download of one update run: one HEAD per archive to learn the
// total size, then one GET per archive into the work directory, at
// work directory + "/" + the URL path (the folders on the way are made).
// Each request is a QNetworkReply of its own, one at a time and in that
// order, plain HTTP to the download port of the link's host, through the
// proxy the system names for it; redirects are not followed, and a GET's
// body goes to the archive's file as it arrives.
//
// A GET that fails on the way (the connection cut, a transfer below the
// floor, or a 5xx answer) is tried again by itself, up to three times after a
// short pause that grows each time. When part of the archive has arrived, the
// new GET asks for the rest only (Range, with If-Range naming the version the
// part belongs to): a 206 for exactly that rest is appended, a 200 starts the
// file again. Any other failure, a status outside 200-299 included, ends the
// run at once. The floor: a request's whole header must arrive within a
// window of 30 s, and then at least 16 KiB of body in every window (which
// starts again with the header), so that no server, silent or dribbling,
// keeps the download (and the one-updater lock) for long.
//
// Signals, in a successful run of N archives: for each archive
// fileStarted(name) and any number of progress(percentage of all bytes
// announced), then finished(). bytes(done, total) comes once with 0 done when
// the sizes are known and then with every progress(); neither ever goes back.
// failed(text) ends a run at most once, after the last try; after abort()
// nothing more is emitted. A receiver may call abort() from any of them.
//
// When a record gives the archive's size and SHA-256, the archive must match
// them: a HEAD that announces another size, a GET that announces another
// size than its HEAD or sends more bytes than announced, and an archive
// whose SHA-256 differs each end the run with an error naming the package,
// and the archive is deleted. Each archive is checked whole, a resumed one
// too, before the next one starts, so finished() means that every archive
// was verified.
//
// A record of a delta package (UpdateInfo::isDeltaPackage()) may fail
// without ending the run: where another archive's failure would end it, its
// archive is deleted, dropped(index, text) says why, and the run goes on
// with the next archive (the full package is the fallback, fetched by the
// caller); the bytes it did not fetch leave the total. A later begin() is
// another round on the same counts: its sizes add to the total, the bytes
// done stay, and the percentage is taken afresh against the larger total.
class PackageDownload : public QObject
{
    Q_OBJECT

public:
    enum State {
        Idle = 0, // nothing requested yet, or every archive fetched
        Sizing = 1, // HEAD requests under way, sizes being summed
        Fetching = 2, // archives being downloaded one by one
        Aborted = 3, // cancelled or failed; final
    };

    // GETs of one archive at most: the first and three more.
    static constexpr int MaxTries = 4;

    explicit PackageDownload(const QString &workDir);
    ~PackageDownload() override;

    // Starts the run for these updates; the records must outlive it.
    void begin(const QVector<UpdateInfo> &updates);
    void abort();

    // The pause before the second try of a GET, 250 ms unless changed here;
    // it doubles before each further one.
    void setFirstRetryPause(int milliseconds) { m_firstRetryPauseMs = milliseconds; }
    // The window of the floor, 30 s unless changed here; the floor shrinks
    // with it, so the rate stays.
    void setStallWindow(int milliseconds) { m_floorTimer.setInterval(milliseconds); }

signals:
    void fileStarted(const QString &name);
    void progress(int done);
    void finished();
    void failed(const QString &text);
    void bytes(qint64 done, qint64 total);
    // The delta package of record number index could not be fetched: text
    // says why, in one line. Neither finished() nor failed() follows it.
    void dropped(int index, const QString &text);

private:
    // Sends the current request: a HEAD while sizing, else the GET of the
    // current archive, for the rest of it from 'range' when not empty.
    void send(const QByteArray &range = QByteArray());
    void headerReceived();
    void bodyReceived();
    void replyFinished();
    void checkFloor();
    // Moves the body that has arrived into the file; false when that ended
    // the request.
    bool writeBody();
    // A request failed on the way: another try, or the end of the run.
    void requestFailed(const QString &text, bool worthRetrying = true);
    void releaseReply();

    void countSize();
    void startFetching();
    // Starts the first archive from m_currentIndex on that was not dropped,
    // or ends the run when there is none.
    void fetchNext();
    void startArchive();
    // Sends the GET of the current archive: for the rest of it when part of
    // it is on disk and the server named its version, else for all of it.
    void requestArchive();
    void judgeArchiveResponse();
    bool restartArchive();
    // After a failed GET: another try after a pause, or the end of the run
    // with the reason when every try is used up.
    void retryOrFail(const QString &reason);
    void countBody();
    void reportProgress();
    void refuseResponse(int index);
    void stopWithError(const QString &text);
    // Stops because the archive's file cannot be opened or emptied.
    void stopSavingFailed();
    // Deletes the current archive, then stops with the error.
    void rejectArchive(const QString &text);
    // The current archive, a delta package, failed: it is dropped and the
    // run goes on.
    void dropArchive(const QString &text);
    bool verifyArchive();
    void archiveFetched();
    // The size the current archive must have: the record's, else what its
    // HEAD announced; -1 when neither is known.
    qint64 expectedSize() const;
    // What the archive of record number index adds to the total.
    qint64 countedSize(int index) const;
    QString currentName() const;

    const QString m_workDir;
    QVector<UpdateInfo> m_updates;
    State m_state = Idle;

    QNetworkAccessManager m_manager;
    // The request under way and the proxy it goes through (NoProxy when it
    // goes straight to the host); its header's status is judged once.
    QNetworkReply *m_reply = nullptr;
    QNetworkProxy m_proxy{QNetworkProxy::NoProxy};
    bool m_headerSeen = false;
    qint64 m_contentLength = -1; // of the answer; -1 when it has none
    qint64 m_bodyBytes = 0; // of the answer, written to the file
    QByteArray m_buffer;
    QTimer m_floorTimer;
    qint64 m_windowBytes = 0; // body bytes in the floor's current window

    // Sizing: how many HEAD requests have answered so far, which is also the
    // index of the one under way.
    int m_headsAnswered = 0;
    // Fetching: the archive being downloaded and its file.
    int m_currentIndex = 0;
    ArchiveFile m_outputFile;
    // Content-Length of each archive's HEAD; -1 where it had none.
    QVector<qint64> m_headLengths;
    // The delta packages that failed, by record.
    QVector<bool> m_dropped;

    // The current archive's tries. The file holds the first m_fileBytesDone
    // bytes of the version named by m_validator (its ETag or Last-Modified),
    // m_archiveSize long in all (-1 when not announced); the current GET's
    // body starts at m_requestOffset in the file.
    int m_tries = 0;
    QByteArray m_validator;
    qint64 m_archiveSize = -1;
    qint64 m_requestOffset = 0;
    QTimer m_retryTimer;
    int m_firstRetryPauseMs;

    qint64 m_fileBytesDone = 0; // of the current archive, already in m_bytesDone
    qint64 m_bytesDone = 0; // over the whole run, of the archives as they are on disk
    qint64 m_bytesTotal = 0; // sum of the sizes announced
    // Reported last: after a restart they hold until the bytes catch up.
    int m_percentage = 0;
    qint64 m_bytesReported = 0;
};

// Percentage of 'done' against 'total', truncated toward zero and computed
// without overflow for any byte count; not clamped, so more bytes than
// announced give more than 100 (at most INT_MAX). A total of 0 gives 0.
int downloadPercentage(qint64 done, qint64 total);
