#include "vemochangelogdialog.h"

#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"
#include "formloader.h"
#include "vemodownloaddialog.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

// Fixed Polish heading in front of each version; the same in every language.
const QString VersionPrefix = QStringLiteral("Zmiany w wersji ");

QString changelogText(const QVector<UpdateInfo *> &updates)
{
    QString text;
    for (const UpdateInfo *update : updates) {
        if (!text.isEmpty())
            text += QLatin1String("\n\n");
        text += recordText(update->description());
        text += QLatin1Char('\n');
        text += VersionPrefix + recordText(update->version());
        text += QLatin1Char('\n');
        text += recordText(update->changelog());
    }
    return text;
}

} // namespace

VemoChangelogDialog::VemoChangelogDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    widget = openForm(this, QStringLiteral(":/res/Changelog.ui"));

    toggleButton = formChild<QPushButton>(widget, "Updater_Changelog_ViewChangelog");
    connect(toggleButton, &QAbstractButton::clicked, this, &VemoChangelogDialog::toggleChangelog);

    auto *downloadNowButton = formChild<QPushButton>(widget, "Updater_Changelog_DownloadNow");
    connect(downloadNowButton, &QAbstractButton::clicked, this, &VemoChangelogDialog::downloadNow);

    auto *downloadLaterButton = formChild<QPushButton>(widget, "Updater_Changelog_DownloadLater");
    connect(downloadLaterButton, &QAbstractButton::clicked, widget, &QWidget::close);

    details = formChild<QPlainTextEdit>(widget, "Updater_Changelog_Details");
    details->setPlainText(changelogText(engine->updates()));
    details->hide();

    // The width is fixed by the form, so this only fits the height to the
    // layout without the text box.
    widget->adjustSize();
    widget->show();
}

void VemoChangelogDialog::toggleChangelog()
{
    if (details->isVisible()) {
        details->hide();
        toggleButton->setText(QCoreApplication::translate("translation", "Show changelog", "nc"));
    } else {
        details->show();
        toggleButton->setText(QCoreApplication::translate("translation", "Hide changelog", "nc"));
    }
    widget->adjustSize();
}

void VemoChangelogDialog::downloadNow()
{
    // The download window is shown before control returns to the event loop,
    // so closing this one first does not end the program.
    widget->close();
    new VemoDownloadDialog(engine);
}
