#include "testmain.h"
#include "ui_Changelog.h"
#include "ui_Download.h"
#include "ui_Install.h"
#include "ui_Summary.h"
#include "uitesthelpers.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCursor>
#include <QFile>
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScopedPointer>
#include <QTest>
#include <QWidget>
#include <QtEndian>

// The forms are the contract between the designer and the window
// controllers: these tests build each one with the code uic makes of it, as
// the controllers do, and check what the controllers and the user rely on.
class FormsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void objects_data();
    void objects();
    void windows_data();
    void windows();
    void properties_data();
    void properties();
    void iconLabel_data();
    void iconLabel();
    void polishTexts_data();
    void polishTexts();
    void accessibleNames_data();
    void accessibleNames();
    void tabOrder_data();
    void tabOrder();
    void iconFile();
};

namespace {

const QString ChangelogForm = QStringLiteral("Changelog");
const QString DownloadForm = QStringLiteral("Download");
const QString InstallForm = QStringLiteral("Install");
const QString SummaryForm = QStringLiteral("Summary");

const QString Bold = QStringLiteral("font-weight: bold;");
const QString LinkLook = QStringLiteral("border: 0px;\n"
                                        "background: transparent;\n"
                                        "color: blue;\n"
                                        "text-decoration: underline;\n"
                                        "text-align: left;");

template<typename Form> QWidget *buildForm()
{
    auto *widget = new QWidget;
    Form().setupUi(widget);
    return widget;
}

// A new window, without parent, built from the form of that name
// (res/<name>.ui).
QWidget *loadForm(const QString &form)
{
    if (form == ChangelogForm)
        return buildForm<Ui::Updater_Changelog_MainWindow>();
    if (form == DownloadForm)
        return buildForm<Ui::Updater_Download_MainWindow>();
    if (form == InstallForm)
        return buildForm<Ui::Updater_Install_MainWindow>();
    if (form == SummaryForm)
        return buildForm<Ui::Updater_Summary_MainWindow>();
    return nullptr;
}

// Text of a label or button; null for objects without a text.
QString textOf(QObject *object)
{
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *edit = qobject_cast<QPlainTextEdit *>(object))
        return edit->toPlainText();
    return QString();
}

} // namespace

void FormsTest::cleanup()
{
    UiTest::closeAllWindows();
}

void FormsTest::objects_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("text");

    auto row = [](const QString &form, const char *name, const char *className,
                  const QString &text) {
        QTest::addRow("%s: %s", qPrintable(form), name)
            << form << QString::fromLatin1(name) << QByteArray(className) << text;
    };

    row(ChangelogForm, "label_2", "QLabel", "Vemo IM update");
    row(ChangelogForm, "label_3", "QLabel",
        "Vemo instant messenger update is available. Do you wish to download it now?");
    row(ChangelogForm, "frame", "QFrame", QString());
    row(ChangelogForm, "Updater_Changelog_ViewChangelog", "QPushButton", "Show changelog");
    row(ChangelogForm, "Updater_Changelog_DownloadNow", "QPushButton", "Download now");
    row(ChangelogForm, "Updater_Changelog_DownloadLater", "QPushButton", "Download later");
    row(ChangelogForm, "Updater_Changelog_Details", "QPlainTextEdit", "");

    row(DownloadForm, "label_2", "QLabel", "Vemo IM update");
    row(DownloadForm, "frame", "QFrame", QString());
    row(DownloadForm, "Updater_Download_ProgressText", "QLabel", "Downloading...");
    row(DownloadForm, "Updater_Download_Progress", "QProgressBar", QString());
    row(DownloadForm, "Updater_Download_Status", "QLabel", "Finding out the download size...");
    row(DownloadForm, "Updater_Download_Cancel", "QPushButton", "Cancel");

    row(InstallForm, "label_2", "QLabel", "Vemo IM update");
    row(InstallForm, "frame", "QFrame", QString());
    row(InstallForm, "Updater_Install_ProgressText", "QLabel", "Installing...");
    row(InstallForm, "Updater_Install_Progress", "QProgressBar", QString());

    row(SummaryForm, "Updater_Summary_Status", "QLabel", "Installation complete");
    row(SummaryForm, "Updater_Summary_Instruction", "QLabel",
        "To complete the update process please restart Vemo instant messenger.");
    row(SummaryForm, "Updater_Summary_ViewDetails", "QPushButton", "View details");
    row(SummaryForm, "Updater_Summary_Restart", "QPushButton", "Close");
    row(SummaryForm, "Updater_Summary_Details", "QPlainTextEdit", "");
}

