#pragma once

#include "httpclient.h"
#include "httpresponseheader.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QVector>

class UpdateInfo;

// Carries one update run of the relocated updater: the available updates
// found by the check, the package download, and the log and result of the
// installation. Created by main() as a local object; the windows hold plain
// pointers to it.
class VemoUpdaterEngine : public QObject
{
    Q_OBJECT

public:
    enum DownloadState {
        Idle = 0,     // nothing requested yet, or every package fetched
        Sizing = 1,   // HEAD requests under way, sizes being summed
        Fetching = 2, // packages being downloaded one by one
        Aborted = 3,  // the user cancelled (or the run was stopped for good)
    };

    VemoUpdaterEngine();
    ~VemoUpdaterEngine() override;

    bool checkForUpdates();
    bool hasUpdates() const;
    QVector<UpdateInfo *> updates() const;
    QString installLog() const;
    bool installSucceeded() const;

signals:
    void downloadProgress(int done);
    void downloadFile(const QString &name);
    void downloadFinished();
    void installProgress(int done);
    void installFile(const QString &name);
    void installFinished();
    void error(const QString &str);

public slots:
    void beginDownload();
    void abortDownload();
    void installUpdates();

private slots:
    void requestFinished(int id, bool error);
    void dataReadProgress(int done, int total);
    void responseHeaderReceived(const HttpResponseHeader &resp);

private:
    void startArchive();
    void stopWithError(const QString &text);

    QTcpSocket querySocket;
    HttpClient http;
    QString m_installLog;
    QFile outputFile;
    QVector<UpdateInfo *> updateList;
    int currentIndex = 0;
    QString workDir;
    int fileBytesDone = 0;
    int bytesDone = 0;
    int bytesTotal = 0;
    int currentRequestId = 0;
    int downloadState = Idle;
    bool m_installSucceeded = false;
};

// Percentage of 'done' against 'total', computed with a 64-bit intermediate and
// truncated toward zero; not clamped, so more bytes than announced give more
// than 100. A total of 0 gives 0.
int downloadPercentage(int done, int total);
