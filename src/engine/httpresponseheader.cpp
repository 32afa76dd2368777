#include "httpresponseheader.h"

namespace {

const QByteArray ContentLengthKey = QByteArrayLiteral("Content-Length");

} // namespace

HttpResponseHeader::HttpResponseHeader(int statusCode, const QString &reasonPhrase,
                                       const QList<QPair<QByteArray, QByteArray>> &fields)
    : m_valid(true)
    , m_statusCode(statusCode)
    , m_reasonPhrase(reasonPhrase)
    , m_fields(fields)
{
}

bool HttpResponseHeader::hasKey(const QByteArray &key) const
{
    for (const auto &field : m_fields) {
        if (field.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray HttpResponseHeader::value(const QByteArray &key) const
{
    for (const auto &field : m_fields) {
        if (field.first.compare(key, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return QByteArray();
}

bool HttpResponseHeader::hasContentLength() const
{
    return hasKey(ContentLengthKey);
}

qint64 HttpResponseHeader::contentLength() const
{
    bool isNumber = false;
    const qint64 length = value(ContentLengthKey).trimmed().toLongLong(&isNumber);
    return isNumber && length >= 0 ? length : 0;
}
