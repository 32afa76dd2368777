#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakeupdateserver.h"
#include "install/engineinstallation.h"
#include "localwebserver.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "testmain.h"
#include "treelisting.h"
#include "ui/messageboxes.h"
#include "ui/vemodownloaddialog.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWindow>

// The download window: what it shows of the engine's signals, and how
// Cancel, the title bar and an error end it. Most tests drive it with an
// engine that has no updates, so the download it starts does nothing of its
// own; the last one lets it start a real transfer.
class DownloadDialogTest : public UiTest::WindowTestCase
{
    Q_OBJECT

private slots:
    void followsSignals_data();
    void followsSignals();
    void endings_data();
    void endings();
    void realTransfer_data();
    void realTransfer();
};

namespace {
const QString DownloadWindow = QStringLiteral("Updater_Download_MainWindow");
const QString InstallWindow = QStringLiteral("Updater_Install_MainWindow");
} // namespace

void DownloadDialogTest::followsSignals_data()
{
    // Each step is either a package name (downloadFile), a percentage
    // (downloadProgress) or a name and percentage (preparing).
    QTest::addColumn<QVariantList>("steps");
    QTest::addColumn<bool>("polish");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("bar");

    QTest::newRow("nothing announced yet") << QVariantList() << false << "Downloading..." << 0;
    QTest::newRow("nothing announced yet, Polish catalogue")
        << QVariantList() << true << "Pobieranie..." << 0;
    QTest::newRow("progress before the first package")
        << QVariantList{5} << false << "Downloading..." << 5;
    QTest::newRow("first package named") << QVariantList{"core"} << false << "core" << 0;
    QTest::newRow("package and progress")
        << QVariantList{"core", 12, 30} << false << "core" << 30;
    QTest::newRow("second package, percentage over all packages")
        << QVariantList{"core", 30, "jabber", 55, 100} << false << "jabber" << 100;
    QTest::newRow("more than announced leaves the last value")
        << QVariantList{"core", 98, 130} << false << "core" << 98;
    QTest::newRow("delta package prepared after the download")
        << QVariantList{"core", 100, QVariantList{"core", 40}} << false << "Preparing core: 40 %"
        << 40;
    QTest::newRow("delta package prepared, Polish catalogue")
        << QVariantList{"core", 100, QVariantList{"core", 0}} << true
        << "Przygotowywanie core: 0 %" << 0;
    QTest::newRow("non-ASCII package name")
        << QVariantList{QString::fromUtf8("Wtyczka łączności")} << false
        << QString::fromUtf8("Wtyczka łączności") << 0;
}

void DownloadDialogTest::followsSignals()
{
    QFETCH(QVariantList, steps);
    QFETCH(bool, polish);
    QFETCH(QString, label);
    QFETCH(int, bar);

    ScopedTmpDir tmp;
    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(), prompts);
    new VemoDownloadDialog(&engine);

    QWidget *window = UiTest::openWindow(DownloadWindow);
    QVERIFY(window);
    QCOMPARE(window->size(), QSize(450, 212));
    auto *text = window->findChild<QLabel *>(QStringLiteral("Updater_Download_ProgressText"));
    auto *progress = window->findChild<QProgressBar *>(QStringLiteral("Updater_Download_Progress"));
    QVERIFY(text && progress);

    for (const QVariant &step : steps) {
        if (step.typeId() == QMetaType::QString)
            emit engine.downloadFile(step.toString());
        else if (step.typeId() == QMetaType::QVariantList)
            emit engine.preparing(step.toList().at(0).toString(), step.toList().at(1).toInt());
        else
            emit engine.downloadProgress(step.toInt());
    }
    QCOMPARE(text->text(), label);
    QCOMPARE(progress->value(), bar);
    QCOMPARE(progress->maximum(), 100);
}

