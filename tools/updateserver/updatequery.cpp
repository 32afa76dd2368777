#include "updatequery.h"

UpdateQuery::Status UpdateQuery::addData(const QByteArray &bytes)
{
    if (m_status != Incomplete)
        return m_status;
    m_reader.addData(bytes);
    readTokens();
    return m_status;
}

void UpdateQuery::readTokens()
{
    while (!m_reader.atEnd()) {
        m_reader.readNext();
        if (m_reader.isStartElement()) {
            ++m_depth;
            if (m_depth == 1 && m_reader.name() != QLatin1String("s")) {
                m_status = Malformed;
                m_error = QStringLiteral("the query is <%1>, not <s>")
                              .arg(m_reader.name().toString());
                return;
            }
            if (m_depth == 2 && m_reader.name() == QLatin1String("component")) {
                const QXmlStreamAttributes attributes = m_reader.attributes();
                m_components.append({attributes.value(QLatin1String("project")).toString(),
                                     attributes.value(QLatin1String("name")).toString(),
                                     attributes.value(QLatin1String("type")).toString(),
                                     attributes.value(QLatin1String("version")).toString()});
            }
        } else if (m_reader.isEndElement()) {
            if (--m_depth == 0) {
                // Whatever follows "</s>" is not part of the query.
                m_status = Complete;
                return;
            }
        }
    }
    if (m_reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return;
    if (m_reader.hasError()) {
        m_status = Malformed;
        m_error = QStringLiteral("line %1, column %2: %3")
                      .arg(m_reader.lineNumber())
                      .arg(m_reader.columnNumber())
                      .arg(m_reader.errorString());
    }
}
