#pragma once

#include <QObject>

class QProgressBar;
class QWidget;
class VemoUpdaterEngine;

// The download window: starts the download, shows the package being fetched
// and one progress bar for all packages, and hands over to the install window.
class VemoDownloadDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoDownloadDialog(VemoUpdaterEngine *engine);

private slots:
    void error(const QString &str);
    void finished();

private:
    VemoUpdaterEngine *engine;
    QProgressBar *progressBar = nullptr;
    QWidget *widget = nullptr;
};
