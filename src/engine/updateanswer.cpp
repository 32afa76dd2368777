#include "updateanswer.h"

#include "archivedigest.h"
#include "xmlencoding.h"

#include <QChar>
#include <QCoreApplication>
#include <QSet>
#include <QXmlStreamReader>

namespace {

// The names of the fields; the delta package's are those of the children
// of its "delta" element.
const QLatin1String FieldNames[] = {
    QLatin1String("version"), QLatin1String("description"), QLatin1String("changelog"),
    QLatin1String("link"),    QLatin1String("size"),        QLatin1String("sha256"),
    QLatin1String("link"),    QLatin1String("size"),        QLatin1String("sha256")};
const QLatin1String DeltaName("delta");

bool isMarker(QStringView name)
{
    return name == QLatin1String("latest") || name == QLatin1String("noSuchUpdate")
           || name == QLatin1String("noSuchComponent");
}

// A text as the records hold it and the user sees it, taken through UTF-8 as
// it always has been: a lone surrogate, which a UTF-16 answer can bring past
// the reader, becomes "?", and a byte order mark at its start goes. The type,
// size and checksum are checked as they stand in the answer.
QString recordText(const QString &text)
{
    return QString::fromUtf8(text.toUtf8());
}

// A name that can stand for one directory entry: no separators, no drive or
// stream colon, no control characters, not "." or "..".
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.toUtf8().size() > 255)
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')
            || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

} // namespace

UpdateAnswer::UpdateAnswer(const QByteArray &document)
{
    read(document);
}

void UpdateAnswer::read(const QByteArray &document)
{
    QXmlStreamReader reader;
    // A declared encoding that no platform reads, or a byte outside it, makes
    // the document unreadable as a whole.
    QString encodingProblem;
    if (!XmlEncoding::setDocument(reader, document, &encodingProblem))
        return;
    // A prefix that no namespace declares is part of the name, not an error.
    reader.setNamespaceProcessing(false);

    // The open "request" elements, innermost last, with the depth of each.
    struct OpenRequest
    {
        qsizetype request;
        int depth;
    };
    QVector<OpenRequest> openRequests;
    // The fields whose text is being gathered: each while the child element
    // it comes from is open, all of its descendants' text included.
    struct Gathering
    {
        qsizetype request;
        Field field;
        int depth;
    };
    QVector<Gathering> gatherings;
    // The "delta" element being read, with the depth of its children; its
    // request is the innermost open one.
    struct OpenDelta
    {
        qsizetype request;
        int depth;
    };
    QVector<OpenDelta> openDeltas;
    int depth = 0;
    // The request whose direct child the current token is, or null.
    const auto parentRequest = [&]() -> Request * {
        if (openRequests.isEmpty() || openRequests.last().depth != depth)
            return nullptr;
        return &m_requests[openRequests.last().request];
    };

    // What the reader lets pass but no document may hold: a document type
    // declaration after the prolog (even inside an element) or a second one,
    // and text outside the root element.
    bool inProlog = true;
    bool typeDeclared = false;
    bool misplaced = false;

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token != QXmlStreamReader::StartDocument && token != QXmlStreamReader::DTD
            && token != QXmlStreamReader::Comment
            && token != QXmlStreamReader::ProcessingInstruction)
            inProlog = false;
        switch (token) {
        case QXmlStreamReader::DTD:
            misplaced = misplaced || !inProlog || typeDeclared;
            typeDeclared = true;
            break;
        case QXmlStreamReader::StartElement: {
            if (!m_hasRoot) {
                m_hasRoot = true;
                m_rootAttributes = reader.attributes();
            }
            const QStringView name = reader.qualifiedName();
            if (Request *parent = parentRequest()) {
                if (isMarker(name))
                    parent->hasMarker = true;
                for (int field = 0; field < DeltaLink; ++field) {
                    if (name == FieldNames[field] && !parent->found[field]) {
                        parent->found[field] = true;
                        gatherings.append({openRequests.last().request, Field(field), depth + 1});
                    }
                }
                if (name == DeltaName && !parent->hasDelta) {
                    parent->hasDelta = true;
                    openDeltas.append({openRequests.last().request, depth + 2});
                }
            } else if (!openDeltas.isEmpty() && openDeltas.last().depth == depth + 1) {
                Request &owner = m_requests[openDeltas.last().request];
                for (int field = DeltaLink; field < FieldCount; ++field) {
                    if (name == FieldNames[field] && !owner.found[field]) {
                        owner.found[field] = true;
                        gatherings.append({openDeltas.last().request, Field(field), depth + 1});
                    }
                }
            }
            ++depth;
            if (name == QLatin1String("request")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                Request request;
                request.project = attributes.value(QLatin1String("project")).toString();
                request.name = attributes.value(QLatin1String("name")).toString();
                request.type = attributes.value(QLatin1String("type")).toString();
                m_requests.append(request);
                openRequests.append({m_requests.size() - 1, depth});
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!gatherings.isEmpty() && gatherings.last().depth == depth)
                gatherings.removeLast();
            if (!openDeltas.isEmpty() && openDeltas.last().depth == depth + 1)
                openDeltas.removeLast();
            if (!openRequests.isEmpty() && openRequests.last().depth == depth)
                openRequests.removeLast();
            --depth;
            break;
        case QXmlStreamReader::Characters:
            // Text that is only spaces (no-break spaces too) counts for
            // nothing; a CDATA section always counts.
            if (!reader.isCDATA() && reader.text().trimmed().isEmpty())
                break;
            misplaced = misplaced || depth == 0;
            for (const Gathering &gathering : std::as_const(gatherings))
                m_requests[gathering.request].fields[gathering.field] += reader.text();
            break;
        case QXmlStreamReader::ProcessingInstruction:
            if (Request *parent = parentRequest();
                parent && isMarker(reader.processingInstructionTarget()))
                parent->hasMarker = true;
            break;
        case QXmlStreamReader::EntityReference:
            if (Request *parent = parentRequest(); parent && isMarker(reader.name()))
                parent->hasMarker = true;
            break;
        default:
            break;
        }
    }
    m_wellFormed = !reader.hasError() && !misplaced;
}

