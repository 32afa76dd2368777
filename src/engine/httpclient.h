#pragma once

#include "httpresponseheader.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

class QIODevice;
class QNetworkReply;

// A small asynchronous HTTP client with a request queue, built on
// QNetworkAccessManager.
//
// setHost(), head() and get() only queue a request and return its id; the
// requests run one at a time, in the order they were queued, from the event
// loop. For every request requestStarted(id) comes first and
// requestFinished(id, error) last, setHost() requests included. A HEAD or GET
// reports responseHeaderReceived() before any of its body, and a GET reports
// dataReadProgress(done, total) as its body is written into the device.
//
// Any HTTP status (404, 500, 302...) is a response: its header and body are
// reported and the request finishes without error; the caller judges the
// status. A transport failure (host lookup, refused or cut connection, a body
// shorter than its Content-Length, a transfer below the floor (see
// setStallWindow()), a device write that fails) or abort() ends the current request with
// requestFinished(id, true) and drops every queued request: nothing is
// emitted after that. done(false) follows the last request of the queue when
// it finished without error. Redirects are never followed; requests always go
// to the port given to setHost() over plain HTTP, through the proxy that the
// system's settings name for them (see proxy()).
class HttpClient : public QObject
{
    Q_OBJECT

public:
    enum Error {
        NoError,
        UnknownError,
        HostNotFound,
        ConnectionRefused,
        UnexpectedClose,
        InvalidResponseHeader,
        WrongContentLength,
        Aborted,
        DeviceWriteError,
        // The proxy could not be reached, or did not let the request through
        // (a 407 it answered itself arrives as a response, like any status).
        ProxyError,
    };
    Q_ENUM(Error)

    explicit HttpClient(QObject *parent = nullptr);
    ~HttpClient() override;

    int setHost(const QString &hostName, quint16 port = 80);
    using Fields = QList<QPair<QByteArray, QByteArray>>;

    int head(const QString &path);
    // The body is written to 'to' as it arrives; the device must be open.
    // The fields are sent with the request (such as Range).
    int get(const QString &path, QIODevice *to, const Fields &fields = Fields());

    // True while requests wait behind the one being carried out.
    bool hasPendingRequests() const;
    int currentId() const;

    // Ends the current request with requestFinished(id, true) at once and drops
    // the queue. Safe to call from inside any of this client's signals; does
    // nothing when the client is idle.
    void abort();

    // The floor below which a transfer counts as stalled and fails: a HEAD
    // or GET must receive its whole header within one window of 30 s, and
    // then at least 16 KiB of body in every window until it ends (the
    // window starts again when the header arrives). A server that dribbles,
    // however steadily, cannot keep a request alive at less than that. Tests
    // shorten the window; the floor shrinks with it, so the rate stays.
    void setStallWindow(int milliseconds);

    Error error() const;
    QString errorString() const;

    // The proxy that the current HEAD or GET (or the last one, when none is
    // running) goes through; of type NoProxy when it goes straight to the
    // host.
    QNetworkProxy proxy() const;

signals:
    void requestStarted(int id);
    void requestFinished(int id, bool error);
    void responseHeaderReceived(const HttpResponseHeader &resp);
    // Bytes of this request's body written so far and its Content-Length (0
    // when it has none).
    void dataReadProgress(qint64 done, qint64 total);
    void done(bool error);

private:
    enum class Operation { SetHost, Head, Get };

    struct Request
    {
        int id = 0;
        Operation operation = Operation::SetHost;
        QString hostName;
        quint16 port = 80;
        QString path;
        QIODevice *device = nullptr;
        Fields fields;
    };

    int enqueue(Request request);
    void scheduleStart();
    void startNext();
    void sendCurrent();
    bool isCurrent(int id) const;

    void replyMetaDataChanged();
    void replyReadyRead();
    void replyFinished();
    void checkFloor();

    bool reportHeader();
    bool writeAvailableBody();
    void finishCurrent();
    void failCurrent(Error error, const QString &text);
    void flushPartialBody();
    void releaseReply();

    QNetworkAccessManager m_manager;
    QList<Request> m_queue;
    Request m_current;
    bool m_running = false;
    bool m_startScheduled = false;
    int m_lastId = 0;
    // Changes whenever the queue is dropped, so a completion that is being
    // delivered can tell that nothing may follow it.
    quint64 m_generation = 0;

    QString m_hostName;
    quint16 m_port = 80;

    QNetworkProxy m_proxy{QNetworkProxy::NoProxy};
    QNetworkReply *m_reply = nullptr;
    bool m_headerReported = false;
    qint64 m_contentLength = -1;
    qint64 m_bodyWritten = 0;
    QByteArray m_buffer;
    QTimer m_floorTimer;
    // Body bytes received in the current window of m_floorTimer.
    qint64 m_windowBytes = 0;

    Error m_error = NoError;
    QString m_errorString;
};
