#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakeupdateserver.h"
#include "install/engineinstallation.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "testmain.h"
#include "treelisting.h"
#include "ui/messageboxes.h"
#include "ui/vemodownloaddialog.h"
#include "ui/vemoinstalldialog.h"
#include "uitesthelpers.h"
#include "zipwriter.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScopedPointer>
#include <QTest>

// The install window runs the installation inside its constructor and gives
// way to the summary window when the engine reports the end.
class InstallDialogTest : public UiTest::WindowTestCase
{
    Q_OBJECT

private slots:
    void handOver();
    void progress_data();
    void progress();
    void paintsWhileInstalling();
};

namespace {

const QString DownloadWindow = QStringLiteral("Updater_Download_MainWindow");
const QString InstallWindow = QStringLiteral("Updater_Install_MainWindow");
const QString SummaryWindow = QStringLiteral("Updater_Summary_MainWindow");

bool anyWidgetNamed(const QString &objectName)
{
    const QList<QWidget *> topLevels = QApplication::topLevelWidgets();
    for (QWidget *widget : topLevels) {
        if (widget->objectName() == objectName)
            return true;
    }
    return false;
}

// What the install window shows whenever the engine reports something. The
// recorder is connected before the window, so each entry is the state left by
// the signals before it: "label|bar", or "closed" when the window is not
// on screen.
class InstallWindowRecorder : public QObject
{
public:
    explicit InstallWindowRecorder(VemoUpdaterEngine *engine)
    {
        connect(engine, &VemoUpdaterEngine::installFile, this, &InstallWindowRecorder::record);
        connect(engine, &VemoUpdaterEngine::installProgress, this, &InstallWindowRecorder::record);
        connect(engine, &VemoUpdaterEngine::installFinished, this, &InstallWindowRecorder::record);
    }

    QStringList states;
    QStringList otherWindowsOpen;

private:
    void record()
    {
        QWidget *window = UiTest::openWindow(InstallWindow);
        if (!window) {
            states << QStringLiteral("closed");
            return;
        }
        auto *label = window->findChild<QLabel *>(QStringLiteral("Updater_Install_ProgressText"));
        auto *bar = window->findChild<QProgressBar *>(QStringLiteral("Updater_Install_Progress"));
        states << label->text() + QLatin1Char('|') + QString::number(bar->value());
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget != window && widget->isVisible())
                otherWindowsOpen << widget->objectName();
        }
    }
};

// Records the values the bar shows each time it is painted.
class PaintRecorder : public QObject
{
public:
    QList<int> painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted << static_cast<QProgressBar *>(watched)->value();
        return false;
    }
};

} // namespace

// The end of the download opens the install window, whose run (here without
// packages) opens the summary window, all within the one signal.
void InstallDialogTest::handOver()
{
    ScopedTmpDir tmp;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(), prompts);
    EngineInstallation::attach(&engine);
    InstallWindowRecorder recorder(&engine);
    QPointer<VemoDownloadDialog> download = new VemoDownloadDialog(&engine);
    QVERIFY(UiTest::openWindow(DownloadWindow));

    emit engine.downloadFinished();

    // While the engine reported the end, the install window was on screen
    // alone, as the form drew it.
    QCOMPARE(recorder.states, QStringList{"Installing...|0"});
    QCOMPARE(recorder.otherWindowsOpen, QStringList());
    // Now the summary is the only window, and the others go away with their
    // controllers.
    QWidget *summary = UiTest::openWindow(SummaryWindow);
    QVERIFY(summary);
    QCOMPARE(summary->findChild<QLabel *>(QStringLiteral("Updater_Summary_Status"))->text(),
             QStringLiteral("Installation complete"));
    QVERIFY(UiTest::openWindows(InstallWindow).isEmpty());
    QVERIFY(UiTest::openWindows(DownloadWindow).isEmpty());
    QTRY_VERIFY(download.isNull());
    QTRY_VERIFY(!anyWidgetNamed(InstallWindow));
    QTRY_VERIFY(!anyWidgetNamed(DownloadWindow));
    QVERIFY(UiTest::openWindow(SummaryWindow));
}

// A real installation of three packages, the second of them possibly broken.
void InstallDialogTest::progress_data()
{
    QTest::addColumn<bool>("secondBroken");
    QTest::addColumn<bool>("polish");
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QString>("status");

    QTest::newRow("three packages install")
        << false << false
        << QStringList{"Installing...|0", "core|0", "core|33", "jabber|33",
                       "jabber|66", QString::fromUtf8("dźwięki|66"), QString::fromUtf8("dźwięki|100")}
        << "Installation complete";
    QTest::newRow("second package fails and is rolled back")
        << true << false
        << QStringList{"Installing...|0", "core|0", "core|33", "jabber|33",
                       "Rollback update|33", "Rollback update|0", "Rollback update|33",
                       "Rollback update|66", "Rollback update|100"}
        << "Installation failed";
    QTest::newRow("rollback under the Polish catalogue")
        << true << true
        << QStringList{"Instalowanie...|0", "core|0", "core|33", "jabber|33",
                       "Cofanie aktualizacji|33", "Cofanie aktualizacji|0",
                       "Cofanie aktualizacji|33", "Cofanie aktualizacji|66",
                       "Cofanie aktualizacji|100"}
        << QString::fromUtf8("Aktualizacja nie powiodła się");
}

