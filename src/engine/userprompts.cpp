#include "userprompts.h"

#include <QCoreApplication>

QString UserPrompts::updateTitle()
{
    return QCoreApplication::translate("translation", "Update", "program update");
}

QString UserPrompts::installTitle()
{
    return QCoreApplication::translate("translation", "Update", "nc");
}

QString UserPrompts::checkTitle()
{
    return QCoreApplication::translate("translation", "Check updates", "nc");
}
