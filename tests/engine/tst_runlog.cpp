#include "engine/runlog.h"
#include "packagetestsupport.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray Missing; // null: no such file
const QByteArray CutLine = "the log was cut here, at its limit of %1 bytes; nothing more of this "
                           "run is written\n";

QByteArray cutAt(qint64 size)
{
    return QByteArray(CutLine).replace("%1", QByteArray::number(size));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file's content after what it held before, each line's time stamp
// replaced by "T "; a new line without a stamp stays as it is and fails the
// comparison.
QByteArray withoutStamps(const QByteArray &content, qsizetype from)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "),
        QRegularExpression::MultilineOption);
    return content.left(from)
           + QString::fromUtf8(content.mid(from)).replace(stamp, QStringLiteral("T ")).toUtf8();
}

} // namespace

// The run's log: which file a run starts, what a line looks like, where it
// stops, and that a log that cannot be written only costs one warning.
class RunLogTest : public QObject
{
    Q_OBJECT

private slots:
    void writes_data();
    void writes();
};

void RunLogTest::writes_data()
{
    QTest::addColumn<QByteArray>("lastBefore"); // Missing: none
    QTest::addColumn<QByteArray>("previousBefore"); // Missing: none
    QTest::addColumn<QString>("place"); // what stands in the way
    QTest::addColumn<bool>("sameRun");
    QTest::addColumn<qint64>("maxSize");
    // "info:" through qInfo() (also on standard error), "log:" through
    // lcRunLog (the file only), "qt:" through a category of Qt's own
    // (standard error only)
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("lastAfter"); // stamps as "T "
    QTest::addColumn<QByteArray>("previousAfter");
    QTest::addColumn<bool>("warned");

    const qint64 max = RunLog::MaxSize;
    const QStringList two{"info:updater: box \"Update\": Zażółć\\ngęślą", "log:outcome: updated"};
    const QByteArray twoLines = "T updater: box \"Update\": Zażółć\\ngęślą\nT outcome: updated\n";
    QTest::newRow("a new run keeps the last log as the previous one, replacing the older")
        << QByteArray("last run\n") << QByteArray("older run\n") << QString() << false << max << two
        << twoLines << QByteArray("last run\n") << false;
    QTest::newRow("the first run")
        << Missing << Missing << QString() << false << max << two << twoLines << Missing << false;
    QTest::newRow("the same run goes on in the same log")
        << QByteArray("begun\n") << QByteArray("older run\n") << QString() << true << max << two
        << "begun\n" + twoLines << QByteArray("older run\n") << false;
    QTest::newRow("the same run without a log begun starts one")
        << Missing << Missing << QString() << true << max << two << twoLines << Missing << false;
    QTest::newRow("Qt's own messages stay out of the log")
        << Missing << Missing << QString() << false << max
        << QStringList{"qt:Fontconfig error: Cannot load default config file",
                       "info:QWindowsWindow::setGeometry: Unable to set geometry",
                       "log:outcome: updated"}
        << QByteArray("T outcome: updated\n") << Missing << false;
    QTest::newRow("newlines inside a message stay on its line")
        << Missing << Missing << QString() << false << max << QStringList{"log:a\nb\n"}
        << QByteArray("T a\\nb\\n\n") << Missing << false;

    // A line takes a 24-byte stamp and a space before its text.
    const QString sixty = "log:" + QString(60, QLatin1Char('a'));
    QTest::newRow("the line that would pass the limit cuts the log, nothing follows")
        << Missing << Missing << QString() << false << qint64(200)
        << QStringList{sixty, sixty, "log:b"} << "T " + QByteArray(60, 'a') + "\nT " + cutAt(200)
        << Missing << false;
    const QByteArray nearlyFull = QByteArray(max - 201, 'x') + '\n';
    QTest::newRow("a continued run is cut at 1 MiB")
        << nearlyFull << Missing << QString() << true << max
        << QStringList{"log:" + QString(30, QLatin1Char('y')),
                       "log:" + QString(10, QLatin1Char('z')), "log:z"}
        << nearlyFull + "T " + QByteArray(30, 'y') + "\nT " + cutAt(max) << Missing << false;
    const QByteArray cut = "2026-01-02T03:04:05.678Z " + cutAt(max);
    QTest::newRow("a log that the run's first process cut stays cut")
        << cut << Missing << QString() << true << max << two << cut << Missing << false;

    QTest::newRow("a folder in the way of the log: the run goes on without it")
        << Missing << Missing << "folder at last" << true << max << two << Missing << Missing
        << true;
    QTest::newRow("folders in the way of both logs: the run goes on without one")
        << Missing << Missing << "folders at both" << false << max << two << Missing << Missing
        << true;
    QTest::newRow("a full disk: one warning, then nothing")
        << Missing << Missing << "full disk" << false << max << two << QByteArray("") << Missing
        << true;
}

