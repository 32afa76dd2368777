#include "packagedownload.h"

#include "buildconfig.h"
#include "systemproxy.h"
#include "updateinfo.h"
#include "workdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrl>

#include <climits>
#include <utility>

namespace {

// The pause before the second try; it doubles before each further one.
constexpr int FirstRetryPauseMs = 250;
// Body bytes moved from the reply to the file at a time; also the most the
// reply may buffer, so memory stays bounded when the disk is slower than the
// network. Large blocks mean few system calls and few hand-overs from Qt's
// network thread: 64 KiB blocks made a download of hundreds of MiB take half
// as long again as one of 1 MiB blocks.
constexpr int ChunkSize = 1024 * 1024;
// The floor: 16 KiB in 30 s, about half a kilobyte a second. A transfer
// slower than that would keep the download (and the one-updater lock) for
// hours.
constexpr int StallWindowMs = 30000;
constexpr qint64 StallFloorBytes = 16 * 1024;

QUrl packageUrl(const UpdateInfo &update)
{
    return QUrl(update.link());
}

// Where the archive of this update is saved.
QString archivePath(const QString &workDir, const UpdateInfo &update)
{
    return WorkDirectory::archivePath(workDir, packageUrl(update).path());
}

// Content-Length as announced: -1 when the field is missing, 0 when it is
// not a number. (The reply holds each field once, repeated ones joined.)
qint64 announcedLength(const QNetworkReply *reply)
{
    if (!reply->hasRawHeader("Content-Length"))
        return -1;
    bool isNumber = false;
    const qint64 length = reply->rawHeader("Content-Length").trimmed().toLongLong(&isNumber);
    return isNumber && length >= 0 ? length : 0;
}

// The byte range of a partial answer, from "Content-Range: bytes
// FIRST-LAST/LENGTH". False when the field is missing, names another unit,
// or is not three plain numbers with FIRST <= LAST < LENGTH.
bool contentRange(const QNetworkReply *reply, qint64 *first, qint64 *last, qint64 *length)
{
    static const QRegularExpression pattern(
        QStringLiteral("^bytes \\s*([0-9]+)-([0-9]+)/([0-9]+)$"));
    const QRegularExpressionMatch match =
        pattern.match(QString::fromLatin1(reply->rawHeader("Content-Range").trimmed()));
    bool ok[3] = {};
    if (!match.hasMatch())
        return false;
    *first = match.captured(1).toLongLong(&ok[0]);
    *last = match.captured(2).toLongLong(&ok[1]);
    *length = match.captured(3).toLongLong(&ok[2]);
    return ok[0] && ok[1] && ok[2] && *first <= *last && *last < *length;
}

int statusCode(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString reasonPhrase(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
}

// What a later request names to get the rest of this very version: a strong
// ETag, else the modification time. A weak ETag may not be used for that.
QByteArray versionValidator(const QNetworkReply *reply)
{
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return reply->rawHeader("Last-Modified").trimmed();
}

// QNetworkReply reports 4xx and 5xx answers as errors of these ranges; they
// are complete responses, judged by their status.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied
            && error <= QNetworkReply::UnknownContentError)
           || (error >= QNetworkReply::InternalServerError
               && error <= QNetworkReply::UnknownServerError);
}

bool isProxyError(QNetworkReply::NetworkError error)
{
    return error >= QNetworkReply::ProxyConnectionRefusedError
           && error <= QNetworkReply::UnknownProxyError;
}

QString proxyErrorText(const QNetworkProxy &proxy, const QNetworkReply *reply)
{
    if (reply->error() == QNetworkReply::ProxyAuthenticationRequiredError)
        return QCoreApplication::translate("PackageDownload",
                                           "The proxy server %1 asks for a user name and password.")
            .arg(SystemProxy::name(proxy));
    return QCoreApplication::translate("PackageDownload", "Cannot use the proxy server %1: %2")
        .arg(SystemProxy::name(proxy), reply->errorString());
}

QString writeErrorText(const QIODevice &device)
{
    return QCoreApplication::translate("PackageDownload", "Cannot write the downloaded data: %1")
        .arg(device.errorString());
}

