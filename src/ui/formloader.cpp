#include "formloader.h"

#include <QFile>
#include <QUiLoader>
#include <QWidget>

QWidget *loadForm(const QString &resourcePath)
{
    QUiLoader loader;
    QFile file(resourcePath);
    file.open(QIODevice::ReadOnly);
    QWidget *widget = loader.load(&file, nullptr);
    file.close();
    return widget;
}
