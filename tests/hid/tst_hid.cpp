#include "fakehid.h"
#include "hidlink.h"
#include "hidreports.h"
#include "logshape.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// A frame whose bytes differ from their neighbours, so a misplaced byte shows.
QByteArray patternFrame(int bytes)
{
    QByteArray frame(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        frame[i] = char((i * 7 + 1) & 0xFF);
    return frame;
}

// Polls until the link has nothing left to send; the fake board answers at once.
void drain(HidLink &link)
{
    for (int i = 0; i < 1000 && link.isSending(); ++i)
        link.poll();
}

QStringList entries(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy)
        list.append(args.at(0).toString());
    return list;
}

using IdList = QList<QPair<int, int>>;   // vendor, product

}   // namespace

class TstHid : public QObject
{
    Q_OBJECT
private slots:
    void reportCutting_data();
    void reportCutting();
    void outputLength_data();
    void outputLength();
    void answersInOrder();
    void discovery_data();
    void discovery();
    void searchTwice();
    void boardAbsent();
    void permissionDenied();
    void silentBoard();
    void sendDuringTransfer_data();
    void sendDuringTransfer();
    void unplug_data();
    void unplug();
    void reportDescriptor_data();
    void reportDescriptor();
};

void TstHid::reportCutting_data()
{
    QTest::addColumn<int>("arrayBytes");
    QTest::addColumn<int>("frameLast");
    QTest::addColumn<int>("fullReports");
    QTest::addColumn<int>("closingCount");   // -1: the short form without marker
    QTest::newRow("three bytes, short form") << 3 << 2 << 0 << -1;
    QTest::newRow("control command") << 4 << 3 << 0 << 4;
    QTest::newRow("30 bytes, closing only") << 30 << 29 << 0 << 30;
    QTest::newRow("31 bytes, empty closing") << 31 << 30 << 1 << 0;
    QTest::newRow("62 bytes") << 62 << 61 << 2 << 0;
    QTest::newRow("largest USB synthesis") << 517 << 516 << 16 << 21;
    QTest::newRow("frameLast short of the array") << 40 << 3 << 0 << 4;
    QTest::newRow("frameLast beyond the array") << 33 << 100 << 1 << 2;
}

void TstHid::reportCutting()
{
    QFETCH(int, arrayBytes);
    QFETCH(int, frameLast);
    QFETCH(int, fullReports);
    QFETCH(int, closingCount);

    FakeHidApi api;
    const QByteArray board = api.addBoard();
    HidLink link(api);
    QVERIFY(link.find());
    const QByteArray frame = patternFrame(arrayBytes);
    link.send(frame, frameLast);
    drain(link);

    const QList<QByteArray> &written = api.device(board).written;
    QCOMPARE(written.size(), fullReports + 1);
    for (const QByteArray &report : written) {
        QCOMPARE(report.size(), 33);
        QCOMPARE(report.at(0), '\0');
    }
    for (int k = 0; k < fullReports; ++k) {
        QCOMPARE(quint8(written[k].at(1)), quint8(0xFC));
        QCOMPARE(written[k].mid(2), frame.mid(31 * k, 31));
    }
    const QByteArray &last = written.last();
    if (closingCount < 0) {
        QCOMPARE(last.mid(1, arrayBytes), frame);
        QCOMPARE(last.mid(1 + arrayBytes), QByteArray(32 - arrayBytes, '\0'));
        return;
    }
    QCOMPARE(quint8(last.at(1)), quint8(0xBC));
    QCOMPARE(int(quint8(last.at(2))), closingCount);
    QCOMPARE(last.mid(3, closingCount), frame.mid(31 * fullReports, closingCount));
    QCOMPARE(last.mid(3 + closingCount), QByteArray(30 - closingCount, '\0'));
}

void TstHid::outputLength_data()
{
    QTest::addColumn<int>("outputBytes");
    QTest::addColumn<int>("reportsWritten");
    QTest::newRow("longer: padded") << 65 << 3;
    QTest::newRow("shorter: refused") << 20 << 0;
}

void TstHid::outputLength()
{
    QFETCH(int, outputBytes);
    QFETCH(int, reportsWritten);

    FakeHidApi api;
    const QByteArray board = api.addBoard();
    api.device(board).inputBytes = 33;
    api.device(board).outputBytes = outputBytes;
    HidLink link(api);
    QVERIFY(link.find());
    QCOMPARE(link.outputReportBytes(), outputBytes);
    QSignalSpy log(&link, &HidLink::logEntry);
    const QByteArray frame = patternFrame(62);
    link.send(frame, 61);
    drain(link);

    const QList<QByteArray> &written = api.device(board).written;
    QCOMPARE(written.size(), reportsWritten);
    for (const QByteArray &report : written) {
        QCOMPARE(report.size(), outputBytes);
        QCOMPARE(report.mid(33), QByteArray(outputBytes - 33, '\0'));
    }
    if (reportsWritten > 0) {
        QCOMPARE(written[1].mid(2, 31), frame.mid(31, 31));
        QVERIFY(log.isEmpty());
    } else {
        QCOMPARE(log.size(), 1);
        QVERIFY(entries(log).first().contains(QLatin1String("20")));
    }
}