// Statuses whose responses carry no body whatever their Content-Length says.
bool hasNoBody(int status)
{
    return status < 200 || status == 204 || status == 304;
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

PackageDownload::PackageDownload(const QString &workDir)
    : m_workDir(workDir)
    , m_firstRetryPauseMs(FirstRetryPauseMs)
{
    m_manager.setProxy(m_proxy);
    m_buffer.resize(ChunkSize);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &PackageDownload::requestArchive);
    m_floorTimer.setInterval(StallWindowMs);
    connect(&m_floorTimer, &QTimer::timeout, this, &PackageDownload::checkFloor);
}

PackageDownload::~PackageDownload()
{
    releaseReply();
}

void PackageDownload::begin(const QVector<UpdateInfo> &updates)
{
    m_updates = updates;

    // Every address is checked before anything is requested: a path with a
    // ".." segment would put the archive outside the work directory.
    for (const UpdateInfo &update : std::as_const(m_updates)) {
        if (!UpdateInfo::isPackageLink(update.link())) {
            stopWithError(
                tr("Cannot download package %1: its address %2 is not a valid package address.")
                    .arg(update.name(), update.link()));
            return;
        }
    }

    m_state = Sizing;
    m_headsAnswered = 0;
    m_headLengths.clear();
    m_dropped = QVector<bool>(m_updates.size(), false);
    // A later round adds to the total: its percentage starts afresh.
    m_percentage = 0;
    // From the event loop: a cancel right after begin() leaves the servers
    // unasked.
    QTimer::singleShot(0, this, [this] {
        if (m_state == Sizing && !m_updates.isEmpty())
            send();
    });
}

void PackageDownload::abort()
{
    m_state = Aborted;
    m_retryTimer.stop();
    releaseReply();
}

void PackageDownload::send(const QByteArray &range)
{
    const bool head = m_state == Sizing;
    const QUrl link = packageUrl(m_updates.at(head ? m_headsAnswered : m_currentIndex));
    QString path = link.path();
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));

    // Always plain HTTP on the download port, whatever scheme or port the
    // link names; port 80 is left out, so that Host: names no port.
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(link.host());
    if (VEMO_DOWNLOAD_PORT != 80)
        url.setPort(VEMO_DOWNLOAD_PORT);
    url.setPath(path, QUrl::DecodedMode);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Without this the reply would inflate compressed bodies by itself, and
    // the bytes written would no longer match the Content-Length.
    request.setRawHeader("Accept-Encoding", "identity");
    if (!range.isEmpty()) {
        request.setRawHeader("Range", range);
        request.setRawHeader("If-Range", m_validator);
    }

    // Asked afresh for every request, as the settings may exclude some hosts;
    // set on the manager so that what went wrong can name the proxy used.
    m_proxy = SystemProxy::forUrl(url);
    if (m_manager.proxy() != m_proxy)
        m_manager.setProxy(m_proxy);

    m_headerSeen = false;
    m_contentLength = -1;
    m_bodyBytes = 0;
    m_windowBytes = 0;
    m_reply = head ? m_manager.head(request) : m_manager.get(request);
    m_reply->setReadBufferSize(ChunkSize);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &PackageDownload::headerReceived);
    connect(m_reply, &QNetworkReply::readyRead, this, &PackageDownload::bodyReceived);
    connect(m_reply, &QNetworkReply::finished, this, &PackageDownload::replyFinished);
    m_floorTimer.start();
}

