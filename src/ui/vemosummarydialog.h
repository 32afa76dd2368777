#pragma once

#include <QObject>

class VemoUpdaterEngine;

// The summary window: success or failure, the installation log, and the
// button that starts the messenger again and ends the updater.
class VemoSummaryDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoSummaryDialog(VemoUpdaterEngine *engine);

private slots:
    void restartVemo();

private:
    VemoUpdaterEngine *engine;
};
