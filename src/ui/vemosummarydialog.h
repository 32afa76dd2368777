#pragma once

#include <QObject>
#include <QString>

class QAbstractButton;
class QPlainTextEdit;
class QWidget;
class VemoUpdaterEngine;

// The summary window: success or failure, the installation log, and the
// button that starts the messenger again and ends the updater. "View details"
// shows and hides the log, which is hidden when the window opens after a
// success and shown after a failure.
class VemoSummaryDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoSummaryDialog(VemoUpdaterEngine *engine);

private slots:
    void restartVemo();
    void toggleDetails();

private:
    void showDetails(bool shown);

    VemoUpdaterEngine *engine;
    QWidget *widget = nullptr;
    QPlainTextEdit *details = nullptr;
    QAbstractButton *viewDetails = nullptr;
    QString viewDetailsText;
    int formHeight = 0;
    bool detailsFilled = false;
};
