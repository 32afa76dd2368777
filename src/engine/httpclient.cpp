#include "httpclient.h"

#include "systemproxy.h"

#include <QCoreApplication>
#include <QFileDevice>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <utility>

namespace {

// Body bytes moved from the reply to the device at a time; also the most the
// reply may buffer, so memory stays bounded when the device is slower than
// the network. Large blocks mean few system calls and few hand-overs from
// Qt's network thread: 64 KiB blocks made a download of hundreds of MiB take
// half as long again as one of 1 MiB blocks.
constexpr int ChunkSize = 1024 * 1024;
// The stall floor: 16 KiB in 30 s, about half a kilobyte a second. A
// transfer slower than that would keep the download (and the one-updater
// lock) for hours.
constexpr int StallWindowMs = 30000;
constexpr qint64 StallFloorBytes = 16 * 1024;

// QNetworkReply reports 4xx and 5xx answers as errors of these ranges; for us
// they are complete responses that the caller judges.
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

HttpClient::Error clientError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return HttpClient::HostNotFound;
    case QNetworkReply::ConnectionRefusedError:
        return HttpClient::ConnectionRefused;
    case QNetworkReply::RemoteHostClosedError:
        return HttpClient::UnexpectedClose;
    case QNetworkReply::ProtocolFailure:
        return HttpClient::InvalidResponseHeader;
    default:
        return HttpClient::UnknownError;
    }
}

QString proxyErrorText(const QNetworkProxy &proxy, const QNetworkReply *reply)
{
    if (reply->error() == QNetworkReply::ProxyAuthenticationRequiredError)
        return QCoreApplication::translate(
                   "translation", "The proxy server %1 asks for a user name and password.", "nc")
            .arg(SystemProxy::name(proxy));
    return QCoreApplication::translate("translation", "Cannot use the proxy server %1: %2", "nc")
        .arg(SystemProxy::name(proxy), reply->errorString());
}

QString writeErrorText(const QIODevice *device)
{
    return QCoreApplication::translate("translation", "Cannot write the downloaded data: %1", "nc")
        .arg(device->errorString());
}

// Statuses whose responses carry no body whatever their Content-Length says.
bool hasNoBody(int status)
{
    return (status >= 100 && status <= 199) || status == 204 || status == 304;
}

} // namespace

HttpClient::HttpClient(QObject *parent)
    : QObject(parent)
{
    m_manager.setProxy(m_proxy);
    m_floorTimer.setInterval(StallWindowMs);
    connect(&m_floorTimer, &QTimer::timeout, this, &HttpClient::checkFloor);
}

HttpClient::~HttpClient()
{
    releaseReply();
}

int HttpClient::setHost(const QString &hostName, quint16 port)
{
    Request request;
    request.operation = Operation::SetHost;
    request.hostName = hostName;
    request.port = port;
    return enqueue(request);
}

int HttpClient::head(const QString &path)
{
    Request request;
    request.operation = Operation::Head;
    request.path = path;
    return enqueue(request);
}

int HttpClient::get(const QString &path, QIODevice *to, const Fields &fields)
{
    Request request;
    request.operation = Operation::Get;
    request.path = path;
    request.device = to;
    request.fields = fields;
    return enqueue(request);
}

bool HttpClient::hasPendingRequests() const
{
    return m_queue.size() + (m_running ? 1 : 0) > 1;
}

int HttpClient::currentId() const
{
    return m_running ? m_current.id : 0;
}

void HttpClient::abort()
{
    // Also tells a completion being delivered right now that nothing may
    // follow it.
    ++m_generation;
    if (!m_running && m_queue.isEmpty())
        return;

    m_error = Aborted;
    m_errorString = QCoreApplication::translate("translation", "Request aborted", "nc");
    m_queue.clear();
    if (!m_running)
        return;

    const int id = m_current.id;
    releaseReply();
    flushPartialBody();
    m_running = false;
    m_current = Request();
    emit requestFinished(id, true);
}

void HttpClient::setStallWindow(int milliseconds)
{
    m_floorTimer.setInterval(milliseconds);
}

