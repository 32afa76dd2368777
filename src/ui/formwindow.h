#pragma once

#include <QObject>
#include <QWidget>

// The four windows are Qt Designer forms (res/*.ui) compiled into the program
// by uic: each object a controller uses is a member of the form's Ui class,
// so a form that lacks one does not build. setupUi() translates the form's
// texts as it builds the window, with the form's class name as context.

// Builds a form into a new window for a window controller: the window has no
// parent, is deleted when it is closed, and the controller once the window
// is gone. The caller shows it.
template<typename Form> QWidget *openForm(QObject *controller, Form *form)
{
    auto *widget = new QWidget;
    form->setupUi(widget);
    widget->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(widget, &QObject::destroyed, controller, &QObject::deleteLater);
    return widget;
}
