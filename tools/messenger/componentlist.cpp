#include "componentlist.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

namespace {

QByteArray escaped(const QString &value)
{
    QByteArray out;
    for (const char32_t c : value.toUcs4()) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            // Control characters would change the one-line shape of the
            // query; in an attribute they are only whitespace anyway.
            if (c < 0x20 || c >= 0x7f)
                out += "&#" + QByteArray::number(uint(c)) + ';';
            else
                out += char(c);
        }
    }
    return out;
}

} // namespace

bool ComponentList::readComponentFile(const QString &path, Component *component, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QXmlStreamReader reader(&file);
    bool found = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!found && reader.isStartElement()) {
            if (reader.name() != QLatin1String("component")) {
                *error = QStringLiteral("expected a component element, found <%1>")
                             .arg(reader.name().toString());
                return false;
            }
            const QXmlStreamAttributes attributes = reader.attributes();
            component->project = attributes.value(QLatin1String("project")).toString();
            component->name = attributes.value(QLatin1String("name")).toString();
            component->type = attributes.value(QLatin1String("type")).toString();
            component->version = attributes.value(QLatin1String("version")).toString();
            found = true;
        }
    }
    if (reader.hasError()) {
        *error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return false;
    }
    if (!found) {
        *error = QStringLiteral("no component element");
        return false;
    }
    return true;
}

void ComponentList::addDirectory(const QString &dir)
{
    const QDir directory(dir);
    const QStringList files = directory.entryList({QStringLiteral("*.component")},
                                                  QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &fileName : files) {
        const QString path = directory.filePath(fileName);
        Component component;
        QString error;
        if (readComponentFile(path, &component, &error))
            m_components.append(component);
        else
            m_notes << QStringLiteral("skipped %1: %2").arg(QDir::toNativeSeparators(path), error);
    }
}

QByteArray ComponentList::query() const
{
    QByteArray query("<s>");
    for (const Component &component : m_components) {
        query += "<component project=\"" + escaped(component.project) + "\" name=\""
                 + escaped(component.name) + "\" type=\"" + escaped(component.type)
                 + "\" version=\"" + escaped(component.version) + "\"/>";
    }
    query += "</s>";
    return query;
}
