#include "manifestreader.h"

#include "xmlencoding.h"

#include <QCoreApplication>

bool ManifestReader::open(const QString &path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    // Read as it comes, unless it declares an encoding that Qt does not read
    // by itself on every platform: XmlEncoding decodes the whole file then.
    if (XmlEncoding::isReadByQt(XmlEncoding::declaredName(m_file.peek(1024)))) {
        m_reader.setDevice(&m_file);
        return true;
    }
    const QByteArray document = m_file.readAll();
    if (m_file.error() != QFileDevice::NoError) {
        m_error = m_file.errorString();
        return false;
    }
    m_unreadable = !XmlEncoding::setDocument(m_reader, document, &m_error);
    return true;
}

ManifestReader::Token ManifestReader::next()
{
    if (m_unreadable)
        return Error;
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
