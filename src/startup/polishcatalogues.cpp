#include "polishcatalogues.h"

#include <QCoreApplication>

bool PolishCatalogues::install()
{
    // Installed last, ours is asked first; the two share no context anyway.
    if (!m_qtInstalled && m_qt.load(QStringLiteral(":/languages/qtbase_pl.qm")))
        m_qtInstalled = QCoreApplication::installTranslator(&m_qt);
    if (!m_updaterInstalled && m_updater.load(QStringLiteral(":/languages/vemo_pl_PL.qm")))
        m_updaterInstalled = QCoreApplication::installTranslator(&m_updater);
    return m_qtInstalled && m_updaterInstalled;
}

PolishCatalogues::~PolishCatalogues()
{
    if (m_updaterInstalled)
        QCoreApplication::removeTranslator(&m_updater);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
}
