#include "internaltestrunner.h"
#include "replay.h"

#include <QStringEncoder>
#include <QtTest>

namespace {

// Holds the single pending wait until the test fires it.
class FakeClock : public StepClock
{
public:
    void startWait(int milliseconds, std::function<void()> done) override
    {
        pending = milliseconds;
        m_done = std::move(done);
    }
    void cancelWait() override
    {
        pending = -1;
        m_done = nullptr;
    }
    bool fire()
    {
        auto done = std::exchange(m_done, nullptr);
        pending = -1;
        if (!done)
            return false;
        done();
        return true;
    }
    int pending = -1;

private:
    std::function<void()> m_done;
};

QByteArray gbk(const QString &text)
{
    return QStringEncoder("windows-936").encode(text);
}

// Names the script's frames by their bytes, so a trace reads like the script.
QString frameName(const QByteArray &frame)
{
    static const QHash<QByteArray, QString> names = [] {
        QHash<QByteArray, QString> n;
        n.insert(
            QByteArray::fromHex("fd001c0101") + gbk(QStringLiteral("欢迎观看语音合成系统的演示")),
            "welcome");
        n.insert(QByteArray::fromHex("fd00320101")
                + gbk(QStringLiteral("银行行长穿过人行道向骑着自行车的银行职员行走过去")),
            "polyphone");
        n.insert(QByteArray::fromHex("fd000102"), "stop");
        n.insert(QByteArray::fromHex("fd000103"), "pause");
        n.insert(QByteArray::fromHex("fd000104"), "resume");
        n.insert(QByteArray::fromHex("fd000122"), "standby");
        n.insert(QByteArray::fromHex("fd0001ff"), "wake");
        for (int i = 1; i <= 5; ++i)
            n.insert(QByteArray::fromHex("fd000c0101") + "sound101 " + QByteArray::number(i),
                QStringLiteral("marker%1").arg(i));
        return n;
    }();
    if (frame.startsWith(QByteArray::fromHex("fd007a0101")) && frame.size() == 125)
        return "long";
    return names.value(frame, "unknown:" + frame.toHex());
}

// Records what the runner asks of the window, and each wait it starts, in order.
struct Trace
{
    explicit Trace(InternalTestRunner &runner, FakeClock &clock)
        : clock(clock)
    {
        QObject::connect(
            &runner, &InternalTestRunner::sendFrameValues, [this](const QVariantList &values) {
                QByteArray frame;
                for (const QVariant &v : values)
                    frame.append(char(v.toInt()));
                frames.append(frame);
                steps.append(frameName(frame));
            });
        QObject::connect(
            &runner, &InternalTestRunner::loadDemoTextRequested, [this] { steps.append("load"); });
        QObject::connect(&runner, &InternalTestRunner::synthesizeRequested,
            [this] { steps.append("synthesize"); });
    }
    // Fires waits until the runner's next frame is the given one (the next pass's start).
    void fireUntilFrameCount(int count)
    {
        while (frames.size() < count) {
            if (clock.pending < 0)
                return;
            steps.append(QString::number(clock.pending));
            clock.fire();
        }
    }
    FakeClock &clock;
    QStringList steps;
    QList<QByteArray> frames;
};

// The script as the operator's manual states it: frames and the waits after them.
QStringList expectedPass(const QString &finalWait)
{
    QStringList s;
    auto send = [&s](const QString &frame, int wait) { s << frame << QString::number(wait); };
    send("marker1", 1000);
    for (int gap : {200, 500, 1000, 1500, 2000, 3000})
        for (const char *text : {"welcome", "polyphone", "long"})
            send(text, gap);
    send("welcome", 4000);
    send("polyphone", 8000);
    send("long", 24000);
    send("marker2", 1000);
    int pauses = 3;
    for (const char *text : {"welcome", "polyphone", "long"}) {
        send(text, 1000);
        for (int i = 0; i < pauses; ++i) {
            send("pause", 1000);
            send("resume", 1000);
        }
        send("stop", 200);
        ++pauses;
    }
    send("marker3", 1000);
    const int series[3][4] = {
        {1000, 1000, 200, 1000}, {2000, 2000, 200, 2000}, {3000, 1000, 200, 1000}};
    for (const auto &w : series) {
        for (const char *text : {"welcome", "polyphone", "long"}) {
            send(text, w[0]);
            send("standby", w[1]);
            send("wake", QString(text) == "long" ? w[3] : w[2]);
        }
    }
    send("marker4", 1000);
    s << "load";
    for (int gap : {1000, 1500, 2000, 3000, 5000, 10000, 20000})
        s << "synthesize" << QString::number(gap);
    send("marker5", 1000);
    s << "load"
      << "synthesize";
    if (!finalWait.isEmpty())
        s << finalWait;
    return s;
}

}   // namespace

