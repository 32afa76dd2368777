#include "vemosummarydialog.h"

#include "engine/messenger.h"
#include "engine/vemoupdaterengine.h"
#include "formwindow.h"
#include "ui_Summary.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QProcess>
#include <QShortcut>
#include <QWidget>

VemoSummaryDialog::VemoSummaryDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    Ui::Updater_Summary_MainWindow form;
    widget = openForm(this, &form);
    formHeight = widget->height();

    details = form.Updater_Summary_Details;

    if (!engine->installSucceeded()) {
        form.Updater_Summary_Status->setText(tr("Installation failed"));
        form.Updater_Summary_Instruction->setText(
            tr("Please reinstall application with package from official web page"));
    }

    QAbstractButton *restartButton = form.Updater_Summary_Restart;
    connect(restartButton, &QAbstractButton::clicked, this, &VemoSummaryDialog::restartVemo);
    // Keyboard: Enter is "Close" (the default button has the focus), Escape
    // closes the window like its title bar does, and "View details" shows
    // the log and takes the focus to it so that it can be read and scrolled.
    restartButton->setFocus();
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), widget), &QShortcut::activated, widget,
            &QWidget::close);
    viewDetails = form.Updater_Summary_ViewDetails;
    viewDetailsText = viewDetails->text();
    connect(viewDetails, &QAbstractButton::clicked, this, &VemoSummaryDialog::toggleDetails);

    // After a success the log only lists what was installed; after a
    // failure it says what went wrong.
    showDetails(!engine->installSucceeded());
    widget->show();
}

void VemoSummaryDialog::toggleDetails()
{
    showDetails(details->isHidden());
    if (!details->isHidden())
        details->setFocus(Qt::OtherFocusReason);
}

void VemoSummaryDialog::showDetails(bool shown)
{
    if (shown && !detailsFilled) {
        // The log of a large update holds a line per file: it goes into the
        // box when the box is first shown, not before.
        details->setPlainText(engine->installLog());
        detailsFilled = true;
    }
    details->setVisible(shown);
    viewDetails->setText(shown ? tr("Hide details") : viewDetailsText);
    // The width stays the form's; the height is the form's with the log and
    // what the rest needs without it.
    QLayout *layout = widget->layout();
    layout->activate();
    const int fitting = layout->hasHeightForWidth() ? layout->totalHeightForWidth(widget->width())
                                                    : layout->totalSizeHint().height();
    widget->resize(widget->width(), shown ? formHeight : qMin(formHeight, fitting));
}

void VemoSummaryDialog::restartVemo()
{
    const UpdaterPaths &paths = engine->paths();
    if (paths.hasInstallDir) {
        // The path is passed unquoted: program and arguments travel apart, so
        // blanks in the path are safe, and on Linux quotes would become part
        // of the file name and the messenger would never start.
        QProcess::startDetached(Messenger::executablePath(paths.installDir), QStringList());
    }
    // Takes effect once this slot has returned to the event loop.
    QCoreApplication::quit();
}
