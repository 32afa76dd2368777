#pragma once

#include "archivefile.h"

#include <QObject>
#include <QString>
#include <QVector>

class HttpClient;
class HttpResponseHeader;
class UpdateInfo;

// The package download of one update run: one HEAD per archive to learn the
// total size, then one GET per archive into the work directory, at
// work directory + "/" + the URL path.
//
// The engine owns the HTTP client and hands its signals on to the three
// handlers below. Signals, in a successful run of N archives: for each
// archive fileStarted(name) and any number of progress(percentage of all
// bytes announced), then finished(). bytes(done, total) comes once with 0 done
// when the sizes are known and then with every progress(). failed(text) ends
// a run at most once; after abort() nothing more is emitted.
//
// When a record gives the archive's size and SHA-256, the archive must match
// them: a HEAD that announces another size, a GET that announces another
// size than its HEAD or sends more bytes than announced, and an archive
// whose SHA-256 differs each end the run with an error naming the package,
// and the archive is deleted. Each archive is checked before the next one
// starts, so finished() means that every archive was verified.
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

    PackageDownload(HttpClient &http, const QString &workDir);

    // Starts the run for these updates; the records must outlive it.
    void begin(const QVector<UpdateInfo *> &updates);
    void abort();

    State state() const { return m_state; }

    void responseHeaderReceived(const HttpResponseHeader &resp);
    void dataReadProgress(int done, int total);
    void requestFinished(int id, bool error);

signals:
    void fileStarted(const QString &name);
    void progress(int done);
    void finished();
    void failed(const QString &text);
    void bytes(qint64 done, qint64 total);

private:
    void countSize(const HttpResponseHeader &resp);
    void startFetching();
    void startArchive();
    void refuseResponse(int index, const HttpResponseHeader &resp);
    void stopWithError(const QString &text);
    // Deletes the current archive, then stops with the error.
    void rejectArchive(const QString &text);
    bool verifyArchive();
    // The size the current archive must have: the record's, else what its
    // HEAD announced; -1 when neither is known.
    qint64 expectedSize() const;

    HttpClient &m_http;
    const QString m_workDir;
    QVector<UpdateInfo *> m_updates;
    State m_state = Idle;

    // Sizing: how many HEAD requests have answered so far (they answer in
    // list order, so this is also the index of the one awaited next).
    int m_headsAnswered = 0;
    // Fetching: the archive being downloaded, its GET and its file.
    int m_currentIndex = 0;
    int m_currentRequestId = 0;
    ArchiveFile m_outputFile;
    // Content-Length of each archive's HEAD; -1 where it had none.
    QVector<qint64> m_headLengths;

    int m_fileBytesDone = 0; // of the current archive, already in m_bytesDone
    int m_bytesDone = 0; // over the whole run
    int m_bytesTotal = 0; // sum of the sizes the HEAD responses announced
};

// Percentage of 'done' against 'total', computed with a 64-bit intermediate and
// truncated toward zero; not clamped, so more bytes than announced give more
// than 100. A total of 0 gives 0.
int downloadPercentage(int done, int total);
