#pragma once

#include <QObject>

class QEvent;
class QProgressBar;
class QWidget;
class VemoUpdaterEngine;

// The install window: shows itself and runs the whole installation inside its
// constructor, then gives way to the summary window. While the installation
// runs it keeps itself painted: whenever the engine reports progress it lets
// the window system's events through, but none of the user's input, and it
// refuses to be closed until the installation is over.
class VemoInstallDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoInstallDialog(VemoUpdaterEngine *engine);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void finished();

private:
    void paint();

    VemoUpdaterEngine *engine;
    QWidget *widget = nullptr;
    QProgressBar *progressBar = nullptr;
    bool installing = false;
};
