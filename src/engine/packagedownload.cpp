#include "packagedownload.h"

#include "buildconfig.h"
#include "httpclient.h"
#include "systemproxy.h"
#include "updateinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <climits>

namespace {

// The pause before the second try; it doubles before each further one.
constexpr int FirstRetryPauseMs = 250;

QUrl packageUrl(const UpdateInfo &update)
{
    return QUrl(update.link());
}

// The archive is written to work directory + "/" + the URL's path, so a path
// that names no file or climbs out of the work directory is refused, and so
// is a link without a host to ask.
bool isPackageUrl(const QUrl &url)
{
    const QString path = url.path();
    if (path.isEmpty() || url.host().isEmpty())
        return false;
    const QStringList segments = path.split(QLatin1Char('/'));
    return !segments.contains(QStringLiteral(".."));
}

// What a later request names to get the rest of this very version: a strong
// ETag, else the modification time. A weak ETag may not be used for that.
QByteArray versionValidator(const HttpResponseHeader &resp)
{
    const QByteArray etag = resp.value("ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return resp.value("Last-Modified").trimmed();
}

// Failures that another try cannot mend: the disk, the user, the proxy's
// settings.
bool isWorthRetrying(HttpClient::Error error)
{
    return error != HttpClient::DeviceWriteError && error != HttpClient::Aborted
        && error != HttpClient::ProxyError;
}

} // namespace

int downloadPercentage(qint64 done, qint64 total)
{
    if (total <= 0 || done <= 0)
        return 0;
    // Whole hundreds first, so that done * 100 is never formed for counts
    // where it would not fit.
    const qint64 percentage = total <= LLONG_MAX / 100
        ? done / total * 100 + done % total * 100 / total
        : done / (total / 100);
    return int(qMin<qint64>(percentage, INT_MAX));
}

PackageDownload::PackageDownload(HttpClient &http, const QString &workDir)
    : m_http(http)
    , m_workDir(workDir)
    , m_firstRetryPauseMs(FirstRetryPauseMs)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &PackageDownload::requestArchive);
}

void PackageDownload::begin(const QVector<UpdateInfo> &updates)
{
    m_updates = updates;

    // Every address is checked before anything is requested: a path with a
    // ".." segment would put the archive outside the work directory.
    for (const UpdateInfo &update : std::as_const(m_updates)) {
        if (!isPackageUrl(packageUrl(update))) {
            stopWithError(
                QCoreApplication::translate(
                    "translation",
                    "Cannot download package %1: its address %2 is not a valid package address.",
                    "nc")
                    .arg(update.name(), update.link()));
            return;
        }
    }

    m_state = Sizing;
    m_headsAnswered = 0;
    m_headLengths.clear();
    for (const UpdateInfo &update : std::as_const(m_updates)) {
        const QUrl url = packageUrl(update);
        // Always plain HTTP on the download port, whatever scheme or port the
        // link names.
        m_http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
        m_http.head(url.path());
    }
}

void PackageDownload::abort()
{
    m_state = Aborted;
    m_retryTimer.stop();
    m_http.abort();
}

void PackageDownload::responseHeaderReceived(const HttpResponseHeader &resp)
{
    switch (m_state) {
    case Sizing:
        if (resp.isSuccess())
            countSize(resp);
        else
            refuseResponse(m_headsAnswered, resp);
        return;
    case Fetching:
        // The current archive's GET is the only response judged here; its
        // body goes to the archive's file as it arrives.
        if (m_http.currentId() == m_currentRequestId)
            judgeArchiveResponse(resp);
        return;
    case Idle:
    case Aborted:
        return;
    }
}

void PackageDownload::countSize(const HttpResponseHeader &resp)
{
    const UpdateInfo &update = m_updates.at(m_headsAnswered);
    const qint64 announced = resp.hasContentLength() ? resp.contentLength() : -1;
    const qint64 size = update.archiveBytes();
    if (size >= 0 && announced >= 0 && announced != size) {
        stopWithError(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server gives its size as "
                          "%2 bytes, the update server as %3 bytes.",
                          "nc")
                          .arg(update.name())
                          .arg(announced)
                          .arg(size));
        return;
    }
    m_headLengths.append(announced);
    m_bytesTotal += size >= 0 ? size : qMax<qint64>(announced, 0);
    ++m_headsAnswered;
    // No request waits behind this one: it was the last HEAD. Its own
    // completion is still to come and must not count as archive 0's.
    if (!m_http.hasPendingRequests())
        startFetching();
}

