#pragma once

#include "httpresponseheader.h"

#include <QObject>
#include <QString>

class QIODevice;

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
// A failed request, or abort(), ends the current request with
// requestFinished(id, true) and drops every queued request without any signal
// for them. Redirects are never followed; requests always go to the port given
// to setHost() over plain HTTP.
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
    };
    Q_ENUM(Error)

    explicit HttpClient(QObject *parent = nullptr);
    ~HttpClient() override;

    int setHost(const QString &hostName, quint16 port = 80);
    int head(const QString &path);
    // The body is written to 'to' as it arrives; the device must be open.
    int get(const QString &path, QIODevice *to);

    // True while requests wait behind the one being carried out.
    bool hasPendingRequests() const;
    int currentId() const;

    void abort();

    Error error() const;
    QString errorString() const;

signals:
    void requestStarted(int id);
    void requestFinished(int id, bool error);
    void responseHeaderReceived(const HttpResponseHeader &resp);
    void dataReadProgress(int done, int total);
    void done(bool error);

private:
    // (request queue, current reply and error state)
};
