#pragma once

#include "updateinfo.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QXmlStreamAttributes>

// The update server's answer: one XML document whose "request" elements, at
// any depth, each say something about one installed component.
//
// One QXmlStreamReader reads the document once, without namespace
// processing, for everything the updater and the release tools take from it:
// the root element's attributes (which the signature check looks at), the
// records of the "request" elements, and whether the document is well-formed
// as a whole. Text is read the way the answers have always been read: the
// text of an element is that of its text and CDATA descendants, where a
// piece of text between two pieces of markup that is only spaces counts for
// nothing (a CDATA section always counts). The byte order mark, the first
// bytes or the XML declaration name the encoding, one of those XmlEncoding
// reads.
class UpdateAnswer
{
public:
    explicit UpdateAnswer(const QByteArray &document);

    // Well-formed from the first byte to the last.
    bool isWellFormed() const { return m_wellFormed; }
    // Whether the reading got as far as the root element's start tag (also
    // when the document turned out not to be well-formed after it), and that
    // tag's attributes.
    bool hasRoot() const { return m_hasRoot; }
    const QXmlStreamAttributes &rootAttributes() const { return m_rootAttributes; }

    // Whether the answer can be acted on, checked before anything is
    // downloaded: it holds at least one "request" (the updater always asks
    // about at least one component); every update names its component by a
    // plain file name (it names the unpack directory) and has the type "app"
    // or "plugin"; no two updates share a name; "size" and "sha256" are
    // well-formed where given, and given for every update when
    // requireArchiveDigests is set; a "delta" element, where there is one,
    // has a package link (UpdateInfo::isPackageLink) and a well-formed size
    // and checksum. Otherwise *problem gets a translated description of what
    // is wrong. Only a well-formed answer is checked.
    bool isUsable(bool requireArchiveDigests, QString *problem) const;

    // One record for every "request" element that has none of the children
    // "latest", "noSuchUpdate" and "noSuchComponent" (an element, a
    // processing instruction or an entity reference of that name), in
    // document order. Each text is the first child element's of that name;
    // the delta package's are those of the first "delta" child's first
    // "link", "size" and "sha256" children.
    QVector<UpdateInfo> updates() const;

private:
    enum Field {
        Version,
        Description,
        Changelog,
        Link,
        Size,
        Sha256,
        DeltaLink,
        DeltaSize,
        DeltaSha256,
        FieldCount
    };
    struct Request
    {
        QString project;
        QString name;
        QString type;
        QString fields[FieldCount];
        bool found[FieldCount] = {};
        bool hasMarker = false;
        bool hasDelta = false;
    };

    void read(const QByteArray &document);

    bool m_wellFormed = false;
    bool m_hasRoot = false;
    QXmlStreamAttributes m_rootAttributes;
    QVector<Request> m_requests;
};
