#include "form1fixture.h"

#include "commandline.h"
#include "messages.h"
#include "session.h"
#include "virtualboards.h"

#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

#include "timingview.h"

#include <csignal>
#include <sys/resource.h>

namespace {

// Speech is rendered and timed as on the board; nothing is played.
VirtualBoardOptions silentBoard()
{
    VirtualBoardOptions options;
    options.playback = false;
    return options;
}

// Rendering and speaking a short text takes a moment of real time on a loaded machine.
constexpr int kSpeechTimeoutMs = 30000;

// The boards from the module the window's --virtual loads.
std::unique_ptr<VirtualBoards> loadBoards(const VirtualBoardOptions &options)
{
    QString error;
    auto boards = loadVirtualBoards(options, &error);
    if (!boards)
        qWarning("%s", qPrintable(error));
    return boards;
}

// The serial board's pseudo-terminal; empty (with a warning) when it cannot start.
QString serialPath(VirtualBoards &boards)
{
    QString error;
    const QString path = boards.serialPath(&error);
    if (path.isEmpty())
        qWarning("%s", qPrintable(error));
    return path;
}

}   // namespace

class TstVirtual : public QObject
{
    Q_OBJECT
private slots:
    void serialBoard();
    void usbBoard();
    void usbScenarios_data();
    void usbScenarios();
    void demonstrationOverUsb_data();
    void demonstrationOverUsb();
    void timingOfASynthesis();
    void internalTestReport();
    void reportThatDoesNotFit();
};

