#include "vemochangelogdialog.h"

#include "downloadstatus.h"
#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"
#include "formwindow.h"
#include "ui_Changelog.h"
#include "vemodownloaddialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

namespace {

// Fixed Polish heading in front of each version; the same in every language.
const QString VersionPrefix = QStringLiteral("Zmiany w wersji ");

QString changelogText(const QVector<UpdateInfo> &updates)
{
    QString text;
    for (const UpdateInfo &update : updates) {
        if (!text.isEmpty())
            text += QLatin1String("\n\n");
        text += update.description();
        text += QLatin1Char('\n');
        text += VersionPrefix + update.version();
        text += QLatin1Char('\n');
        text += update.changelog();
    }
    return text;
}

// One line per update under the offer's question, each named with its
// version: "• Komunikator Vemo, wersja 7.1.0". An update without a
// description is named by its component name.
QString updateLines(const QVector<UpdateInfo> &updates)
{
    QStringList lines;
    for (const UpdateInfo &update : updates) {
        QString name = update.description();
        if (name.isEmpty())
            name = update.name();
        lines << QStringLiteral("• ")
                     + QCoreApplication::translate("VemoChangelogDialog", "%1, version %2")
                           .arg(name, update.version());
    }
    return lines.join(QLatin1Char('\n'));
}

// The bytes "Download now" will fetch (a delta package where there is one),
// when the answer gave every archive's size (a signed answer always does);
// -1 otherwise.
qint64 announcedTotal(const QVector<UpdateInfo> &updates)
{
    qint64 total = 0;
    for (const UpdateInfo &update : updates) {
        const qint64 size = update.downloadBytes();
        if (size < 0)
            return -1;
        total += size;
    }
    return total;
}

} // namespace

VemoChangelogDialog::VemoChangelogDialog(VemoUpdaterEngine *engine)
    : engine(engine)
{
    Ui::Updater_Changelog_MainWindow form;
    widget = openForm(this, &form);

    toggleButton = form.Updater_Changelog_ViewChangelog;
    connect(toggleButton, &QAbstractButton::clicked, this, &VemoChangelogDialog::toggleChangelog);

    // The server's texts are shown as they are, never as markup.
    QLabel *question = form.label_3;
    question->setTextFormat(Qt::PlainText);
    const QString lines = updateLines(engine->updates());
    if (!lines.isEmpty())
        question->setText(question->text() + QLatin1Char('\n') + lines);

    QPushButton *downloadNowButton = form.Updater_Changelog_DownloadNow;
    if (const qint64 total = announcedTotal(engine->updates()); total >= 0)
        downloadNowButton->setText(downloadNowButton->text() + QStringLiteral(" (")
                                   + DownloadStatus::sizeText(total) + QLatin1Char(')'));
    connect(downloadNowButton, &QAbstractButton::clicked, this, &VemoChangelogDialog::downloadNow);

    QPushButton *downloadLaterButton = form.Updater_Changelog_DownloadLater;
    connect(downloadLaterButton, &QAbstractButton::clicked, widget, &QWidget::close);
    // Keyboard: Enter downloads (the form's default button has the focus),
    // Escape is "Download later".
    downloadNowButton->setFocus();
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), widget), &QShortcut::activated,
            downloadLaterButton, &QAbstractButton::click);

    details = form.Updater_Changelog_Details;
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
        toggleButton->setText(tr("Show changelog"));
    } else {
        details->show();
        toggleButton->setText(tr("Hide changelog"));
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