HttpClient::Error HttpClient::error() const
{
    return m_error;
}

QString HttpClient::errorString() const
{
    return m_errorString;
}

QNetworkProxy HttpClient::proxy() const
{
    return m_proxy;
}

int HttpClient::enqueue(Request request)
{
    request.id = ++m_lastId;
    m_queue.append(request);
    scheduleStart();
    return request.id;
}

void HttpClient::scheduleStart()
{
    // Requests always start from the event loop, never from inside the call
    // that queued them or from inside one of our own signals.
    if (m_running || m_startScheduled)
        return;
    m_startScheduled = true;
    QTimer::singleShot(0, this, &HttpClient::startNext);
}

void HttpClient::startNext()
{
    m_startScheduled = false;
    if (m_running || m_queue.isEmpty())
        return;

    m_current = m_queue.takeFirst();
    m_running = true;
    m_error = NoError;
    m_errorString.clear();

    const int id = m_current.id;
    emit requestStarted(id);
    if (!isCurrent(id))
        return;

    if (m_current.operation == Operation::SetHost) {
        m_hostName = m_current.hostName;
        m_port = m_current.port;
        finishCurrent();
        return;
    }
    sendCurrent();
}

void HttpClient::sendCurrent()
{
    m_headerReported = false;
    m_contentLength = -1;
    m_bodyWritten = 0;
    if (m_buffer.size() != ChunkSize)
        m_buffer.resize(ChunkSize);

    QString path = m_current.path;
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_hostName);
    if (m_port != 80)
        url.setPort(m_port);
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
    for (const auto &field : std::as_const(m_current.fields))
        request.setRawHeader(field.first, field.second);

    // Asked afresh for every request, as the settings may exclude some hosts;
    // set on the manager so that what went wrong can name the proxy used.
    m_proxy = SystemProxy::forUrl(url);
    if (m_manager.proxy() != m_proxy)
        m_manager.setProxy(m_proxy);

    m_reply
        = m_current.operation == Operation::Head ? m_manager.head(request) : m_manager.get(request);
    m_reply->setReadBufferSize(ChunkSize);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &HttpClient::replyMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpClient::replyReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &HttpClient::replyFinished);
    m_windowBytes = 0;
    m_floorTimer.start();
}

bool HttpClient::isCurrent(int id) const
{
    return m_running && m_current.id == id;
}

