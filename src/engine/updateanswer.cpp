#include "updateanswer.h"

#include "archivedigest.h"
#include "updateinfo.h"

#include <QCoreApplication>
#include <QSet>

#include <QChar>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>

namespace {

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

std::string utf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

std::string childText(const QDomElement &request, const QString &tag)
{
    return utf8(request.firstChildElement(tag).text());
}

bool hasChild(const QDomElement &request, const QString &name)
{
    return !request.namedItem(name).isNull();
}

} // namespace

namespace UpdateAnswer {

QVector<UpdateInfo *> availableUpdates(const QDomDocument &document)
{
    QVector<UpdateInfo *> updates;
    const QDomNodeList requests = document.elementsByTagName(QStringLiteral("request"));
    for (int i = 0; i < requests.count(); ++i) {
        const QDomElement request = requests.item(i).toElement();
        if (hasChild(request, QStringLiteral("latest"))
            || hasChild(request, QStringLiteral("noSuchUpdate"))
            || hasChild(request, QStringLiteral("noSuchComponent")))
            continue;

        const std::string project = utf8(request.attribute(QStringLiteral("project")));
        const std::string name = utf8(request.attribute(QStringLiteral("name")));
        const std::string type = utf8(request.attribute(QStringLiteral("type")));

        const std::string version = childText(request, QStringLiteral("version"));
        const std::string description = childText(request, QStringLiteral("description"));
        const std::string copyrights = childText(request, QStringLiteral("copyrights"));
        const std::string webpage = childText(request, QStringLiteral("webpage"));
        const std::string email = childText(request, QStringLiteral("email"));
        const std::string changelog = childText(request, QStringLiteral("changelog"));
        const std::string link = childText(request, QStringLiteral("link"));
        const std::string author = childText(request, QStringLiteral("author"));

        const bool critical =
            request.firstChildElement(QStringLiteral("critical")).text() == QLatin1String("true");

        bool isNumber = false;
        quint32 timestamp =
            request.firstChildElement(QStringLiteral("timestamp")).text().toUInt(&isNumber, 10);
        if (!isNumber)
            timestamp = 0;

        const std::string size = childText(request, QStringLiteral("size"));
        const std::string sha256 = childText(request, QStringLiteral("sha256"));

        updates.append(new UpdateInfo(project, name, type, version, description, copyrights, author,
                                      webpage, email, changelog, link, critical, timestamp, size,
                                      sha256));
    }
    return updates;
}

bool isUsable(const QDomDocument &document, const QVector<UpdateInfo *> &updates,
              bool requireArchiveDigests, QString *problem)
{
    if (document.elementsByTagName(QStringLiteral("request")).isEmpty()) {
        *problem = QCoreApplication::translate(
            "translation",
            "The update server's answer says nothing about the installed "
            "components.",
            "nc");
        return false;
    }
    QSet<QString> names;
    for (const UpdateInfo *update : updates) {
        const QString name = recordText(update->name());
        if (!isPlainName(name)) {
            *problem = QCoreApplication::translate(
                           "translation",
                           "The update server's answer names a component \"%1\", which "
                           "is not a valid component name.",
                           "nc")
                           .arg(name);
            return false;
        }
        if (update->type() != "app" && update->type() != "plugin") {
            *problem =
                QCoreApplication::translate("translation",
                                            "The update server's answer gives the component %1 the "
                                            "unknown type \"%2\".",
                                            "nc")
                    .arg(name, recordText(update->type()));
            return false;
        }
        if (names.contains(name)) {
            *problem = QCoreApplication::translate(
                           "translation",
                           "The update server's answer offers the component %1 twice.", "nc")
                           .arg(name);
            return false;
        }
        names.insert(name);
        const bool given = !update->archiveSize().empty() || !update->archiveSha256().empty();
        if ((given || requireArchiveDigests)
            && (update->archiveBytes() < 0
                || !ArchiveDigest::isHexDigest(
                    QByteArray::fromStdString(update->archiveSha256())))) {
            *problem =
                QCoreApplication::translate("translation",
                                            "The update server's answer does not give the size and "
                                            "checksum of the package %1.",
                                            "nc")
                    .arg(name);
            return false;
        }
    }
    return true;
}

} // namespace UpdateAnswer