void TstHid::answersInOrder()
{
    FakeHidApi api;
    const QByteArray board = api.addBoard();
    HidLink link(api);
    QVERIFY(link.find());
    const QList<quint8> codes {0x41, 0x5E, 0xAA, 0x99, 0x00, 0x4F, 0xAD, 0xAC};
    for (const quint8 code : codes) {
        api.queueAnswer(board, code);
        api.queueInput(board, QByteArray(1, '\0'), true);   // report id only: no answer byte
    }
    QSignalSpy answers(&link, &HidLink::answerReceived);
    link.poll();
    QList<quint8> got;
    for (const QList<QVariant> &args : answers)
        got.append(args.at(0).value<quint8>());
    QCOMPARE(got, codes);
}

void TstHid::discovery_data()
{
    // Devices in enumeration order: vendor, product.
    QTest::addColumn<IdList>("devices");
    QTest::addColumn<int>("board");   // index of the device used
    QTest::newRow("board alone") << IdList {{0x0FFF, 0x0002}} << 0;
    QTest::newRow("two boards: the first")
        << IdList {{0x046D, 0xC52B}, {0x0FFF, 0x0002}, {0x0FFF, 0x0002}} << 1;
    QTest::newRow("same vendor, other product skipped")
        << IdList {{0x0FFF, 0x0003}, {0x0002, 0x0FFF}, {0x0FFF, 0x0002}} << 2;
}

void TstHid::discovery()
{
    QFETCH(IdList, devices);
    QFETCH(int, board);

    FakeHidApi api;
    QList<QByteArray> paths;
    for (const auto &[vendor, product] : devices)
        paths.append(api.addDevice(quint16(vendor), quint16(product)));
    HidLink link(api);
    QSignalSpy missing(&link, &HidLink::boardMissing);
    QVERIFY(link.find());
    QVERIFY(link.hidFound());
    QVERIFY(link.hidLinked());
    QCOMPARE(link.devicePath(), paths[board]);
    QCOMPARE(link.inputReportBytes(), 33);
    QCOMPARE(link.outputReportBytes(), 33);
    QCOMPARE(missing.size(), 0);
    for (int i = 0; i < paths.size(); ++i) {
        QCOMPARE(api.opens(paths[i]), i < board ? 1 : i == board ? 2 : 0);
        QCOMPARE(api.openHandles(paths[i]), i == board ? 2 : 0);
    }
    link.send(patternFrame(4), 3);
    QCOMPARE(api.device(paths[board]).written.size(), 1);
}

void TstHid::searchTwice()
{
    FakeHidApi api;
    const QByteArray board = api.addBoard();
    HidLink link(api);
    QVERIFY(link.find());
    QVERIFY(link.find());
    QCOMPARE(api.opens(board), 4);
    QCOMPARE(api.openHandles(board), 2);
    api.queueAnswer(board, 0x41);
    QSignalSpy answers(&link, &HidLink::answerReceived);
    link.poll();   // reads through the new handle
    QCOMPARE(answers.size(), 1);
}

void TstHid::boardAbsent()
{
    FakeHidApi api;
    api.addDevice(0x046D, 0xC52B);
    const QByteArray board = api.addBoard();
    HidLink link(api);
    QVERIFY(link.find());
    api.unplug(board);
    QSignalSpy missing(&link, &HidLink::boardMissing);
    QSignalSpy log(&link, &HidLink::logEntry);
    QVERIFY(!link.find());
    QVERIFY(!link.hidFound());
    QVERIFY(!link.hidLinked());
    QCOMPARE(api.openHandles(), 0);
    QCOMPARE(missing.size(), 1);

    link.send(patternFrame(62), 61);
    link.send(patternFrame(517), 516);
    QCOMPARE(missing.size(), 3);
    QCOMPARE(entries(log), QStringList({kUsbMissingEntry, kUsbMissingEntry}));
    QVERIFY(!link.isSending());

    const int searches = api.enumerations();
    for (int i = 0; i < 100; ++i)
        link.poll();
    QCOMPARE(api.enumerations(), searches);   // polling never searches
}

void TstHid::permissionDenied()
{
    FakeHidApi api;
    const QByteArray board = api.addBoard();
    api.device(board).openDenied = true;
    HidLink link(api);
    QSignalSpy missing(&link, &HidLink::boardMissing);
    QSignalSpy log(&link, &HidLink::logEntry);
    QVERIFY(!link.find());
    QCOMPARE(missing.size(), 1);
    QCOMPARE(log.size(), 1);
    QVERIFY(entries(log).first().contains(QLatin1String("70-orv4120.rules")));
}

