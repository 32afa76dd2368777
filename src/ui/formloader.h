#pragma once

#include <QString>
#include <QWidget>

class QObject;

// The four windows are forms compiled into the resources (":/res/*.ui") and
// built with QUiLoader at run time. A form that cannot be read or built, or
// that lacks an object its controller relies on, means a broken build: the
// program says so and ends with exit code 1 (debug builds assert first).

// Loads a form. The widget has no parent, so it becomes a window; its texts
// are translated at load time with the form's class name as context.
QWidget *loadForm(const QString &resourcePath);

// Loads the form of a window controller: the widget is deleted when it is
// closed, and the controller once the widget is gone. The caller shows it.
QWidget *openForm(QObject *controller, const QString &resourcePath);

// Ends the program because a form is broken (see above).
[[noreturn]] void reportBrokenForm(const QString &form, const QString &problem);

// The form's child of that class and object name.
template<typename T> T *formChild(QWidget *form, const char *objectName)
{
    T *child = form->findChild<T *>(QLatin1String(objectName));
    if (!child)
        reportBrokenForm(form->objectName(),
                         QStringLiteral("no object \"%1\"").arg(QLatin1String(objectName)));
    return child;
}