void PackageDownload::judgeArchiveResponse(const HttpResponseHeader &resp)
{
    const int status = resp.statusCode();
    if (m_requestOffset > 0 && status == 206) {
        const qint64 size = expectedSize() >= 0 ? expectedSize() : m_archiveSize;
        qint64 first = 0;
        qint64 last = 0;
        qint64 length = 0;
        const bool theRest = resp.contentRange(&first, &last, &length)
            && first == m_requestOffset && last == length - 1 && (size < 0 || length == size);
        if (!theRest)
            stopWithError(QCoreApplication::translate(
                              "translation",
                              "Cannot download package %1: the server sent another part of "
                              "the archive than the one asked for.",
                              "nc")
                              .arg(currentName()));
        return;
    }
    if (resp.isSuccess()) {
        const qint64 headLength = m_headLengths.at(m_currentIndex);
        if (resp.hasContentLength() && headLength >= 0 && resp.contentLength() != headLength) {
            rejectArchive(QCoreApplication::translate(
                              "translation",
                              "Cannot download package %1: the download server gave its size "
                              "as %2 bytes and then as %3 bytes.",
                              "nc")
                              .arg(currentName())
                              .arg(headLength)
                              .arg(resp.contentLength()));
            return;
        }
        // The whole archive, from its first byte: what an earlier try left
        // in the file goes, and this answer's version is the one to resume.
        if (m_fileBytesDone > 0 && !restartArchive())
            return;
        m_requestOffset = 0;
        m_validator = versionValidator(resp);
        m_archiveSize = resp.hasContentLength() ? resp.contentLength() : -1;
        return;
    }
    if (status >= 500 && status <= 599) {
        retryOrFail(QCoreApplication::translate("translation", "The server answered %1 %2.", "nc")
                        .arg(QString::number(status), resp.reasonPhrase()));
        return;
    }
    refuseResponse(m_currentIndex, resp);
}

bool PackageDownload::restartArchive()
{
    if (!m_outputFile.restartDownload()) {
        stopSavingFailed();
        return false;
    }
    m_bytesDone -= m_fileBytesDone;
    m_fileBytesDone = 0;
    return true;
}

void PackageDownload::startFetching()
{
    m_state = Fetching;
    m_currentIndex = 0;
    emit bytes(0, m_bytesTotal);
    // A receiver may have cancelled the run.
    if (m_state != Fetching)
        return;
    startArchive();
}

void PackageDownload::startArchive()
{
    const UpdateInfo &update = m_updates.at(m_currentIndex);
    const QUrl url = packageUrl(update);

    emit fileStarted(update.name());
    // A receiver of fileStarted may have cancelled the run.
    if (m_state != Fetching)
        return;

    m_fileBytesDone = 0;
    m_tries = 0;
    m_validator.clear();
    m_archiveSize = -1;

    const QString path = QString("%1/%2").arg(m_workDir, url.path());
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        stopWithError(QCoreApplication::translate("translation",
                                                  "Cannot create folder %1 for package %2.", "nc")
                          .arg(QDir::toNativeSeparators(folder), currentName()));
        return;
    }
    m_outputFile.setFileName(path);
    if (!m_outputFile.openForDownload()) {
        stopSavingFailed();
        return;
    }
    requestArchive();
}

void PackageDownload::requestArchive()
{
    if (m_state != Fetching)
        return;
    ++m_tries;

    HttpClient::Fields fields;
    // The file must hold exactly the bytes counted, or the rest would be
    // appended at the wrong place; then the whole archive is asked for.
    if (m_fileBytesDone > 0 && !m_validator.isEmpty() && m_outputFile.pos() == m_fileBytesDone) {
        m_requestOffset = m_fileBytesDone;
        fields << qMakePair(QByteArray("Range"),
                            "bytes=" + QByteArray::number(m_fileBytesDone) + '-')
               << qMakePair(QByteArray("If-Range"), m_validator);
    } else {
        m_requestOffset = 0;
    }

    const QUrl url = packageUrl(m_updates.at(m_currentIndex));
    m_http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
    m_currentRequestId = m_http.get(url.path(), &m_outputFile, fields);
}

void PackageDownload::dataReadProgress(qint64 done, qint64 total)
{
    Q_UNUSED(total);
    if (m_state != Fetching)
        return;

    const qint64 fileBytes = m_requestOffset + done;
    // A server that sends more than announced is cut off: no endless data.
    const qint64 expected = expectedSize();
    if (expected >= 0 && fileBytes > expected) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server sent more than the "
                          "%2 bytes announced.",
                          "nc")
                          .arg(currentName())
                          .arg(expected));
        return;
    }
    m_bytesDone += fileBytes - m_fileBytesDone;
    m_fileBytesDone = fileBytes;
    reportProgress();
}

void PackageDownload::reportProgress()
{
    // After a restart the bytes on disk are fewer than before; the bar waits
    // for them to catch up instead of going back.
    m_percentage = qMax(m_percentage, downloadPercentage(m_bytesDone, m_bytesTotal));
    m_bytesReported = qMax(m_bytesReported, m_bytesDone);
    emit progress(m_percentage);
    if (m_state == Fetching)
        emit bytes(m_bytesReported, m_bytesTotal);
}

qint64 PackageDownload::expectedSize() const
{
    const qint64 size = m_updates.at(m_currentIndex).archiveBytes();
    return size >= 0 ? size : m_headLengths.value(m_currentIndex, -1);
}

