#include "form1fixture.h"

#include "codepage.h"
#include "messages.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>

#include <cstdio>

class TstForm1 : public QObject
{
    Q_OBJECT
private slots:
    void startUpState();
    void startUpText_data();
    void startUpText();
    void unusableStartUpFile();
    void missingCom1GivesOneMessage();
    void choosingAnotherPort();
    void missingPortLeavesNoneOpen();
    void portByPathOrDeviceName();
    void fitsALaptopScreen();
    void portLineAfterEscape();
    void speedChangeWhileOpen_data();
    void speedChangeWhileOpen();
    void answers_data();
    void answers();
    void uncheckedInterpretationKeepsData();
    void frameArrivesByteForByte();
    void closedPortLogsButSendsNothing();
    void sendFrameData_data();
    void sendFrameData();
    void noAnswerIsNamed_data();
    void noAnswerIsNamed();
    void portsListedOnceAChoice();
    void adapterThatComesBackIsUsedAgain();
    void pulledAdapterClosesPort();
    void clearButtonsTouchOnlyTheirBox();
    void hexPrefix();
    void everyControlHasAName();
    void messagesOneAtATime();
    void tabOrderFollowsTheLayout();
};

void TstForm1::startUpState()
{
    Form1Fixture f;
    QCOMPARE(
        f.window->windowTitle(), QStringLiteral("Korvel-ORV4120语音合成芯片-PC端演示程序 V3.4"));
    QCOMPARE(f.find<QComboBox>("Combo5")->currentText(), QStringLiteral("GBK"));
    QCOMPARE(f.find<QComboBox>("Combo2")->currentText(), QStringLiteral("波特率9600"));
    QCOMPARE(f.find<QComboBox>("Combo1")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(f.find<QComboBox>("Combo3")->currentText(), QStringLiteral("PWM 输出(默认)"));
    QCOMPARE(f.find<QComboBox>("Combo6")->currentText(), QStringLiteral("0"));
    QCOMPARE(f.find<QComboBox>("Combo7")->currentText(), QStringLiteral("01"));
    QVERIFY(f.find<QCheckBox>("Check1")->isChecked());
    QVERIFY(f.find<QCheckBox>("Check2")->isChecked());
    QVERIFY(f.find<QCheckBox>("Check3")->isChecked());
    QVERIFY(f.find<QCheckBox>("Check4")->isChecked());
    QVERIFY(!f.find<QCheckBox>("Check5")->isChecked());
    QVERIFY(f.find<QRadioButton>("Option3")->isChecked());
    for (const char *hidden : {"Option4", "Command12", "Command3", "Text2", "Command14"})
        QVERIFY2(!f.find<QWidget>(hidden)->isVisible(), hidden);
    QCOMPARE(f.find<QScrollBar>("HScroll1")->value(), 6);

    MSComm *port = f.window->serialControl();
    QVERIFY(port->PortOpen());
    QCOMPARE(port->devicePath(), f.board.slavePath());
    QCOMPARE(port->Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(port->InBufferSize(), 2);
    QCOMPARE(f.window->encodingIndex(), 1);
    QCOMPARE(f.window->maxTextBytes(), 4091);
    QVERIFY(!f.window->usbMode());
    QVERIFY(f.messages.shown.isEmpty());
    QVERIFY(f.log().isEmpty());

    Form1Fixture internal({}, true, true);
    for (const char *shown : {"Option4", "Command12", "Command3", "Text2", "Command14"})
        QVERIFY2(internal.find<QWidget>(shown)->isVisible(), shown);
}

void TstForm1::startUpText_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("shown");
    QTest::newRow("GBK with a line break")
        << toGbk(u"欢迎光临\r\n第二行") << QStringLiteral("欢迎光临\n第二行");
    QTest::newRow("empty file") << QByteArray("") << QString();
    QTest::newRow("missing file") << QByteArray() << QString();
}

void TstForm1::startUpText()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, shown);
    Form1Fixture f(file);
    QCOMPARE(f.find<QPlainTextEdit>("Text3")->toPlainText(), shown);
    QVERIFY(QFile::exists(f.dir.filePath(QStringLiteral("初始默认文本.txt"))));
}