void InstallDialogTest::progress()
{
    QFETCH(bool, secondBroken);
    QFETCH(bool, polish);
    QFETCH(QStringList, states);
    QFETCH(QString, status);

    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    const QString installDir = tmp.filePath(QStringLiteral("Vemo"));
    QVERIFY(UiTest::makeInstallation(installDir));
    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxWatcher boxes;
    // The installer's error about the broken archive, then Abort.
    boxes.answerWith({QMessageBox::Ok, QMessageBox::Abort});

    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(installDir), prompts);
    EngineInstallation::attach(&engine);
    updateServer().answerWith(
        QString::fromUtf8("<updates>"
                          "<request project=\"vemo\" name=\"core\" type=\"app\">"
                          "<link>http://127.0.0.1/core.zip</link>%1</request>"
                          "<request project=\"vemo\" name=\"jabber\" type=\"app\">"
                          "<link>http://127.0.0.1/jabber.zip</link>%1</request>"
                          "<request project=\"vemo\" name=\"dźwięki\" type=\"app\">"
                          "<link>http://127.0.0.1/sounds.zip</link>%1</request>"
                          "</updates>")
            .arg(QString::fromLatin1(AnyArchiveDigests))
            .toUtf8());
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(engine.updates().size(), 3);

    // The archives as the download leaves them in the work directory, which
    // the start-up has made.
    QVERIFY(QDir().mkpath(tmp.workDir() + QStringLiteral("archives")));
    for (const char *name : {"core", "jabber", "sounds"}) {
        const QString path = tmp.workDir() + QStringLiteral("archives/") + QLatin1String(name)
                             + QLatin1String(".zip");
        if (secondBroken && qstrcmp(name, "jabber") == 0) {
            QVERIFY(writeFile(path, "this is not a zip archive"));
            continue;
        }
        ZipWriter zip(path);
        QVERIFY2(zip.addFile(QByteArray(name) + ".txt", "content of " + QByteArray(name)),
                 qPrintable(zip.errorString()));
        // Every package carries a manifest; this one installs nothing.
        QVERIFY(zip.addFile(QByteArray(name) + ".xml", "<package/>"));
        QVERIFY(zip.close());
    }

    InstallWindowRecorder recorder(&engine);
    new VemoInstallDialog(&engine);

    QCOMPARE(recorder.states, states);
    QCOMPARE(recorder.otherWindowsOpen, QStringList());
    QCOMPARE(boxes.count(), secondBroken ? 2 : 0);
    QWidget *summary = UiTest::openWindow(SummaryWindow);
    QVERIFY(summary);
    QCOMPARE(summary->findChild<QLabel *>(QStringLiteral("Updater_Summary_Status"))->text(),
             status);
    QTRY_VERIFY(!anyWidgetNamed(InstallWindow));
}

// One package of a few thousand files: while it installs, the window paints
// its bar again and again on its way to 100, and an attempt to close it
// changes nothing: the installation completes and the summary follows.
void InstallDialogTest::paintsWhileInstalling()
{
    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    const QString installDir = tmp.filePath(QStringLiteral("Vemo"));
    QVERIFY(UiTest::makeInstallation(installDir));
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(installDir), prompts);
    EngineInstallation::attach(&engine);
    updateServer().answerWith("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                              "<link>http://127.0.0.1/core.zip</link>"
                              + AnyArchiveDigests + "</request></updates>");
    QVERIFY(engine.checkForUpdates());

    constexpr int Files = 3000;
    QVERIFY(QDir().mkpath(tmp.workDir() + QStringLiteral("archives")));
    ZipWriter zip(tmp.workDir() + QStringLiteral("archives/core.zip"));
    QByteArray manifest = "<package project=\"vemo\" name=\"core\" type=\"app\">";
    for (int i = 0; i < Files; ++i) {
        const QByteArray name = "f" + QByteArray::number(i) + ".txt";
        QVERIFY2(zip.addFile("data/" + name, "file " + name), qPrintable(zip.errorString()));
        manifest += "<file path=\"data\" name=\"" + name + "\" action=\"add\"/>";
    }
    QVERIFY(zip.addFile("core.xml", manifest + "</package>"));
    QVERIFY(zip.close());

    // Every step of the bar is reported, so that the test need not be slow.
    engine.setInstallDetailInterval(0);
    PaintRecorder recorder;
    bool closeRefused = false;
    QObject context;
    connect(&engine, &VemoUpdaterEngine::installFile, &context, [&] {
        if (QWidget *window = UiTest::openWindow(InstallWindow))
            window->findChild<QProgressBar *>()->installEventFilter(&recorder);
    });
    connect(&engine, &VemoUpdaterEngine::installDetailedProgress, &context, [&](int done) {
        QWidget *window = UiTest::openWindow(InstallWindow);
        if (window && done >= 50 && !closeRefused)
            closeRefused = !window->close();
    });
    new VemoInstallDialog(&engine);

    QList<int> between;
    for (const int value : std::as_const(recorder.painted)) {
        if (value > 0 && value < 100 && !between.contains(value))
            between << value;
    }
    QVERIFY2(between.size() >= 2, qPrintable(QStringLiteral("painted: %1").arg(
                                      QString::number(recorder.painted.size()))));
    QVERIFY(std::is_sorted(recorder.painted.cbegin(), recorder.painted.cend()));
    QVERIFY(closeRefused);
    QVERIFY(engine.installSucceeded());
    QCOMPARE(readFile(installDir + QStringLiteral("/data/f2999.txt")), QByteArray("file f2999.txt"));
    QVERIFY(UiTest::openWindow(SummaryWindow));
    QTRY_VERIFY(!anyWidgetNamed(InstallWindow));
}

VEMO_TEST_MAIN(InstallDialogTest)
#include "tst_vemoinstalldialog.moc"