void FormsTest::objects()
{
    QFETCH(QString, form);
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QString, text);

    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);

    // A second object of the same name would make the controllers' look-up
    // pick either one.
    const QList<QObject *> found = widget->findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QByteArray(found.first()->metaObject()->className()), className);
    if (!text.isNull())
        QCOMPARE(textOf(found.first()), text);
}

void FormsTest::windows_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("minimumSize");
    QTest::addColumn<QSize>("maximumSize");
    QTest::addColumn<int>("horizontalPolicy");
    QTest::addColumn<int>("verticalPolicy");

    const QSize fixedWidthMin(450, 0);
    const QSize fixedWidthMax(450, QWIDGETSIZE_MAX);
    QTest::newRow("Changelog") << ChangelogForm << "Updater_Changelog_MainWindow" << QSize(450, 218)
                               << fixedWidthMin << fixedWidthMax << int(QSizePolicy::Minimum)
                               << int(QSizePolicy::Preferred);
    QTest::newRow("Download") << DownloadForm << "Updater_Download_MainWindow" << QSize(450, 212)
                              << fixedWidthMin << fixedWidthMax << int(QSizePolicy::Minimum)
                              << int(QSizePolicy::Preferred);
    QTest::newRow("Install") << InstallForm << "Updater_Install_MainWindow" << QSize(450, 158)
                             << fixedWidthMin << fixedWidthMax << int(QSizePolicy::Minimum)
                             << int(QSizePolicy::Preferred);
    QTest::newRow("Summary") << SummaryForm << "Updater_Summary_MainWindow" << QSize(400, 222)
                             << QSize(0, 0) << QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)
                             << int(QSizePolicy::Preferred) << int(QSizePolicy::Preferred);
}

void FormsTest::windows()
{
    QFETCH(QString, form);
    QFETCH(QString, className);
    QFETCH(QSize, size);
    QFETCH(QSize, minimumSize);
    QFETCH(QSize, maximumSize);
    QFETCH(int, horizontalPolicy);
    QFETCH(int, verticalPolicy);

    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);

    // A plain widget without parent, so it becomes a window of its own.
    QCOMPARE(QByteArray(widget->metaObject()->className()), QByteArray("QWidget"));
    QCOMPARE(widget->parentWidget(), nullptr);
    QVERIFY(widget->isWindow());
    QCOMPARE(widget->objectName(), className);
    QCOMPARE(widget->windowTitle(), QStringLiteral("Update"));
    QVERIFY(!widget->windowIcon().isNull());
    QCOMPARE(widget->windowIcon().pixmap(QSize(64, 64)).toImage().size(), QSize(64, 64));

    QCOMPARE(widget->size(), size);
    QCOMPARE(widget->minimumSize(), minimumSize);
    QCOMPARE(widget->maximumSize(), maximumSize);
    QCOMPARE(int(widget->sizePolicy().horizontalPolicy()), horizontalPolicy);
    QCOMPARE(int(widget->sizePolicy().verticalPolicy()), verticalPolicy);
}

void FormsTest::properties_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");

    auto row = [](const QString &form, const char *name, const char *property,
                  const QVariant &value) {
        QTest::addRow("%s: %s.%s", qPrintable(form), name, property)
            << form << QString::fromLatin1(name) << QByteArray(property) << value;
    };

    // Style sheets: bold headings and link-look buttons.
    row(ChangelogForm, "label_2", "styleSheet", Bold);
    row(ChangelogForm, "Updater_Changelog_ViewChangelog", "styleSheet", LinkLook);
    row(DownloadForm, "label_2", "styleSheet", Bold);
    row(InstallForm, "label_2", "styleSheet", Bold);
    row(SummaryForm, "Updater_Summary_Status", "styleSheet", Bold);
    row(SummaryForm, "Updater_Summary_ViewDetails", "styleSheet", LinkLook);

    row(ChangelogForm, "Updater_Changelog_ViewChangelog", "cursor", int(Qt::PointingHandCursor));
    row(SummaryForm, "Updater_Summary_ViewDetails", "cursor", int(Qt::ArrowCursor));

    row(ChangelogForm, "Updater_Changelog_Details", "readOnly", true);
    row(SummaryForm, "Updater_Summary_Details", "readOnly", true);
    // The summary shows its log from the start.
    row(SummaryForm, "Updater_Summary_Details", "visible", true);

    for (const QString &form : {ChangelogForm, DownloadForm, InstallForm}) {
        row(form, "frame", "frameShape", int(QFrame::StyledPanel));
        row(form, "frame", "frameShadow", int(QFrame::Raised));
    }

    row(DownloadForm, "Updater_Download_Progress", "minimum", 0);
    row(DownloadForm, "Updater_Download_Progress", "maximum", 100);
    row(InstallForm, "Updater_Install_Progress", "minimum", 0);
    row(InstallForm, "Updater_Install_Progress", "maximum", 100);
}