void TstVirtual::serialBoard()
{
    const auto boards = loadBoards(silentBoard());
    QVERIFY(boards);
    const QString path = serialPath(*boards);
    QVERIFY(!path.isEmpty());
    Form1Fixture f({}, false, false, [&](Form1Options &o) { o.ports.setOverride(1, path); });
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
    const auto boards = loadBoards(silentBoard());
    QVERIFY(boards);
    Form1Fixture f({}, false, true, [&](Form1Options &o) { o.hid = &boards->usb(); });
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

// The virtual board's three readings of which USB reports get a 0x5E.
static void addUsbBoardRows()
{
    QTest::addColumn<QString>("acks");
    for (const char *acks : {"full", "all", "ready"})
        QTest::newRow(acks) << QString::fromLatin1(acks);
}

void TstVirtual::usbScenarios_data()
{
    addUsbBoardRows();
}

void TstVirtual::usbScenarios()
{
    QFETCH(QString, acks);
    VirtualBoardOptions options = silentBoard();
    options.speechScale = 0.05;
    QVERIFY(setUsbAcks(&options, QStringLiteral("--virtual-usb-acks"), acks).isEmpty());
    const auto boards = loadBoards(options);
    QVERIFY(boards);
    Form1Fixture f({}, false, true, [&](Form1Options &o) { o.hid = &boards->usb(); });
    f.find<QRadioButton>("Option4")->click();
    QTRY_VERIFY(f.log().contains(QStringLiteral("<-0x4A  初始化成功回传\r\n")));
    auto *text = f.find<QPlainTextEdit>("Text3");
    const QString longText = QStringLiteral(
        "欢迎观看语音合成系统的演示，银行行长穿过人行道向骑着自行车的银行职员行走过去。");
    const auto receipts = [&] {
        return f.log().count(QStringLiteral("<-0xAA")) + f.log().count(QStringLiteral("<-0xAB"))
            + f.log().count(QStringLiteral("<-0xAC"));
    };
    // A synthesis of several reports followed at once by another: both are taken whole, the
    // second while the chip speaks the first.
    text->setPlainText(longText);
    f.click("Command6");
    f.click("Command6");
    QTRY_COMPARE_WITH_TIMEOUT(receipts(), 2, kSpeechTimeoutMs);
    QTRY_VERIFY(f.log().contains(QStringLiteral("<-0xAC")));
    // A control frame (a status query) between two long frames.
    f.click("Command6");
    f.click("Command28");
    f.click("Command6");
    QTRY_COMPARE_WITH_TIMEOUT(receipts(), 5, kSpeechTimeoutMs);
    f.click("Command7");   // stop
    QTRY_COMPARE_WITH_TIMEOUT(receipts(), 6, kSpeechTimeoutMs);
    // The version query: the board takes it; the chip has no version over USB.
    f.click("Command12");
    QTRY_COMPARE_WITH_TIMEOUT(receipts(), 7, kSpeechTimeoutMs);
    QTest::qWait(200);
    QCOMPARE(f.log().count(QStringLiteral("发出一帧")), 7);
    QCOMPARE(receipts(), 7);
    QVERIFY2(!f.log().contains(QStringLiteral("超时")), qPrintable(f.log()));
    QVERIFY(!f.log().contains(QStringLiteral("USB设备")));
}

void TstVirtual::demonstrationOverUsb_data()
{
    addUsbBoardRows();
}

void TstVirtual::demonstrationOverUsb()
{
    // orv4120-demo --virtual --internal --virtual-usb-acks ...: continuous replay of the
    // demonstration text, then the internal test, over USB.
    QFETCH(QString, acks);
    const CommandLine commandLine =
        parseCommandLine({QStringLiteral("orv4120-demo"), QStringLiteral("--virtual"),
            QStringLiteral("--internal"), QStringLiteral("--virtual-usb-acks"), acks,
            QStringLiteral("--virtual-speech-scale"), QStringLiteral("0.01")});
    QVERIFY2(!commandLine.exitNow, qPrintable(commandLine.output));
    VirtualBoardOptions options = commandLine.board;
    options.playback = false;
    const auto boards = loadBoards(options);
    QVERIFY(boards);
    Form1Fixture f(
        {}, false, commandLine.options.internal, [&](Form1Options &o) { o.hid = &boards->usb(); });
    f.find<QRadioButton>("Option4")->click();
    QTRY_VERIFY(f.log().contains(QStringLiteral("<-0x4A  初始化成功回传\r\n")));

    QElapsedTimer clock;
    QList<qint64> pieceTimes;   // ms from the start of the replay
    connect(f.window->session(), &Session::frameSent, f.window.get(),
        [&] { pieceTimes << clock.elapsed(); });
    f.click("Command31");
    const int textLength = f.find<QPlainTextEdit>("Text3")->document()->characterCount() - 1;
    f.find<QLineEdit>("Text2")->setText(QStringLiteral("600"));
    clock.start();
    f.click("Command3");
    QTRY_VERIFY_WITH_TIMEOUT(!f.window->continuousPlay(), 120000);
    QTRY_VERIFY_WITH_TIMEOUT(f.log().endsWith(QStringLiteral("<-0x4F  芯片空闲\r\n")), 60000);
    const qsizetype cutOff = f.log().count(QStringLiteral("<-0xAC"));
    qInfo("%s: %lld pieces at %s ms; %lld answered 0xAC", qPrintable(acks),
        qlonglong(pieceTimes.size()), qPrintable([&] {
            QStringList times;
            for (const qint64 t : pieceTimes)
                times << QString::number(t);
            return times.join(u' ');
        }()),
        qlonglong(cutOff));
    QVERIFY(pieceTimes.size() > 1);
    QCOMPARE(f.find<QPlainTextEdit>("Text3")->textCursor().selectionEnd(), textLength);
    QCOMPARE(f.log().count(QStringLiteral("<-0xAA")), pieceTimes.size());   // each spoken whole
    QCOMPARE(cutOff, 0);

    const qsizetype pieces = pieceTimes.size();
    f.click("Command14");   // the internal test
    QTest::qWait(3000);
    f.click("Command14");
    QVERIFY(f.log().count(QStringLiteral("发出一帧")) > pieces + 2);
    QVERIFY2(!f.log().contains(QStringLiteral("超时")), qPrintable(f.log().right(2000)));
    QVERIFY(!f.log().contains(QStringLiteral("USB设备")));
}

void TstVirtual::timingOfASynthesis()
{
    VirtualBoardOptions options = silentBoard();
    options.speechScale = 0.05;
    const auto boards = loadBoards(options);
    QVERIFY(boards);
    const QString path = serialPath(*boards);
    QVERIFY(!path.isEmpty());
    Form1Fixture f({}, false, false, [&](Form1Options &o) { o.ports.setOverride(1, path); });
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

void TstVirtual::reportThatDoesNotFit()
{
    Form1Fixture f({}, true, true);
    f.click("Command14");   // the run's report starts with its header
    // No file may grow beyond 400 bytes until the run ends: the report takes a row or two.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small {400, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    QTest::qWait(2500);
    f.click("Command14");   // the run ends: what still waits is written as unfinished
    ::setrlimit(RLIMIT_FSIZE, &saved);
    const QString notice = f.window->statusBar()->currentMessage();
    QVERIFY2(notice.startsWith(QStringLiteral("测试报告未能写完")), qPrintable(notice));
    QVERIFY(f.find<QLabel>("TimingReport")->text().startsWith(notice));
    const QStringList reports = QDir(f.dir.path()).entryList({QStringLiteral("soak-*.csv")});
    QCOMPARE(reports.size(), 1);
    QFile csv(f.dir.filePath(reports.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QVERIFY(csv.readAll().endsWith("\r\n"));   // whole rows only

    // The operator saves it into another folder.
    QTemporaryDir elsewhere;
    f.find<QToolButton>("TimingToggle")->click();
    f.click("TimingSaveAs");
    auto *dialog = f.window->findChild<QFileDialog *>(QStringLiteral("TimingSaveAsDialog"));
    QVERIFY(dialog);
    dialog->setDirectory(elsewhere.path());
    static_cast<QDialog *>(dialog)->accept();   // as the operator presses Choose
    QCOMPARE(QDir(elsewhere.path()).entryList({QStringLiteral("soak-*.csv")}).size(), 1);
    QVERIFY(f.window->statusBar()->currentMessage().contains(elsewhere.path()));
}

QTEST_MAIN(TstVirtual)
#include "tst_virtual.moc"
