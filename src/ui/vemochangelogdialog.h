#pragma once

#include <QObject>

class QPlainTextEdit;
class QPushButton;
class QWidget;
class VemoUpdaterEngine;

// The update-offer window: says that updates are available, shows their
// changelog on request, and offers "Download now" and "Download later".
class VemoChangelogDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoChangelogDialog(VemoUpdaterEngine *engine);

private slots:
    void toggleChangelog();
    void downloadNow();

private:
    VemoUpdaterEngine *engine;
    QPlainTextEdit *details = nullptr;
    QPushButton *toggleButton = nullptr;
    QWidget *widget = nullptr;
};
