#include "engine/messenger.h"
#include "testmain.h"
#include "treelisting.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray component(const char *name, const char *type, const char *version)
{
    return QByteArray("<component project=\"vemo\" name=\"") + name + "\" type=\"" + type
           + "\" version=\"" + version + "\"/>";
}

} // namespace

// Runs a copy of the messenger stand-in, which reads the component records
// beside its own executable and in $APPDATA/Vemo/plugins/.
class MessengerStandInTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void updateQuery_data();
    void updateQuery();
    void startRecord();

private:
    QByteArray run(const QStringList &arguments, bool setAppData = false);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_installDir;
    QString m_pluginDir;
};

void MessengerStandInTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_installDir = m_dir->filePath("Vemo 7");
    m_pluginDir = m_dir->filePath("AppData/Vemo/plugins");
    QVERIFY(QDir().mkpath(m_installDir));
    QVERIFY(QFile::copy(VEMO_TOOLS_DIR "/vemo7.exe", m_installDir + "/vemo7.exe"));
}

QByteArray MessengerStandInTest::run(const QStringList &arguments, bool setAppData)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("APPDATA");
    if (setAppData)
        environment.insert("APPDATA", m_dir->filePath("AppData"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_installDir + "/vemo7.exe", arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return "failed: " + process.readAll();
    return process.readAll();
}

void MessengerStandInTest::updateQuery_data()
{
    // Record files as "file name", "content" pairs.
    QTest::addColumn<QStringList>("appRecords");
    QTest::addColumn<QStringList>("pluginRecords");
    QTest::addColumn<bool>("setAppData");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("notes");

    const QString core = component("core", "app", "7.0.0");
    const QString chat = component("chat", "app", "7.0.2");
    const QString emoji = component("emoji", "plugin", "1.2");

    QTest::newRow("app records by file name, then plug-ins; other files ignored")
        << QStringList{"z.component", core, "a.component", chat, "notes.txt", chat}
        << QStringList{"0.component", emoji} << true
        << "<s>" + component("chat", "app", "7.0.2") + component("core", "app", "7.0.0")
               + component("emoji", "plugin", "1.2") + "</s>"
        << 0;
    QTest::newRow("without APPDATA no plug-ins")
        << QStringList{"core.component", core} << QStringList{"emoji.component", emoji} << false
        << "<s>" + component("core", "app", "7.0.0") + "</s>" << 0;
    QTest::newRow("broken records skipped with a note")
        << QStringList{"a.component", "<component project=\"vemo\"", "b.component", core,
                       "c.component", "<package name=\"core\"/>", "d.component", ""}
        << QStringList{"e.component", "not xml"} << true
        << "<s>" + component("core", "app", "7.0.0") + "</s>" << 4;
    // The updater reads the output as Latin-1: anything beyond ASCII must be
    // a character reference to survive.
    QTest::newRow("values escaped, non-ASCII as character references")
        << QStringList()
        << QStringList{"p.component", QString::fromUtf8("<component project=\"a&amp;b\" "
                                                        "name=\"&quot;\xc5\xbc\xf0\x9f\x98\x80\" "
                                                        "type=\"it's &lt;x&gt;\" version=\"1\"/>")}
        << true
        << QByteArray("<s><component project=\"a&amp;b\" name=\"&quot;&#380;&#128512;\" "
                      "type=\"it&apos;s &lt;x&gt;\" version=\"1\"/></s>")
        << 0;
}

void MessengerStandInTest::updateQuery()
{
    QFETCH(QStringList, appRecords);
    QFETCH(QStringList, pluginRecords);
    QFETCH(bool, setAppData);
    QFETCH(QByteArray, query);
    QFETCH(int, notes);

    for (int i = 0; i + 1 < appRecords.size(); i += 2)
        QVERIFY(writeFile(m_installDir + '/' + appRecords.at(i), appRecords.at(i + 1).toUtf8()));
    for (int i = 0; i + 1 < pluginRecords.size(); i += 2)
        QVERIFY(writeFile(m_pluginDir + '/' + pluginRecords.at(i),
                          pluginRecords.at(i + 1).toUtf8()));

    const QByteArray output = run({"-updatequery"}, setAppData);
    // What the updater cuts out of the merged output is exactly the query.
    QCOMPARE(Messenger::cutOutQuery(output), query);
    QCOMPARE(int(output.count("vemo7: skipped ")), notes);
    QVERIFY(!QFile::exists(m_installDir + "/vemo7.started"));
}

void MessengerStandInTest::startRecord()
{
    QCOMPARE(run({}), QByteArray());
    QCOMPARE(run({"-minimized", "--profile", "x"}), QByteArray());
    const QString time = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[^\t]*");
    const QString record = QString::fromUtf8(readFile(m_installDir + "/vemo7.started"));
    QVERIFY2(QRegularExpression("^started\t" + time + "\t\nstarted\t" + time
                                + "\t-minimized --profile x\n$")
                 .match(record)
                 .hasMatch(),
             qPrintable(record));
}

VEMO_TEST_MAIN(MessengerStandInTest)
#include "tst_messengerstandin.moc"
