#pragma once

#include <QString>

class QWidget;

// Loads a form compiled into the resources (":/res/*.ui") with QUiLoader. The
// widget has no parent, so it becomes a window; its texts are translated at
// load time with the form's class name as context.
QWidget *loadForm(const QString &resourcePath);
