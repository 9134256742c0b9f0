#include "form1fixture.h"

#include "codepage.h"
#include "fakehid.h"
#include "messages.h"
#include "session.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextCursor>

namespace {

const QString kUsbNotice = QStringLiteral("512") + Msg::MaxTextNotice;
const QString kMissingLine = QStringLiteral("操作失败请先联接\r\n");

// A synthesis frame with GBK text: FD, length (high byte first), 01, 01, text.
QByteArray gbkSynthesisFrame(const QByteArray &text)
{
    const int length = int(text.size()) + 2;
    QByteArray frame = QByteArray::fromHex("fd");
    frame.append(char(length >> 8)).append(char(length & 0xFF)).append('\x01').append('\x01');
    return frame + text;
}

// The board's reports for a frame: 31 bytes behind 00 FC each, the rest behind 00 BC r.
QList<QByteArray> reportsFor(const QByteArray &frame)
{
    QList<QByteArray> reports;
    const int full = int(frame.size()) / 31;
    for (int k = 0; k < full; ++k)
        reports << QByteArray::fromHex("00fc") + frame.mid(31 * k, 31);
    const QByteArray rest = frame.mid(31 * full);
    QByteArray closing = QByteArray::fromHex("00bc") + char(rest.size()) + rest;
    reports << closing.leftJustified(33, '\0');
    return reports;
}

// A window on the fake board (or no board when the fake has none), the USB option chosen.
struct UsbWindow
{
    explicit UsbWindow(bool board = true, bool silent = false)
    {
        if (board) {
            boardPath = hid.addBoard();
            hid.device(boardPath).silent = silent;
        }
        f = std::make_unique<Form1Fixture>(
            QByteArray(), true, true, [this](Form1Options &o) { o.hid = &hid; });
        f->find<QRadioButton>("Option4")->click();
    }
    QList<QByteArray> written() { return hid.device(boardPath).written; }
    void setText(const QString &text) { f->find<QPlainTextEdit>("Text3")->setPlainText(text); }

    FakeHidApi hid;
    QByteArray boardPath;
    std::unique_ptr<Form1Fixture> f;
};

}   // namespace

class TstForm1Usb : public QObject
{
    Q_OBJECT
private slots:
    void optionWithoutBoard();
    void framesAsReports_data();
    void framesAsReports();
    void answerLines_data();
    void answerLines();
    void boardAbsentDuringSend_data();
    void boardAbsentDuringSend();
    void silentBoard();
    void serialOptionAfterUsb_data();
    void serialOptionAfterUsb();
    void continuousPlayThroughLongText_data();
    void continuousPlayThroughLongText();
    void continuousPlayEndsWithoutReceipt();
    void acknowledgementWithoutContinuousPlay();
};

void TstForm1Usb::optionWithoutBoard()
{
    UsbWindow w(false);
    QCOMPARE(w.f->messages.shown, (QStringList {kUsbNotice, Msg::UsbMissing}));
    QVERIFY(w.f->window->usbMode());
    QCOMPARE(w.f->window->maxTextBytes(), 512);
    QVERIFY(!w.f->window->usbLink()->hidFound());
    QVERIFY(w.f->window->serialControl()->PortOpen());   // the serial port is not touched
    QCOMPARE(
        w.f->find<QLabel>("LinkStatus")->text(), QStringLiteral("内部USB(SPI)：未找到 USB 板"));
}

void TstForm1Usb::framesAsReports_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("control command") << "Command7" << QString() << QByteArray::fromHex("fd000102");
    QTest::newRow("30 bytes, closing only")
        << "Command6" << QString(25, u'a') << gbkSynthesisFrame(QByteArray(25, 'a'));
    QTest::newRow("62 bytes, closing count 0")
        << "Command6" << QString(57, u'a') << gbkSynthesisFrame(QByteArray(57, 'a'));
    // 600 text bytes are cut to the 512 a USB frame carries.
    QTest::newRow("517 bytes, cut")
        << "Command6" << QString(300, u'你') << gbkSynthesisFrame(toGbk(QString(256, u'你')));
    // A Chinese character that would make 513 bytes is left out whole.
    const QByteArray storeHead = QByteArray::fromHex("fd02013100");
    QTest::newRow("cache store, cut") << "Command10" << QString(511, u'a') + QStringLiteral("中")
                                      << storeHead + QByteArray(511, 'a');
}

