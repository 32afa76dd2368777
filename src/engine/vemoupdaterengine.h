#pragma once

#include "httpclient.h"
#include "httpresponseheader.h"
#include "packagedownload.h"

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
    void dataReadProgress(qint64 done, qint64 total);
    void responseHeaderReceived(const HttpResponseHeader &resp);

private:
    QTcpSocket querySocket;
    HttpClient http;
    QString m_installLog;
    QVector<UpdateInfo *> updateList;
    QString workDir;
    PackageDownload download;
    bool m_installSucceeded = false;
};
