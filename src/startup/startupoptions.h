#pragma once

#include <QStringList>

// The switches of the updater's command line. Every argument after the
// program name is compared whole and case-sensitively; anything else is
// ignored, and a switch may stand anywhere and more than once. "-root" and
// its value are read where they are needed, not here.
struct StartupOptions
{
    bool quiet = false;      // "-q"
    bool updateMode = false; // "-u"
};

StartupOptions parseStartupOptions(const QStringList &arguments);
