#pragma once

#include "downloadstatus.h"

#include <QElapsedTimer>
#include <QObject>

class QLabel;
class QProgressBar;
class QWidget;
class VemoUpdaterEngine;

// The download window: starts the download, shows the package being fetched,
// one progress bar for all packages and under it the bytes, the rate and the
// time left, and hands over to the install window.
class VemoDownloadDialog : public QObject
{
    Q_OBJECT

public:
    explicit VemoDownloadDialog(VemoUpdaterEngine *engine);

private slots:
    void error(const QString &str);
    void finished();

private:
    void bytesArrived(qint64 done, qint64 total);
    void showStatus();

    VemoUpdaterEngine *engine;
    QProgressBar *progressBar = nullptr;
    QWidget *widget = nullptr;
    QLabel *statusLabel = nullptr;
    DownloadStatus status;
    QElapsedTimer clock;
    qint64 bytesDone = -1; // none reported yet
    qint64 bytesTotal = 0;
};