// Each way the download window ends, inside the event loop: the loop ends,
// window and controller are deleted, nothing is installed, and only an error
// shows a box.
void DownloadDialogTest::endings_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<bool>("polish");

    QTest::newRow("Cancel") << "cancel" << QString() << false;
    QTest::newRow("title-bar close") << "close" << QString() << false;
    QTest::newRow("Escape is Cancel") << "Escape" << QString() << false;
    QTest::newRow("error") << "error" << "Connection refused" << false;
    QTest::newRow("error with several lines")
        << "error" << "Cannot open /tmp/vupdates/a/b.zip\nNo such file or directory" << false;
    QTest::newRow("error under the Polish catalogue")
        << "error" << QString::fromUtf8("Host update.vemo.example not found – spróbuj później")
        << true;
}

void DownloadDialogTest::endings()
{
    QFETCH(QString, action);
    QFETCH(QString, errorText);
    QFETCH(bool, polish);

    ScopedTmpDir tmp;
    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxWatcher boxes;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(), prompts);
    QPointer<VemoDownloadDialog> controller = new VemoDownloadDialog(&engine);
    QPointer<QWidget> window = UiTest::openWindow(DownloadWindow);
    QVERIFY(window);
    QVERIFY(UiTest::activate(window));

    // Whether the download window was still on screen while a box was.
    bool windowBesideBox = false;
    QTimer boxProbe;
    connect(&boxProbe, &QTimer::timeout, this, [&] {
        if (QApplication::activeModalWidget() && window && window->isVisible())
            windowBesideBox = true;
    });
    boxProbe.start(5);

    const int result = UiTest::runEventLoop([&] {
        if (action == QLatin1String("cancel"))
            window->findChild<QPushButton *>(QStringLiteral("Updater_Download_Cancel"))->click();
        else if (action == QLatin1String("Escape"))
            UiTest::pressKey(window, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            window->windowHandle()->close();
        else
            emit engine.error(errorText);
    });
    QCOMPARE(result, 0);
    QTRY_VERIFY(window.isNull());
    QTRY_VERIFY(controller.isNull());
    QVERIFY(UiTest::openWindows(InstallWindow).isEmpty());

    if (errorText.isEmpty()) {
        QCOMPARE(boxes.count(), 0);
        return;
    }
    QCOMPARE(boxes.count(), 1);
    const MessageBoxWatcher::Box &box = boxes.last();
    const QString title = polish ? QStringLiteral("Aktualizacja") : QStringLiteral("Update");
    QCOMPARE(box.summary(),
             QStringLiteral("critical | ") + title + QStringLiteral(" | ") + errorText);
    QVERIFY(box.hasUsualShape());
    QVERIFY(!windowBesideBox);
}

// The window starts the engine's download of one package from a web server
// that takes the request and stays silent, from an address where nothing
// listens, or from nginx sending the archive slowly.
void DownloadDialogTest::realTransfer_data()
{
    QTest::addColumn<QString>("server");

    QTest::newRow("Cancel aborts the transfer under way") << "silent";
    QTest::newRow("unreachable web server: the engine's error in a box") << "none";
    QTest::newRow("slow server: bytes, rate and time left under the bar") << "slow";
}

