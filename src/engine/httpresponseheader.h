#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

// The status line and header fields of one HTTP response, as HttpClient
// reports them before the body arrives.
class HttpResponseHeader
{
public:
    HttpResponseHeader() = default;
    HttpResponseHeader(int statusCode, const QString &reasonPhrase,
                       const QList<QPair<QByteArray, QByteArray>> &fields);

    bool isValid() const { return m_valid; }
    int statusCode() const { return m_statusCode; }
    QString reasonPhrase() const { return m_reasonPhrase; }

    // True for 2xx answers.
    bool isSuccess() const { return m_statusCode >= 200 && m_statusCode <= 299; }

    bool hasKey(const QByteArray &key) const;
    // Value of the first field named key (compared without regard to case).
    QByteArray value(const QByteArray &key) const;

    bool hasContentLength() const;
    // Content-Length as announced; 0 when the field is missing or not a number.
    qint64 contentLength() const;

    // The byte range of a partial answer, from "Content-Range: bytes
    // FIRST-LAST/LENGTH". False when the field is missing, names another unit,
    // or is not three numbers with FIRST <= LAST < LENGTH.
    bool contentRange(qint64 *first, qint64 *last, qint64 *length) const;

private:
    bool m_valid = false;
    int m_statusCode = 0;
    QString m_reasonPhrase;
    QList<QPair<QByteArray, QByteArray>> m_fields;
};

Q_DECLARE_METATYPE(HttpResponseHeader)