void TstForm1Usb::framesAsReports()
{
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    UsbWindow w;
    QVERIFY(w.f->messages.shown == QStringList {kUsbNotice});
    w.setText(text);
    w.f->click(button.toLatin1().constData());
    const QList<QByteArray> expected = reportsFor(frame);
    QTRY_COMPARE(w.written().size(), expected.size());
    QCOMPARE(w.written(), expected);
    QVERIFY(w.f->log().startsWith(QStringLiteral("发出一帧，字节数 %1\r\n").arg(frame.size())));
    QVERIFY(!w.f->log().contains(QStringLiteral("超时")));
    QTest::qWait(20);
    QVERIFY(w.f->board.received().isEmpty());   // nothing on the serial port
}

void TstForm1Usb::answerLines_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");   // empty: no line of its own
    QTest::newRow("41") << 0x41 << QStringLiteral("<-0x41  接收成功");
    QTest::newRow("45") << 0x45 << QStringLiteral("<-0x45  接收失败");
    QTest::newRow("4A") << 0x4A << QStringLiteral("<-0x4A  初始化成功回传");
    QTest::newRow("4E") << 0x4E << QStringLiteral("<-0x4E  芯片正在播音");
    QTest::newRow("4F") << 0x4F << QStringLiteral("<-0x4F  芯片空闲");
    QTest::newRow("AA") << 0xAA << QStringLiteral("<-0xAA接收成功，芯片原状态空闲");
    QTest::newRow("AB") << 0xAB << QStringLiteral("<-0xAB接收成功，芯片原状态暂停");
    QTest::newRow("AC") << 0xAC << QStringLiteral("<-0xAC接收成功，芯片原状态播音");
    QTest::newRow("AD") << 0xAD << QStringLiteral("<-硬件查询，4120处于播音状态");
    QTest::newRow("5E acknowledgement") << 0x5E << QString();
    QTest::newRow("00 nothing read") << 0x00 << QString();
    QTest::newRow("53 serial version only") << 0x53 << QString();
    QTest::newRow("FF unknown") << 0xFF << QString();
}

void TstForm1Usb::answerLines()
{
    QFETCH(int, code);
    QFETCH(QString, line);
    UsbWindow w;
    QTest::mouseClick(w.f->find<QCheckBox>("Check5"), Qt::LeftButton);   // serial lines only
    QCOMPARE(w.f->window->hexPrefix(), QStringLiteral("0x"));
    w.hid.queueAnswer(w.boardPath, quint8(code));
    w.hid.queueAnswer(w.boardPath, 0x4F);   // read after it: marks that the code was handled
    const QString after = QStringLiteral("<-0x4F  芯片空闲\r\n");
    QTRY_VERIFY(w.f->log().endsWith(after));
    QCOMPARE(w.f->log(), line.isEmpty() ? after : line + QStringLiteral("\r\n") + after);
    QVERIFY(w.written().isEmpty());
}

void TstForm1Usb::boardAbsentDuringSend_data()
{
    QTest::addColumn<QString>("text");   // empty: the stop button
    QTest::addColumn<int>("frameBytes");
    QTest::newRow("one report") << QString() << 4;
    QTest::newRow("seventeen reports") << QString(256, u'你') << 517;
}

