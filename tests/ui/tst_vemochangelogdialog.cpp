#include "buildconfig.h"
#include "engine/vemoupdaterengine.h"
#include "fakeupdateserver.h"
#include "messageboxwatcher.h"
#include "scopedtmpdir.h"
#include "testmain.h"
#include "treelisting.h"
#include "ui/messageboxes.h"
#include "ui/vemochangelogdialog.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopedPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QXmlStreamWriter>

// The update offer: its changelog, the link button that shows and hides it,
// and the ways out of the window.
class ChangelogDialogTest : public UiTest::WindowTestCase
{
    Q_OBJECT

private slots:
    void changelogText_data();
    void changelogText();
    void toggle_data();
    void toggle();
    void leaving_data();
    void leaving();
};

namespace {

const QString OfferWindow = QStringLiteral("Updater_Changelog_MainWindow");
const QString DownloadWindow = QStringLiteral("Updater_Download_MainWindow");

// One update as the server describes it: description, version, changelog and
// optionally the size of its archive (1 byte when not given) and that of a
// delta package.
using Updates = QList<QStringList>;

QByteArray answerFor(const Updates &updates)
{
    QByteArray document;
    QXmlStreamWriter xml(&document);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("updates"));
    for (int i = 0; i < updates.size(); ++i) {
        xml.writeStartElement(QStringLiteral("request"));
        xml.writeAttribute(QStringLiteral("project"), QStringLiteral("vemo"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("component%1").arg(i));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("app"));
        xml.writeTextElement(QStringLiteral("version"), updates[i].at(1));
        xml.writeTextElement(QStringLiteral("description"), updates[i].at(0));
        xml.writeTextElement(QStringLiteral("changelog"), updates[i].at(2));
        xml.writeTextElement(QStringLiteral("link"),
                             QStringLiteral("http://127.0.0.1/component%1.zip").arg(i));
        xml.writeTextElement(QStringLiteral("size"), updates[i].value(3, QStringLiteral("1")));
        xml.writeTextElement(QStringLiteral("sha256"), QString(64, QLatin1Char('a')));
        if (updates[i].size() > 4) {
            xml.writeStartElement(QStringLiteral("delta"));
            xml.writeTextElement(QStringLiteral("link"),
                                 QStringLiteral("http://127.0.0.1/component%1-delta.zip").arg(i));
            xml.writeTextElement(QStringLiteral("size"), updates[i].at(4));
            xml.writeTextElement(QStringLiteral("sha256"), QString(64, QLatin1Char('b')));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return document;
}

} // namespace

void ChangelogDialogTest::changelogText_data()
{
    QTest::addColumn<Updates>("updates");
    QTest::addColumn<bool>("polish");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("offer"); // the question with the updates; null: not checked

    QTest::newRow("one update gives three lines")
        << Updates{{"Vemo core", "7.1.2", "Faster start"}} << false
        << "Vemo core\nZmiany w wersji 7.1.2\nFaster start" << QString();
    QTest::newRow("two updates give seven lines")
        << Updates{{"Vemo core", "7.1.2", "Faster start"}, {"Jabber plugin", "1.4", "Fixes"}}
        << false
        << "Vemo core\nZmiany w wersji 7.1.2\nFaster start\n\n"
           "Jabber plugin\nZmiany w wersji 1.4\nFixes"
        << QString();
    QTest::newRow("three updates in the order of the answer")
        << Updates{{"C", "3", "c"}, {"A", "1", "a"}, {"B", "2", "b"}} << false
        << "C\nZmiany w wersji 3\nc\n\nA\nZmiany w wersji 1\na\n\nB\nZmiany w wersji 2\nb"
        << QString();
    QTest::newRow("empty description leaves an empty first line")
        << Updates{{"", "2.0", "Changes"}} << false << "\nZmiany w wersji 2.0\nChanges"
        << QString();
    QTest::newRow("empty changelog leaves an empty last line")
        << Updates{{"Core", "2.0", ""}} << false << "Core\nZmiany w wersji 2.0\n"
        << QString();
    QTest::newRow("an update with nothing still separates the next")
        << Updates{{"", "", ""}, {"B", "2", "b"}} << false
        << "\nZmiany w wersji \n\n\nB\nZmiany w wersji 2\nb" << QString();
    QTest::newRow("multi-line changelog keeps its line breaks")
        << Updates{{"Core", "3.0", "- first\n- second\n\n- after a gap"}} << false
        << "Core\nZmiany w wersji 3.0\n- first\n- second\n\n- after a gap" << QString();
    QTest::newRow("non-ASCII letters are decoded as UTF-8")
        << Updates{{QString::fromUtf8("Wtyczka – łączność"), QString::fromUtf8("1.0β"),
                    QString::fromUtf8("Zażółć gęślą jaźń\n修正 €")}}
        << false
        << QString::fromUtf8("Wtyczka – łączność\nZmiany w wersji 1.0β\nZażółć gęślą jaźń\n修正 €")
        << QString();
    QTest::newRow("the offer names each update with its version")
        << Updates{{"Komunikator Vemo", "7.1.0", "a", "12000000"},
                   {"", "1.1", "b", "299999"},
                   {"<b>Core</b>", "2", "c", "1"}}
        << true
        << "Komunikator Vemo\nZmiany w wersji 7.1.0\na\n\n\nZmiany w wersji 1.1\nb\n\n"
           "<b>Core</b>\nZmiany w wersji 2\nc"
        << QString::fromUtf8("Dostępne są aktualizacje komunikatora Vemo. Czy chcesz je teraz "
                             "pobrać?\n• Komunikator Vemo, wersja 7.1.0\n• component1, wersja 1.1\n"
                             "• <b>Core</b>, wersja 2\n[Pobierz teraz (12,3 MB)]");
    QTest::newRow("the offer counts a delta package instead of its full package")
        << Updates{{"Core", "7.1.0", "a", "12000000", "300000"}, {"Sound", "1.1", "b", "200000"}}
        << true << "Core\nZmiany w wersji 7.1.0\na\n\nSound\nZmiany w wersji 1.1\nb"
        << QString::fromUtf8("Dostępne są aktualizacje komunikatora Vemo. Czy chcesz je teraz "
                             "pobrać?\n• Core, wersja 7.1.0\n• Sound, wersja 1.1\n"
                             "[Pobierz teraz (500,0 kB)]");
    QTest::newRow("the prefix is the same under the Polish catalogue")
        << Updates{{"Vemo core", "7.1.2", "Faster start"}} << true
        << "Vemo core\nZmiany w wersji 7.1.2\nFaster start" << QString();
}

void ChangelogDialogTest::changelogText()
{
    QFETCH(Updates, updates);
    QFETCH(bool, polish);
    QFETCH(QString, text);
    QFETCH(QString, offer);

    ScopedTmpDir tmp;
    QVERIFY(tmp.isValid());
    const QString installDir = tmp.filePath(QStringLiteral("Vemo"));
    QVERIFY(UiTest::makeInstallation(installDir));

    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxWatcher boxes;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::updateModePaths(installDir), prompts);
    updateServer().answerWith(answerFor(updates));
    QVERIFY(engine.checkForUpdates());
    QCOMPARE(engine.updates().size(), updates.size());

