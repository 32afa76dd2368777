#include "updaterresources.h"

#include <QtGlobal>

static void initResources()
{
    Q_INIT_RESOURCE(updater);
    Q_INIT_RESOURCE(languages);
}

void registerUpdaterResources()
{
    initResources();
}