void FormsTest::properties()
{
    QFETCH(QString, form);
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);

    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);
    QObject *object = widget->findChild<QObject *>(name);
    QVERIFY(object);

    if (property == "visible") {
        // Shown with the window unless the form hides it.
        widget->show();
        QCOMPARE(qobject_cast<QWidget *>(object)->isVisible(), value.toBool());
        return;
    }
    const QVariant actual = object->property(property.constData());
    QVERIFY2(actual.isValid(), property.constData());
    if (property == "cursor") {
        QCOMPARE(int(actual.value<QCursor>().shape()), value.toInt());
        return;
    }
    if (value.typeId() == QMetaType::Int) {
        QCOMPARE(actual.toInt(), value.toInt());
        return;
    }
    QCOMPARE(actual, value);
}

void FormsTest::iconLabel_data()
{
    QTest::addColumn<QString>("form");

    for (const QString &form : {ChangelogForm, DownloadForm, InstallForm, SummaryForm})
        QTest::newRow(qPrintable(form)) << form;
}

void FormsTest::iconLabel()
{
    QFETCH(QString, form);

    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);
    auto *label = widget->findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(label);
    QVERIFY(label->text().isEmpty());
    QCOMPARE(label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             QImage(QStringLiteral(":/res/icon.png"))
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(label->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
}

void FormsTest::polishTexts_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    auto row = [](const QString &form, const char *name, const char *text) {
        QTest::addRow("%s: %s", qPrintable(form), name)
            << form << QString::fromLatin1(name) << QString::fromUtf8(text);
    };

    // The window title is checked on the form itself (empty name).
    for (const QString &form : {ChangelogForm, DownloadForm, InstallForm, SummaryForm})
        row(form, "", "Aktualizacja");
    for (const QString &form : {ChangelogForm, DownloadForm, InstallForm})
        row(form, "label_2", "Aktualizacja komunikatora Vemo");
    row(ChangelogForm, "label_3",
        "Dostępne są aktualizacje komunikatora Vemo. Czy chcesz je teraz pobrać?");
    row(ChangelogForm, "Updater_Changelog_ViewChangelog", "Pokaż listę zmian");
    row(ChangelogForm, "Updater_Changelog_DownloadNow", "Pobierz teraz");
    row(ChangelogForm, "Updater_Changelog_DownloadLater", "Pobierz później");
    row(DownloadForm, "Updater_Download_ProgressText", "Pobieranie...");
    row(DownloadForm, "Updater_Download_Cancel", "Anuluj");
    row(InstallForm, "Updater_Install_ProgressText", "Instalowanie...");
    row(SummaryForm, "Updater_Summary_Status", "Aktualizacja zakończona pomyślnie");
    row(SummaryForm, "Updater_Summary_Instruction",
        "Aby zakończyć aktualizację, uruchom ponownie komunikator Vemo.");
    row(SummaryForm, "Updater_Summary_ViewDetails", "Pokaż szczegóły");
    row(SummaryForm, "Updater_Summary_Restart", "Zamknij");
}

void FormsTest::polishTexts()
{
    QFETCH(QString, form);
    QFETCH(QString, name);
    QFETCH(QString, text);

    UiTest::PolishCatalogue catalogue;
    QVERIFY(catalogue.isInstalled());
    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);
    QObject *object = name.isEmpty() ? widget.data() : widget->findChild<QObject *>(name);
    QVERIFY(object);
    QCOMPARE(name.isEmpty() ? widget->windowTitle() : textOf(object), text);
}