    new VemoChangelogDialog(&engine);
    QWidget *window = UiTest::openWindow(OfferWindow);
    QVERIFY(window);
    auto *details = window->findChild<QPlainTextEdit *>(QStringLiteral("Updater_Changelog_Details"));
    QVERIFY(details);
    QCOMPARE(details->toPlainText(), text);
    QVERIFY(!details->isVisible());
    if (!offer.isNull()) {
        // Shown as written: the server's texts are never markup.
        // The last line is the download button: its text names the total size.
        auto *question = window->findChild<QLabel *>(QStringLiteral("label_3"));
        auto *download =
            window->findChild<QPushButton *>(QStringLiteral("Updater_Changelog_DownloadNow"));
        QCOMPARE(question->text() + "\n[" + download->text() + "]", offer);
        QCOMPARE(question->textFormat(), Qt::PlainText);
    }
    QCOMPARE(boxes.count(), 0);
}

void ChangelogDialogTest::toggle_data()
{
    QTest::addColumn<bool>("polish");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("showText");
    QTest::addColumn<QString>("hideText");

    QTest::newRow("English") << false << "Update"
                             << "Show changelog"
                             << "Hide changelog";
    QTest::newRow("Polish catalogue")
        << true << "Aktualizacja" << QString::fromUtf8("Pokaż listę zmian")
        << QString::fromUtf8("Ukryj listę zmian");
}