void TstForm1Usb::boardAbsentDuringSend()
{
    QFETCH(QString, text);
    QFETCH(int, frameBytes);
    UsbWindow w(false);
    w.f->messages.shown.clear();
    w.setText(text);
    auto *log = w.f->find<QPlainTextEdit>("Text4");
    w.f->click(text.isEmpty() ? "Command7" : "Command6");
    QCOMPARE(w.f->messages.shown, QStringList {Msg::UsbMissing});
    const QString sent = QStringLiteral("发出一帧，字节数 %1\r\n").arg(frameBytes);
    QVERIFY(w.f->log().startsWith(sent));
    QVERIFY(w.f->log().endsWith(kMissingLine));
    QCOMPARE(w.f->log().count(kMissingLine), 1);
    // The sent-frame entry put the caret at the end; the missing-board line leaves it there.
    const int missingChars = int(kMissingLine.size()) - 1;   // the box keeps one separator
    QCOMPARE(log->textCursor().position(), log->document()->characterCount() - 1 - missingChars);
    QTest::qWait(30);
    QCOMPARE(w.f->messages.shown.size(), 1);   // no later retries
}

void TstForm1Usb::silentBoard()
{
    UsbWindow w(true, true);
    w.setText(QString(256, u'你'));
    w.f->click("Command6");
    QTRY_COMPARE(w.written().size(), 1);   // the first 0xFC report waits for its 0x5E
    // The window goes on answering while the report waits; the stop frame queues behind.
    w.f->click("Command8");
    QVERIFY(w.f->log().endsWith(QStringLiteral("----> FD 00 01 03 \r\n")));
    QTRY_VERIFY_WITH_TIMEOUT(
        w.f->log().contains(QStringLiteral("USB等待应答 0x5E 超时\r\n")), 5000);
    QTRY_COMPARE(w.written().size(), 2);
    QCOMPARE(w.written().at(1), reportsFor(QByteArray::fromHex("fd000103")).first());
    QCOMPARE(w.f->messages.shown, QStringList {kUsbNotice});
}

void TstForm1Usb::serialOptionAfterUsb_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("port open") << true;
    QTest::newRow("port closed") << false;
}

void TstForm1Usb::serialOptionAfterUsb()
{
    QFETCH(bool, portOpen);
    UsbWindow w;
    MSComm *port = w.f->window->serialControl();
    const QString path = port->devicePath();
    if (!portOpen)
        port->setPortOpen(false);
    w.f->find<QRadioButton>("Option3")->click();
    QVERIFY(!w.f->window->usbMode());
    QCOMPARE(w.f->window->maxTextBytes(), 4091);
    QCOMPARE(port->PortOpen(), portOpen);
    QCOMPARE(port->devicePath(), path);
    w.f->click("Command7");
    QVERIFY(w.f->boardReceives(portOpen ? QByteArray::fromHex("fd000102") : QByteArray()));
    QVERIFY(w.written().isEmpty());
    // The board found earlier is still read.
    w.hid.queueAnswer(w.boardPath, 0x4E);
    QTRY_VERIFY(w.f->log().endsWith(QStringLiteral("<-0x4E  芯片正在播音\r\n")));
}

// The frames a series of reports carries, reassembled as the board does.
static QList<QByteArray> framesIn(const QList<QByteArray> &reports)
{
    QList<QByteArray> frames;
    QByteArray frame;
    for (const QByteArray &r : reports) {
        if (quint8(r.at(1)) == 0xFC) {
            frame += r.mid(2, 31);
        } else {
            frames << frame + r.mid(3, quint8(r.at(2)));
            frame.clear();
        }
    }
    return frames;
}

void TstForm1Usb::continuousPlayThroughLongText_data()
{
    QTest::addColumn<FakeHidApi::Acks>("acks");
    QTest::newRow("board acknowledging full reports only") << FakeHidApi::Acks::Full;
    QTest::newRow("board acknowledging every report at once") << FakeHidApi::Acks::All;
    QTest::newRow("board acknowledging the closing report when ready") << FakeHidApi::Acks::Ready;
}

