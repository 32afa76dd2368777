#pragma once

#include <QTranslator>

// The updater speaks Polish whatever the system's language is. Two catalogues
// are compiled into the executable: the updater's own and Qt's (the standard
// buttons of message boxes, the context menus of text boxes, the network
// layer's error texts). install() puts both in place; they stay installed for
// the lifetime of the object.
class PolishCatalogues
{
public:
    PolishCatalogues() = default;
    ~PolishCatalogues();

    PolishCatalogues(const PolishCatalogues &) = delete;
    PolishCatalogues &operator=(const PolishCatalogues &) = delete;

    // Loads and installs both catalogues. A catalogue that does not load is
    // left out and its texts show in English; false when either is missing.
    bool install();

private:
    QTranslator m_qt;
    QTranslator m_updater;
    bool m_qtInstalled = false;
    bool m_updaterInstalled = false;
};
