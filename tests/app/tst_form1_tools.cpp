#include "form1fixture.h"

#include "codepage.h"
#include "messages.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

namespace {

// "你好" as a GBK synthesis frame.
const QByteArray kHelloFrame = QByteArray::fromHex("fd00060101c4e3bac3");
const QByteArray kMarker1 = QByteArray::fromHex("fd000c0101") + QByteArray("sound101 1");
const QString kIdleLine = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");

struct ToolsWindow
{
    ToolsWindow()
        : f(toGbk(u"你好"), true, true)
    { }

    int syntheses() const { return int(f.board.received().count(kHelloFrame)); }
    // The chip reports idle; returns once the window has read and logged it.
    void idle()
    {
        const qsizetype before = f.log().count(kIdleLine);
        f.board.answer("O");
        QTRY_VERIFY(f.log().count(kIdleLine) > before);
    }
    void tick() { QMetaObject::invokeMethod(f.find<QTimer>("Timer1"), "timeout"); }
    void startReplay(const QString &count)
    {
        f.find<QLineEdit>("Text2")->setText(count);
        f.click("Command3");
    }

    Form1Fixture f;
};

}   // namespace

class TstForm1Tools : public QObject
{
    Q_OBJECT
private slots:
    void replayOnIdleAnswers_data();
    void replayOnIdleAnswers();
    void replayWithoutInterpretation();
    void replayAfterReconnect_data();
    void replayAfterReconnect();
    void replayCount_data();
    void replayCount();
    void internalTestFirstFrame();
    void internalTestEnds_data();
    void internalTestEnds();
    void internalTestLeavesWindowResponsive();
};

void TstForm1Tools::replayOnIdleAnswers_data()
{
    QTest::addColumn<QString>("between");   // what happens after the first repeat
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("two ticks left") << QStringLiteral("2 ticks") << true;
    QTest::newRow("three ticks: expired") << QStringLiteral("3 ticks") << false;
    QTest::newRow("stop") << QStringLiteral("Command7") << false;
    QTest::newRow("pause and resume") << QStringLiteral("Command8 Command9") << true;
    QTest::newRow("status query") << QStringLiteral("Command28") << true;
    // Every other operation that starts something new ends the replay; the voice list does not.
    QTest::newRow("cache store") << QStringLiteral("Command10") << false;
    QTest::newRow("cache play") << QStringLiteral("Command13") << false;
    QTest::newRow("direct play") << QStringLiteral("Command29") << false;
    QTest::newRow("header play") << QStringLiteral("Command30") << false;
    QTest::newRow("tone bar") << QStringLiteral("HScroll1") << false;
    QTest::newRow("tag reset") << QStringLiteral("Command34") << false;
    QTest::newRow("port choice") << QStringLiteral("Combo1") << false;
    QTest::newRow("voice list") << QStringLiteral("Combo4") << true;
}

void TstForm1Tools::replayOnIdleAnswers()
{
    QFETCH(QString, between);
    QFETCH(bool, goesOn);
    ToolsWindow w;
    w.startReplay(QStringLiteral("3"));
    QTRY_COMPARE(w.syntheses(), 1);   // at once
    QVERIFY(w.f.window->continuousPlay());
    w.idle();
    QTRY_COMPARE(w.syntheses(), 2);
    QVERIFY(w.f.window->continuousPlay());

    if (between.endsWith(QStringLiteral("ticks"))) {
        for (int i = between.left(1).toInt(); i > 0; --i)
            w.tick();
    } else {
        for (const QString &control : between.split(u' ')) {
            const QByteArray name = control.toLatin1();
            if (control == u"HScroll1")
                w.f.find<QScrollBar>("HScroll1")->setValue(3);
            else if (control.startsWith(u"Combo"))
                w.f.pick(name.constData(), control == u"Combo4" ? 1 : 0);
            else
                w.f.click(name.constData());
        }
    }
    QCOMPARE(w.f.window->continuousPlay(), goesOn);
    w.idle();
    w.idle();
    QTRY_COMPARE(w.syntheses(), goesOn ? 4 : 2);
    QTest::qWait(30);
    QCOMPARE(w.syntheses(), goesOn ? 4 : 2);
    QVERIFY(w.f.messages.shown.isEmpty());
}

void TstForm1Tools::replayWithoutInterpretation()
{
    ToolsWindow w;
    w.startReplay(QStringLiteral("3"));
    QTRY_COMPARE(w.syntheses(), 1);
    w.f.find<QCheckBox>("Check1")->setChecked(false);
    w.f.board.answer("O");
    QTest::qWait(150);
    QCOMPARE(w.syntheses(), 1);
    QVERIFY(!w.f.log().contains(kIdleLine));
}

void TstForm1Tools::replayAfterReconnect_data()
{
    QTest::addColumn<QByteArray>("answer");   // the chip's answer to the state query
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("idle chip: its 0x4F sends the next piece") << QByteArray("AO") << true;
    QTest::newRow("still speaking: the piece's own 0x4F goes on") << QByteArray("AN") << true;
    QTest::newRow("no answer: the replay ends") << QByteArray() << false;
}