// What a screen reader announces for each control of a form under the Polish
// catalogue: a control's own accessible name, or else its text. Every
// control must have a row, so one added without a name fails here.
void FormsTest::accessibleNames_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QStringList>("names"); // "objectName|Polish name"

    auto names = [](std::initializer_list<const char *> entries) {
        QStringList list;
        for (const char *entry : entries)
            list << QString::fromUtf8(entry);
        return list;
    };
    const char *icon = "label|Ikona programu aktualizującego";
    const char *heading = "label_2|Aktualizacja komunikatora Vemo";
    QTest::newRow("Changelog") << ChangelogForm
                               << names({icon, heading,
                                         "label_3|Dostępne są aktualizacje komunikatora Vemo. "
                                         "Czy chcesz je teraz pobrać?",
                                         "Updater_Changelog_ViewChangelog|Pokaż listę zmian",
                                         "Updater_Changelog_DownloadNow|Pobierz teraz",
                                         "Updater_Changelog_DownloadLater|Pobierz później",
                                         "Updater_Changelog_Details|Lista zmian"});
    QTest::newRow("Download") << DownloadForm
                              << names({icon, heading,
                                        "Updater_Download_ProgressText|Pobieranie...",
                                        "Updater_Download_Progress|Postęp pobierania",
                                        "Updater_Download_Status|Ustalanie rozmiaru pobieranych "
                                        "plików...",
                                        "Updater_Download_Cancel|Anuluj"});
    QTest::newRow("Install") << InstallForm
                             << names({icon, heading,
                                       "Updater_Install_ProgressText|Instalowanie...",
                                       "Updater_Install_Progress|Postęp instalacji"});
    QTest::newRow("Summary") << SummaryForm
                             << names({icon,
                                       "Updater_Summary_Status|Aktualizacja zakończona pomyślnie",
                                       "Updater_Summary_Instruction|Aby zakończyć aktualizację, "
                                       "uruchom ponownie komunikator Vemo.",
                                       "Updater_Summary_ViewDetails|Pokaż szczegóły",
                                       "Updater_Summary_Restart|Zamknij",
                                       "Updater_Summary_Details|Dziennik instalacji"});
}

void FormsTest::accessibleNames()
{
    QFETCH(QString, form);
    QFETCH(QStringList, names);

    UiTest::PolishCatalogue catalogue;
    QVERIFY(catalogue.isInstalled());
    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);

    QStringList announced;
    const QList<QWidget *> children = widget->findChildren<QWidget *>();
    for (QWidget *child : children) {
        // Qt's own parts of a control (scroll bars, viewports: unnamed or
        // "qt_") and the plain frame that groups controls are not controls of
        // the form.
        if (child->objectName().isEmpty() || child->objectName().startsWith(QLatin1String("qt_"))
            || QByteArray(child->metaObject()->className()) == "QFrame")
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(child);
        QVERIFY(accessible);
        announced << child->objectName() + QLatin1Char('|') + accessible->text(QAccessible::Name);
    }
    announced.sort();
    names.sort();
    QCOMPARE(announced, names);
}

// The order in which Tab walks through the controls of each form.
void FormsTest::tabOrder_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("Changelog") << ChangelogForm
                               << QStringList{"Updater_Changelog_ViewChangelog",
                                              "Updater_Changelog_DownloadNow",
                                              "Updater_Changelog_DownloadLater",
                                              "Updater_Changelog_Details"};
    QTest::newRow("Download") << DownloadForm << QStringList{"Updater_Download_Cancel"};
    QTest::newRow("Install") << InstallForm << QStringList();
    QTest::newRow("Summary") << SummaryForm
                             << QStringList{"Updater_Summary_ViewDetails",
                                            "Updater_Summary_Restart", "Updater_Summary_Details"};
}

void FormsTest::tabOrder()
{
    QFETCH(QString, form);
    QFETCH(QStringList, order);

    QScopedPointer<QWidget> widget(loadForm(form));
    QVERIFY(widget);
    QStringList chain;
    for (QWidget *next = widget->nextInFocusChain(); next != widget.data();
         next = next->nextInFocusChain()) {
        if (next->focusPolicy() & Qt::TabFocus)
            chain << next->objectName();
    }
    QCOMPARE(chain, order);
}

void FormsTest::iconFile()
{
    QFile file(QStringLiteral(":/res/icon.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();

    // Signature and IHDR: 64 x 64, bit depth 8, colour type 6 (RGBA).
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 16), 64u);
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 20), 64u);
    QCOMPARE(int(quint8(png.at(24))), 8);
    QCOMPARE(int(quint8(png.at(25))), 6);

    const QImage image = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(64, 64));
    QVERIFY(image.hasAlphaChannel());
    // A transparent background around an opaque drawing.
    for (const QPoint corner : {QPoint(0, 0), QPoint(63, 0), QPoint(0, 63)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);
    QCOMPARE(qAlpha(image.pixel(32, 32)), 255);
}

VEMO_TEST_MAIN(FormsTest)
#include "tst_forms.moc"
