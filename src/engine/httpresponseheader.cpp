// PLACEHOLDER: replaced by the HTTP layer.
#include "httpresponseheader.h"
HttpResponseHeader::HttpResponseHeader(int statusCode, const QString &reasonPhrase,
                                       const QList<QPair<QByteArray, QByteArray>> &fields)
    : m_valid(true), m_statusCode(statusCode), m_reasonPhrase(reasonPhrase), m_fields(fields) {}
bool HttpResponseHeader::hasKey(const QByteArray &) const { return false; }
QByteArray HttpResponseHeader::value(const QByteArray &) const { return {}; }
bool HttpResponseHeader::hasContentLength() const { return false; }
qint64 HttpResponseHeader::contentLength() const { return 0; }