void PackageDownload::headerReceived()
{
    if (m_headerSeen || !m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return;
    m_headerSeen = true;
    // The body's windows start with it.
    m_windowBytes = 0;
    m_floorTimer.start();
    m_contentLength = announcedLength(m_reply);
    if (m_state == Sizing && statusCode(m_reply) >= 200 && statusCode(m_reply) <= 299)
        countSize();
    else if (m_state == Sizing)
        refuseResponse(m_headsAnswered);
    else
        judgeArchiveResponse();
}

void PackageDownload::bodyReceived()
{
    headerReceived();
    if (m_reply && m_state == Fetching)
        writeBody();
}

bool PackageDownload::writeBody()
{
    while (m_reply->bytesAvailable() > 0) {
        const qint64 read = m_reply->read(m_buffer.data(), m_buffer.size());
        if (read <= 0)
            break;
        // A file that fills the disk part-way through a block takes what
        // fits without an error; writing the rest then fails with the reason.
        for (qint64 written = 0; written < read;) {
            const qint64 count = m_outputFile.write(m_buffer.constData() + written, read - written);
            if (count <= 0) {
                stopWithError(writeErrorText(m_outputFile));
                return false;
            }
            written += count;
        }
        m_bodyBytes += read;
        m_windowBytes += read;
        countBody();
        // A check, or a receiver of the progress, may have ended the request.
        if (!m_reply || m_state != Fetching)
            return false;
    }
    return true;
}

void PackageDownload::replyFinished()
{
    QNetworkReply *reply = m_reply;
    const bool head = m_state == Sizing;
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    const QNetworkReply::NetworkError networkError = reply->error();

    if (answered) {
        headerReceived();
        // Whatever arrived before a failure still goes to the file.
        if (m_reply != reply || (!head && !writeBody()))
            return;
    }

    // A body shorter than announced is a failure whether or not the reply
    // noticed; saying how much arrived is the clearer report.
    if (answered && !head && m_contentLength >= 0 && m_bodyBytes < m_contentLength
        && !hasNoBody(statusCode(reply))) {
        requestFailed(tr("The connection was closed after %1 of %2 bytes.")
                          .arg(m_bodyBytes)
                          .arg(m_contentLength));
        return;
    }

    if (!answered || (networkError != QNetworkReply::NoError && !isHttpStatusError(networkError))) {
        if (networkError == QNetworkReply::NoError)
            requestFailed(tr("The server did not send a valid HTTP response."));
        // Without an answer, a request sent to a proxy failed on the way to
        // the proxy (an HTTP proxy answers for the host behind it). Another
        // try cannot mend the proxy's settings.
        else if (isProxyError(networkError) || (!answered && SystemProxy::isProxy(m_proxy)))
            requestFailed(proxyErrorText(m_proxy, reply), false);
        else
            requestFailed(reply->errorString());
        return;
    }

    // A file buffers small writes; a full disk shows only when they go out.
    if (!head && !m_outputFile.flush()) {
        stopWithError(writeErrorText(m_outputFile));
        return;
    }
    releaseReply();
    if (!head) {
        archiveFetched();
    } else if (++m_headsAnswered < m_updates.size()) {
        send();
    } else {
        startFetching();
    }
}

void PackageDownload::checkFloor()
{
    const int windowMs = m_floorTimer.interval();
    const qint64 floor = qMax<qint64>(1, StallFloorBytes * windowMs / StallWindowMs);
    const QString seconds = QString::number(windowMs / 1000.0);
    if (!m_headerSeen)
        requestFailed(tr("The server did not answer within %1 seconds.").arg(seconds));
    else if (m_windowBytes < floor)
        requestFailed(tr("The download is too slow: the server sent only %1 bytes in %2 seconds.")
                          .arg(m_windowBytes)
                          .arg(seconds));
    else
        m_windowBytes = 0;
}

void PackageDownload::requestFailed(const QString &text, bool worthRetrying)
{
    releaseReply();
    if (m_state == Sizing && worthRetrying) {
        // A bare "Connection refused" would not say what could not be
        // reached; the proxy's own texts name the proxy.
        stopWithError(
            tr("Cannot download package %1: %2").arg(m_updates.at(m_headsAnswered).name(), text));
    } else if (m_state != Fetching || !worthRetrying) {
        stopWithError(text);
    } else if (expectedSize() > 0 && m_fileBytesDone == expectedSize()) {
        // Every byte announced is on disk: a server whose length promised
        // more than the archive holds ends short, and asking it for bytes
        // past the end could only fail. The checks on the whole file judge.
        archiveFetched();
    } else {
        retryOrFail(text);
    }
}

void PackageDownload::releaseReply()
{
    m_floorTimer.stop();
    // The part of a body that arrived before the end stays readable on disk
    // while the file is kept open for another try, or after a cancel.
    if (m_outputFile.isOpen())
        m_outputFile.flush();
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    if (!reply)
        return;
    disconnect(reply, nullptr, this, nullptr);
    // A 4xx or 5xx reply carries (or is about to carry) that status as its
    // error and cannot take a second one (Qt warns); deleting it stops its
    // transfer all the same.
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError && statusCode(reply) < 400)
        reply->abort();
    reply->deleteLater();
}

