#pragma once

#include <QString>
#include <QVector>

class QDomDocument;
class UpdateInfo;

// The update server's answer: one XML document whose "request" elements, at
// any depth, each say something about one installed component.
namespace UpdateAnswer {

// One new record for every "request" element that has none of the children
// "latest", "noSuchUpdate" and "noSuchComponent", in document order. The
// caller owns the records.
QVector<UpdateInfo *> availableUpdates(const QDomDocument &document);

// Whether the answer can be acted on, checked before anything is downloaded:
// it holds at least one "request" (the updater always asks about at least
// one component); every update names its component by a plain file name
// (it names the unpack directory) and has the type "app" or "plugin"; no two
// updates share a name; "size" and "sha256" are well-formed where given,
// and given for every update when requireArchiveDigests is set. Otherwise
// *problem gets a translated description of what is wrong.
bool isUsable(const QDomDocument &document, const QVector<UpdateInfo *> &updates,
              bool requireArchiveDigests, QString *problem);

} // namespace UpdateAnswer
