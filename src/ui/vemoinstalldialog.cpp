#include "vemoinstalldialog.h"

#include "engine/vemoupdaterengine.h"
#include "formloader.h"
#include "vemosummarydialog.h"

#include <QLabel>
#include <QProgressBar>

VemoInstallDialog::VemoInstallDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    widget = openForm(this, QStringLiteral(":/res/Install.ui"));
    progressBar = formChild<QProgressBar>(widget, "Updater_Install_Progress");
    auto *label = formChild<QLabel>(widget, "Updater_Install_ProgressText");

    connect(engine, &VemoUpdaterEngine::installProgress, progressBar, &QProgressBar::setValue);
    connect(engine, &VemoUpdaterEngine::installFile, label, &QLabel::setText);
    connect(engine, &VemoUpdaterEngine::installFinished, this, &VemoInstallDialog::finished);

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