void HttpClient::replyMetaDataChanged()
{
    if (!m_headerReported && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        reportHeader();
}

void HttpClient::replyReadyRead()
{
    if (!m_headerReported && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()
        && !reportHeader())
        return;
    writeAvailableBody();
}

void HttpClient::replyFinished()
{
    QNetworkReply *reply = m_reply;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError networkError = reply->error();

    if (status.isValid()) {
        if (!m_headerReported && !reportHeader())
            return;
        // Whatever arrived before a failure still goes to the device.
        if (!writeAvailableBody())
            return;
    }

    // A body shorter than announced is a failure whether or not the reply
    // noticed; saying how much arrived is the clearer report.
    if (status.isValid() && m_current.operation == Operation::Get && m_contentLength >= 0
        && m_bodyWritten < m_contentLength && !hasNoBody(status.toInt())) {
        failCurrent(UnexpectedClose,
                    QCoreApplication::translate(
                        "translation", "The connection was closed after %1 of %2 bytes.", "nc")
                        .arg(m_bodyWritten)
                        .arg(m_contentLength));
        return;
    }

    if (!status.isValid()
        || (networkError != QNetworkReply::NoError && !isHttpStatusError(networkError))) {
        if (networkError == QNetworkReply::NoError)
            failCurrent(InvalidResponseHeader,
                        QCoreApplication::translate(
                            "translation", "The server did not send a valid HTTP response.", "nc"));
        // Without an answer, a request sent to a proxy failed on the way to
        // the proxy (an HTTP proxy answers for the host behind it).
        else if (isProxyError(networkError) || (!status.isValid() && SystemProxy::isProxy(m_proxy)))
            failCurrent(ProxyError, proxyErrorText(m_proxy, reply));
        else
            failCurrent(clientError(networkError), reply->errorString());
        return;
    }

    if (m_current.operation == Operation::Get) {
        // A file buffers small writes; a full disk shows only when they go out.
        auto *file = qobject_cast<QFileDevice *>(m_current.device);
        if (file && !file->flush()) {
            failCurrent(DeviceWriteError, writeErrorText(file));
            return;
        }
    }
    finishCurrent();
}

void HttpClient::checkFloor()
{
    if (!m_reply)
        return;
    const int windowMs = m_floorTimer.interval();
    const qint64 floor = qMax<qint64>(1, StallFloorBytes * windowMs / StallWindowMs);
    const QString seconds = QString::number(windowMs / 1000.0);
    if (!m_headerReported)
        failCurrent(UnknownError, QCoreApplication::translate(
                                      "translation", "The server did not answer within %1 seconds.",
                                      "nc")
                                      .arg(seconds));
    else if (m_windowBytes < floor)
        failCurrent(UnknownError,
                    QCoreApplication::translate(
                        "translation",
                        "The download is too slow: the server sent only %1 bytes in %2 seconds.",
                        "nc")
                        .arg(m_windowBytes)
                        .arg(seconds));
    else
        m_windowBytes = 0;
}

bool HttpClient::reportHeader()
{
    const int id = m_current.id;
    m_headerReported = true;
    // The body's windows start with it.
    m_windowBytes = 0;
    m_floorTimer.start();
    const HttpResponseHeader header(
        m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
        m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
        m_reply->rawHeaderPairs());
    m_contentLength = header.hasContentLength() ? header.contentLength() : -1;
    emit responseHeaderReceived(header);
    return isCurrent(id);
}

bool HttpClient::writeAvailableBody()
{
    const int id = m_current.id;
    QIODevice *device = m_current.device;
    while (m_reply->bytesAvailable() > 0) {
        const qint64 read = m_reply->read(m_buffer.data(), m_buffer.size());
        if (read <= 0)
            break;
        // A file that fills the disk part-way through a block takes what
        // fits without an error; writing the rest then fails with the reason.
        for (qint64 written = 0; device && written < read;) {
            const qint64 count = device->write(m_buffer.constData() + written, read - written);
            if (count <= 0) {
                failCurrent(DeviceWriteError, writeErrorText(device));
                return false;
            }
            written += count;
        }
        m_bodyWritten += read;
        m_windowBytes += read;
        emit dataReadProgress(m_bodyWritten, qMax<qint64>(m_contentLength, 0));
        if (!isCurrent(id))
            return false;
    }
    return true;
}

void HttpClient::finishCurrent()
{
    const int id = m_current.id;
    releaseReply();
    m_running = false;
    m_current = Request();

    const quint64 generation = m_generation;
    emit requestFinished(id, false);
    if (generation != m_generation || m_running)
        return;
    if (m_queue.isEmpty())
        emit done(false);
    else
        scheduleStart();
}

void HttpClient::failCurrent(Error error, const QString &text)
{
    m_error = error;
    m_errorString = text;
    m_queue.clear();

    const int id = m_current.id;
    releaseReply();
    flushPartialBody();
    m_running = false;
    m_current = Request();
    ++m_generation;
    emit requestFinished(id, true);
}

void HttpClient::flushPartialBody()
{
    // The part of a body that arrived before the end stays readable on disk
    // even though the caller may keep the file open.
    if (auto *file = qobject_cast<QFileDevice *>(m_current.device))
        file->flush();
}

void HttpClient::releaseReply()
{
    m_floorTimer.stop();
    if (!m_reply)
        return;
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    disconnect(reply, nullptr, this, nullptr);
    // A 4xx or 5xx reply carries (or is about to carry) that status as its
    // error and cannot take a second one (Qt warns); deleting it stops its
    // transfer all the same.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError && status < 400)
        reply->abort();
    reply->deleteLater();
}
