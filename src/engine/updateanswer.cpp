#include "updateanswer.h"

#include "updateinfo.h"

#include <QChar>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>

namespace {

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

bool parse(const QByteArray &received, QDomDocument *document)
{
    // A complete document always ends with '>' (its root element's end tag,
    // or a comment or processing instruction after it), followed at most by
    // white space. Pieces that end elsewhere cannot parse, so the full parse
    // is saved for the pieces that can. Zero bytes are skipped as well, so
    // that UTF-16 and UTF-32 documents pass the same test.
    qsizetype last = received.size() - 1;
    while (last >= 0 && (received.at(last) == '\0' || QChar::isSpace(uchar(received.at(last)))))
        --last;
    if (last < 0 || received.at(last) != '>')
        return false;
    return document->setContent(received, false);
}

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

        updates.append(new UpdateInfo(project, name, type, version, description, copyrights,
                                      author, webpage, email, changelog, link, critical,
                                      timestamp));
    }
    return updates;
}

} // namespace UpdateAnswer
