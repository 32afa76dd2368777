#include "vemoinstalldialog.h"

#include "engine/vemoupdaterengine.h"
#include "formloader.h"
#include "vemosummarydialog.h"

#include <QLabel>
#include <QProgressBar>

VemoInstallDialog::VemoInstallDialog(VemoUpdaterEngine *engine)
    : engine(engine)
    , widget(nullptr)
    , progressBar(nullptr)
{
    widget = loadForm(QStringLiteral(":/res/Install.ui"));
    progressBar = widget->findChild<QProgressBar *>(QStringLiteral("Updater_Install_Progress"));
    auto *label = widget->findChild<QLabel *>(QStringLiteral("Updater_Install_ProgressText"));

    connect(widget, &QObject::destroyed, this, &QObject::deleteLater);
    connect(engine, &VemoUpdaterEngine::installProgress, progressBar, &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::installFile, label, &QLabel::setText);
    connect(engine, &VemoUpdaterEngine::installFinished, this, &VemoInstallDialog::finished);

    widget->setAttribute(Qt::WA_DeleteOnClose);
    widget->show();

    // The installation runs here, synchronously; its end opens the summary
    // window (finished()) before this call returns.
    engine->installUpdates();
}

void VemoInstallDialog::finished()
{
    widget->close();
    new VemoSummaryDialog(engine);
}
