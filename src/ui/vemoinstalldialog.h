#pragma once

#include <QObject>

class QProgressBar;
class QWidget;
class VemoUpdaterEngine;

// The install window: shows itself and runs the whole installation inside its
// constructor, then gives way to the summary window.
class VemoInstallDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoInstallDialog(VemoUpdaterEngine *engine);

private slots:
    void finished();

private:
    VemoUpdaterEngine *engine;
    QWidget *widget = nullptr;
    QProgressBar *progressBar = nullptr;
};
