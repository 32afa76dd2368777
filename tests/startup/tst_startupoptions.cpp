#include "startup/startupoptions.h"
#include "testmain.h"

#include <QTest>

class StartupOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void switches_data();
    void switches();
};

void StartupOptionsTest::switches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("updateMode");
    QTest::addColumn<bool>("quiet");

    QTest::newRow("no arguments: relocation") << QStringList{"updater"} << false << false;
    QTest::newRow("-q alone: quiet relocation") << QStringList{"updater", "-q"} << false << true;
    QTest::newRow("-u") << QStringList{"updater", "-u"} << true << false;
    QTest::newRow("-u -q in any order, anywhere")
        << QStringList{"updater", "-root", "/x", "-q", "junk", "-u"} << true << true;
    QTest::newRow("repeated switches") << QStringList{"updater", "-u", "-u", "-q", "-q"} << true
                                       << true;
    QTest::newRow("upper-case U is no switch") << QStringList{"updater", "-U"} << false << false;
    QTest::newRow("second hyphen is no switch") << QStringList{"updater", "--u", "--q"} << false
                                                << false;
    QTest::newRow("trailing blank is no switch") << QStringList{"updater", "-u "} << false
                                                 << false;
    QTest::newRow("program name is not a switch") << QStringList{"-u"} << false << false;
    QTest::newRow("switch glued to a value") << QStringList{"updater", "-uq"} << false << false;
}

void StartupOptionsTest::switches()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, updateMode);
    QFETCH(bool, quiet);
    const StartupOptions options = parseStartupOptions(arguments);
    QCOMPARE(options.updateMode, updateMode);
    QCOMPARE(options.quiet, quiet);
}

VEMO_TEST_MAIN(StartupOptionsTest)
#include "tst_startupoptions.moc"
