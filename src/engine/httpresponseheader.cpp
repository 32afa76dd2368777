#include "httpresponseheader.h"

namespace {

const QByteArray ContentLengthKey = QByteArrayLiteral("Content-Length");
const QByteArray ContentRangeKey = QByteArrayLiteral("Content-Range");

// A decimal number of digits alone (no sign, no blanks).
bool readNumber(const QByteArray &text, qint64 *number)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    *number = text.toLongLong(&ok);
    return ok;
}

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

bool HttpResponseHeader::contentRange(qint64 *first, qint64 *last, qint64 *length) const
{
    const QByteArray field = value(ContentRangeKey).trimmed();
    if (!field.startsWith("bytes "))
        return false;
    const QByteArray range = field.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash < 0 || slash < dash)
        return false;
    return readNumber(range.left(dash), first)
        && readNumber(range.mid(dash + 1, slash - dash - 1), last)
        && readNumber(range.mid(slash + 1), length) && *first <= *last && *last < *length;
}