bool UpdateAnswer::isUsable(bool requireArchiveDigests, QString *problem) const
{
    if (m_requests.isEmpty()) {
        *problem = QCoreApplication::translate(
            "UpdateAnswer", "The update server's answer says nothing about the installed "
                            "components.");
        return false;
    }
    QSet<QString> names;
    for (const Request &update : m_requests) {
        if (update.hasMarker)
            continue;
        const QString name = recordText(update.name);
        if (!isPlainName(name)) {
            *problem =
                QCoreApplication::translate(
                    "UpdateAnswer", "The update server's answer names a component \"%1\", which "
                                    "is not a valid component name.")
                    .arg(name);
            return false;
        }
        if (update.type != QLatin1String("app") && update.type != QLatin1String("plugin")) {
            *problem = QCoreApplication::translate(
                           "UpdateAnswer", "The update server's answer gives the component %1 the "
                                           "unknown type \"%2\".")
                           .arg(name, recordText(update.type));
            return false;
        }
        if (names.contains(name)) {
            *problem =
                QCoreApplication::translate(
                    "UpdateAnswer", "The update server's answer offers the component %1 twice.")
                    .arg(name);
            return false;
        }
        names.insert(name);
        const QString &size = update.fields[Size];
        const QString &sha256 = update.fields[Sha256];
        const bool given = !size.isEmpty() || !sha256.isEmpty();
        if ((given || requireArchiveDigests)
            && (ArchiveDigest::byteCount(size) < 0 || !ArchiveDigest::isHexDigest(sha256.toUtf8()))) {
            *problem = QCoreApplication::translate(
                           "UpdateAnswer", "The update server's answer does not give the size and "
                                           "checksum of the package %1.")
                           .arg(name);
            return false;
        }
        if (update.hasDelta
            && (!UpdateInfo::isPackageLink(recordText(update.fields[DeltaLink]))
                || ArchiveDigest::byteCount(update.fields[DeltaSize]) < 0
                || !ArchiveDigest::isHexDigest(update.fields[DeltaSha256].toUtf8()))) {
            *problem = QCoreApplication::translate(
                           "UpdateAnswer", "The update server's answer does not give the "
                                           "address, size and checksum of the delta package %1.")
                           .arg(name);
            return false;
        }
    }
    return true;
}

QVector<UpdateInfo> UpdateAnswer::updates() const
{
    QVector<UpdateInfo> updates;
    for (const Request &request : m_requests) {
        if (request.hasMarker)
            continue;
        updates.append(UpdateInfo(
            recordText(request.project), recordText(request.name), recordText(request.type),
            recordText(request.fields[Version]), recordText(request.fields[Description]),
            recordText(request.fields[Changelog]), recordText(request.fields[Link]),
            ArchiveDigest::byteCount(request.fields[Size]), request.fields[Sha256].toUtf8(),
            {recordText(request.fields[DeltaLink]), ArchiveDigest::byteCount(request.fields[DeltaSize]),
             request.fields[DeltaSha256].toUtf8()}));
    }
    return updates;
}