void PackageDownload::countSize()
{
    const UpdateInfo &update = m_updates.at(m_headsAnswered);
    const qint64 announced = m_contentLength;
    const qint64 size = update.archiveBytes();
    if (size >= 0 && announced >= 0 && announced != size) {
        stopWithError(tr("Cannot download package %1: the download server gives its size as "
                         "%2 bytes, the update server as %3 bytes.")
                          .arg(update.name())
                          .arg(announced)
                          .arg(size));
        return;
    }
    m_headLengths.append(announced);
    m_bytesTotal += countedSize(m_headsAnswered);
}

qint64 PackageDownload::countedSize(int index) const
{
    const qint64 size = m_updates.at(index).archiveBytes();
    return size >= 0 ? size : qMax<qint64>(m_headLengths.value(index, -1), 0);
}

void PackageDownload::judgeArchiveResponse()
{
    const int status = statusCode(m_reply);
    if (m_requestOffset > 0 && status == 206) {
        const qint64 size = expectedSize() >= 0 ? expectedSize() : m_archiveSize;
        qint64 first = 0;
        qint64 last = 0;
        qint64 length = 0;
        const bool theRest = contentRange(m_reply, &first, &last, &length)
                             && first == m_requestOffset && last == length - 1
                             && (size < 0 || length == size);
        if (!theRest)
            stopWithError(tr("Cannot download package %1: the server sent another part of "
                             "the archive than the one asked for.")
                              .arg(currentName()));
        return;
    }
    if (status >= 200 && status <= 299) {
        const qint64 headLength = m_headLengths.at(m_currentIndex);
        if (m_contentLength >= 0 && headLength >= 0 && m_contentLength != headLength) {
            rejectArchive(tr("Cannot download package %1: the download server gave its size "
                             "as %2 bytes and then as %3 bytes.")
                              .arg(currentName())
                              .arg(headLength)
                              .arg(m_contentLength));
            return;
        }
        // The whole archive, from its first byte: what an earlier try left
        // in the file goes, and this answer's version is the one to resume.
        if (m_fileBytesDone > 0 && !restartArchive())
            return;
        m_requestOffset = 0;
        m_validator = versionValidator(m_reply);
        m_archiveSize = m_contentLength;
        return;
    }
    if (status >= 500 && status <= 599) {
        // The answer's body (an error page) does not reach the file.
        retryOrFail(
            tr("The server answered %1 %2.").arg(QString::number(status), reasonPhrase(m_reply)));
        return;
    }
    refuseResponse(m_currentIndex);
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
    // A later round goes on from the bytes done, against the larger total.
    emit bytes(m_bytesReported, m_bytesTotal);
    // A receiver may have cancelled the run.
    if (m_state != Fetching)
        return;
    fetchNext();
}

void PackageDownload::fetchNext()
{
    while (m_currentIndex < m_updates.size() && m_dropped.at(m_currentIndex))
        ++m_currentIndex;
    if (m_currentIndex < m_updates.size()) {
        startArchive();
    } else {
        m_state = Idle;
        emit finished();
    }
}

