#include "vemosummarydialog.h"

#include "engine/messenger.h"
#include "engine/vemoupdaterengine.h"
#include "formloader.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QShortcut>
#include <QWidget>

VemoSummaryDialog::VemoSummaryDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    QWidget *widget = openForm(this, QStringLiteral(":/res/Summary.ui"));

    auto *details = formChild<QPlainTextEdit>(widget, "Updater_Summary_Details");
    details->setPlainText(engine->installLog());

    if (!engine->installSucceeded()) {
        auto *status = formChild<QLabel>(widget, "Updater_Summary_Status");
        auto *instruction = formChild<QLabel>(widget, "Updater_Summary_Instruction");
        status->setText(QCoreApplication::translate("translation", "Installation failed", "nc"));
        instruction->setText(QCoreApplication::translate(
            "translation", "Please reinstall application with package from official web page",
            "nc"));
    }

    auto *restartButton = formChild<QAbstractButton>(widget, "Updater_Summary_Restart");
    connect(restartButton, &QAbstractButton::clicked, this, &VemoSummaryDialog::restartVemo);
    // Keyboard: Enter is "Close" (the default button has the focus), Escape
    // closes the window like its title bar does, and "View details" takes
    // the focus to the log so that it can be read and scrolled.
    restartButton->setFocus();
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), widget), &QShortcut::activated, widget,
            &QWidget::close);
    auto *viewDetails = formChild<QAbstractButton>(widget, "Updater_Summary_ViewDetails");
    connect(viewDetails, &QAbstractButton::clicked, details,
            [details] { details->setFocus(Qt::OtherFocusReason); });

    widget->show();
}

void VemoSummaryDialog::restartVemo()
{
    QString installDir;
    if (Messenger::installationDirectory(QCoreApplication::arguments(), &installDir)) {
        // The path is passed unquoted: program and arguments travel apart, so
        // blanks in the path are safe, and on Linux quotes would become part
        // of the file name and the messenger would never start.
        QProcess::startDetached(Messenger::executablePath(installDir), QStringList());
    }
    // Takes effect once this slot has returned to the event loop.
    QCoreApplication::quit();
}
