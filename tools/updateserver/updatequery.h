#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QXmlStreamReader>

// The update query of one client, read incrementally as its bytes arrive:
// an XML fragment "<s>...</s>" whose "component" children name the installed
// components by project, name and type, with their installed version.
class UpdateQuery
{
public:
    enum Status { Incomplete, Complete, Malformed };

    struct Component
    {
        QString project;
        QString name;
        QString type;
        QString version;
    };

    // Feeds the next bytes of the query. Once the query is complete or
    // malformed, further bytes are ignored.
    Status addData(const QByteArray &bytes);

    Status status() const { return m_status; }
    QVector<Component> components() const { return m_components; }
    QString errorString() const { return m_error; }

private:
    void readTokens();

    QXmlStreamReader m_reader;
    Status m_status = Incomplete;
    int m_depth = 0;
    QVector<Component> m_components;
    QString m_error;
};