void PackageDownload::startArchive()
{
    const UpdateInfo &update = m_updates.at(m_currentIndex);

    emit fileStarted(update.name());
    // A receiver of fileStarted may have cancelled the run.
    if (m_state != Fetching)
        return;

    m_fileBytesDone = 0;
    m_tries = 0;
    m_validator.clear();
    m_archiveSize = -1;

    const QString path = archivePath(m_workDir, update);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        stopWithError(tr("Cannot create folder %1 for package %2.")
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

    // The file must hold exactly the bytes counted, or the rest would be
    // appended at the wrong place; then the whole archive is asked for.
    if (m_fileBytesDone > 0 && !m_validator.isEmpty() && m_outputFile.pos() == m_fileBytesDone) {
        m_requestOffset = m_fileBytesDone;
        send("bytes=" + QByteArray::number(m_fileBytesDone) + '-');
    } else {
        m_requestOffset = 0;
        send();
    }
}

void PackageDownload::countBody()
{
    const qint64 fileBytes = m_requestOffset + m_bodyBytes;
    // A server that sends more than announced is cut off: no endless data.
    const qint64 expected = expectedSize();
    if (expected >= 0 && fileBytes > expected) {
        rejectArchive(tr("Cannot download package %1: the download server sent more than the "
                         "%2 bytes announced.")
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
        rejectArchive(tr("Cannot download package %1: the download server sent %2 bytes "
                         "instead of the %3 bytes announced.")
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
        rejectArchive(tr("The downloaded package %1 is not the one the update server "
                         "announced: its checksum differs. Nothing was installed.")
                          .arg(update.name()));
        return false;
    }
    return true;
}

void PackageDownload::archiveFetched()
{
    m_outputFile.close();
    if (!verifyArchive())
        return;
    ++m_currentIndex;
    fetchNext();
}

void PackageDownload::retryOrFail(const QString &reason)
{
    if (m_tries >= MaxTries) {
        stopWithError(tr("Cannot download package %1 after %2 tries. %3")
                          .arg(currentName(), QString::number(m_tries), reason));
        return;
    }
    // A GET answered with a 5xx is still running: it is dropped before its
    // body reaches the file.
    releaseReply();
    m_retryTimer.start(m_firstRetryPauseMs << (m_tries - 1));
}

void PackageDownload::refuseResponse(int index)
{
    const QString name = m_updates.at(index).name();
    const QString status = QString::number(statusCode(m_reply));
    const QString reason = reasonPhrase(m_reply);
    // An error page is neither a size to count nor an archive to keep.
    if (!SystemProxy::isProxy(m_proxy)) {
        stopWithError(
            tr("Cannot download package %1: the server answered %2 %3.").arg(name, status, reason));
    } else if (statusCode(m_reply) == 407) {
        stopWithError(tr("Cannot download package %1: the proxy server "
                         "%2 asks for a user name and password.")
                          .arg(name, SystemProxy::name(m_proxy)));
    } else {
        // The answer may be the proxy's own or one it passed on.
        stopWithError(tr("Cannot download package %1 through the proxy "
                         "server %2: the answer was %3 %4.")
                          .arg(name, SystemProxy::name(m_proxy), status, reason));
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
    stopWithError(tr("Cannot save package %1 as %2: %3")
                      .arg(currentName(),
                           QDir::toNativeSeparators(QDir::cleanPath(m_outputFile.fileName())),
                           m_outputFile.errorString()));
}

void PackageDownload::dropArchive(const QString &text)
{
    m_retryTimer.stop();
    releaseReply();
    const State state = m_state;
    const int index = state == Sizing ? m_headsAnswered : m_currentIndex;
    m_dropped[index] = true;
    if (state == Sizing) {
        m_headLengths.append(-1);
    } else {
        if (m_outputFile.isOpen()) {
            m_outputFile.close();
            m_outputFile.remove();
        }
        // What arrived stays counted as done; what did not leaves the total.
        m_bytesTotal -= qMax<qint64>(0, countedSize(index) - m_fileBytesDone);
    }
    emit dropped(index, text);
    // A receiver may have cancelled the run.
    if (m_state != state)
        return;
    if (state == Fetching) {
        ++m_currentIndex;
        fetchNext();
    } else if (++m_headsAnswered < m_updates.size()) {
        send();
    } else {
        startFetching();
    }
}

void PackageDownload::stopWithError(const QString &text)
{
    // A delta package has its full package to fall back on.
    if (m_state == Sizing || m_state == Fetching) {
        const int index = m_state == Sizing ? m_headsAnswered : m_currentIndex;
        if (m_updates.at(index).isDeltaPackage()) {
            dropArchive(text);
            return;
        }
    }
    // Aborted is final: nothing more is sent or reported.
    m_state = Aborted;
    m_retryTimer.stop();
    releaseReply();
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