void TstForm1::unusableStartUpFile()
{
    // A folder in the file's place can be neither read nor created as a file.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("初始默认文本.txt")));
    PtyPeer board;
    RecordedMessages messages;
    Form1Options options;
    options.workDir = dir.path();
    options.ports.setOverride(1, board.slavePath());
    options.ports.setPresentDevicesForTest({});
    Form1 window(std::move(options), &messages);
    QVERIFY(window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"))->toPlainText().isEmpty());
    QVERIFY(window.serialControl()->PortOpen());
    QVERIFY(messages.shown.isEmpty());
}

void TstForm1::missingCom1GivesOneMessage()
{
    Form1Fixture f({}, false);
    QCOMPARE(f.messages.shown, QStringList {Msg::PortMissing});
    QVERIFY(!f.window->serialControl()->PortOpen());
    QVERIFY(f.log().contains(QStringLiteral("没有这个串口设备")));
    f.click("Command7");
    QVERIFY(f.log().contains(QStringLiteral("发出一帧，字节数 4")));
}

void TstForm1::choosingAnotherPort()
{
    PtyPeer com3;
    Form1Fixture f(
        {}, true, false, [&](Form1Options &o) { o.ports.setOverride(3, com3.slavePath()); });
    f.pick("Combo2", 0);   // 4800 before the port changes
    f.pick("Combo1", 2);
    QCOMPARE(f.window->commPortNumber(), 3);
    MSComm *port = f.window->serialControl();
    QVERIFY(port->PortOpen());
    QCOMPARE(port->devicePath(), com3.slavePath());
    QCOMPARE(port->Settings(), QStringLiteral("4800,N,8,1"));
    f.click("Command28");
    QTRY_COMPARE(com3.received(), QByteArray::fromHex("fd000121"));
    QTest::qWait(30);
    QVERIFY(f.board.received().isEmpty());   // COM1 is closed
    QVERIFY(f.messages.shown.isEmpty());
}

void TstForm1::missingPortLeavesNoneOpen()
{
    Form1Fixture f;
    QVERIFY(f.window->serialControl()->PortOpen());
    f.pick("Combo1", 4);   // COM5 stands for no device
    QCOMPARE(f.messages.shown, QStringList {Msg::PortMissing});
    QVERIFY(!f.window->serialControl()->PortOpen());
    QCOMPARE(f.window->commPortNumber(), 5);
    f.click("Command7");
    QTest::qWait(30);
    QVERIFY(f.board.received().isEmpty());
}

void TstForm1::portByPathOrDeviceName()
{
    PtyPeer other;
    Form1Fixture f({}, true, false, [&](Form1Options &o) {
        o.ports.setPresentDevicesForTest({{other.slavePath(), QStringLiteral("pts"),
            QStringLiteral("pseudo terminal"), QString(), false, QString()}});
    });
    auto *ports = f.find<QComboBox>("Combo1");
    QCOMPARE(ports->count(), 21);   // COM1 ... COM20, then the present device by its own name
    QCOMPARE(ports->itemText(20), other.slavePath());
    QVERIFY(ports->itemData(0, Qt::ToolTipRole).toString().contains(f.board.slavePath()));
    QVERIFY(f.find<QLabel>("PortInfo")->text().contains(f.board.slavePath()));

    f.pick("Combo1", 20);
    QCOMPARE(f.window->serialControl()->devicePath(), other.slavePath());
    QVERIFY(f.window->serialControl()->PortOpen());
    f.click("Command8");
    QTRY_COMPARE(other.received(), QByteArray::fromHex("fd000103"));

    // A typed path, confirmed with Enter.
    ports->lineEdit()->setText(f.board.slavePath());
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    QCOMPARE(f.window->serialControl()->devicePath(), f.board.slavePath());
    QVERIFY(f.window->serialControl()->PortOpen());
    f.click("Command9");
    QVERIFY(f.boardReceives(QByteArray::fromHex("fd000104")));
    QVERIFY(f.messages.shown.isEmpty());
}

void TstForm1::fitsALaptopScreen()
{
    const char *buttons[] = {"Command6", "Command29", "Command2", "Command7", "Command13"};
    for (const bool internal : {false, true}) {
        Form1Fixture f({}, true, internal);
        auto *scroll = f.find<QScrollArea>("CentralScroll");
        const QSize least = scroll->widget()->minimumSizeHint()
            + QSize(0, f.window->statusBar()->sizeHint().height());
        QVERIFY2(
            least.width() <= 1366 && least.height() <= 700, qPrintable(QString::number(internal)));
        QList<int> heights;
        for (const char *button : buttons)
            heights << f.find<QWidget>(button)->height();
        // Smaller than that the window scrolls; the buttons keep their height.
        f.window->resize(700, 400);
        QTRY_VERIFY(scroll->verticalScrollBar()->isVisible());
        for (int i = 0; i < heights.size(); ++i)
            QVERIFY2(f.find<QWidget>(buttons[i])->height() >= heights[i], buttons[i]);
    }
}

void TstForm1::portLineAfterEscape()
{
    Form1Fixture f;
    auto *ports = f.find<QComboBox>("Combo1");
    auto *line = f.find<QLabel>("PortInfo");
    const QString open = line->text();
    QVERIFY(open.startsWith(QStringLiteral("COM1 → ")));
    ports->showPopup();
    emit ports->highlighted(4);   // the pointer passes over COM5
    QVERIFY(line->text().startsWith(QStringLiteral("COM5")));
    QTest::keyClick(ports->view(), Qt::Key_Escape);
    QTRY_COMPARE(line->text(), open);
    QVERIFY(f.find<QLabel>("LinkStatus")->text().contains(open));
    QVERIFY(f.window->serialControl()->PortOpen());
}

void TstForm1::speedChangeWhileOpen_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("baud");
    QTest::newRow("波特率4800") << 0 << 4800;
    QTest::newRow("波特率9600") << 1 << 9600;
    QTest::newRow("波特率57600") << 2 << 57600;
    QTest::newRow("波特率115200") << 3 << 115200;
}