void TstHid::silentBoard()
{
    FakeHidApi api;
    const QByteArray board = api.addBoard();
    api.device(board).silent = true;
    HidLink link(api);
    link.setAckTimeout(20);
    QVERIFY(link.find());
    QSignalSpy log(&link, &HidLink::logEntry);
    link.send(patternFrame(93), 92);
    link.send(patternFrame(4), 3);
    QCOMPARE(api.device(board).written.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!link.isSending(), 10000);

    // the rest of the first frame is dropped, the next frame goes out
    const QList<QByteArray> &written = api.device(board).written;
    QCOMPARE(written.size(), 2);
    QCOMPARE(written[1].left(3), QByteArray::fromHex("00bc04"));
    QCOMPARE(log.size(), 1);
    QVERIFY(entries(log).first().contains(QLatin1String("0x5E")));
    QVERIFY(entries(log).first().contains(QLatin1String(" 3 ")));
    QVERIFY(link.hidFound());
}

void TstHid::sendDuringTransfer_data()
{
    QTest::addColumn<bool>("fromAnswer");   // the second send comes from the 0x5E handler
    QTest::newRow("between polls") << false;
    QTest::newRow("inside the answer") << true;
}

void TstHid::sendDuringTransfer()
{
    QFETCH(bool, fromAnswer);

    FakeHidApi api;
    const QByteArray board = api.addBoard();
    HidLink link(api);
    QVERIFY(link.find());
    const QByteArray first = patternFrame(62);
    const QByteArray second = QByteArray::fromHex("fd0001") + patternFrame(40);
    bool sentSecond = false;
    connect(&link, &HidLink::answerReceived, &link, [&](quint8 code) {
        if (fromAnswer && code == 0x5E && !sentSecond) {
            sentSecond = true;
            link.send(second, int(second.size()) - 1);
        }
    });
    link.send(first, 61);
    if (!fromAnswer)
        link.send(second, int(second.size()) - 1);
    QCOMPARE(api.device(board).written.size(), 1);
    drain(link);

    const QList<QByteArray> &written = api.device(board).written;
    QCOMPARE(written.size(), 5);
    QCOMPARE(written[0].mid(2), first.mid(0, 31));
    QCOMPARE(written[1].mid(2), first.mid(31, 31));
    QCOMPARE(written[2].left(3), QByteArray::fromHex("00bc00"));
    QCOMPARE(written[3].mid(2), second.mid(0, 31));
    QCOMPARE(written[4].mid(1, 14), QByteArray::fromHex("bc0c") + second.mid(31));
}

void TstHid::unplug_data()
{
    QTest::addColumn<bool>("whileWaiting");   // else the next write finds the device gone
    QTest::newRow("read fails during the wait") << true;
    QTest::newRow("write fails") << false;
}

void TstHid::unplug()
{
    QFETCH(bool, whileWaiting);

    FakeHidApi api;
    const QByteArray board = api.addBoard();
    api.device(board).silent = true;
    HidLink link(api);
    QVERIFY(link.find());
    QSignalSpy log(&link, &HidLink::logEntry);
    QSignalSpy missing(&link, &HidLink::boardMissing);
    if (whileWaiting) {
        link.send(patternFrame(93), 92);
        api.unplug(board);
        link.poll();
    } else {
        api.unplug(board);
        link.send(patternFrame(93), 92);
    }
    for (int i = 0; i < 10; ++i)
        link.poll();
    QVERIFY(!link.hidFound());
    QVERIFY(!link.isSending());
    QCOMPARE(api.openHandles(), 0);
    QCOMPARE(log.size(), 1);
    QVERIFY(
        entries(log).first().contains(whileWaiting ? QLatin1String(" 3 ") : QLatin1String(" 4 ")));
    QCOMPARE(missing.size(), 0);

    link.send(patternFrame(4), 3);   // searches again: the board is gone
    QCOMPARE(missing.size(), 1);
    QCOMPARE(entries(log).last(), kUsbMissingEntry);
}

void TstHid::reportDescriptor_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("inputBytes");   // -1: no layout
    QTest::addColumn<int>("outputBytes");
    QTest::addColumn<bool>("numbered");
    // vendor page, collection, 32 x 8 bits in, 32 x 8 bits out
    QTest::newRow("board, 32-byte reports")
        << QByteArray::fromHex("0600ff0901a101150026ff007508952009018102952009029102c0") << 33 << 33
        << false;
    QTest::newRow("numbered, longest counts") << QByteArray::fromHex(
        "0600ff0901a10185017508950809018102850275089540090181028503950409029102c0")
                                              << 65 << 5 << true;
    QTest::newRow("two-byte count")
        << QByteArray::fromHex("0600ff0901a101750896000109018102952009029102c0") << 257 << 33
        << false;
    QTest::newRow("no reports") << QByteArray::fromHex("0600ff0901a101c0") << -1 << -1 << false;
    QTest::newRow("cut off inside an item") << QByteArray::fromHex("750895") << -1 << -1 << false;
}

void TstHid::reportDescriptor()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, inputBytes);
    QFETCH(int, outputBytes);
    QFETCH(bool, numbered);

    const std::optional<HidReportLayout> layout = parseReportDescriptor(descriptor);
    QCOMPARE(layout.has_value(), inputBytes >= 0);
    if (!layout)
        return;
    QCOMPARE(layout->inputBytes, inputBytes);
    QCOMPARE(layout->outputBytes, outputBytes);
    QCOMPARE(layout->numbered, numbered);
}

QTEST_GUILESS_MAIN(TstHid)
#include "tst_hid.moc"
