#include "codes.h"
#include "frame.h"
#include "logshape.h"
#include "textform.h"

#include <QtTest>

using Kind = LinkFault::Kind;

class TstProtocol : public QObject
{
    Q_OBJECT
private slots:
    void lengthField_data();
    void lengthField();
    void commandFrames_data();
    void commandFrames();
    void serialPieces_data();
    void serialPieces();
    void sentFrameEntry_data();
    void sentFrameEntry();
    void answerLabels_data();
    void answerLabels();
    void answerEntries();
    void usbReceipts();
    void frameFromValues_data();
    void frameFromValues();
    void lineBreakForms();
    void linkFaultEntries_data();
    void linkFaultEntries();
};

void TstProtocol::lengthField_data()
{
    QTest::addColumn<int>("textBytes");
    QTest::addColumn<QByteArray>("length");
    QTest::newRow("welcome sentence") << 28 << QByteArray::fromHex("001e");
    QTest::newRow("fits the low byte") << 250 << QByteArray::fromHex("00fc");
    QTest::newRow("carries into high") << 254 << QByteArray::fromHex("0100");
    QTest::newRow("largest serial") << 4091 << QByteArray::fromHex("0ffd");
}

void TstProtocol::lengthField()
{
    QFETCH(int, textBytes);
    QFETCH(QByteArray, length);
    const QByteArray frame = synthesisFrame(1, QByteArray(textBytes, 'a'));
    QCOMPARE(frame.size(), textBytes + 5);
    QCOMPARE(frame.mid(1, 2), length);
    QCOMPARE(quint8(frame.at(0)), quint8(0xFD));
    QCOMPARE(frame.mid(3, 2), QByteArray::fromHex("0101"));
}

void TstProtocol::commandFrames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("stop") << int(Command::Stop) << QByteArray::fromHex("fd000102");
    QTest::newRow("pause") << int(Command::Pause) << QByteArray::fromHex("fd000103");
    QTest::newRow("resume") << int(Command::Resume) << QByteArray::fromHex("fd000104");
    QTest::newRow("query") << int(Command::StatusQuery) << QByteArray::fromHex("fd000121");
    QTest::newRow("standby") << int(Command::Standby) << QByteArray::fromHex("fd000122");
    QTest::newRow("version") << int(Command::VersionQuery) << QByteArray::fromHex("fd000158");
    QTest::newRow("wake-up") << int(Command::WakeUp) << QByteArray::fromHex("fd0001ff");
}

void TstProtocol::commandFrames()
{
    QFETCH(int, command);
    QFETCH(QByteArray, frame);
    QCOMPARE(commandFrame(Command(command)), frame);
}

void TstProtocol::serialPieces_data()
{
    QTest::addColumn<int>("frameBytes");
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("short") << 13 << QList<int> {13};
    QTest::newRow("exactly 2000") << 2000 << QList<int> {2000};
    QTest::newRow("2001") << 2001 << QList<int> {2000, 1};
    QTest::newRow("largest") << 4096 << QList<int> {2000, 2096};
}

void TstProtocol::serialPieces()
{
    QFETCH(int, frameBytes);
    QFETCH(QList<int>, pieces);
    QByteArray frame(frameBytes, '\0');
    for (int i = 0; i < frameBytes; ++i)
        frame[i] = char(i * 7);
    const QList<QByteArray> got = ::serialPieces(frame);
    QList<int> sizes;
    for (const QByteArray &piece : got)
        sizes << int(piece.size());
    QCOMPARE(sizes, pieces);
    QCOMPARE(got.join(), frame);
}

void TstProtocol::sentFrameEntry_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("frameLast");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("entry");
    QTest::newRow("stop") << QByteArray::fromHex("fd000102") << 3 << QString()
                          << QStringLiteral("发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n");
    QTest::newRow("stop with 0x") << QByteArray::fromHex("fd000102") << 3 << QStringLiteral("0x")
                                  << QStringLiteral(
                                         "发出一帧，字节数 4\r\n----> 0xFD 0x00 0x01 0x02 \r\n");
    QTest::newRow("line feed and zero") << QByteArray::fromHex(
        "0a000f") << 2 << QString() << QStringLiteral("发出一帧，字节数 3\r\n----> 0A 00 0F \r\n");
    QTest::newRow("line feed with 0x")
        << QByteArray::fromHex("0a00") << 1 << QStringLiteral("0x")
        << QStringLiteral("发出一帧，字节数 2\r\n----> 0x0A 0x00 \r\n");
    QTest::newRow("count from frameLast") << QByteArray::fromHex(
        "fd000102") << 1 << QString() << QStringLiteral("发出一帧，字节数 2\r\n----> FD 00 \r\n");
}