void TstForm1::speedChangeWhileOpen()
{
    QFETCH(int, item);
    QFETCH(int, baud);
    Form1Fixture f;
    f.pick("Combo2", item == 3 ? 0 : 3);
    f.pick("Combo2", item);
    QCOMPARE(f.window->serialControl()->Settings(), QStringLiteral("%1,N,8,1").arg(baud));
    QCOMPARE(f.window->serialControl()->baudRate(), baud);
    QVERIFY(f.window->serialControl()->PortOpen());
    QTest::qWait(30);
    QVERIFY(f.board.received().isEmpty());
    QVERIFY(f.log().isEmpty());
}

void TstForm1::answers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("lines");
    QTest::newRow("A") << QByteArray("A") << QStringLiteral("<---- 返回：41  接收成功\r\n");
    QTest::newRow("AO") << QByteArray(
        "AO") << QStringLiteral("<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n");
    QTest::newRow("AON drops N") << QByteArray(
        "AON") << QStringLiteral("<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n");
    QTest::newRow("SA") << QByteArray(
        "SA") << QStringLiteral("<---- 返回：58  软件版本号：SA\r\n<---- 返回：41  接收成功\r\n");
    QTest::newRow("version text") << QByteArray(
        "SV3.4 ORV4120") << QStringLiteral("<---- 返回：58  软件版本号：SV3.4 ORV4120\r\n");
    QTest::newRow("X ignored") << QByteArray("XA")
                               << QStringLiteral("<---- 返回：41  接收成功\r\n");
    QTest::newRow("0x58 alone") << QByteArray("X") << QString();
    QTest::newRow("E J N") << QByteArray(
        "EJ") << QStringLiteral("<---- 返回：45  接收失败\r\n<---- 返回：4A  初始化成功回传\r\n");
    QTest::newRow("high bytes") << QByteArray("\xAA\xAB") << QString();
}

void TstForm1::answers()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, lines);
    Form1Fixture f;
    f.board.answer(answer);
    QTest::qWait(150);
    QCOMPARE(f.log(), lines);
}

void TstForm1::uncheckedInterpretationKeepsData()
{
    Form1Fixture f;
    f.find<QCheckBox>("Check1")->setChecked(false);
    f.board.answer("N");
    QTest::qWait(120);
    QVERIFY(f.log().isEmpty());
    f.find<QCheckBox>("Check1")->setChecked(true);
    f.board.answer("A");
    QTRY_COMPARE(
        f.log(), QStringLiteral("<---- 返回：4E  芯片正在播音\r\n<---- 返回：41  接收成功\r\n"));
}

void TstForm1::frameArrivesByteForByte()
{
    Form1Fixture f;
    for (const char *button :
        {"Command7", "Command8", "Command9", "Command28", "Command5", "Command11"})
        f.click(button);
    QVERIFY(
        f.boardReceives(QByteArray::fromHex("fd000102fd000103fd000104fd000121fd000122fd0001ff")));
    QCOMPARE(f.log().count(QStringLiteral("发出一帧，字节数 4\r\n")), 6);
    QVERIFY(f.log().endsWith(QStringLiteral("----> FD 00 01 FF \r\n")));
}

void TstForm1::closedPortLogsButSendsNothing()
{
    Form1Fixture f;
    f.window->serialControl()->setPortOpen(false);
    f.click("Command7");
    QCOMPARE(f.log(), QStringLiteral("发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n"));
    QTest::qWait(30);
    QVERIFY(f.board.received().isEmpty());
    QVERIFY(f.messages.shown.isEmpty());
}

