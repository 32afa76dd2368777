#include "manifestreader.h"

#include <QCoreApplication>

bool ManifestReader::open(const QString &path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    m_reader.setDevice(&m_file);
    return true;
}

ManifestReader::Token ManifestReader::next()
{
    while (!m_reader.atEnd()) {
        if (m_reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (m_reader.name() == QLatin1String("package"))
            return Package;
        if (m_reader.name() == QLatin1String("file"))
            return File;
    }
    // A document cut short ends with an error as well: the reader wants
    // the root element closed.
    if (m_reader.hasError()) {
        m_error = QCoreApplication::translate("ManifestReader", "%1 (line %2)")
                      .arg(m_reader.errorString())
                      .arg(m_reader.lineNumber());
        return Error;
    }
    return End;
}

QString ManifestReader::value(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (attribute.name() == name)
            return attribute.value().toString();
    }
    return QString();
}
