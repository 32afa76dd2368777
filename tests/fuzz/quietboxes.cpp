// The message boxes of the updater for fuzz targets that run the installer
// without a screen: each box is only counted, and the Abort/Retry question
// answers Abort. Linked before the updater's library, these definitions take
// the place of src/ui/messageboxes.cpp, which is then not linked at all.

#include "ui/messageboxes.h"

namespace MessageBoxes {

QString updateTitle()
{
    return QStringLiteral("Update");
}

QString installTitle()
{
    return QStringLiteral("Update");
}

QString checkTitle()
{
    return QStringLiteral("Check updates");
}

void critical(const QString &, const QString &) { }

void information(const QString &, const QString &) { }

bool askRetry(const QString &, const QString &)
{
    return false;
}

} // namespace MessageBoxes
