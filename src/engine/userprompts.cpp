#include "userprompts.h"

#include <QCoreApplication>

QString UserPrompts::updateTitle()
{
    return QCoreApplication::translate("UserPrompts", "Update", "program update");
}

QString UserPrompts::installTitle()
{
    return QCoreApplication::translate("UserPrompts", "Update", "installation");
}

QString UserPrompts::checkTitle()
{
    return QCoreApplication::translate("UserPrompts", "Check updates");
}
