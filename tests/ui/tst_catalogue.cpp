#include "testmain.h"
#include "uitesthelpers.h"

#include <QCoreApplication>
#include <QTest>

// The texts of the code as the Polish catalogue answers them. The form texts
// are checked with the forms.
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
    row("Update, nc", "translation", "Update", "nc", "Aktualizuj");
    row("Update, program update", "translation", "Update", "program update", "Aktualizuj");
    row("Update, no comment", "translation", "Update", nullptr, "Aktualizuj");
    // The download window's error box uses its class's own context, which the
    // catalogue does not know.
    row("Update in the download window's context", "VemoDownloadDialog", "Update", nullptr,
        "Update");

    // Looked up with "nc" or a descriptive comment, stored without comment.
    row("Show changelog", "translation", "Show changelog", "nc", polish("Pokaż listę zmian"));
    row("Hide changelog", "translation", "Hide changelog", "nc", polish("Ukryj listę zmian"));
    row("Installation failed", "translation", "Installation failed", "nc",
        polish("Aktualizacja nie powiodła się"));
    row("reinstall instruction", "translation",
        "Please reinstall application with package from official web page", "nc",
        polish("Prosze pobrać i zainstalować vemo ze strony ") + Site);
    row("rollback, descriptive comment", "translation", "Rollback update",
        "restoring application to state before installing update",
        polish("Cofanie akutalizacji"));
    row("rollback error ends with the web site", "translation",
        "An error occured while rolling back update progress. Software may not work properly. "
        "Try reinstalling whole application",
        "nc",
        polish("Wystąpił bład podczas cofania procesu aktualizacji. Oprogramowanie może nie "
               "działać poprawnie. Zalecamy ręczną instalację najnowszej wersji komunikatora Vemo "
               "ze strony ")
            + Site);

    // An entry without a translation shows the English text.
    row("untranslated entry", "translation", "Wrong project!", "nc", "Wrong project!");
    // A form text is not a code text: the "translation" context does not know
    // it.
    row("form text in the code context", "translation", "Download now", "nc", "Download now");
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