void TstProtocol::sentFrameEntry()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, frameLast);
    QFETCH(QString, prefix);
    QFETCH(QString, entry);
    QCOMPARE(::sentFrameEntry(frame, frameLast, prefix), entry);
}

void TstProtocol::answerLabels_data()
{
    // Every code either side knows, with both texts exactly as the work log shows them.
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("serial");   // null: ignored on the serial side
    QTest::addColumn<QString>("usb");   // null: no line on the USB side
    QTest::newRow("41") << 0x41 << QStringLiteral("41  接收成功")
                        << QStringLiteral("<-0x41  接收成功");
    QTest::newRow("45") << 0x45 << QStringLiteral("45  接收失败")
                        << QStringLiteral("<-0x45  接收失败");
    QTest::newRow("4A") << 0x4A << QStringLiteral("4A  初始化成功回传")
                        << QStringLiteral("<-0x4A  初始化成功回传");
    QTest::newRow("4E") << 0x4E << QStringLiteral("4E  芯片正在播音")
                        << QStringLiteral("<-0x4E  芯片正在播音");
    QTest::newRow("4F") << 0x4F << QStringLiteral("4F  芯片空闲")
                        << QStringLiteral("<-0x4F  芯片空闲");
    QTest::newRow("AA") << 0xAA << QString() << QStringLiteral("<-0xAA接收成功，芯片原状态空闲");
    QTest::newRow("AB") << 0xAB << QString() << QStringLiteral("<-0xAB接收成功，芯片原状态暂停");
    QTest::newRow("AC") << 0xAC << QString() << QStringLiteral("<-0xAC接收成功，芯片原状态播音");
    QTest::newRow("AD") << 0xAD << QString() << QStringLiteral("<-硬件查询，4120处于播音状态");
    // the version answer is known by its "S" and has a line of its own; 0x5E gives no line
    QTest::newRow("53") << 0x53 << QString() << QString();
    QTest::newRow("58") << 0x58 << QString() << QString();
    QTest::newRow("5E") << 0x5E << QString() << QString();
    QTest::newRow("00") << 0x00 << QString() << QString();
}

void TstProtocol::answerLabels()
{
    QFETCH(int, code);
    QFETCH(QString, serial);
    QFETCH(QString, usb);
    QCOMPARE(serialAnswerLabel(quint8(code)).value_or(QString()), serial);
    QCOMPARE(usbAnswerLabel(quint8(code)).value_or(QString()), usb);
}

void TstProtocol::answerEntries()
{
    QCOMPARE(serialAnswerEntry(QStringLiteral("0x"), QStringLiteral("4E  芯片正在播音")),
        QStringLiteral("<---- 返回：0x4E  芯片正在播音\r\n"));
    QCOMPARE(versionAnswerEntry(QString(), QStringLiteral("SA")),
        QStringLiteral("<---- 返回：58  软件版本号：SA\r\n"));
    QCOMPARE(
        usbAnswerEntry(QStringLiteral("<-0x41  接收成功")), QStringLiteral("<-0x41  接收成功\r\n"));
}

void TstProtocol::usbReceipts()
{
    QByteArray receipts;
    for (int code = 0; code < 256; ++code) {
        if (isUsbReceipt(quint8(code)))
            receipts += char(code);
    }
    QCOMPARE(receipts.toHex(' '), QByteArray("aa ab ac"));   // not 0x41, which follows them
}

void TstProtocol::frameFromValues_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("badIndex");
    QTest::newRow("stop") << QVariantList {0xFD, 0, 1, 2} << true << -1;
    QTest::newRow("whole double") << QVariantList {253.0, 0.0} << true << -1;
    QTest::newRow("above 255") << QVariantList {0xFD, 256} << false << 1;
    QTest::newRow("negative") << QVariantList {-1} << false << 0;
    QTest::newRow("fraction") << QVariantList {1, 2.5} << false << 1;
    QTest::newRow("text") << QVariantList {1, QStringLiteral("12")} << false << 1;
    QTest::newRow("not a number") << QVariantList {qQNaN()} << false << 0;
}