// The board's adapter, which carries a serial number, is pulled out during a replay and comes
// back at another node.
void TstForm1Tools::replayAfterReconnect()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, goesOn);
    const auto adapterAt = [](const QString &path) {
        return SerialDevice {path, QFileInfo(path).fileName(), QStringLiteral("FT232R USB UART"),
            QStringLiteral("0403:6001"), true, QStringLiteral("A5028")};
    };
    auto first = std::make_unique<PtyPeer>();
    QList<SerialDevice> listed {adapterAt(first->slavePath())};
    Form1Fixture f(toGbk(u"你好"), false, true, [&](Form1Options &o) {
        o.ports.setOverride(1, first->slavePath());
        o.ports.setPresentDeviceSourceForTest([&listed] { return listed; });
    });
    f.find<QLineEdit>("Text2")->setText(QStringLiteral("30"));
    f.click("Command3");
    QTRY_COMPARE(first->received(), kHelloFrame);

    first.reset();   // pulled out while the chip speaks
    listed.clear();
    QTRY_VERIFY(!f.window->serialControl()->PortOpen());
    PtyPeer back;
    listed = {adapterAt(back.slavePath())};
    QTRY_VERIFY_WITH_TIMEOUT(f.window->serialControl()->PortOpen(), 5000);
    // The piece is not sent again at once: the chip is asked for its state.
    const QByteArray query = QByteArray::fromHex("fd000121");
    QTRY_COMPARE(back.received(), query);
    back.answer(answer);
    if (answer == "AN") {
        QTest::qWait(1300);   // past the no-answer bound: the chip did answer
        QCOMPARE(back.received(), query);
        back.answer("O");
    }
    if (goesOn) {
        QTRY_COMPARE(back.received(), query + kHelloFrame);
        QVERIFY(f.window->continuousPlay());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->continuousPlay(), 3000);
        QTest::qWait(1300);   // past the query's own no-answer bound, whichever ran out first
        QVERIFY2(f.window->statusBar()->currentMessage().startsWith(
                     QStringLiteral("内部连续播放已停止")),
            qPrintable(f.window->statusBar()->currentMessage()));
        back.answer("O");
        QTest::qWait(150);
        QCOMPARE(back.received(), query);
    }
    QVERIFY(f.messages.shown.isEmpty());
}

void TstForm1Tools::replayCount_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");   // Text2 after the filter
    QTest::addColumn<int>("filterMessages");   // shown while typing
    QTest::addColumn<bool>("plays");   // Command3 then starts a synthesis
    QTest::newRow("digit then letter") << QStringLiteral("1a") << QString() << 1 << false;
    QTest::newRow("full-width digit") << QStringLiteral("１") << QString() << 1 << false;
    QTest::newRow("400 digits") << QString(400, u'9') << QString() << 1 << false;
    QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("0") << 0 << false;
    QTest::newRow("empty, no ticks") << QString() << QString() << 0 << false;
    QTest::newRow("leading zeros") << QStringLiteral("007") << QStringLiteral("007") << 0 << true;
}

void TstForm1Tools::replayCount()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QFETCH(int, filterMessages);
    QFETCH(bool, plays);
    ToolsWindow w;
    auto *count = w.f.find<QLineEdit>("Text2");
    count->setText(typed);   // as pasted
    QCOMPARE(count->text(), kept);
    QCOMPARE(w.f.messages.shown, QStringList(filterMessages, Msg::ReplayCount));
    w.f.messages.shown.clear();
    w.f.click("Command3");
    QCOMPARE(w.f.window->continuousPlay(), plays);
    QCOMPARE(w.f.messages.shown, plays ? QStringList() : QStringList {Msg::ReplayCount});
    QVERIFY(w.f.boardReceives(plays ? kHelloFrame : QByteArray()));
    QCOMPARE(w.f.log().contains(QStringLiteral("发出一帧")), plays);
}

void TstForm1Tools::internalTestFirstFrame()
{
    ToolsWindow w;
    auto *button = w.f.find<QPushButton>("Command14");
    const QString idleCaption = button->text();
    w.f.click("Command14");
    QVERIFY(button->text() != idleCaption);
    QVERIFY(w.f.boardReceives(kMarker1));
    QCOMPARE(w.f.log(),
        QStringLiteral("发出一帧，字节数 15\r\n"
                       "----> FD 00 0C 01 01 73 6F 75 6E 64 31 30 31 20 31 \r\n"));
    w.f.click("Command14");
    QCOMPARE(button->text(), idleCaption);
}

void TstForm1Tools::internalTestEnds_data()
{
    QTest::addColumn<bool>("byClosing");
    QTest::newRow("second click") << false;
    QTest::newRow("window closed") << true;
}

void TstForm1Tools::internalTestEnds()
{
    QFETCH(bool, byClosing);
    ToolsWindow w;
    w.f.click("Command14");
    QVERIFY(w.f.boardReceives(kMarker1));
    const QString log = w.f.log();
    if (byClosing)
        w.f.window->close();
    else
        w.f.click("Command14");
    // The welcome frame would follow one second after the marker.
    QTest::qWait(1300);
    QCOMPARE(w.f.board.received(), kMarker1);
    QCOMPARE(w.f.log(), log);
}

void TstForm1Tools::internalTestLeavesWindowResponsive()
{
    ToolsWindow w;
    auto *button = w.f.find<QPushButton>("Command14");
    const QString idleCaption = button->text();
    w.f.click("Command14");
    QVERIFY(w.f.boardReceives(kMarker1));
    // The script is in its first wait; a click is handled and its frame leaves before the
    // script's next frame.
    w.f.click("Command28");
    QVERIFY(w.f.boardReceives(kMarker1 + QByteArray::fromHex("fd000121")));
    QVERIFY(button->text() != idleCaption);
    w.f.click("Command14");
}

QTEST_MAIN(TstForm1Tools)
#include "tst_form1_tools.moc"
