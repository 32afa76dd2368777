#include "xmlencoding.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringConverter>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace {

// Bytes 0x80 to 0xFF of each encoding, as Unicode; 0 where the encoding
// defines no character (bytes below 0x80 are ASCII in all of them).
const char16_t Iso8859_2[128] = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087,
    0x0088, 0x0089, 0x008A, 0x008B, 0x008C, 0x008D, 0x008E, 0x008F,
    0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F,
    0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7,
    0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7,
    0x00B8, 0x0161, 0x015F, 0x0165, 0x017A, 0x02DD, 0x017E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
const char16_t Windows1250[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0000, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
const char16_t Windows1252[128] = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

struct SingleByteEncoding
{
    const char *name;
    const char16_t *upperHalf; // null: ASCII, nothing above 0x7F
};

// The names of each, as IANA registers them for these encodings.
const SingleByteEncoding Encodings[] = {
    {"ISO-8859-2", Iso8859_2},   {"ISO_8859-2:1987", Iso8859_2}, {"latin2", Iso8859_2},
    {"l2", Iso8859_2},           {"iso-ir-101", Iso8859_2},      {"csISOLatin2", Iso8859_2},
    {"windows-1250", Windows1250}, {"cp1250", Windows1250},
    {"windows-1252", Windows1252}, {"cp1252", Windows1252},
    {"US-ASCII", nullptr},       {"ASCII", nullptr},             {"ANSI_X3.4-1968", nullptr},
    {"us", nullptr},             {"csASCII", nullptr},
};

// Compared as Qt compares its own names: letter case, '-' and '_' aside.
bool sameName(QByteArrayView a, QByteArrayView b)
{
    const auto strip = [](QByteArrayView name) {
        QByteArray stripped = name.toByteArray().toLower();
        stripped.replace('-', "").replace('_', "");
        return stripped;
    };
    return strip(a) == strip(b);
}

const SingleByteEncoding *find(QByteArrayView name)
{
    for (const SingleByteEncoding &encoding : Encodings) {
        if (sameName(name, encoding.name))
            return &encoding;
    }
    return nullptr;
}

} // namespace

namespace XmlEncoding {

QByteArray declaredName(const QByteArray &document)
{
    // The declaration stands at the very start and is short: the first
    // bytes in the document's own code units are enough.
    const QByteArray head = document.left(1024);
    QString text;
    if (const auto wide = QStringConverter::encodingForData(head, u'<'))
        text = QStringDecoder(*wide).decode(head);
    else
        text = QString::fromLatin1(head);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    static const QRegularExpression declaration(QStringLiteral(
        "^<\\?xml\\s[^?]*?\\sencoding\\s*=\\s*([\"'])([^\"']*)\\1"));
    const QRegularExpressionMatch match = declaration.match(text);
    return match.hasMatch() ? match.captured(2).toLatin1() : QByteArray();
}

bool isReadByQt(const QByteArray &name)
{
    const auto known = QStringConverter::encodingForName(name.constData());
    // "Locale" is the system's encoding, a different one on each platform.
    return name.isEmpty() || (known && *known != QStringConverter::System);
}

bool isSingleByte(QByteArrayView name)
{
    return find(name) != nullptr;
}

bool decode(QByteArrayView name, QByteArrayView bytes, QString *text, QString *problem)
{
    const SingleByteEncoding *encoding = find(name);
    Q_ASSERT(encoding);
    text->clear();
    text->reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar byte = uchar(bytes[i]);
        char16_t c = byte;
        if (byte >= 0x80)
            c = encoding->upperHalf ? encoding->upperHalf[byte - 0x80] : 0;
        if (c == 0 && byte != 0) {
            *problem = QCoreApplication::translate(
                           "XmlEncoding", "The byte 0x%1 at offset %2 is not a character of "
                                          "the encoding %3.")
                           .arg(byte, 2, 16, QLatin1Char('0'))
                           .arg(i)
                           .arg(QString::fromLatin1(name));
            text->clear();
            return false;
        }
        text->append(QChar(c));
    }
    return true;
}

bool setDocument(QXmlStreamReader &reader, const QByteArray &document, QString *problem)
{
    const QByteArray name = declaredName(document);
    if (isReadByQt(name)) {
        reader.addData(document);
        return true;
    }
    // A single-byte encoding can only be declared in single-byte code units.
    if (isSingleByte(name) && !QStringConverter::encodingForData(document, u'<')) {
        QString text;
        if (!decode(name, document, &text, problem))
            return false;
        // Read from a string, the reader takes the text as it is and no
        // longer looks at the declared name.
        reader.addData(text);
        return true;
    }
    *problem = QCoreApplication::translate("XmlEncoding", "The encoding %1 is not supported.")
                   .arg(QString::fromLatin1(name));
    return false;
}

} // namespace XmlEncoding
