#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The components that the stand-in messenger reports as installed. Each one
// is recorded in a small file "*.component" holding a single element such as
//   <component project="vemo" name="core" type="app" version="7.0.0"/>
// which update packages replace when they install a new version.
class ComponentList
{
public:
    struct Component
    {
        QString project;
        QString name;
        QString type;
        QString version;
    };

    // Appends the components recorded in the "*.component" files of dir, in
    // the order of their file names. A missing directory adds nothing; a file
    // that cannot be read or does not hold a component element is skipped
    // and noted.
    void addDirectory(const QString &dir);

    QVector<Component> components() const { return m_components; }
    QStringList notes() const { return m_notes; }

    // The update query: "<s>" followed by one component element per
    // component and "</s>", on one line. Attribute values are escaped, and
    // every character outside ASCII is written as a character reference, so
    // the query passes unchanged through a reader that takes the output as
    // Latin-1.
    QByteArray query() const;

    static bool readComponentFile(const QString &path, Component *component, QString *error);

private:
    QVector<Component> m_components;
    QStringList m_notes;
};