void TstProtocol::frameFromValues()
{
    QFETCH(QVariantList, values);
    QFETCH(bool, accepted);
    QFETCH(int, badIndex);
    int bad = -1;
    const auto bytes = ::frameFromValues(values, &bad);
    QCOMPARE(bytes.has_value(), accepted);
    QCOMPARE(bad, badIndex);
    if (accepted)
        QCOMPARE(bytes->size(), values.size());
}

void TstProtocol::lineBreakForms()
{
    QCOMPARE(toCrLf(QStringLiteral("FD 00\n01")), QStringLiteral("FD 00\r\n01"));
    QCOMPARE(fromCrLf(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
    QCOMPARE(fromCrLf(toCrLf(QStringLiteral("x\n\ny\n"))), QStringLiteral("x\n\ny\n"));
}

void TstProtocol::linkFaultEntries_data()
{
    QTest::addColumn<LinkFault>("fault");
    QTest::addColumn<QString>("entry");   // the work log's line, CR LF at its end
    QTest::addColumn<bool>("keepsCaret");
    const QString io = QStringLiteral("Input/output error");
    QTest::newRow("serial device gone") << LinkFault(Kind::SerialGone, "ttyUSB0", io)
                                        << "ttyUSB0：串口设备已断开 (Input/output error)\r\n"
                                        << false;
    QTest::newRow("serial write failed")
        << LinkFault(Kind::SerialWriteFailed, "ttyUSB0", io)
        << "ttyUSB0：串口写入失败 (Input/output error)，串口已关闭\r\n"
        << false;
    QTest::newRow("serial stalled") << LinkFault(Kind::SerialStalled, "pts/3", {}, 4096)
                                    << "pts/3：串口写出停滞，4096 字节未能发出，串口已关闭\r\n"
                                    << false;
    QTest::newRow("serial reopened") << LinkFault(Kind::SerialReopened, "/dev/ttyUSB1")
                                     << "/dev/ttyUSB1：串口设备已重新连接，串口已重新打开\r\n"
                                     << false;
    QTest::newRow("USB lost") << LinkFault(Kind::UsbLost, "/dev/hidraw2", io)
                              << "USB设备连接中断（Input/output error）\r\n"
                              << false;
    QTest::newRow("USB short write") << LinkFault(Kind::UsbShortWrite, {}, {}, 20, 33)
                                     << "USB设备连接中断（只写入 20 / 33 字节）\r\n"
                                     << false;
    QTest::newRow("USB acknowledgement late")
        << LinkFault(Kind::UsbAckTimeout) << "USB等待应答 0x5E 超时\r\n"
        << false;
    QTest::newRow("USB no permission")
        << LinkFault(Kind::UsbNoPermission, "/dev/hidraw2")
        << "USB设备无访问权限：请把 70-orv4120.rules 装入 /etc/udev/rules.d 或 "
           "/lib/udev/rules.d，然后重新插入设备\r\n"
        << false;
    QTest::newRow("USB board not found") << LinkFault(Kind::UsbNotFound) << "USB设备未找到\r\n"
                                         << false;
    QTest::newRow("USB board not connected")
        << LinkFault(Kind::UsbNotConnected) << "操作失败请先联接\r\n"
        << true;
    QTest::newRow("USB empty frame")
        << LinkFault(Kind::UsbEmptyFrame) << "USB：帧中没有要发送的字节，未发送\r\n"
        << false;
    QTest::newRow("USB short reports")
        << LinkFault(Kind::UsbShortReports, {}, {}, 17, 33)
        << "USB设备输出报告长度为 17 字节，不足 33 字节：本帧未发送\r\n"
        << false;
}

void TstProtocol::linkFaultEntries()
{
    QFETCH(LinkFault, fault);
    QFETCH(QString, entry);
    QFETCH(bool, keepsCaret);
    QCOMPARE(linkFaultEntry(fault), entry);
    QCOMPARE(linkFaultLine(fault) + QStringLiteral("\r\n"), entry);
    QCOMPARE(::keepsCaret(fault), keepsCaret);
}

QTEST_GUILESS_MAIN(TstProtocol)
#include "tst_protocol.moc"