bool PackageDownload::verifyArchive()
{
    const UpdateInfo &update = m_updates.at(m_currentIndex);
    const qint64 expected = expectedSize();
    const qint64 received = m_outputFile.receivedSize();
    if (expected >= 0 && received != expected) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server sent %2 bytes "
                          "instead of the %3 bytes announced.",
                          "nc")
                          .arg(update.name())
                          .arg(received)
                          .arg(expected));
        return false;
    }
    // The digest covers the whole file also after a resume: the file only
    // ever grows at its end, by what is written through it (the rest of a
    // resumed archive starts exactly where the earlier part ends), and a
    // restart empties it along with the digest.
    const QByteArray sha256 = update.archiveSha256();
    if (!sha256.isEmpty() && m_outputFile.hexDigest() != sha256) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "The downloaded package %1 is not the one the update server "
                          "announced: its checksum differs. Nothing was installed.",
                          "nc")
                          .arg(update.name()));
        return false;
    }
    return true;
}

void PackageDownload::requestFinished(int id, bool error)
{
    if (error) {
        if (m_state == Aborted || m_droppingRequest)
            return;
        if (m_state == Fetching && id == m_currentRequestId && isWorthRetrying(m_http.error())) {
            // Every byte announced is on disk: a server whose length promised
            // more than the archive holds ends short, and asking it for bytes
            // past the end could only fail. The checks on the whole file judge.
            const qint64 expected = expectedSize();
            if (expected > 0 && m_fileBytesDone == expected)
                archiveFetched();
            else
                retryOrFail(m_http.errorString());
        } else if (m_state == Fetching) {
            stopWithError(m_http.errorString());
        } else if (m_state == Sizing && m_http.error() != HttpClient::ProxyError) {
            // A bare "Connection refused" would not say what could not be
            // reached; the proxy's own texts name the proxy.
            stopWithError(
                QCoreApplication::translate("translation", "Cannot download package %1: %2", "nc")
                    .arg(m_updates.at(m_headsAnswered).name(), m_http.errorString()));
        } else {
            emit failed(m_http.errorString());
        }
        return;
    }
    // Completions of setHost and HEAD requests, and the last HEAD's after
    // fetching began, are not archives.
    if (m_state != Fetching || id != m_currentRequestId)
        return;
    archiveFetched();
}

void PackageDownload::archiveFetched()
{
    m_outputFile.close();
    if (!verifyArchive())
        return;
    ++m_currentIndex;
    if (m_currentIndex < m_updates.size()) {
        startArchive();
    } else {
        m_state = Idle;
        emit finished();
    }
}

void PackageDownload::retryOrFail(const QString &reason)
{
    if (m_tries >= MaxTries) {
        stopWithError(QCoreApplication::translate("translation",
                                                  "Cannot download package %1 after %2 tries. %3",
                                                  "nc")
                          .arg(currentName(), QString::number(m_tries), reason));
        return;
    }
    // A GET answered with a 5xx is still running: it is dropped (its error
    // completion comes at once) before its body reaches the file.
    m_droppingRequest = true;
    m_http.abort();
    m_droppingRequest = false;
    m_retryTimer.start(m_firstRetryPauseMs << (m_tries - 1));
}

void PackageDownload::refuseResponse(int index, const HttpResponseHeader &resp)
{
    const QString name = m_updates.at(index).name();
    const QString status = QString::number(resp.statusCode());
    const QNetworkProxy proxy = m_http.proxy();
    // An error page is neither a size to count nor an archive to keep.
    if (!SystemProxy::isProxy(proxy)) {
        stopWithError(QCoreApplication::translate(
                          "translation", "Cannot download package %1: the server answered %2 %3.",
                          "nc")
                          .arg(name, status, resp.reasonPhrase()));
    } else if (resp.statusCode() == 407) {
        stopWithError(QCoreApplication::translate("translation",
                                                  "Cannot download package %1: the proxy server "
                                                  "%2 asks for a user name and password.",
                                                  "nc")
                          .arg(name, SystemProxy::name(proxy)));
    } else {
        // The answer may be the proxy's own or one it passed on.
        stopWithError(QCoreApplication::translate("translation",
                                                  "Cannot download package %1 through the proxy "
                                                  "server %2: the answer was %3 %4.",
                                                  "nc")
                          .arg(name, SystemProxy::name(proxy), status, resp.reasonPhrase()));
    }
}

void PackageDownload::rejectArchive(const QString &text)
{
    // An archive that failed its check must not stay where a later step
    // could take it for a good one.
    m_outputFile.close();
    m_outputFile.remove();
    stopWithError(text);
}

void PackageDownload::stopSavingFailed()
{
    stopWithError(QCoreApplication::translate("translation", "Cannot save package %1 as %2: %3",
                                              "nc")
                      .arg(currentName(),
                           QDir::toNativeSeparators(QDir::cleanPath(m_outputFile.fileName())),
                           m_outputFile.errorString()));
}

void PackageDownload::stopWithError(const QString &text)
{
    // Aborted is final and keeps the client's own error completion from
    // producing a second report.
    m_state = Aborted;
    m_retryTimer.stop();
    m_http.abort();
    // The archive's file holds nothing worth keeping: the start of an
    // archive that will not be finished, or an error page.
    if (m_outputFile.isOpen()) {
        m_outputFile.close();
        m_outputFile.remove();
    }
    emit failed(text);
}

QString PackageDownload::currentName() const
{
    return m_updates.at(m_currentIndex).name();
}