class TstTools : public QObject
{
    Q_OBJECT
private slots:
    void firstPass_data();
    void firstPass();
    void scriptFrames();
    void stopDuringWait();
    void secondStartRefused();
    void stopFromInsideAStep();
    void timerClock();
    void replayDigitFilter_data();
    void replayDigitFilter();
};

void TstTools::firstPass_data()
{
    QTest::addColumn<int>("maxTextBytes");
    QTest::addColumn<QString>("finalWait");
    QTest::newRow("serial") << 4091 << "500000";
    QTest::newRow("USB") << 512 << "70000";
    QTest::newRow("neither limit: no wait") << 1000 << "";
}

void TstTools::firstPass()
{
    QFETCH(int, maxTextBytes);
    QFETCH(QString, finalWait);
    auto *clock = new FakeClock;
    InternalTestRunner runner {std::unique_ptr<StepClock>(clock)};
    runner.setMaxTextBytesSource([maxTextBytes] { return maxTextBytes; });
    Trace trace(runner, *clock);

    QVERIFY(runner.start());
    QCOMPARE(trace.frames.size(), 1);
    QCOMPARE(trace.frames.first(), QByteArray::fromHex("fd000c0101") + "sound101 1");
    QCOMPARE(clock->pending, 1000);

    // One pass, and the first frame of the next: the pass repeats without end.
    trace.fireUntilFrameCount(84);
    QCOMPARE(trace.frames.size(), 84);
    QCOMPARE(trace.steps.takeLast(), "marker1");
    QCOMPARE(trace.steps, expectedPass(finalWait));
    QCOMPARE(trace.steps.count("synthesize"), 8);
    QCOMPARE(trace.steps.count("stop"), 3);
    QVERIFY(runner.isRunning());
}

void TstTools::scriptFrames()
{
    const QByteArray longFrame = longTextFrame();
    QCOMPARE(longFrame.size(), 125);
    QCOMPARE(longFrame.left(5), QByteArray::fromHex("fd007a0101"));
    const QByteArray text = longFrame.mid(5);
    for (const QString &part : {QStringLiteral("℃。"), QStringLiteral("%。"),
             QStringLiteral("传真是:"), QStringLiteral("sound101 sound102")})
        QVERIFY2(text.contains(gbk(part)), qPrintable(part));
    QVERIFY(text.endsWith(gbk(QStringLiteral("[f0]这是发音风格为一字一顿的效果；[d]"))));
    QVERIFY(!text.contains('?'));   // every character has a GBK code

    for (const QByteArray &frame :
        {welcomeFrame(), polyphoneFrame(), longFrame, phaseMarkerFrame(3)}) {
        QCOMPARE(quint8(frame.at(3)), quint8(0x01));
        QCOMPARE(quint8(frame.at(4)), quint8(0x01));   // GBK whatever the window shows
    }
    QCOMPARE(welcomeFrame().size(), 31);
    QCOMPARE(polyphoneFrame().size(), 53);
}