void TstForm1::sendFrameData_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("log");
    QTest::newRow("stop") << QVariantList {0xFD, 0x00, 0x01, 0x02}
                          << QByteArray::fromHex("fd000102")
                          << QStringLiteral("发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n");
    QTest::newRow("not a byte") << QVariantList {0xFD, 0x00, 0x01, 0x102} << QByteArray()
                                << QStringLiteral(
                                       "帧数据第 4 个元素不是 0-255 的整数，此帧未发送\r\n");
    QTest::newRow("empty") << QVariantList {} << QByteArray()
                           << QStringLiteral("帧数据为空，此帧未发送\r\n");
}

void TstForm1::sendFrameData()
{
    QFETCH(QVariantList, values);
    QFETCH(QByteArray, wire);
    QFETCH(QString, log);
    Form1Fixture f;
    f.window->SendFrameData(values);
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(f.log(), log);
}

void TstForm1::noAnswerIsNamed_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("interpret");
    QTest::addColumn<bool>("hint");
    QTest::newRow("silent board") << QByteArray() << true << true;
    QTest::newRow("board answers") << QByteArray("A") << true << false;
    QTest::newRow("answers not read") << QByteArray() << false << false;
}

void TstForm1::noAnswerIsNamed()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, interpret);
    QFETCH(bool, hint);
    Form1Fixture f;
    f.find<QCheckBox>("Check1")->setChecked(interpret);
    f.click("Command28");
    QVERIFY(f.boardReceives(QByteArray::fromHex("fd000121")));
    if (!answer.isEmpty())
        f.board.answer(answer);
    QTest::qWait(1300);
    const QString expected =
        QStringLiteral("COM1 → %1：1 秒内无应答，请检查板子连接和波特率").arg(f.board.slavePath());
    QCOMPARE(f.window->statusBar()->currentMessage(), hint ? expected : QString());
    QVERIFY(!f.log().contains(QStringLiteral("无应答")));
}

void TstForm1::portsListedOnceAChoice()
{
    Form1Fixture f;
    QCOMPARE(f.window->ports().listings(), 1);   // the whole start-up
    f.pick("Combo1", 0);
    QCOMPARE(f.window->ports().listings(), 2);
    f.click("Command7");
    f.pick("Combo2", 3);
    QCOMPARE(f.window->ports().listings(), 2);
}

void TstForm1::adapterThatComesBackIsUsedAgain()
{
    // COM1 is a link to the board's device, as /dev/serial/by-id names an adapter.
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    auto first = std::make_unique<PtyPeer>();
    QVERIFY(QFile::link(first->slavePath(), link));
    Form1Fixture f({}, false, false, [&](Form1Options &o) { o.ports.setOverride(1, link); });
    QVERIFY(f.window->serialControl()->PortOpen());

    first.reset();   // pulled out
    QTRY_VERIFY(!f.window->serialControl()->PortOpen());
    QVERIFY(f.log().contains(QStringLiteral("串口设备已断开")));
    PtyPeer second;   // plugged in again, under the same name
    QVERIFY(QFile::link(second.slavePath(), dir.filePath(QStringLiteral("new"))));
    QVERIFY(::rename(QFile::encodeName(dir.filePath(QStringLiteral("new"))).constData(),
                QFile::encodeName(link).constData())
        == 0);
    QTRY_VERIFY_WITH_TIMEOUT(f.window->serialControl()->PortOpen(), 5000);
    QCOMPARE(f.log().count(QStringLiteral("串口设备已重新连接")), 1);
    f.click("Command7");
    QTRY_COMPARE(second.received(), QByteArray::fromHex("fd000102"));
    QVERIFY(f.messages.shown.isEmpty());
}

void TstForm1::pulledAdapterClosesPort()
{
    Form1Fixture f;
    QVERIFY(f.window->serialControl()->PortOpen());
    f.board.unplug();
    QTRY_VERIFY(!f.window->serialControl()->PortOpen());
    QVERIFY(f.log().contains(QStringLiteral("串口设备已断开")));
    QVERIFY(f.messages.shown.isEmpty());
    f.click("Command7");   // still logged, nothing breaks
    QVERIFY(f.log().contains(QStringLiteral("发出一帧，字节数 4")));
}