void TstForm1Usb::continuousPlayThroughLongText()
{
    QFETCH(FakeHidApi::Acks, acks);
    UsbWindow w;
    w.hid.setAcks(w.boardPath, acks);
    w.hid.device(w.boardPath).speaks = true;
    // 1200 GBK bytes: two full frames of 512 and the rest of 176.
    const QString text = QString(600, u'你');
    w.setText(text);
    // Each piece is logged only after the one before it has been written whole and spoken.
    QList<int> framesWrittenBefore;
    QList<int> idleAnswersBefore;
    connect(w.f->window->session(), &Session::frameSent, w.f->window.get(), [&] {
        framesWrittenBefore << int(framesIn(w.written()).size());
        idleAnswersBefore << int(w.f->log().count(QStringLiteral("<-0x4F  芯片空闲")));
    });
    w.f->find<QLineEdit>("Text2")->setText(QStringLiteral("30"));
    w.f->click("Command3");
    const QList<QByteArray> expected = {gbkSynthesisFrame(toGbk(QString(256, u'你'))),
        gbkSynthesisFrame(toGbk(QString(256, u'你'))),
        gbkSynthesisFrame(toGbk(QString(88, u'你')))};
    QTRY_COMPARE(framesIn(w.written()).size(), 3);
    QTRY_VERIFY(!w.f->window->continuousPlay());
    QTRY_COMPARE(w.f->log().count(QStringLiteral("<-0x4F  芯片空闲")), 3);
    QCOMPARE(framesIn(w.written()), expected);
    QCOMPARE(framesWrittenBefore, (QList<int> {0, 1, 2}));
    QCOMPARE(idleAnswersBefore, (QList<int> {0, 1, 2}));
    // The selection ends on the last part, which reaches the end of the text.
    const QTextCursor cursor = w.f->find<QPlainTextEdit>("Text3")->textCursor();
    QCOMPARE(cursor.selectionStart(), 512);
    QCOMPARE(cursor.selectionEnd(), 600);
    QCOMPARE(w.f->log().count(QStringLiteral("发出一帧")), 3);
    QVERIFY(!w.f->log().contains(QStringLiteral("超时")));
    QVERIFY(w.f->messages.shown == QStringList {kUsbNotice});
}

void TstForm1Usb::continuousPlayEndsWithoutReceipt()
{
    // The board acknowledges every report, but the chip never takes the piece up: the replay
    // waits for the receipt within the bound and ends; the 0x5E alone starts nothing.
    UsbWindow w;
    w.f->window->usbLink()->setAckTimeout(100);
    w.setText(QString(600, u'你'));
    w.f->find<QLineEdit>("Text2")->setText(QStringLiteral("30"));
    w.f->click("Command3");
    QTRY_VERIFY(w.f->window->continuousPlay());   // raised once the piece is written
    QTRY_VERIFY(!w.f->window->continuousPlay());
    QVERIFY(w.f->window->statusBar()->currentMessage().contains(QStringLiteral("0xAA")));
    w.hid.queueAnswer(w.boardPath, 0x5E);
    w.hid.queueAnswer(w.boardPath, 0x4F);
    QTRY_VERIFY(w.f->log().contains(QStringLiteral("<-0x4F")));
    QCOMPARE(framesIn(w.written()).size(), 1);
}

void TstForm1Usb::acknowledgementWithoutContinuousPlay()
{
    UsbWindow w;
    w.setText(QStringLiteral("你好你好"));
    auto *box = w.f->find<QPlainTextEdit>("Text3");
    QTextCursor first(box->document());
    first.setPosition(0);
    first.setPosition(2, QTextCursor::KeepAnchor);
    box->setTextCursor(first);
    QVERIFY(!w.f->window->continuousPlay());
    w.hid.queueAnswer(w.boardPath, 0x5E);
    w.hid.queueAnswer(w.boardPath, 0x41);
    QTRY_COMPARE(w.f->log(), QStringLiteral("<-0x41  接收成功\r\n"));
    QVERIFY(w.written().isEmpty());
    QCOMPARE(box->textCursor().selectionStart(), 0);
    QCOMPARE(box->textCursor().selectionEnd(), 2);
    QVERIFY(!w.f->window->continuousPlay());
}

QTEST_MAIN(TstForm1Usb)
#include "tst_form1_usb.moc"