void DownloadDialogTest::realTransfer()
{
    QFETCH(QString, server);

    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.workDir()));
    const QString installDir = tmp.filePath(QStringLiteral("Vemo"));
    QVERIFY(UiTest::makeInstallation(installDir));

    UiTest::PolishCatalogue catalogue;
    MessageBoxWatcher boxes;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(installDir), prompts);
    EngineInstallation::attach(&engine);
    // The slow server's archive is real, so its answer gives its real size and
    // SHA-256.
    const QByteArray slowArchive(2000000, 'z');
    const QByteArray digests = server == QLatin1String("slow")
        ? "<size>2000000</size><sha256>"
            + QCryptographicHash::hash(slowArchive, QCryptographicHash::Sha256).toHex()
            + "</sha256>"
        : AnyArchiveDigests;
    updateServer().answerWith("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                              "<link>http://127.0.0.63/slow-core.zip</link>" + digests
                              + "</request></updates>");
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(engine.updates().size(), 1);

    // The silent server presses Cancel once the first request has arrived,
    // and notes when the updater drops the connection.
    QTcpServer web;
    QByteArray request;
    bool connectionDropped = false;
    QPointer<QWidget> window;
    if (server == QLatin1String("silent")) {
        QVERIFY(web.listen(QHostAddress(QStringLiteral("127.0.0.63")), VEMO_DOWNLOAD_PORT));
        connect(&web, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = web.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, [&] { connectionDropped = true; });
            connect(socket, &QTcpSocket::readyRead, this, [&, socket] {
                request += socket->readAll();
                if (request.contains("\r\n\r\n") && window)
                    window->findChild<QPushButton *>(QStringLiteral("Updater_Download_Cancel"))
                        ->click();
            });
        });
    }
    // 2 MB at 256 kB/s: long enough for a steady rate, cancelled once shown.
    LocalWebServer nginx;
    const QString root = tmp.filePath(QStringLiteral("www"));
    if (server == QLatin1String("slow")) {
        QVERIFY(writeFile(root + QStringLiteral("/slow-core.zip"), slowArchive));
        QVERIFY(nginx.start(root, QStringLiteral("127.0.0.63"), VEMO_DOWNLOAD_PORT));
    }
    QSignalSpy errors(&engine, &VemoUpdaterEngine::error);
    QSignalSpy finished(&engine, &VemoUpdaterEngine::downloadFinished);

    QPointer<VemoDownloadDialog> controller = new VemoDownloadDialog(&engine);
    window = UiTest::openWindow(DownloadWindow);
    QVERIFY(window);
    QStringList statusTexts;
    const QRegularExpression complete(QString::fromUtf8(
        "^\\d+,\\d z 2,0 MB · \\d+(,\\d)? (B|kB|MB)/s · zosta(ła|ły|ło) \\d+ (s|min)( \\d+ s)?$"));
    if (server == QLatin1String("slow")) {
        auto *status = window->findChild<QLabel *>(QStringLiteral("Updater_Download_Status"));
        QVERIFY(status);
        QCOMPARE(status->text(), QString::fromUtf8("Ustalanie rozmiaru pobieranych plików..."));
        // Every text the label shows, until one with the amount, the rate and
        // the time left; then Cancel.
        auto *watch = new QTimer(window);
        connect(watch, &QTimer::timeout, this, [&, status] {
            if (statusTexts.isEmpty() || statusTexts.last() != status->text())
                statusTexts << status->text();
            if (complete.match(status->text()).hasMatch())
                window->findChild<QPushButton *>(QStringLiteral("Updater_Download_Cancel"))
                    ->click();
        });
        watch->start(20);
    }
    // Nothing to do: the window starts the download itself.
    QCOMPARE(UiTest::runEventLoop([] {}), 0);
    QTRY_VERIFY(controller.isNull());
    QCOMPARE(finished.count(), 0);
    QVERIFY(UiTest::openWindows(InstallWindow).isEmpty());

    if (server == QLatin1String("slow")) {
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));
        QVERIFY2(complete.match(statusTexts.last()).hasMatch(), qPrintable(statusTexts.join('|')));
        return;
    }
    if (server == QLatin1String("silent")) {
        QVERIFY2(request.startsWith("HEAD /slow-core.zip "), request.constData());
        QTRY_VERIFY(connectionDropped);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));
        QCOMPARE(boxes.count(), 0);
        return;
    }
    QCOMPARE(errors.count(), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Aktualizacja"));
    QCOMPARE(boxes.last().text, errors.first().first().toString());
    QVERIFY(!boxes.last().text.isEmpty());
}

VEMO_TEST_MAIN(DownloadDialogTest)
#include "tst_vemodownloaddialog.moc"
