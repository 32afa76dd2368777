#include "packagemanifest.h"

#include <QXmlStreamWriter>

PackageManifest::PackageManifest(const QString &project, const QString &name,
                                 const QString &type)
    : m_project(project)
    , m_name(name)
    , m_type(type)
{
}

QByteArray PackageManifest::toXml() const
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("package"));
    writer.writeAttribute(QStringLiteral("project"), m_project);
    writer.writeAttribute(QStringLiteral("name"), m_name);
    writer.writeAttribute(QStringLiteral("type"), m_type);
    for (const File &file : m_files) {
        writer.writeEmptyElement(QStringLiteral("file"));
        writer.writeAttribute(QStringLiteral("path"), file.path);
        writer.writeAttribute(QStringLiteral("name"), file.name);
        if (file.action == Add)
            writer.writeAttribute(QStringLiteral("action"), QStringLiteral("add"));
        else if (file.action == Remove)
            writer.writeAttribute(QStringLiteral("action"), QStringLiteral("remove"));
        if (file.action == Patch) {
            writer.writeAttribute(QStringLiteral("action"), QStringLiteral("patch"));
            writer.writeAttribute(QStringLiteral("from-size"), QString::number(file.fromSize));
            writer.writeAttribute(QStringLiteral("from-sha256"), QString::fromLatin1(file.fromSha256));
            writer.writeAttribute(QStringLiteral("size"), QString::number(file.size));
            writer.writeAttribute(QStringLiteral("sha256"), QString::fromLatin1(file.sha256));
        }
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

bool PackageManifest::parseFileArgument(const QString &argument, Action action, File *file,
                                    QString *error)
{
    const int colon = argument.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        *error = QStringLiteral("\"%1\" is not PATH:NAME (write \":%1\" for a file in the root)")
                     .arg(argument);
        return false;
    }
    if (colon == argument.size() - 1) {
        *error = QStringLiteral("\"%1\" names no file after the colon").arg(argument);
        return false;
    }
    file->path = argument.left(colon);
    file->name = argument.mid(colon + 1);
    file->action = action;
    return true;
}
