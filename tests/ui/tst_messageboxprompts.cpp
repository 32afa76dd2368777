#include "ui/messageboxes.h"

#include "messageboxwatcher.h"
#include "testmain.h"

#include <QTest>

using Buttons = QList<QMessageBox::StandardButton>;

// What the engine and the installation ask reaches the user as the boxes of
// the updater: the right kind, title and text, without a parent, and the
// answer to Abort/Retry handed back as it was given.
class MessageBoxPromptsTest : public QObject
{
    Q_OBJECT

private slots:
    void prompts_data();
    void prompts();
};

void MessageBoxPromptsTest::prompts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("retry");
    QTest::addColumn<QString>("summary");

    QTest::newRow("critical") << "critical" << QMessageBox::Ok << false
                              << "critical | Update | Wrong type!";
    QTest::newRow("information") << "information" << QMessageBox::Ok << false
                                 << "information | Update | Wrong type!";
    QTest::newRow("question answered Retry")
        << "question" << QMessageBox::Retry << true << "warning | Update | Wrong type!";
    QTest::newRow("question answered Abort")
        << "question" << QMessageBox::Abort << false << "warning | Update | Wrong type!";
}

void MessageBoxPromptsTest::prompts()
{
    QFETCH(QString, kind);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, retry);
    QFETCH(QString, summary);

    MessageBoxWatcher boxes;
    boxes.answerWith({answer});
    MessageBoxPrompts prompts;
    UserPrompts &asked = prompts;
    bool retried = false;
    if (kind == QLatin1String("critical"))
        asked.critical(UserPrompts::updateTitle(), QStringLiteral("Wrong type!"));
    else if (kind == QLatin1String("information"))
        asked.information(UserPrompts::updateTitle(), QStringLiteral("Wrong type!"));
    else
        retried = asked.askRetry(UserPrompts::installTitle(), QStringLiteral("Wrong type!"));

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().summary(), summary);
    QVERIFY(boxes.last().hasUsualShape());
    QCOMPARE(retried, retry);
}

VEMO_TEST_MAIN(MessageBoxPromptsTest)
#include "tst_messageboxprompts.moc"