void ChangelogDialogTest::toggle()
{
    QFETCH(bool, polish);
    QFETCH(QString, title);
    QFETCH(QString, showText);
    QFETCH(QString, hideText);

    ScopedTmpDir tmp;
    QScopedPointer<UiTest::PolishCatalogue> catalogue(polish ? new UiTest::PolishCatalogue
                                                             : nullptr);
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(), prompts);
    new VemoChangelogDialog(&engine);

    QWidget *window = UiTest::openWindow(OfferWindow);
    QVERIFY(window);
    auto *button = window->findChild<QPushButton *>(QStringLiteral("Updater_Changelog_ViewChangelog"));
    auto *details = window->findChild<QPlainTextEdit *>(QStringLiteral("Updater_Changelog_Details"));
    QVERIFY(button && details);

    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(button->text(), showText);
    QVERIFY(!details->isVisible());
    // Opened at the height its layout needs without the text box, not at the
    // height the form was drawn with.
    const int hiddenHeight = window->height();
    QVERIFY2(hiddenHeight < 218, QByteArray::number(hiddenHeight));
    QCOMPARE(window->width(), 450);

    button->click();
    QVERIFY(details->isVisible());
    QCOMPARE(button->text(), hideText);
    QVERIFY2(window->height() >= hiddenHeight + details->minimumSizeHint().height(),
             QByteArray::number(window->height()));
    QCOMPARE(window->width(), 450);

    button->click();
    QVERIFY(!details->isVisible());
    QCOMPARE(button->text(), showText);
    QCOMPARE(window->height(), hiddenHeight);
    QCOMPARE(window->width(), 450);
}

// Every way out of the offer, run inside the event loop: what is open right
// after it, and whether the program goes on.
void ChangelogDialogTest::leaving_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("openAfter");

    QTest::newRow("Download later ends the program") << "later" << QStringList();
    QTest::newRow("title-bar close ends the program") << "close" << QStringList();
    QTest::newRow("Download now opens the download window and the program goes on")
        << "now" << QStringList{DownloadWindow};
    QTest::newRow("Escape is Download later") << "Escape" << QStringList();
    QTest::newRow("Enter is Download now") << "Enter" << QStringList{DownloadWindow};
}

void ChangelogDialogTest::leaving()
{
    QFETCH(QString, action);
    QFETCH(QStringList, openAfter);

    ScopedTmpDir tmp;
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(TestMain::paths(), prompts);
    QPointer<VemoChangelogDialog> controller = new VemoChangelogDialog(&engine);
    QPointer<QWidget> window = UiTest::openWindow(OfferWindow);
    QVERIFY(window);
    QVERIFY(UiTest::activate(window));

    QObject context;
    QStringList seenOpen;
    bool sawLoopAfterAction = false;
    const int result = UiTest::runEventLoop([&] {
        if (action == QLatin1String("close")) {
            window->windowHandle()->close();
        } else if (action == QLatin1String("Escape") || action == QLatin1String("Enter")) {
            UiTest::pressKey(window,
                             action == QLatin1String("Enter") ? Qt::Key_Return : Qt::Key_Escape);
        } else {
            const char *button = action == QLatin1String("now") ? "Updater_Changelog_DownloadNow"
                                                                : "Updater_Changelog_DownloadLater";
            window->findChild<QPushButton *>(QLatin1String(button))->click();
        }
        // With a window left open the loop goes on, and this looks at what is
        // open, then closes it, which ends the loop.
        QTimer::singleShot(100, &context, [&] {
            sawLoopAfterAction = true;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible())
                    seenOpen << widget->objectName();
            }
            QApplication::closeAllWindows();
        });
    });
    QCOMPARE(result, 0);

    QCOMPARE(sawLoopAfterAction, !openAfter.isEmpty());
    QCOMPARE(seenOpen, openAfter);
    QTRY_VERIFY(window.isNull());
    QTRY_VERIFY(controller.isNull());
}

VEMO_TEST_MAIN(ChangelogDialogTest)
#include "tst_vemochangelogdialog.moc"