void TstForm1::clearButtonsTouchOnlyTheirBox()
{
    Form1Fixture f(toGbk(u"你好"));
    f.click("Command7");
    const QString log = f.log();
    f.click("Command15");
    f.click("Command1");
    QVERIFY(f.find<QPlainTextEdit>("Text3")->toPlainText().isEmpty());
    QVERIFY(f.find<QPlainTextEdit>("Text5")->toPlainText().isEmpty());
    QCOMPARE(f.log(), log);
    f.click("Command2");
    QVERIFY(f.log().isEmpty());
    QVERIFY(f.window->serialControl()->PortOpen());
}

void TstForm1::hexPrefix()
{
    Form1Fixture f;
    QTest::mouseClick(f.find<QCheckBox>("Check5"), Qt::LeftButton);
    QCOMPARE(f.window->hexPrefix(), QStringLiteral("0x"));
    f.click("Command7");
    f.board.answer("A");
    QTRY_VERIFY(f.log().endsWith(QStringLiteral("<---- 返回：0x41  接收成功\r\n")));
    QVERIFY(f.log().contains(QStringLiteral("----> 0xFD 0x00 0x01 0x02 \r\n")));
    QTest::mouseClick(f.find<QCheckBox>("Check5"), Qt::LeftButton);
    f.click("Command8");
    QVERIFY(f.log().endsWith(QStringLiteral("----> FD 00 01 03 \r\n")));
    QVERIFY(f.log().contains(QStringLiteral("----> 0xFD 0x00 0x01 0x02 \r\n")));   // kept as it was
}

void TstForm1::everyControlHasAName()
{
    Form1Fixture f({}, true, true);
    const QList<QWidget *> controls = f.window->findChildren<QWidget *>();
    int checked = 0;
    for (QWidget *w : controls) {
        if (!w->focusPolicy() || !w->isVisible() || w->objectName().isEmpty()
            || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
        QVERIFY(face);
        QVERIFY2(!face->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(w->objectName()));
        ++checked;
    }
    QVERIFY(checked > 40);
    // Lists and scroll bars are labelled by their label (its buddy), as assistive technology reads
    // it.
    for (const char *name :
        {"Combo1", "Combo2", "Combo4", "Combo5", "Combo6", "Combo7", "HScroll1"}) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(f.find<QWidget>(name));
        const auto labels = face->relations(QAccessible::Label);
        QVERIFY2(!labels.isEmpty(), name);
        QVERIFY2(!labels.first().first->text(QAccessible::Name).isEmpty(), name);
    }
    const auto speedLabel = QAccessible::queryAccessibleInterface(f.find<QWidget>("Combo2"))
                                ->relations(QAccessible::Label);
    QCOMPARE(speedLabel.first().first->text(QAccessible::Name), QStringLiteral("波特率"));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(f.find<QWidget>("Text4"))->text(QAccessible::Name),
        QStringLiteral("工作记录："));
}

void TstForm1::messagesOneAtATime()
{
    QWidget parent;
    parent.show();
    MessageBoxes boxes(&parent);
    const auto onScreen = [&parent] { return parent.findChildren<QMessageBox *>(); };
    boxes.show(Msg::MaxTextNotice);
    boxes.show(Msg::UsbMissing);
    boxes.show(Msg::UsbMissing);   // already waiting: not queued again
    boxes.show(Msg::MaxTextNotice);   // on screen: not queued again
    QCOMPARE(boxes.open(), (QStringList {Msg::MaxTextNotice, Msg::UsbMissing}));
    QCOMPARE(onScreen().size(), 1);
    QCOMPARE(onScreen().first()->text(), Msg::MaxTextNotice);
    onScreen().first()->accept();
    QTRY_COMPARE(onScreen().size(), 1);   // the next one, once the first is closed
    QCOMPARE(onScreen().first()->text(), Msg::UsbMissing);
    boxes.show(Msg::MaxTextNotice);   // dismissed before: shown again, after the one on screen
    QCOMPARE(boxes.open(), (QStringList {Msg::UsbMissing, Msg::MaxTextNotice}));
}

void TstForm1::tabOrderFollowsTheLayout()
{
    Form1Fixture f;
    const QStringList expected {"Text3", "Command6", "Command15", "Command31", "Command32", "Text5",
        "Command29", "Command30", "Command1", "Text4", "Check5", "Check1", "Command2", "Combo4",
        "HScroll1", "HScroll2", "HScroll3"};
    QWidget *w = f.find<QWidget>("Text3");
    QStringList got;
    for (int i = 0; i < expected.size(); ++i) {
        got << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || w->objectName().isEmpty());
    }
    QCOMPARE(got, expected);
}

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
