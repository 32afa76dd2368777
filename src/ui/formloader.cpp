#include "formloader.h"

#include "messageboxes.h"

#include <QCoreApplication>
#include <QFile>
#include <QUiLoader>
#include <cstdlib>

QWidget *loadForm(const QString &resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        reportBrokenForm(resourcePath, file.errorString());
    // The forms use Qt's own widgets only. Made with the library paths in
    // place, the loader would load every Qt Designer plugin installed on the
    // system as it is made (one of them brings Qt Quick and QML along):
    // milliseconds of every window, for widgets no form uses.
    const QStringList libraryPaths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths(QStringList());
    QUiLoader loader;
    QCoreApplication::setLibraryPaths(libraryPaths);
    QWidget *widget = loader.load(&file, nullptr);
    if (!widget)
        reportBrokenForm(resourcePath, loader.errorString());
    return widget;
}

QWidget *openForm(QObject *controller, const QString &resourcePath)
{
    QWidget *widget = loadForm(resourcePath);
    widget->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(widget, &QObject::destroyed, controller, &QObject::deleteLater);
    return widget;
}

void reportBrokenForm(const QString &form, const QString &problem)
{
    const QString details = QStringLiteral("%1: %2").arg(form, problem);
    Q_ASSERT_X(false, "reportBrokenForm", qPrintable(details));
    qCritical("Broken window %s", qPrintable(details));
    MessageBoxes::critical(
        UserPrompts::updateTitle(),
        QCoreApplication::translate("translation",
                                    "A window of the updater is damaged (%1). Please reinstall the "
                                    "application.",
                                    "nc")
            .arg(details));
    std::exit(1);
}
