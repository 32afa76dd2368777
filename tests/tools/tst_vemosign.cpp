#include "testmain.h"
#include "treelisting.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Keys = QStringLiteral(VEMO_SOURCE_DIR "/tests/keys/");
const QByteArray Answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<updates><request name=\"core\"><version>7.1</version></request>"
                          "</updates>\n";

} // namespace

// keygen, sign and verify as a release engineer runs them.
class VemoSignTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void keygen();
    void signAndVerify_data();
    void signAndVerify();

private:
    int run(const QStringList &arguments);
    QString path(const QString &name) const { return m_dir->filePath(name); }

    QScopedPointer<QTemporaryDir> m_dir;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

void VemoSignTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(writeFile(path("answer.xml"), Answer));
    QVERIFY(writeFile(path("query"), "<s><component/></s>"));
    QVERIFY(writeFile(path("other-query"), "<s></s>"));
    // The tool gets the key by a name in its working folder: under Wine a
    // host path ("/work/...") would name a folder on that folder's drive.
    QVERIFY(QFile::copy(Keys + "test-only-release.key", path("release.key")));
}

int VemoSignTest::run(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    // Text mode: what the tool prints ends its lines with "\r\n" on Windows.
    process.start(VEMO_TOOLS_DIR "/vemo-sign", arguments, QIODevice::ReadWrite | QIODevice::Text);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    m_stdout = process.readAllStandardOutput();
    m_stderr = process.readAllStandardError();
    return process.exitCode();
}

void VemoSignTest::keygen()
{
    QCOMPARE(run({"keygen", "--key", "new.key"}), 0);
#ifndef Q_OS_WIN
    // Owner (user) read and write; nothing for the group and others.
    // (Windows has no mode bits.)
    QCOMPARE(QFileInfo(path("new.key")).permissions() & 0x0fff,
             QFile::ReadUser | QFile::WriteUser);
#endif
    const QByteArray publicKey = m_stdout;
    QCOMPARE(publicKey.size(), 45);
    QCOMPARE(run({"public", "--key", "new.key"}), 0);
    QCOMPARE(m_stdout, publicKey);

    // A key is never replaced.
    const QByteArray secret = readFile(path("new.key"));
    QCOMPARE(run({"keygen", "--key", "new.key"}), 1);
    QVERIFY(m_stderr.startsWith("vemo-sign: Cannot create new.key: File exists"));
    QCOMPARE(readFile(path("new.key")), secret);

    // Its signatures verify under the printed key and no other.
    QCOMPARE(run({"sign", "--key", "new.key", "--lifetime", "60", "--out", "s.xml", "answer.xml"}), 0);
    QCOMPARE(run({"verify", "--keys", publicKey.trimmed(), "s.xml"}), 0);
    QCOMPARE(run({"verify", "--keys", readFile(Keys + "test-only-release.pub").trimmed(), "s.xml"}), 1);
}

void VemoSignTest::signAndVerify_data()
{
    QTest::addColumn<QStringList>("signOptions");
    QTest::addColumn<QStringList>("verifyOptions");
    QTest::addColumn<QString>("verdict");

    const QStringList fresh = {"--lifetime", "600", "--query", "query"};
    const QString release = readFile(Keys + "test-only-release.pub").trimmed();
    const QString other = readFile(Keys + "test-only-other.pub").trimmed();
    QTest::newRow("round trip") << fresh << QStringList{"--keys", release, "--query", "query"}
                                << "s.xml: verified";
    QTest::newRow("second of two keys") << fresh << QStringList{"--keys", other + "," + release}
                                        << "s.xml: verified (query not checked)";
    QTest::newRow("another key") << fresh << QStringList{"--keys", other}
                                 << "vemo-sign: s.xml: not verified: the signature is not that of "
                                    "a release key";
    QTest::newRow("another query") << fresh
                                   << QStringList{"--keys", release, "--query", "other-query"}
                                   << "vemo-sign: s.xml: not verified: the answer was made for "
                                      "another query";
    QTest::newRow("expired") << QStringList{"--lifetime", "-1"} << QStringList{"--keys", release}
                             << "vemo-sign: s.xml: not verified: the answer expired at ";
    QTest::newRow("no expiry") << QStringList() << QStringList{"--keys", release}
                               << "vemo-sign: s.xml: not verified: the answer carries no expiry "
                                  "time";
}

void VemoSignTest::signAndVerify()
{
    QFETCH(QStringList, signOptions);
    QFETCH(QStringList, verifyOptions);
    QFETCH(QString, verdict);

    const QString key = QStringLiteral("release.key");
    QCOMPARE(run(QStringList{"sign", "--key", key, "--out", "s.xml"} + signOptions + QStringList{"answer.xml"}), 0);
    QCOMPARE(run(QStringList{"verify"} + verifyOptions + QStringList{"s.xml"}), verdict.startsWith("vemo-sign") ? 1 : 0);
    QVERIFY2(QString::fromUtf8(m_stdout + m_stderr).startsWith(verdict), m_stdout + m_stderr);

    // A signed answer is not signed again, nor stamped twice.
    QCOMPARE(run({"sign", "--key", key, "s.xml"}), 1);
    QCOMPARE(m_stderr, QByteArray("vemo-sign: s.xml: the answer is signed already\n"));
}

VEMO_TEST_MAIN(VemoSignTest)
#include "tst_vemosign.moc"
