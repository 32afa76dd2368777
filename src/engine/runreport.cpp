#include "runreport.h"

#include "runlog.h"
#include "vemoupdaterengine.h"

#include <QXmlStreamReader>

RunReport::RunReport(VemoUpdaterEngine *engine)
    : m_engine(engine)
    , m_phase(std::make_unique<RunPhase>(QStringLiteral("update check")))
{
    connect(engine, &VemoUpdaterEngine::downloadBegun, this, [this] {
        nextPhase(Stage::Download, QStringLiteral("download"), QStringLiteral("download now"));
    });
    connect(engine, &VemoUpdaterEngine::downloadFile, this,
            [](const QString &name) { qCInfo(lcRunLog, "download: %s", qUtf8Printable(name)); });
    connect(engine, &VemoUpdaterEngine::downloadBytes, this, [this](qint64 done, qint64 total) {
        m_bytesDone = done;
        m_bytesTotal = total;
    });
    connect(engine, &VemoUpdaterEngine::error, this,
            [this](const QString &text) { m_downloadError = text; });
    connect(engine, &VemoUpdaterEngine::downloadFinished, this, [this] {
        nextPhase(Stage::Install, QStringLiteral("install"),
                  QStringLiteral("%1 bytes downloaded").arg(m_bytesDone));
    });
    connect(engine, &VemoUpdaterEngine::installFile, this,
            [](const QString &name) { qCInfo(lcRunLog, "install: %s", qUtf8Printable(name)); });
    connect(engine, &VemoUpdaterEngine::installFinished, this, [this] {
        nextPhase(Stage::Summary, QStringLiteral("summary"),
                  m_engine->installSucceeded() ? QStringLiteral("installed")
                                               : QStringLiteral("failed"));
    });
}

RunReport::~RunReport()
{
    ended();
}

void RunReport::checked(bool succeeded, bool quiet)
{
    if (!succeeded) {
        m_phase->finish(QStringLiteral("failed"));
        qCInfo(lcRunLog, "outcome: the update check failed");
        m_stage = Stage::Ended;
        return;
    }
    m_phase->finish(QStringLiteral("%1 update(s) offered").arg(m_engine->updates().size()));
    logComponents();
    if (!m_engine->hasUpdates()) {
        // Told once the user has seen the box that says so.
        m_stage = Stage::NoUpdates;
    } else if (!quiet) {
        nextPhase(Stage::Offer, QStringLiteral("offer"));
    }
}

void RunReport::ended()
{
    if (m_stage == Stage::Ended)
        return;
    const Stage stage = m_stage;
    m_phase.reset();
    m_stage = Stage::Ended;
    switch (stage) {
    case Stage::Check:
        qCInfo(lcRunLog, "outcome: stopped during the update check");
        break;
    case Stage::NoUpdates:
        qCInfo(lcRunLog, "outcome: no updates");
        break;
    case Stage::Offer:
        qCInfo(lcRunLog, "outcome: not downloaded (the offer was closed)");
        break;
    case Stage::Download:
        qCInfo(lcRunLog, "download: %lld of %lld bytes", m_bytesDone, m_bytesTotal);
        if (m_downloadError.isEmpty())
            qCInfo(lcRunLog, "outcome: cancelled");
        else
            qCInfo(lcRunLog, "outcome: the download failed");
        break;
    case Stage::Install:
    case Stage::Summary: {
        const QString &outcome = m_engine->installOutcome();
        if (!outcome.isEmpty())
            qCInfo(lcRunLog, "outcome: %s", qUtf8Printable(outcome));
        else
            qCInfo(lcRunLog, "outcome: %s", m_engine->installSucceeded() ? "updated" : "failed");
        break;
    }
    case Stage::Ended:
        break;
    }
}

void RunReport::nextPhase(Stage stage, const QString &name, const QString &result)
{
    if (m_phase)
        m_phase->finish(result);
    m_stage = stage;
    m_phase = std::make_unique<RunPhase>(name);
}

// The installed components as the messenger's query names them (whatever
// else the query holds is left out), then the offered versions.
void RunReport::logComponents() const
{
    QXmlStreamReader query(m_engine->query());
    while (!query.atEnd()) {
        if (query.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = query.attributes();
        if (attributes.hasAttribute(QLatin1String("name"))) {
            qCInfo(lcRunLog, "installed: %s %s",
                   qUtf8Printable(attributes.value(QLatin1String("name")).toString()),
                   qUtf8Printable(attributes.value(QLatin1String("version")).toString()));
        }
    }
    for (const UpdateInfo &update : m_engine->updates()) {
        qCInfo(lcRunLog, "offered: %s %s (%s)", qUtf8Printable(update.name()),
               qUtf8Printable(update.version()), qUtf8Printable(update.link()));
    }
}
