#pragma once

#include <QByteArray>
#include <QVector>

class QDomDocument;
class UpdateInfo;

// The update server's answer: one XML document whose "request" elements, at
// any depth, each say something about one installed component.
namespace UpdateAnswer {

// True when the bytes received so far form a complete, well-formed document.
bool parse(const QByteArray &received, QDomDocument *document);

// One new record for every "request" element that has none of the children
// "latest", "noSuchUpdate" and "noSuchComponent", in document order. The
// caller owns the records.
QVector<UpdateInfo *> availableUpdates(const QDomDocument &document);

} // namespace UpdateAnswer