void RunLogTest::writes()
{
    QFETCH(QByteArray, lastBefore);
    QFETCH(QByteArray, previousBefore);
    QFETCH(QString, place);
    QFETCH(bool, sameRun);
    QFETCH(qint64, maxSize);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, lastAfter);
    QFETCH(QByteArray, previousAfter);
    QFETCH(bool, warned);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString stateDir = temp.filePath("state/");
    const auto unmount = qScopeGuard([&] { unmountSmallFileSystem(temp.filePath("state")); });
    if (place == QLatin1String("full disk")) {
        if (!mountSmallFileSystem(temp.filePath("state"), "16k"))
            QSKIP("no small file system can be mounted here");
        QFile filler(stateDir + "filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) > 0 && filler.flush()) { }
    }
    QVERIFY(QDir().mkpath(stateDir));
    const QString last = stateDir + RunLog::LastName;
    const QString previous = stateDir + RunLog::PreviousName;
    if (!lastBefore.isNull())
        QVERIFY(writeFiles(stateDir, {{RunLog::LastName, lastBefore}}));
    if (!previousBefore.isNull())
        QVERIFY(writeFiles(stateDir, {{RunLog::PreviousName, previousBefore}}));
    if (place.startsWith(QLatin1String("folder")))
        QVERIFY(QDir().mkpath(last + "/inside"));
    if (place == QLatin1String("folders at both"))
        QVERIFY(QDir().mkpath(previous + "/inside"));

    if (warned) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^updater: the log of this run cannot be written "
                                                "to .*[/\\\\]last-update.log \\(.+\\); the update goes "
                                                "on without it$"));
    } else {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    }
    {
        RunLog log(stateDir, maxSize);
        log.start(sameRun ? RunLog::Start::SameRun : RunLog::Start::NewRun);
        for (const QString &message : messages) {
            if (message.startsWith(QLatin1String("info:"))) {
                // Standard error still gets it.
                QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(message.mid(5)));
                qInfo("%s", qUtf8Printable(message.mid(5)));
            } else if (message.startsWith(QLatin1String("qt:"))) {
                static const QLoggingCategory qtFonts("qt.text.font.db");
                QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(message.mid(3)));
                qCInfo(qtFonts, "%s", qUtf8Printable(message.mid(3)));
            } else {
                qCInfo(lcRunLog, "%s", qUtf8Printable(message.mid(4)));
            }
        }
    }
    // Once the log is gone, nothing reaches the file.
    QTest::ignoreMessage(QtInfoMsg, "after");
    qInfo("after");
    qCInfo(lcRunLog, "after");

    if (place.startsWith(QLatin1String("folder"))) {
        QVERIFY(QFileInfo(last).isDir());
        QCOMPARE(QFileInfo(previous).isDir(), place == QLatin1String("folders at both"));
        return;
    }
    const QByteArray content = readAll(last);
    QCOMPARE(withoutStamps(content, sameRun ? lastBefore.size() : 0), lastAfter);
    QCOMPARE(QFileInfo::exists(last), !lastAfter.isNull());
    QVERIFY(content.size() <= maxSize);
    QCOMPARE(readAll(previous), previousAfter);
    QCOMPARE(QFileInfo::exists(previous), !previousAfter.isNull());
#ifndef Q_OS_WIN
    // Windows has no mode bits: there the state folder's ACL keeps the log
    // private.
    if (!sameRun) {
        QCOMPARE(QFileInfo(last).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
    }
#endif
}

VEMO_TEST_MAIN(RunLogTest)
#include "tst_runlog.moc"
