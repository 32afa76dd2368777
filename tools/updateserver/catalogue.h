#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>

class UpdateQuery;

// The update server's catalogue, "catalogue.xml": one "component" element
// per known component, identified by the attributes project, name and type,
// whose child elements (version, description, changelog, link, ...) describe
// the newest package, and whose "delta" children (attribute "from": the
// version a delta was made against) the delta packages to it.
class Catalogue
{
public:
    bool load(const QString &path);
    QString errorString() const { return m_error; }

    // The answer document for a query: one "request" element per queried
    // component, in query order, holding either a marker ("latest",
    // "noSuchUpdate", "noSuchComponent") or the catalogue's description of
    // the newer version, with the delta package made against the installed
    // version when the catalogue has one.
    QByteArray answer(const UpdateQuery &query) const;

    // Compares dot-separated version numbers part by part, numerically, with
    // missing parts counting as 0. A part counts by its leading digits only
    // ("0-beta" is 0). Returns a negative number, zero or a positive number.
    static int compareVersions(const QString &a, const QString &b);

private:
    QDomElement find(const QString &project, const QString &name, const QString &type) const;

    QDomDocument m_document;
    QString m_error;
};
