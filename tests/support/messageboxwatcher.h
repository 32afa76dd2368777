#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

// Answers the real modal message boxes that the code under test opens, and
// records what each one said. Boxes are answered in turn with the queued
// answers; when the queue is empty, with the last answer given (OK by
// default). A box without the wanted button is closed with its escape button
// and the mismatch is recorded, so a test fails instead of hanging.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QMessageBox::StandardButton answered = QMessageBox::NoButton;
        bool hadParent = false;
        bool plainText = false;
        bool answerMissing = false;

        // "critical | title | text" ("warning", "information" or "other").
        QString summary() const;
        // As the updater shows every box: no parent window, its text never
        // read as markup, and either OK alone or Abort and Retry with Retry
        // as the default.
        bool hasUsualShape() const;
    };

    explicit MessageBoxWatcher(QObject *parent = nullptr);
    ~MessageBoxWatcher() override;

    // Answers for the next boxes, in order.
    void answerWith(const QList<QMessageBox::StandardButton> &answers);

    const QList<Box> &boxes() const { return m_boxes; }
    int count() const { return int(m_boxes.size()); }
    const Box &last() const { return m_boxes.last(); }
    void clear() { m_boxes.clear(); }

private:
    void poll();

    QTimer m_timer;
    QList<QMessageBox::StandardButton> m_answers;
    QMessageBox::StandardButton m_lastAnswer = QMessageBox::Ok;
    QList<Box> m_boxes;
};
