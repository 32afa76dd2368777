#include "vemodownloaddialog.h"

#include "engine/vemoupdaterengine.h"
#include "formwindow.h"
#include "messageboxes.h"
#include "ui_Download.h"
#include "vemoinstalldialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {

// How often the text under the bar is brought up to date.
constexpr int StatusIntervalMs = 500;

} // namespace

VemoDownloadDialog::VemoDownloadDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    Ui::Updater_Download_MainWindow form;
    widget = openForm(this, &form);
    progressBar = form.Updater_Download_Progress;
    QLabel *label = form.Updater_Download_ProgressText;
    QPushButton *cancelButton = form.Updater_Download_Cancel;
    statusLabel = form.Updater_Download_Status;

    connect(engine, &VemoUpdaterEngine::downloadProgress, progressBar, &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::error, this, &VemoDownloadDialog::error);
    connect(engine, &VemoUpdaterEngine::downloadFile, label, &QLabel::setText);
    connect(engine, &VemoUpdaterEngine::downloadFinished, this, &VemoDownloadDialog::finished);
    // After the download, a delta package is made ready (files hashed and
    // patched) on another thread: the bar follows that, and Cancel stops it.
    connect(engine, &VemoUpdaterEngine::preparing, this,
            [this, label](const QString &name, int percent) {
                label->setText(tr("Preparing %1: %2 %").arg(name).arg(percent));
                progressBar->setValue(percent);
            });
    // Abort first, then close: the engine is stopped before the window goes.
    connect(cancelButton, &QAbstractButton::clicked, engine, &VemoUpdaterEngine::abortDownload);
    connect(cancelButton, &QAbstractButton::clicked, widget, &QWidget::close);
    // Escape cancels. Enter does not: a key held down from the update offer
    // must not cancel the download it has just started.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), widget), &QShortcut::activated,
            cancelButton, &QAbstractButton::click);

    // The byte counts come with every packet; the text under the bar follows
    // them only a few times a second, so that it can be read.
    connect(engine, &VemoUpdaterEngine::downloadBytes, this, &VemoDownloadDialog::bytesArrived);
    auto *ticker = new QTimer(widget);
    connect(ticker, &QTimer::timeout, this, &VemoDownloadDialog::showStatus);
    ticker->start(StatusIntervalMs);
    clock.start();

    widget->show();

    // Starts once control is back in the event loop, with the window shown.
    QTimer::singleShot(0, engine, &VemoUpdaterEngine::beginDownload);
}

void VemoDownloadDialog::bytesArrived(qint64 done, qint64 total)
{
    const bool first = bytesDone < 0;
    bytesDone = done;
    bytesTotal = total;
    // The size is known: say so at once rather than at the next tick.
    if (first)
        showStatus();
}

void VemoDownloadDialog::showStatus()
{
    // Until the sizes are known the form's own text stays.
    if (bytesDone < 0)
        return;
    status.addSample(clock.elapsed(), bytesDone, bytesTotal);
    statusLabel->setText(status.text());
}

void VemoDownloadDialog::error(const QString &str)
{
    widget->close();
    // The title is looked up in this class's own context.
    MessageBoxes::critical(UserPrompts::updateTitle(), str);
}

void VemoDownloadDialog::finished()
{
    widget->close();
    // Shows the install window and runs the whole installation before it
    // returns.
    new VemoInstallDialog(engine);
}
