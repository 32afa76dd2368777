#pragma once

#include <QFile>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

// Reads a package manifest as a stream: the "package" and "file" elements,
// at any depth, in document order, each handed over as soon as it is read
// (elements take effect one after the other, so a "file" element before a
// failing "package" element has been applied when the failure is found).
// Everything else is skipped. A manifest that cannot be read or is not
// well-formed XML, or in an encoding XmlEncoding does not read, ends in
// Error, with a reason.
class ManifestReader
{
public:
    enum Token { Package, File, End, Error };

    // False, with errorString(), when the file cannot be opened.
    bool open(const QString &path);
    Token next();
    // The attributes of the element that next() returned.
    QXmlStreamAttributes attributes() const { return m_reader.attributes(); }
    const QString &errorString() const { return m_error; }

    // The value of an attribute (compared case-sensitively), empty when absent.
    static QString value(const QXmlStreamAttributes &attributes, QLatin1String name);

private:
    QFile m_file;
    QXmlStreamReader m_reader;
    QString m_error;
    bool m_unreadable = false; // in an encoding that is not read; m_error says why
};
