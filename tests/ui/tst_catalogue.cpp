#include "testmain.h"
#include "uitesthelpers.h"

#include <QCoreApplication>
#include <QTest>

// The texts of the code as the Polish catalogues answer them. The form texts
// are checked with the forms; check_catalogue.py checks that nothing is left
// untranslated.
class CatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
};

namespace {
const QString Site = QStringLiteral("https://www.vemo.example/");
} // namespace

void CatalogueTest::lookup_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *tag, const char *context, const char *source, const char *comment,
                  const QString &expected) {
        QTest::newRow(tag) << QByteArray(context) << QByteArray(source) << QByteArray(comment)
                           << expected;
    };
    auto polish = [](const char *text) { return QString::fromUtf8(text); };

    // "Update" has its own entries for both comments.
    row("Update, nc", "translation", "Update", "nc", "Aktualizacja");
    row("Update, program update", "translation", "Update", "program update", "Aktualizacja");
    row("Update in the download window's context", "VemoDownloadDialog", "Update", nullptr,
        "Aktualizacja");

    row("Show changelog", "translation", "Show changelog", "nc", polish("Pokaż listę zmian"));
    row("Hide changelog", "translation", "Hide changelog", "nc", polish("Ukryj listę zmian"));
    row("Installation failed", "translation", "Installation failed", "nc",
        polish("Aktualizacja nie powiodła się"));
    row("reinstall instruction", "translation",
        "Please reinstall application with package from official web page", "nc",
        polish("Proszę pobrać i zainstalować Vemo ze strony ") + Site);
    row("rollback, descriptive comment", "translation", "Rollback update",
        "restoring application to state before installing update", polish("Cofanie aktualizacji"));
    row("rollback error ends with the web site", "translation",
        "An error occured while rolling back update progress. Software may not work properly. "
        "Try reinstalling whole application",
        "nc",
        polish("Wystąpił błąd podczas cofania aktualizacji. Program może nie "
               "działać poprawnie. Zalecamy ręczną instalację najnowszej wersji komunikatora Vemo "
               "ze strony ")
            + Site);
    row("install log after a failure", "translation", "An error occured while installing updates",
        "nc", polish("Wystąpił błąd podczas instalowania aktualizacji"));
    row("archive that does not open", "translation", "Unable to open update archive", "nc",
        polish("Nie można otworzyć archiwum aktualizacji"));
    row("failed package, name follows", "translation", "Failed installing package ", "nc",
        polish("Nie udało się zainstalować pakietu "));
    row("installer's check", "translation", "Wrong project!", "nc",
        polish("Nieprawidłowy projekt!"));

    // A form text is not a code text: the "translation" context does not know
    // it.
    row("form text in the code context", "translation", "Download now", "nc", "Download now");

    // Qt's own texts come from Qt's catalogue, compiled in beside ours.
    row("Qt: Retry button", "QPlatformTheme", "Retry", nullptr, polish("Ponów"));
    row("Qt: Abort button", "QPlatformTheme", "Abort", nullptr, polish("Przerwij"));
    row("Qt: text box menu", "QWidgetTextControl", "Select All", nullptr,
        polish("Zaznacz wszystko"));
    // The install's system errors go through Qt's texts for the common ones.
    row("Qt: a full disk", "QIODevice", "No space left on device", nullptr,
        polish("Brak wolnego miejsca na urządzeniu"));
}

void CatalogueTest::lookup()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, comment);
    QFETCH(QString, expected);

    UiTest::PolishCatalogue catalogue;
    QVERIFY(catalogue.isInstalled());
    QCOMPARE(QCoreApplication::translate(context.constData(), source.constData(),
                                         comment.isNull() ? nullptr : comment.constData()),
             expected);
}

VEMO_TEST_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
