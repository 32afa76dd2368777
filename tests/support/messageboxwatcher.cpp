#include "messageboxwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

QString MessageBoxWatcher::Box::summary() const
{
    const char *kind = icon == QMessageBox::Critical      ? "critical"
                       : icon == QMessageBox::Warning     ? "warning"
                       : icon == QMessageBox::Information ? "information"
                                                          : "other";
    return QStringLiteral("%1 | %2 | %3").arg(QLatin1String(kind), title, text);
}

bool MessageBoxWatcher::Box::hasUsualShape() const
{
    if (hadParent || !plainText)
        return false;
    if (buttons == (QMessageBox::Abort | QMessageBox::Retry))
        return defaultButton == QMessageBox::Retry;
    return buttons == QMessageBox::StandardButtons(QMessageBox::Ok);
}

MessageBoxWatcher::MessageBoxWatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start();
}

MessageBoxWatcher::~MessageBoxWatcher() = default;

void MessageBoxWatcher::answerWith(const QList<QMessageBox::StandardButton> &answers)
{
    m_answers = answers;
}

void MessageBoxWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;

    Box seen;
    seen.icon = box->icon();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.buttons = box->standardButtons();
    if (box->defaultButton())
        seen.defaultButton = box->standardButton(box->defaultButton());
    seen.hadParent = box->parentWidget() != nullptr;
    seen.plainText = box->textFormat() == Qt::PlainText;

    QMessageBox::StandardButton answer = m_lastAnswer;
    if (!m_answers.isEmpty())
        answer = m_answers.takeFirst();
    m_lastAnswer = answer;

    QAbstractButton *button = box->button(answer);
    if (!button) {
        seen.answerMissing = true;
        button = box->escapeButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
    }
    seen.answered = button ? box->standardButton(button) : QMessageBox::NoButton;
    m_boxes.append(seen);

    // Clicking hides the box at once, so the next poll sees the next box.
    if (button)
        button->click();
    else
        box->reject();
}
