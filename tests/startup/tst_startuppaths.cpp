#include "startup/startuppaths.h"
#include "testmain.h"

#include <QTest>

namespace {

// Every field, so that a row compares the whole value at once.
QStringList described(const UpdaterPaths &paths)
{
    return {QStringLiteral("command line: ") + paths.commandLine.join(QLatin1Char(' ')),
            QStringLiteral("installation: ")
                + (paths.hasInstallDir ? paths.installDir : QStringLiteral("(none)")),
            QStringLiteral("plug-ins: ") + paths.pluginRoot,
            QStringLiteral("work: ") + paths.workDir, QStringLiteral("state: ") + paths.stateDir};
}

} // namespace

class StartupPathsTest : public QObject
{
    Q_OBJECT

private slots:
    void build_data();
    void build();
};

void StartupPathsTest::build_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("tempDir");
    QTest::addColumn<QString>("installation");
    QTest::addColumn<QString>("plugins");
    QTest::addColumn<QString>("work");
    QTest::addColumn<QString>("state");

    const QStringList relocated{"updater", "-u", "-root", "/opt/Vemo IM"};
    QTest::newRow("-root given, APPDATA and XDG_STATE_HOME set")
        << relocated << QStringList{"APPDATA=/home/u/AppData", "XDG_STATE_HOME=/home/u/st"}
        << "/tmp"
        << "/opt/Vemo IM"
        << "/home/u/AppData/Vemo/plugins/"
        << "/tmp/vupdates/"
        << "/home/u/st/vemo-updater/";
    QTest::newRow("-root missing, nothing set")
        << QStringList{"updater", "-u"} << QStringList{} << "/tmp"
        << "(none)" << QString() << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("-root without a value")
        << QStringList{"updater", "-u", "-root"} << QStringList{} << "/tmp"
        << "(none)" << QString() << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("-root given as an empty argument")
        << QStringList{"updater", "-root", ""} << QStringList{} << "/tmp" << QString() << QString()
        << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("APPDATA empty: the plug-in folder at the root")
        << relocated << QStringList{"APPDATA="} << "/tmp"
        << "/opt/Vemo IM"
        << "/Vemo/plugins/"
        << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("only APPDATA itself, the first one")
        << relocated << QStringList{"APPDATA_X=/x", "appdata=/y", "APPDATA=/a", "APPDATA=/b"}
        << "/tmp"
        << "/opt/Vemo IM"
        << "/a/Vemo/plugins/"
        << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("trailing slashes kept, the state directory's cleaned")
        << QStringList{"updater", "-u", "-root", "/opt/vemo/"}
        << QStringList{"APPDATA=/home/u/AppData/", "XDG_STATE_HOME=/home/u/st//"} << "/tmp/"
        << "/opt/vemo/"
        << "/home/u/AppData//Vemo/plugins/"
        << "/tmp//vupdates/"
        << "/home/u/st/vemo-updater/";
    QTest::newRow("relative XDG_STATE_HOME: the home directory's")
        << relocated << QStringList{"XDG_STATE_HOME=st"} << "/tmp"
        << "/opt/Vemo IM" << QString() << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("TMPDIR names a missing folder: the work folder still in it")
        << relocated << QStringList{"TMPDIR=/home/u/tmp"} << ""
        << "/opt/Vemo IM" << QString() << "/home/u/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("no temporary folder, TMPDIR relative: /tmp, not the root")
        << relocated << QStringList{"TMPDIR=tmp"} << ""
        << "/opt/Vemo IM" << QString() << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("empty XDG_STATE_HOME: the home directory's")
        << relocated << QStringList{"XDG_STATE_HOME="} << "/tmp"
        << "/opt/Vemo IM" << QString() << "/tmp/vupdates/"
        << "/home/u/.local/state/vemo-updater/";
    QTest::newRow("Windows: the state directory in LOCALAPPDATA")
        << relocated << QStringList{"LOCALAPPDATA=/c/Users/u/AppData/Local/"} << "/tmp"
        << "/opt/Vemo IM" << QString() << "/tmp/vupdates/"
        << "/c/Users/u/AppData/Local/Vemo/updater/";
    QTest::newRow("XDG_STATE_HOME before LOCALAPPDATA, a relative one after it")
        << relocated << QStringList{"LOCALAPPDATA=st", "XDG_STATE_HOME=/home/u/st"} << "/tmp"
        << "/opt/Vemo IM" << QString() << "/tmp/vupdates/"
        << "/home/u/st/vemo-updater/";
}

void StartupPathsTest::build()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QString, tempDir);
    QFETCH(QString, installation);
    QFETCH(QString, plugins);
    QFETCH(QString, work);
    QFETCH(QString, state);

    const UpdaterPaths paths =
        StartupPaths::build(arguments, environment, tempDir, QStringLiteral("/home/u"));
    const QStringList expected{QStringLiteral("command line: ") + arguments.join(QLatin1Char(' ')),
                               QStringLiteral("installation: ") + installation,
                               QStringLiteral("plug-ins: ") + plugins,
                               QStringLiteral("work: ") + work, QStringLiteral("state: ") + state};
    QCOMPARE(described(paths), expected);
}

VEMO_TEST_MAIN(StartupPathsTest)
#include "tst_startuppaths.moc"
