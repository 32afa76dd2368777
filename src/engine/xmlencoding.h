#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QXmlStreamReader;

// The encodings in which the updater reads an XML document (an update answer,
// a package manifest), the same on every platform. Qt knows UTF-8, UTF-16,
// UTF-32 and Latin-1 by itself; other names it hands to ICU, which the
// Windows build does not have, and which would accept hundreds of names that
// Windows then refuses. The single-byte encodings that older servers and
// tools of this product declare are therefore decoded here, from tables:
// ISO-8859-2, Windows-1250, Windows-1252 and US-ASCII. Every other name, the
// platform-dependent "Locale" included, is refused everywhere.
namespace XmlEncoding {

// The encoding that a document's XML declaration names, empty without one.
// The declaration is looked for in the document's own code units (UTF-16 and
// UTF-32 told by a byte order mark or the first bytes, as the reader does).
QByteArray declaredName(const QByteArray &document);

// Whether Qt reads a document that declares this encoding (or none) by
// itself, on every platform: UTF-8, UTF-16, UTF-32 and Latin-1.
bool isReadByQt(const QByteArray &name);

// Whether a name is one of the table's single-byte encodings (letter case,
// '-' and '_' do not matter, as for Qt's own names).
bool isSingleByte(QByteArrayView name);

// Decodes 'bytes' in the single-byte encoding 'name'. False, with *problem
// saying which byte, when a byte is one the encoding does not define.
bool decode(QByteArrayView name, QByteArrayView bytes, QString *text, QString *problem);

// Gives 'reader' the whole of 'document' to read: as it stands when it
// declares no encoding or one that Qt knows without ICU, decoded here when
// it declares a single-byte encoding. False, with *problem, when the
// declared encoding is none of these, or a byte does not belong to it; the
// reader is then left without data.
bool setDocument(QXmlStreamReader &reader, const QByteArray &document, QString *problem);

} // namespace XmlEncoding
