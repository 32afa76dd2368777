// PLACEHOLDER: replaced by the HTTP layer.
#include "httpclient.h"
HttpClient::HttpClient(QObject *parent) : QObject(parent) {}
HttpClient::~HttpClient() = default;
int HttpClient::setHost(const QString &, quint16) { return 0; }
int HttpClient::head(const QString &) { return 0; }
int HttpClient::get(const QString &, QIODevice *) { return 0; }
bool HttpClient::hasPendingRequests() const { return false; }
int HttpClient::currentId() const { return 0; }
void HttpClient::abort() {}
HttpClient::Error HttpClient::error() const { return NoError; }
QString HttpClient::errorString() const { return {}; }
