#include "form1fixture.h"

#include "messages.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"

#include <QDockWidget>
#include <QLabel>
#include <QRadioButton>
#include <QTableView>
#include <QToolButton>

#include "timingview.h"

namespace {

// Speech is rendered and timed as on the board; nothing is played.
BoardOptions silentBoard()
{
    BoardOptions options;
    options.playback = false;
    return options;
}

// Rendering and speaking a short text takes a moment of real time on a loaded machine.
constexpr int kSpeechTimeoutMs = 30000;

}   // namespace

class TstVirtual : public QObject
{
    Q_OBJECT
private slots:
    void serialBoard();
    void usbBoard();
    void timingOfASynthesis();
    void internalTestReport();
};

void TstVirtual::serialBoard()
{
    VirtualBoardRunner runner(silentBoard());
    QVERIFY2(runner.start(), qPrintable(runner.errorString()));
    Form1Fixture f(
        {}, false, false, [&](Form1Options &o) { o.ports.setOverride(1, runner.slavePath()); });
    QVERIFY(f.window->serialControl()->PortOpen());
    QVERIFY(f.messages.shown.isEmpty());
    QTRY_VERIFY(f.log().contains(QStringLiteral("<---- 返回：4A  初始化成功回传\r\n")));

    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("你好"));
    f.click("Command6");
    QTRY_VERIFY(f.log().contains(QStringLiteral("<---- 返回：41  接收成功\r\n")));
    const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.log().contains(idle), kSpeechTimeoutMs);

    // A query while the chip speaks a longer text finds it playing.
    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral(
        "欢迎观看语音合成系统的演示，银行行长穿过人行道向骑着自行车的银行职员行走过去"));
    f.click("Command6");
    QTRY_COMPARE(f.log().count(QStringLiteral("<---- 返回：41  接收成功\r\n")), 2);
    f.click("Command28");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.log().contains(QStringLiteral("<---- 返回：4E  芯片正在播音\r\n")), kSpeechTimeoutMs);
    f.click("Command7");   // stop: the chip answers idle at once
    QTRY_COMPARE_WITH_TIMEOUT(f.log().count(idle), 2, kSpeechTimeoutMs);
    QVERIFY(f.messages.shown.isEmpty());
}

void TstVirtual::usbBoard()
{
    VirtualHidApi hid(silentBoard());
    Form1Fixture f({}, false, true, [&](Form1Options &o) { o.hid = &hid; });
    f.find<QRadioButton>("Option4")->click();
    QVERIFY(f.window->usbLink()->hidFound());
    QCOMPARE(f.window->usbLink()->devicePath(), QByteArray("virtual:orv4120"));
    QCOMPARE(f.window->usbLink()->outputReportBytes(), 33);
    // COM1 has no device here; then the 512 notice, and no "USB连接失败".
    QCOMPARE(f.messages.shown,
        (QStringList {Msg::PortMissing, QStringLiteral("512") + Msg::MaxTextNotice}));
    QTRY_VERIFY(f.log().contains(QStringLiteral("<-0x4A  初始化成功回传\r\n")));

    // A second search replaces the handles; the new ones work.
    f.find<QRadioButton>("Option4")->click();
    QVERIFY(f.window->usbLink()->hidFound());
    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("你好"));
    f.click("Command6");
    QTRY_VERIFY(f.log().contains(QStringLiteral("<-0xAA接收成功，芯片原状态空闲\r\n")));
    QTRY_VERIFY_WITH_TIMEOUT(
        f.log().contains(QStringLiteral("<-0x4F  芯片空闲\r\n")), kSpeechTimeoutMs);
    QVERIFY(!f.log().contains(QStringLiteral("USB设备")));   // no fault of the link
    QCOMPARE(f.messages.shown.size(), 3);
}

void TstVirtual::timingOfASynthesis()
{
    BoardOptions options = silentBoard();
    options.speechScale = 0.05;
    VirtualBoardRunner runner(options);
    QVERIFY2(runner.start(), qPrintable(runner.errorString()));
    Form1Fixture f(
        {}, false, false, [&](Form1Options &o) { o.ports.setOverride(1, runner.slavePath()); });
    f.find<QToolButton>("TimingToggle")->click();
    QVERIFY(f.find<QDockWidget>("TimingDock")->isVisible());
    QTRY_VERIFY(f.log().contains(QStringLiteral("4A  初始化成功回传")));
    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("欢迎观看语音合成系统的演示"));
    f.click("Command6");
    auto *table = f.find<QTableView>("TimingTable");
    const auto cell = [table](int row, int column) {
        return table->model()->index(row, column).data().toString();
    };
    const auto synthesisRow = [&] {
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            if (cell(row, TimingRows::Frame).startsWith(QStringLiteral("合成 GBK 26 字节")))
                return row;
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(synthesisRow() >= 0, kSpeechTimeoutMs);
    const int row = synthesisRow();
    // The row is there from the moment the frame is sent; it is complete once the speech ended.
    QTRY_VERIFY_WITH_TIMEOUT(!cell(row, TimingRows::Speech).isEmpty(), kSpeechTimeoutMs);
    QVERIFY(cell(row, TimingRows::Answers).startsWith(QStringLiteral("41")));
    QVERIFY(cell(row, TimingRows::Latency).toDouble() > 0);
    QVERIFY(cell(row, TimingRows::Speech).section(u' ', 0, 0).toDouble() > 0);
    QVERIFY(cell(row, TimingRows::Problems).isEmpty());
    QVERIFY(f.find<QLabel>("TimingSummary")->text().contains(QStringLiteral("延迟")));
}

void TstVirtual::internalTestReport()
{
    // No board answers: every frame still gets its row, as unanswered.
    Form1Fixture f({}, true, true);
    f.click("Command14");
    QTest::qWait(2500);
    f.click("Command14");   // the run ends: its report is written beside LOG.txt
    const QStringList reports =
        QDir(f.dir.path()).entryList({QStringLiteral("soak-*.csv")}, QDir::Files);
    QCOMPARE(reports.size(), 1);
    QFile csv(f.dir.filePath(reports.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const int frames = int(f.log().count(QStringLiteral("发出一帧")));
    QVERIFY(frames >= 4);
    QCOMPARE(lines.size() - 1, frames);   // a header, then one row per frame
    QString summary = reports.first();
    summary.replace(QStringLiteral(".csv"), QStringLiteral(".txt"));
    QVERIFY(QFile::exists(f.dir.filePath(summary)));
    QVERIFY(f.find<QLabel>("TimingReport")->text().contains(QStringLiteral("soak-")));
}

QTEST_MAIN(TstVirtual)
#include "tst_virtual.moc"
