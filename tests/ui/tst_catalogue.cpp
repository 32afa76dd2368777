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

    // "Update" has its own entries for both titles.
    row("Update, program update", "UserPrompts", "Update", "program update", "Aktualizacja");
    row("Update, installation", "UserPrompts", "Update", "installation", "Aktualizacja");
    row("Check updates", "UserPrompts", "Check updates", nullptr,
        polish("Sprawdzanie aktualizacji"));

    row("Show changelog", "VemoChangelogDialog", "Show changelog", nullptr,
        polish("Pokaż listę zmian"));
    row("Hide changelog", "VemoChangelogDialog", "Hide changelog", nullptr,
        polish("Ukryj listę zmian"));
    row("Installation failed", "VemoSummaryDialog", "Installation failed", nullptr,
        polish("Aktualizacja nie powiodła się"));
    row("reinstall instruction", "VemoSummaryDialog",
        "Please reinstall application with package from official web page", nullptr,
        polish("Proszę pobrać i zainstalować Vemo ze strony ") + Site);
    row("rollback", "InstallDriver", "Rollback update", nullptr, polish("Cofanie aktualizacji"));
    row("rollback error ends with the web site", "InstallDriver",
        "An error occured while rolling back update progress. Software may not work properly. "
        "Try reinstalling whole application",
        nullptr,
        polish("Wystąpił błąd podczas cofania aktualizacji. Program może nie "
               "działać poprawnie. Zalecamy ręczną instalację najnowszej wersji komunikatora Vemo "
               "ze strony ")
            + Site);
    row("install log after a failure", "InstallDriver", "An error occured while installing updates",
        nullptr, polish("Wystąpił błąd podczas instalowania aktualizacji"));
    row("archive that does not open", "ArchiveExtractor", "Unable to open update archive", nullptr,
        polish("Nie można otworzyć archiwum aktualizacji"));
    row("failed package, name follows", "InstallDriver", "Failed installing package ", nullptr,
        polish("Nie udało się zainstalować pakietu "));
    row("installer's check", "PackageInstaller", "Wrong project!", nullptr,
        polish("Nieprawidłowy projekt!"));
    // A text two classes show is in the catalogue under each of them.
    row("shared text, installer", "PackageInstaller", "Cannot write file %1 (%2)", nullptr,
        polish("Nie można zapisać pliku %1 (%2)"));
    row("shared text, extractor", "ArchiveExtractor", "Cannot write file %1 (%2)", nullptr,
        polish("Nie można zapisać pliku %1 (%2)"));

    // A form text is not a code text: a class's context does not know it.
    row("form text in a class's context", "VemoChangelogDialog", "Download now", nullptr,
        "Download now");

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
