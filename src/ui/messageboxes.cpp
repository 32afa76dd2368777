#include "messageboxes.h"

#include "engine/runlog.h"

#include <QMessageBox>

#include <cstdio>

namespace {

// Every box is also written to standard error, one line each, so that what
// went wrong in a run can be read from its output (a terminal, a log kept by
// whoever started the updater, the fault tests) and not only from the screen,
// and to the run's log, which a user can send.
void writeToOutput(const QString &title, const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    std::fprintf(stderr, "updater: box \"%s\": %s\n", qUtf8Printable(title),
                 qUtf8Printable(line));
    qCInfo(lcRunLog, "updater: box \"%s\": %s", qUtf8Printable(title), qUtf8Printable(line));
}

// Shows a modal box whose text is plain text: a box's text carries what
// servers and packages say (a reason phrase, a component's name), which must
// never be read as markup or offer a link.
QMessageBox::StandardButton show(QMessageBox::Icon icon, const QString &title,
                                 const QString &text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton)
{
    writeToOutput(title, text);
    QMessageBox box(icon, title, text, buttons);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

} // namespace

namespace MessageBoxes {

void critical(const QString &title, const QString &text)
{
    show(QMessageBox::Critical, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void information(const QString &title, const QString &text)
{
    show(QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool askRetry(const QString &title, const QString &text)
{
    return show(QMessageBox::Warning, title, text, QMessageBox::Abort | QMessageBox::Retry,
                QMessageBox::Retry)
           == QMessageBox::Retry;
}

} // namespace MessageBoxes

void MessageBoxPrompts::critical(const QString &title, const QString &text)
{
    MessageBoxes::critical(title, text);
}

void MessageBoxPrompts::information(const QString &title, const QString &text)
{
    MessageBoxes::information(title, text);
}

bool MessageBoxPrompts::askRetry(const QString &title, const QString &text)
{
    return MessageBoxes::askRetry(title, text);
}
