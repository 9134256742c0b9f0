#include "fakelink.h"
#include "frame.h"
#include "session.h"
#include "timingpanel.h"

#include <QDir>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Tool = TimingPanel::Tool;

namespace {

// A panel in a bare main window, its reports going into a folder of its own.
struct Panel
{
    Panel()
    {
        session.attachLink(&serial, AnswerRule::SerialCharacters);
        session.attachLink(&usb, AnswerRule::UsbReports);
        session.setCurrentLink(&serial);
        panel = new TimingPanel(&window, &session, dir.path());
    }
    // A stop, answered at once: one finished row.
    void stopAnswered()
    {
        const QByteArray stop = commandFrame(Command::Stop);
        session.send(stop);
        emit serial.frameWritten({stop.size(), linkNow(), linkNow()});
        serial.arrive("A");
    }
    QStringList reports() const
    {
        return QDir(dir.path()).entryList({QStringLiteral("soak-*.csv")}, QDir::Files);
    }
    // The rows of the only report, without its header.
    int rowsOfReport() const
    {
        QFile csv(dir.filePath(reports().value(0)));
        if (!csv.open(QIODevice::ReadOnly))
            return -1;
        return int(csv.readAll().count('\n')) - 1;
    }

    QTemporaryDir dir;
    QMainWindow window;
    Session session;
    FakeLink serial;
    FakeLink usb {512};
    TimingPanel *panel = nullptr;
};

}   // namespace

class TstTimingPanel : public QObject
{
    Q_OBJECT
private slots:
    void runLastsWhileAToolRuns_data();
    void runLastsWhileAToolRuns();
    void clearStartsAfresh();
    void saveIntoMissingFolder();
};

void TstTimingPanel::runLastsWhileAToolRuns_data()
{
    QTest::addColumn<bool>("replayFirst");   // the replay ends before the internal test
    QTest::addColumn<QString>("cause");   // why the replay ended
    QTest::newRow("test ends first") << false << QString();
    QTest::newRow("replay ends first") << true << QString();
    QTest::newRow("replay stopped by a bound while the test runs")
        << true << QStringLiteral("内部连续播放已停止");
    QTest::newRow("replay stopped by a bound, last")
        << false << QStringLiteral("内部连续播放已停止");
}

// Both tools count toward one report, written when the last of them ends; a cause of the
// replay's end is said at once, before the report's own note when it ends the run.
void TstTimingPanel::runLastsWhileAToolRuns()
{
    QFETCH(bool, replayFirst);
    QFETCH(QString, cause);
    Panel p;
    QSignalSpy notices(p.panel, &TimingPanel::notice);
    p.stopAnswered();   // before the run: not in its report
    p.panel->startRun(Tool::InternalTest);
    p.panel->startRun(Tool::Replay);
    QCOMPARE(p.reports().size(), 1);
    p.stopAnswered();
    QTRY_VERIFY(p.rowsOfReport() == 1);

    if (replayFirst)
        p.panel->endRun(Tool::Replay, cause);
    else
        p.panel->endRun(Tool::InternalTest);
    QCOMPARE(notices.size(), cause.isEmpty() || !replayFirst ? 0 : 1);
    if (!notices.isEmpty())
        QCOMPARE(notices.takeFirst().at(0).toString(), cause);
    p.stopAnswered();   // the run goes on
    QTRY_VERIFY(p.rowsOfReport() == 2);

    if (replayFirst)
        p.panel->endRun(Tool::InternalTest);
    else
        p.panel->endRun(Tool::Replay, cause);
    QCOMPARE(notices.size(), 1);
    const QString said = notices.takeFirst().at(0).toString();
    const QString report = QStringLiteral("测试报告：") + p.dir.filePath(p.reports().value(0));
    QCOMPARE(said, replayFirst || cause.isEmpty() ? report : cause + QStringLiteral("；") + report);
    QVERIFY(QFileInfo::exists(p.dir.filePath(p.reports().value(0).replace(".csv", ".txt"))));

    p.stopAnswered();   // after the run: no report takes it
    p.panel->endAllRuns();
    QCOMPARE(notices.size(), 0);
    QCOMPARE(p.reports().size(), 1);
    QCOMPARE(p.rowsOfReport(), 2);
}

// 清空时序 drops the rows kept so far; what follows is counted from zero.
void TstTimingPanel::clearStartsAfresh()
{
    Panel p;
    p.stopAnswered();
    p.stopAnswered();
    QTest::qWait(50);   // the rows end
    p.panel->clear();
    p.stopAnswered();
    QTest::qWait(50);
    p.panel->save();
    QCOMPARE(p.reports().size(), 1);
    QCOMPARE(p.rowsOfReport(), 1);
}

void TstTimingPanel::saveIntoMissingFolder()
{
    Panel p;
    QSignalSpy notices(p.panel, &TimingPanel::notice);
    p.panel->save(p.dir.filePath(QStringLiteral("gone")));
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.at(0).at(0).toString().startsWith(QStringLiteral("测试报告无法保存：")),
        qPrintable(notices.at(0).at(0).toString()));
    QVERIFY(p.reports().isEmpty());
}

QTEST_MAIN(TstTimingPanel)
#include "tst_timingpanel.moc"
