#include "buildconfig.h"
#include "engine/messenger.h"
#include "fakeupdateserver.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "startup/updatemode.h"
#include "testmain.h"
#include "treelisting.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace {

const QByteArray NoUpdates = "<updates><request name=\"core\"><latest/></request></updates>";
const QByteArray OneUpdate = "<updates><request project=\"vemo\" name=\"core\" type=\"app\">"
                             "<version>7.1</version><description>Core</description>"
                             "<changelog>Fixes</changelog>"
                             "<link>http://127.0.0.1/core.zip</link>"
                             + AnyArchiveDigests + "</request></updates>";

QWidget *visibleWindow(const QString &objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == objectName && w->isVisible())
            return w;
    }
    return nullptr;
}

} // namespace

// Update mode of the program, run in this process: the check, the first
// window or the "No updates available." box, and the exit codes.
class UpdateModeTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void withoutUpdates_data();
    void withoutUpdates();
    void failedCheck_data();
    void failedCheck();
    void offerWindowRunsTheEventLoop();
    void refusesASharedWorkDirectory();

private:
    ScopedTmpDir *m_temp = nullptr;
};

void UpdateModeTest::init()
{
    m_temp = new ScopedTmpDir;
    QVERIFY(m_temp->isValid());
    const QString install = m_temp->filePath("vemo");
    const QString messenger = Messenger::executablePath(install);
    QVERIFY(writeFile(messenger, "#!/bin/sh\necho '<s><c/></s>'\n"));
    QVERIFY(QFile::setPermissions(messenger,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    TestMain::setApplicationArguments({"updater", "-u", "-root", install});
}

void UpdateModeTest::cleanup()
{
    TestMain::resetApplicationArguments();
    delete m_temp;
    m_temp = nullptr;
}

void UpdateModeTest::withoutUpdates_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<int>("boxCount");
    QTest::newRow("interactive: one information box") << false << 1;
    QTest::newRow("quiet: no box") << true << 0;
}

void UpdateModeTest::withoutUpdates()
{
    QFETCH(bool, quiet);
    QFETCH(int, boxCount);
    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(NoUpdates);

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(quiet), 0);
    QCOMPARE(boxes.count(), boxCount);
    if (boxCount) {
        QCOMPARE(boxes.last().icon, QMessageBox::Information);
        QCOMPARE(boxes.last().title, QStringLiteral("Update"));
        QCOMPARE(boxes.last().text, QStringLiteral("No updates available."));
        QCOMPARE(boxes.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

void UpdateModeTest::failedCheck_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("interactive") << false;
    QTest::newRow("quiet") << true;
}

void UpdateModeTest::failedCheck()
{
    // No server: only the check's own box, and exit code 0.
    QFETCH(bool, quiet);
    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(quiet), 0);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Check updates"));
}

void UpdateModeTest::offerWindowRunsTheEventLoop()
{
    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(OneUpdate);

    bool offered = false;
    bool sawDownloadWindow = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (visibleWindow("Updater_Download_MainWindow"))
            sawDownloadWindow = true;
        if (QWidget *offer = visibleWindow("Updater_Changelog_MainWindow")) {
            offered = true;
            offer->close();
        }
    });
    poll.start();
    // A broken window sequence must fail the test, not hang it.
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(false), 0);
    QVERIFY(offered);
    QVERIFY(!sawDownloadWindow);
    QCOMPARE(boxes.count(), 0);
}

void UpdateModeTest::refusesASharedWorkDirectory()
{
    QVERIFY(QDir().mkpath(m_temp->workDir()));
    QVERIFY(QFile::setPermissions(m_temp->workDir(), QFile::Permissions(0x7777)));

    FakeUpdateServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, VEMO_UPDATE_PORT));
    server.answerWith(OneUpdate);

    MessageBoxWatcher boxes;
    QCOMPARE(runUpdateMode(false), 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Update"));
    QVERIFY(boxes.last().text.contains(QStringLiteral("can be changed by other users")));
    QTest::qWait(100);
    QVERIFY(server.queries().isEmpty());
}

VEMO_TEST_MAIN(UpdateModeTest)
#include "tst_updatemode.moc"