void TstTools::stopDuringWait()
{
    auto *clock = new FakeClock;
    InternalTestRunner runner {std::unique_ptr<StepClock>(clock)};
    Trace trace(runner, *clock);
    QSignalSpy running(&runner, &InternalTestRunner::runningChanged);
    runner.start();
    trace.fireUntilFrameCount(3);
    QCOMPARE(clock->pending, 200);

    runner.stop();
    QVERIFY(!runner.isRunning());
    QCOMPARE(clock->pending, -1);
    QVERIFY(!clock->fire());
    QCOMPARE(trace.frames.size(), 3);
    QCOMPARE(running.size(), 2);
    QCOMPARE(running.at(1).at(0).toBool(), false);

    // A new start begins again at phase 1.
    QVERIFY(runner.start());
    QCOMPARE(frameName(trace.frames.last()), "marker1");
    QCOMPARE(clock->pending, 1000);
}

void TstTools::secondStartRefused()
{
    auto *clock = new FakeClock;
    InternalTestRunner runner {std::unique_ptr<StepClock>(clock)};
    Trace trace(runner, *clock);
    runner.start();
    trace.fireUntilFrameCount(2);
    QVERIFY(!runner.start());
    QCOMPARE(trace.frames.size(), 2);
    QCOMPARE(clock->pending, 200);   // the running pass goes on undisturbed
    trace.fireUntilFrameCount(3);
    QCOMPARE(frameName(trace.frames.last()), "polyphone");
}

void TstTools::stopFromInsideAStep()
{
    auto *clock = new FakeClock;
    InternalTestRunner runner {std::unique_ptr<StepClock>(clock)};
    Trace trace(runner, *clock);
    int frames = 0;
    // The window stops the test from inside the send operation; and then starts it anew.
    QObject::connect(&runner, &InternalTestRunner::sendFrameValues, &runner, [&] {
        if (++frames == 2) {
            runner.stop();
            runner.start();
        }
    });
    runner.start();
    clock->fire();
    QCOMPARE(trace.steps, QStringList({"marker1", "welcome", "marker1"}));
    QCOMPARE(clock->pending, 1000);
    clock->fire();
    QCOMPARE(trace.steps.last(), "welcome");
}

void TstTools::timerClock()
{
    TimerStepClock clock;
    int done = 0;
    clock.startWait(1, [&done] { ++done; });
    QTRY_COMPARE(done, 1);
    clock.startWait(1, [&done] { ++done; });
    clock.cancelWait();
    QTest::qWait(20);
    QCOMPARE(done, 1);
}

void TstTools::replayDigitFilter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("firstBad");
    QTest::addColumn<double>("ticks");   // -1: refused
    QTest::newRow("empty") << "" << -1 << -1.0;
    QTest::newRow("three") << "3" << -1 << 3.0;
    QTest::newRow("zero passes the filter") << "0" << -1 << 0.0;
    QTest::newRow("leading zeros") << "0007" << -1 << 7.0;
    QTest::newRow("digit then letter") << "3a" << 1 << -1.0;
    QTest::newRow("sign") << "-3" << 0 << -1.0;
    QTest::newRow("blank") << "1 2" << 1 << -1.0;
    QTest::newRow("decimal point") << "1.5" << 1 << -1.0;
    QTest::newRow("full-width digit") << "1２" << 1 << -1.0;
    QTest::newRow("2^53 counts down") << "9007199254740992" << -1 << 9007199254740992.0;
    QTest::newRow("2^53 + 1 refused") << "9007199254740993" << -1 << -1.0;
    QTest::newRow("far too long") << QString(400, u'9') << -1 << -1.0;
    QTest::newRow("many leading zeros") << QString(400, u'0') + "12" << -1 << 12.0;
}

void TstTools::replayDigitFilter()
{
    QFETCH(QString, text);
    QFETCH(int, firstBad);
    QFETCH(double, ticks);
    QCOMPARE(firstNonDigit(text), qsizetype(firstBad));
    const std::optional<double> parsed = replayTicks(text);
    if (ticks < 0)
        QVERIFY(!parsed);
    else
        QCOMPARE(parsed, std::optional<double>(ticks));
}

QTEST_GUILESS_MAIN(TstTools)
#include "tst_tools.moc"
