#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {
constexpr int PollIntervalMs = 10;
}

BoxAnswerer::BoxAnswerer(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(PollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_timer.start();
}

void BoxAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box) {
        // Nothing but message boxes is expected; anything else is closed
        // rather than left waiting.
        if (modal && modal->isVisible())
            modal->close();
        return;
    }
    if (!box->isVisible())
        return;

    const QString text = box->windowTitle() + QStringLiteral(": ") + box->text();
    m_texts.append(text);
    std::fprintf(stderr, "vemo-bench: message box \"%s\"\n", qPrintable(text));

    QAbstractButton *button = box->button(QMessageBox::Abort);
    if (!button)
        button = box->escapeButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    if (button)
        button->click();
    else
        box->reject();
}
