#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "install/engineinstallation.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "testmain.h"
#include "treelisting.h"
#include "ui/messageboxes.h"
#include "ui/vemosummarydialog.h"
#include "uitesthelpers.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopedPointer>
#include <QTest>
#include <QWindow>

// The last window: success or failure with the installation log, and the
// button that starts the messenger and ends the updater.
class SummaryDialogTest : public UiTest::WindowTestCase
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
    void restart_data();
    void restart();
};

namespace {

const QString SummaryWindow = QStringLiteral("Updater_Summary_MainWindow");

// A messenger that records how it was started: its argument count, each
// argument, and its working directory, one per line.
const QByteArray RecordingMessenger = "on -updatequery\nprint <s><c/></s>\non *\nstarted started.txt";

} // namespace

void SummaryDialogTest::texts_data()
{
    // "none": the engine has run no installation; "empty": a run without
    // packages, which succeeds; "failing": one package whose archive was
    // never downloaded.
    QTest::addColumn<QString>("run");
    QTest::addColumn<bool>("polish");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("instruction");
    QTest::addColumn<QString>("log");

    const QString failedLog = QStringLiteral("An error occured while installing updates");
    QTest::newRow("success") << "empty" << false << "Installation complete"
                             << "To complete the update process please restart Vemo instant "
                                "messenger."
                             << "";
    QTest::newRow("success, Polish catalogue")
        << "empty" << true << QString::fromUtf8("Aktualizacja zakończona pomyślnie")
        << QString::fromUtf8("Aby zakończyć aktualizację, uruchom ponownie komunikator Vemo.")
        << "";
    QTest::newRow("no installation counts as failed")
        << "none" << false << "Installation failed"
        << "Please reinstall application with package from official web page"
        << "";
    QTest::newRow("failed package shows the failure log")
        << "failing" << false << "Installation failed"
        << "Please reinstall application with package from official web page" << failedLog;
    QTest::newRow("failed package, Polish catalogue")
        << "failing" << true << QString::fromUtf8("Aktualizacja nie powiodła się")
        << QString::fromUtf8(
               "Proszę pobrać i zainstalować Vemo ze strony https://www.vemo.example/")
        << QString::fromUtf8("Wystąpił błąd podczas instalowania aktualizacji");
}

void SummaryDialogTest::texts()
{
    QFETCH(QString, run);
    QFETCH(bool, polish);
    QFETCH(QString, status);
    QFETCH(QString, instruction);
    QFETCH(QString, log);

    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    const QString installDir = tmp.filePath(QStringLiteral("Vemo"));
    QVERIFY(FakeProgram::write(installDir + QStringLiteral("/vemo7.exe"), RecordingMessenger));
    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxWatcher boxes;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(installDir), prompts);
    EngineInstallation::attach(&engine);

    if (run == QLatin1String("failing")) {
        updateServer().answerWith("<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                                  "<version>2</version><link>http://127.0.0.1/core.zip</link>"
                                  + AnyArchiveDigests + "</request></updates>");
        QVERIFY(engine.checkForUpdates());
        QCOMPARE(engine.updates().size(), 1);
        // The installer's own error, then Abort in the Abort/Retry question.
        boxes.answerWith({QMessageBox::Ok, QMessageBox::Abort});
    }
    if (run != QLatin1String("none"))
        engine.installUpdates();

    new VemoSummaryDialog(&engine);
    QWidget *window = UiTest::openWindow(SummaryWindow);
    QVERIFY(window);

    auto *statusLabel = window->findChild<QLabel *>(QStringLiteral("Updater_Summary_Status"));
    auto *instructionLabel =
        window->findChild<QLabel *>(QStringLiteral("Updater_Summary_Instruction"));
    auto *details = window->findChild<QPlainTextEdit *>(QStringLiteral("Updater_Summary_Details"));
    auto *viewDetails = window->findChild<QPushButton *>(QStringLiteral("Updater_Summary_ViewDetails"));
    QVERIFY(statusLabel && instructionLabel && details && viewDetails);
    QCOMPARE(statusLabel->text(), status);
    QCOMPARE(statusLabel->styleSheet(), QStringLiteral("font-weight: bold;"));
    QCOMPARE(instructionLabel->text(), instruction);

    // The log is shown at once after a failure only; "View details" shows
    // and hides it, and takes the keyboard to it when it shows it. With the
    // log the window has the form's size, without it only the height the
    // rest needs.
    const bool failed = !engine.installSucceeded();
    QVERIFY(UiTest::activate(window));
    for (const bool shown : {failed, !failed, failed}) {
        QCOMPARE(details->isVisible(), shown);
        QCOMPARE(window->width(), 400);
        QCOMPARE(window->height() == 222, shown);
        QVERIFY(window->height() <= 222);
        if (shown) {
            QCOMPARE(details->toPlainText(), log);
            QCOMPARE(viewDetails->text(), polish ? QString::fromUtf8("Ukryj szczegóły")
                                                 : QStringLiteral("Hide details"));
        } else {
            QCOMPARE(viewDetails->text(), polish ? QString::fromUtf8("Pokaż szczegóły")
                                                 : QStringLiteral("View details"));
        }
        viewDetails->click();
        if (!shown)
            QVERIFY(details->hasFocus());
    }
}

