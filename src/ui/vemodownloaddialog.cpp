#include "vemodownloaddialog.h"

#include "engine/vemoupdaterengine.h"
#include "formloader.h"
#include "messageboxes.h"
#include "vemoinstalldialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

VemoDownloadDialog::VemoDownloadDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    widget = openForm(this, QStringLiteral(":/res/Download.ui"));
    progressBar = formChild<QProgressBar>(widget, "Updater_Download_Progress");
    auto *label = formChild<QLabel>(widget, "Updater_Download_ProgressText");
    auto *cancelButton = formChild<QPushButton>(widget, "Updater_Download_Cancel");

    connect(engine, &VemoUpdaterEngine::downloadProgress, progressBar, &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::error, this, &VemoDownloadDialog::error);
    connect(engine, &VemoUpdaterEngine::downloadFile, label, &QLabel::setText);
    connect(engine, &VemoUpdaterEngine::downloadFinished, this, &VemoDownloadDialog::finished);
    // Abort first, then close: the engine is stopped before the window goes.
    connect(cancelButton, &QAbstractButton::clicked, engine, &VemoUpdaterEngine::abortDownload);
    connect(cancelButton, &QAbstractButton::clicked, widget, &QWidget::close);

    widget->show();

    // Starts once control is back in the event loop, with the window shown.
    QTimer::singleShot(0, engine, &VemoUpdaterEngine::beginDownload);
}

void VemoDownloadDialog::error(const QString &str)
{
    widget->close();
    // The title uses this class's own context, which the catalogue does not
    // translate.
    MessageBoxes::critical(tr("Update"), str);
}

void VemoDownloadDialog::finished()
{
    widget->close();
    // Shows the install window and runs the whole installation before it
    // returns.
    new VemoInstallDialog(engine);
}
