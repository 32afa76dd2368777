#include "startupoptions.h"

StartupOptions parseStartupOptions(const QStringList &arguments)
{
    StartupOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("-q"))
            options.quiet = true;
        else if (arguments.at(i) == QLatin1String("-u"))
            options.updateMode = true;
    }
    return options;
}
