#include "messageboxes.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace MessageBoxes {

QString updateTitle()
{
    return QCoreApplication::translate("translation", "Update", "program update");
}

QString installTitle()
{
    return QCoreApplication::translate("translation", "Update", "nc");
}

QString checkTitle()
{
    return QCoreApplication::translate("translation", "Check updates", "nc");
}

void critical(const QString &title, const QString &text)
{
    QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
}

void information(const QString &title, const QString &text)
{
    QMessageBox::information(nullptr, title, text, QMessageBox::Ok);
}

bool askRetry(const QString &title, const QString &text)
{
    return QMessageBox::warning(nullptr, title, text, QMessageBox::Abort | QMessageBox::Retry,
                                QMessageBox::Retry)
           == QMessageBox::Retry;
}

} // namespace MessageBoxes
