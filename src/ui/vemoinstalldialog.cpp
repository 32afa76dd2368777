#include "vemoinstalldialog.h"

#include "engine/vemoupdaterengine.h"
#include "formwindow.h"
#include "ui_Install.h"
#include "vemosummarydialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>

VemoInstallDialog::VemoInstallDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    Ui::Updater_Install_MainWindow form;
    widget = openForm(this, &form);
    progressBar = form.Updater_Install_Progress;
    QLabel *label = form.Updater_Install_ProgressText;

    connect(engine, &VemoUpdaterEngine::installProgress, progressBar, &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::installFile, label, &QLabel::setText);
    connect(engine, &VemoUpdaterEngine::installFinished, this, &VemoInstallDialog::finished);
    // The bar also follows the installation within a package, and every
    // change is put on screen at once. The engine reports within a package
    // only a few times a second, so painting costs the installation little.
    connect(engine, &VemoUpdaterEngine::installDetailedProgress, progressBar,
            &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::installFile, this, &VemoInstallDialog::paint);
    connect(engine, &VemoUpdaterEngine::installProgress, this, &VemoInstallDialog::paint);
    connect(engine, &VemoUpdaterEngine::installDetailedProgress, this,
            &VemoInstallDialog::paint);
    widget->installEventFilter(this);

    widget->show();

    // The installation runs here, synchronously; its end opens the summary
    // window (finished()) before this call returns.
    installing = true;
    engine->installUpdates();
}

bool VemoInstallDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the window (its title bar, the window manager's keys) while
    // the installation goes on would take the window from under it: the
    // installation always runs to its end, and the window stays until then.
    if (watched == widget && event->type() == QEvent::Close && installing) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void VemoInstallDialog::paint()
{
    // The window system's events (exposure, repainting) are handled now;
    // the user's clicks and keys wait until the installation is over, so
    // nothing can be started or answered in the middle of it.
    if (installing)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void VemoInstallDialog::finished()
{
    installing = false;
    widget->close();
    new VemoSummaryDialog(engine);
    // The run still clears up its backups and its work directory before
    // control returns to the event loop: the summary is on screen meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
