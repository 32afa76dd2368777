#include "catalogue.h"

#include "updatequery.h"

#include <QFile>
#include <QStringList>

namespace {

const QString DeltaName = QStringLiteral("delta");

// The leading digits of a version part, without leading zeros, so that two
// parts of any length compare by length first and then digit by digit.
QString numberOf(const QString &part)
{
    int end = 0;
    while (end < part.size() && part.at(end).isDigit() && part.at(end).unicode() < 0x80)
        ++end;
    int begin = 0;
    while (begin < end && part.at(begin) == QLatin1Char('0'))
        ++begin;
    return part.mid(begin, end - begin);
}

} // namespace

bool Catalogue::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QString message;
    int line = 0;
    int column = 0;
    QDomDocument document;
    if (!document.setContent(&file, &message, &line, &column)) {
        m_error = QStringLiteral("%1 is not well-formed: line %2, column %3: %4")
                      .arg(path)
                      .arg(line)
                      .arg(column)
                      .arg(message);
        return false;
    }
    m_document = document;
    return true;
}

int Catalogue::compareVersions(const QString &a, const QString &b)
{
    const QStringList partsA = a.split(QLatin1Char('.'));
    const QStringList partsB = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(partsA.size(), partsB.size()); ++i) {
        const QString x = numberOf(partsA.value(i));
        const QString y = numberOf(partsB.value(i));
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        const int order = x.compare(y);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

QDomElement Catalogue::find(const QString &project, const QString &name,
                            const QString &type) const
{
    for (QDomElement element = m_document.documentElement().firstChildElement(
             QStringLiteral("component"));
         !element.isNull(); element = element.nextSiblingElement(QStringLiteral("component"))) {
        if (element.attribute(QStringLiteral("project")) == project
            && element.attribute(QStringLiteral("name")) == name
            && element.attribute(QStringLiteral("type")) == type)
            return element;
    }
    return {};
}

QByteArray Catalogue::answer(const UpdateQuery &query) const
{
    QDomDocument answer;
    answer.appendChild(answer.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement updates = answer.createElement(QStringLiteral("updates"));
    answer.appendChild(updates);
    for (const UpdateQuery::Component &component : query.components()) {
        QDomElement request = answer.createElement(QStringLiteral("request"));
        request.setAttribute(QStringLiteral("project"), component.project);
        request.setAttribute(QStringLiteral("name"), component.name);
        request.setAttribute(QStringLiteral("type"), component.type);
        updates.appendChild(request);

        const QDomElement known = find(component.project, component.name, component.type);
        if (known.isNull()) {
            request.appendChild(answer.createElement(QStringLiteral("noSuchComponent")));
            continue;
        }
        const QString version = known.firstChildElement(QStringLiteral("version")).text();
        const int order = compareVersions(version, component.version);
        if (order == 0) {
            request.appendChild(answer.createElement(QStringLiteral("latest")));
        } else if (order < 0) {
            request.appendChild(answer.createElement(QStringLiteral("noSuchUpdate")));
        } else {
            // Every child but the deltas; of those, the one made against the
            // installed version goes last, without its "from".
            QDomElement delta;
            for (QDomElement child = known.firstChildElement(); !child.isNull();
                 child = child.nextSiblingElement()) {
                if (child.tagName() != DeltaName)
                    request.appendChild(answer.importNode(child, true));
                else if (delta.isNull()
                         && compareVersions(child.attribute(QStringLiteral("from")),
                                            component.version)
                                == 0)
                    delta = child;
            }
            if (!delta.isNull()) {
                QDomElement copy = answer.importNode(delta, true).toElement();
                copy.removeAttribute(QStringLiteral("from"));
                request.appendChild(copy);
            }
        }
    }
    return answer.toByteArray(1);
}