void SummaryDialogTest::restart_data()
{
    // "%ROOT%" stands for the installation directory, whose name below the
    // test's directory is given.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("rootName");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("started");

    QTest::newRow("Close starts the messenger")
        << QStringList{"-u", "-root", "%ROOT%"} << "Vemo" << "button" << true;
    QTest::newRow("installation path with blanks")
        << QStringList{"-u", "-q", "-root", "%ROOT%"} << "Program Files/Vemo IM" << "button"
        << true;
    QTest::newRow("first -root counts")
        << QStringList{"-u", "-root", "%ROOT%", "-root", "/nonexistent"} << "Vemo" << "button"
        << true;
    QTest::newRow("no -root: nothing to start, the updater still ends")
        << QStringList{"-u"} << "Vemo" << "button" << false;
    QTest::newRow("-root without a value: the updater still ends")
        << QStringList{"-u", "-root"} << "Vemo" << "button" << false;
    QTest::newRow("title-bar close ends the updater")
        << QStringList{"-u", "-root", "%ROOT%"} << "Vemo" << "close" << false;
    QTest::newRow("Enter is Close") << QStringList{"-u", "-root", "%ROOT%"} << "Vemo"
                                    << "Enter" << true;
    QTest::newRow("Escape closes like the title bar")
        << QStringList{"-u", "-root", "%ROOT%"} << "Vemo"
        << "Escape" << false;
}

void SummaryDialogTest::restart()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, rootName);
    QFETCH(QString, action);
    QFETCH(bool, started);

    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    const QString installDir = tmp.filePath(rootName);
    QVERIFY(FakeProgram::write(installDir + QStringLiteral("/vemo7.exe"), RecordingMessenger));
    arguments.replaceInStrings(QStringLiteral("%ROOT%"), installDir);
    arguments.prepend(QCoreApplication::applicationFilePath());

    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(arguments), prompts);
    QPointer<VemoSummaryDialog> controller = new VemoSummaryDialog(&engine);
    QPointer<QWidget> window = UiTest::openWindow(SummaryWindow);
    QVERIFY(window);
    QVERIFY(UiTest::activate(window));

    const int result = UiTest::runEventLoop([&] {
        if (action == QLatin1String("button"))
            window->findChild<QPushButton *>(QStringLiteral("Updater_Summary_Restart"))->click();
        else if (action == QLatin1String("Enter"))
            UiTest::pressKey(window, Qt::Key_Return);
        else if (action == QLatin1String("Escape"))
            UiTest::pressKey(window, Qt::Key_Escape);
        else
            window->windowHandle()->close();
    });
    QCOMPARE(result, 0);

    if (started) {
        const QString record = installDir + QStringLiteral("/started.txt");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
        // No arguments, and the updater's own working directory.
        QCOMPARE(QString::fromLocal8Bit(readFile(record)),
                 QStringLiteral("0\n") + QDir::currentPath() + QLatin1Char('\n'));
    }
    if (action == QLatin1String("close") || action == QLatin1String("Escape"))
        QTRY_VERIFY(controller.isNull());
}

VEMO_TEST_MAIN(SummaryDialogTest)
#include "tst_vemosummarydialog.moc"
