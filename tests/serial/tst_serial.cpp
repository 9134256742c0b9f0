#include "logshape.h"
#include "mscomm.h"
#include "portresolver.h"
#include "ptypeer.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class TstSerial : public QObject
{
    Q_OBJECT
private slots:
    void numbering_data();
    void numbering();
    void comMapping_data();
    void comMapping();
    void comNumbers_data();
    void comNumbers();
    void plainOpen_data();
    void plainOpen();
    void settings_data();
    void settings();
    void openErrors();
    void openErrorKinds_data();
    void openErrorKinds();
    void busyPortIsInUse();
    void queuedFrameArrivesWhole();
    void resetDropsWhatWaits();
    void stalledPortFaultsOnce();
    void settingsChangeKeepsPortOpen();
    void wireTimeByHand_data();
    void wireTimeByHand();
    void droppedFramesReported_data();
    void droppedFramesReported();
    void returningDevice_data();
    void returningDevice();
    void ptyNumberTakenByAnotherIsNotOpened();
    void adapterWithSerialNumberComesBack_data();
    void adapterWithSerialNumberComesBack();
};

// A USB adapter with a serial number, as the system lists it, at path.
static SerialDevice adapterAt(const QString &path, const QString &serial = QStringLiteral("A5028"))
{
    return {path, QFileInfo(path).fileName(), QStringLiteral("FT232R USB UART"),
        QStringLiteral("0403:6001"), true, serial};
}

static SerialDevice device(const QString &name, bool usb = false)
{
    return {QStringLiteral("/dev/") + name, name, QString(), QString(), usb, QString()};
}

void TstSerial::numbering_data()
{
    QTest::addColumn<QList<SerialDevice>>("present");
    QTest::addColumn<QStringList>("com1to4");
    QTest::newRow("USB adapters first")
        << QList<SerialDevice> {device("ttyS0"), device("ttyUSB1", true), device("ttyACM0", true),
               device("ttyUSB0", true)}
        << QStringList {"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0"};
    QTest::newRow("ttyS10 after ttyS9") << QList<SerialDevice> {device("ttyS10"), device("ttyS9"),
        device("ttyS1")} << QStringList {"/dev/ttyS1", "/dev/ttyS9", "/dev/ttyS10", QString()};
    QTest::newRow("nothing present") << QList<SerialDevice> {} << QStringList {{}, {}, {}, {}};
}

void TstSerial::numbering()
{
    QFETCH(QList<SerialDevice>, present);
    QFETCH(QStringList, com1to4);
    PortResolver ports;
    ports.setPresentDevicesForTest(present);
    QStringList got;
    for (int n = 1; n <= 4; ++n)
        got << ports.pathFor(n);
    QCOMPARE(got, com1to4);

    ports.setOverride(2, QStringLiteral("/dev/pts/7"));   // a mapping wins
    QCOMPARE(ports.pathFor(2), QStringLiteral("/dev/pts/7"));
    QVERIFY(ports.describe(2).contains(QStringLiteral("/dev/pts/7")));
}

void TstSerial::comMapping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << "COM1=/dev/ttyUSB0" << 1 << "/dev/ttyUSB0";
    QTest::newRow("lower case") << "com20=/dev/pts/3" << 20 << "/dev/pts/3";
    QTest::newRow("COM21") << "COM21=/dev/x" << 0 << QString();
    QTest::newRow("COM0") << "COM0=/dev/x" << 0 << QString();
    QTest::newRow("no path") << "COM1=" << 0 << QString();
    QTest::newRow("no equals") << "COM1" << 0 << QString();
}

void TstSerial::comMapping()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(QString, path);
    int n = 0;
    QString p;
    QCOMPARE(parseComMapping(text, &n, &p), number != 0);
    QCOMPARE(n, number);
    QCOMPARE(p, path);
}

void TstSerial::comNumbers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");   // 0: not a port number
    QTest::newRow("COM1") << "COM1" << 1;
    QTest::newRow("lower case, the last") << "com20" << 20;
    QTest::newRow("leading zero") << "COM07" << 7;
    QTest::newRow("past the list") << "COM21" << 0;
    QTest::newRow("COM0") << "COM0" << 0;
    QTest::newRow("three digits") << "COM100" << 0;
    QTest::newRow("a device path") << "/dev/ttyS0" << 0;
    QTest::newRow("a name that starts as one") << "COM1x" << 0;
    QTest::newRow("a mapping") << "COM1=/dev/ttyS0" << 0;
}

void TstSerial::comNumbers()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(comNumber(name).value_or(0), number);
}

void TstSerial::plainOpen_data()
{
    QTest::addColumn<QString>("path");   // "pty": the peer's pseudo-terminal
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("error");   // MSComm::OpenError
    QTest::newRow("the peer at 9600") << "pty" << 9600 << true << int(MSComm::OpenError::None);
    QTest::newRow("the peer at 115200") << "pty" << 115200 << true << int(MSComm::OpenError::None);
    QTest::newRow("no such device")
        << "/dev/no-such-tty" << 9600 << false << int(MSComm::OpenError::NoSuchDevice);
    QTest::newRow("no line speed") << "pty" << 0 << false << int(MSComm::OpenError::Other);
}

void TstSerial::plainOpen()
{
    QFETCH(QString, path);
    QFETCH(int, baud);
    QFETCH(bool, opens);
    QFETCH(int, error);
    PtyPeer board;
    if (path == u"pty")
        path = board.slavePath();
    MSComm port(nullptr);
    QCOMPARE(port.open(path, baud), opens);
    QCOMPARE(port.isOpen(), opens);
    QCOMPARE(int(port.openError()), error);
    if (!opens) {
        QVERIFY(!port.errorString().isEmpty());
        return;
    }
    QCOMPARE(port.baudRate(), baud);
    QCOMPARE(port.Settings(), QStringLiteral("%1,N,8,1").arg(baud));
    // The line speed is what the wire time counts: 10 bits a byte at 8N1.
    QCOMPARE(port.wireTime(baud / 10), qint64(1000000));
    port.send("FD");
    QTRY_COMPARE(board.received(), QByteArray("FD"));
}

void TstSerial::settings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("baud");
    QTest::newRow("4800") << "4800,N,8,1" << true << 4800;
    QTest::newRow("115200") << "115200,N,8,1" << true << 115200;
    QTest::newRow("even parity") << "9600,E,7,2" << true << 9600;
    QTest::newRow("no speed") << ",N,8,1" << false << 9600;
    QTest::newRow("bad parity") << "9600,X,8,1" << false << 9600;
    QTest::newRow("three fields") << "9600,N,8" << false << 9600;
}

void TstSerial::settings()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, baud);
    MSComm port(nullptr);
    QCOMPARE(port.setSettings(text), accepted);
    QCOMPARE(port.baudRate(), baud);
}

void TstSerial::openErrors()
{
    QTemporaryDir dir;
    PortResolver ports;
    ports.setPresentDevicesForTest({});
    MSComm port(&ports);
    port.setCommPort(3);   // stands for no device
    QVERIFY(!port.setPortOpen(true));
    QCOMPARE(port.openError(), MSComm::OpenError::NoSuchDevice);
    QVERIFY(!port.PortOpen());

    port.setCommPath(dir.filePath(QStringLiteral("ttyGone")));
    QVERIFY(!port.setPortOpen(true));
    QCOMPARE(port.openError(), MSComm::OpenError::NoSuchDevice);
    QVERIFY(port.errorString().contains(QStringLiteral("没有这个串口设备")));
}

void TstSerial::openErrorKinds_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("accessErrno");
    QTest::addColumn<int>("kind");
    QTest::newRow("gone") << false << int(QSerialPort::PermissionError) << 0
                          << int(MSComm::OpenError::NoSuchDevice);
    QTest::newRow("not found") << true << int(QSerialPort::DeviceNotFoundError) << 0
                               << int(MSComm::OpenError::NoSuchDevice);
    QTest::newRow("refused") << true << int(QSerialPort::PermissionError) << EACCES
                             << int(MSComm::OpenError::NoPermission);
    QTest::newRow("busy") << true << int(QSerialPort::PermissionError) << 0
                          << int(MSComm::OpenError::InUse);
    QTest::newRow("other") << true << int(QSerialPort::OpenError) << 0
                           << int(MSComm::OpenError::Other);
}

void TstSerial::openErrorKinds()
{
    QFETCH(bool, exists);
    QFETCH(int, error);
    QFETCH(int, accessErrno);
    QFETCH(int, kind);
    QCOMPARE(
        int(classifyOpenError(exists, QSerialPort::SerialPortError(error), accessErrno)), kind);
    QVERIFY(!openErrorText(MSComm::OpenError(kind)).isEmpty());
}

void TstSerial::busyPortIsInUse()
{
    PtyPeer board;
    MSComm first(nullptr);
    first.setCommPath(board.slavePath());
    QVERIFY(first.setPortOpen(true));
    MSComm second(nullptr);
    second.setCommPath(board.slavePath());
    QVERIFY(!second.setPortOpen(true));
    QCOMPARE(second.openError(), MSComm::OpenError::InUse);
    QVERIFY(first.PortOpen());
}

void TstSerial::queuedFrameArrivesWhole()
{
    PtyPeer board;
    MSComm port(nullptr);
    port.setCommPath(board.slavePath());
    QVERIFY(port.setPortOpen(true));
    QSignalSpy written(&port, &Link::frameWritten);
    QByteArray frame(4096, '\0');
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = char(i * 13 + 1);
    const LinkTime sentAt = linkNow();
    port.send(frame);   // two pieces, both queued at once; the call does not wait
    QTRY_COMPARE(board.received().size(), frame.size());
    QCOMPARE(board.received(), frame);
    QTRY_COMPARE(written.count(), 1);
    const auto done = written.first().first().value<FrameWritten>();
    QCOMPARE(done.bytes, 4096);
    // At 9600 baud the last byte is on the wire 4096 * 10 bits later, whatever the pty does.
    QVERIFY(done.lastByteDue - sentAt >= port.wireTime(4096));
    QVERIFY(done.lastByteDue >= done.handedOver);

    port.setPortOpen(false);
    port.send("lost");   // closed: nothing is written
    QTest::qWait(20);
    QCOMPARE(board.received(), frame);
}

void TstSerial::resetDropsWhatWaits()
{
    PtyPeer board;
    MSComm port(nullptr);
    port.setCommPath(board.slavePath());
    QVERIFY(port.setPortOpen(true));
    board.setReading(false);
    const QByteArray first(20000, 'a');   // more than the pty takes while nobody reads
    port.send(first);
    port.send(QByteArray(100, 'b'));
    port.send(QByteArray(100, 'c'));
    port.reset();   // the frame going out goes out whole; the two behind it are dropped
    board.setReading(true);
    QTRY_COMPARE(board.received().size(), first.size());
    QTest::qWait(50);
    QCOMPARE(board.received(), first);
    port.send("d");
    QTRY_COMPARE(board.received(), first + "d");
}

void TstSerial::stalledPortFaultsOnce()
{
    PtyPeer board;
    MSComm port(nullptr);
    port.setCommPath(board.slavePath());
    QVERIFY(port.setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(port.setPortOpen(true));
    QSignalSpy failures(&port, &Link::failed);
    board.setReading(false);   // the kernel takes a few KB, then nothing moves
    for (int i = 0; i < 40; ++i)
        port.send(QByteArray(4096, 'x'));
    QTRY_VERIFY_WITH_TIMEOUT(!port.PortOpen(), 10000);
    QCOMPARE(failures.count(), 1);
    QVERIFY(linkFaultLine(failures.first().first().value<LinkFault>())
                .contains(QStringLiteral("写出停滞")));
    port.send(QByteArray(4096, 'x'));   // faulty port: nothing more, no second report
    QTest::qWait(50);
    QCOMPARE(failures.count(), 1);
}

void TstSerial::settingsChangeKeepsPortOpen()
{
    PtyPeer board;
    MSComm port(nullptr);
    port.setCommPath(board.slavePath());
    QVERIFY(port.setPortOpen(true));
    QSignalSpy failures(&port, &MSComm::failed);
    for (const char *speed : {"115200,N,8,1", "4800,N,8,1", "57600,N,8,1"})
        QVERIFY(port.setSettings(QString::fromLatin1(speed)));
    QVERIFY(port.PortOpen());
    QCOMPARE(failures.count(), 0);
    port.send(QByteArray("\xFD\x00\x01\x02", 4));
    QTRY_COMPARE(board.received(), QByteArray("\xFD\x00\x01\x02", 4));
}

void TstSerial::wireTimeByHand_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<qint64>("micros");
    // start bit + data bits + parity bit + stop bits, per byte
    QTest::newRow("9600 8N1: 10 bits") << "9600,N,8,1" << 96 << qint64(100000);
    QTest::newRow("9600 E,8,2: 12 bits") << "9600,E,8,2" << 96 << qint64(120000);
    QTest::newRow("115200 O,7,1: 10 bits") << "115200,O,7,1" << 1152 << qint64(100000);
    QTest::newRow("4800 8N1, rounded up") << "4800,N,8,1" << 1 << qint64(2084);
}

void TstSerial::wireTimeByHand()
{
    QFETCH(QString, settings);
    QFETCH(int, bytes);
    QFETCH(qint64, micros);
    PtyPeer board;
    MSComm port(nullptr);
    QVERIFY(port.setSettings(settings));
    QCOMPARE(port.wireTime(bytes), micros);
    // The frame's last byte is due no sooner than that after it was handed over on an idle line.
    port.setCommPath(board.slavePath());
    QVERIFY(port.setPortOpen(true));
    QSignalSpy written(&port, &Link::frameWritten);
    const LinkTime sentAt = linkNow();
    port.send(QByteArray(bytes, 'x'));
    QTRY_COMPARE(written.count(), 1);
    QVERIFY(written.first().first().value<FrameWritten>().lastByteDue - sentAt >= micros);
}

void TstSerial::droppedFramesReported_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("reset: the frames behind the one going out") << "reset";
    QTest::newRow("close: every frame not wholly with the device") << "close";
    QTest::newRow("stall: the same, when nothing moves") << "stall";
    QTest::newRow("closed port: a frame handed over then") << "closed";
}

void TstSerial::droppedFramesReported()
{
    QFETCH(QString, how);
    PtyPeer board;
    MSComm port(nullptr);
    port.setCommPath(board.slavePath());
    QVERIFY(port.setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(port.setPortOpen(true));
    QSignalSpy dropped(&port, &Link::framesDropped);
    QSignalSpy failed(&port, &Link::failed);
    QList<QByteArray> sent;
    if (how == u"closed") {
        port.setPortOpen(false);
        sent << QByteArray::fromHex("fd000102");
    } else {
        board.setReading(false);   // the kernel takes a few KB, then nothing moves
        sent << QByteArray(20000, 'a') << QByteArray(100, 'b') << QByteArray(3000, 'c');
    }
    for (const QByteArray &frame : sent)
        port.send(frame);
    if (how == u"reset")
        port.reset();
    else if (how == u"close")
        port.setPortOpen(false);
    QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, 10000);
    if (how == u"stall") {
        QCOMPARE(failed.count(), 1);
        QVERIFY(linkFaultLine(failed.first().first().value<LinkFault>())
                    .contains(QStringLiteral("写出停滞")));
    }
    const auto frames = dropped.first().at(0).value<QList<QByteArray>>();
    const qint64 bytesNotSent = dropped.first().at(1).toLongLong();
    const QList<QByteArray> expected = how == u"reset" ? sent.mid(1) : sent;
    QCOMPARE(frames, expected);
    // What was not sent is exactly what never reaches the board.
    board.setReading(true);
    qint64 total = 0;
    for (const QByteArray &frame : sent)
        total += frame.size();
    QTRY_COMPARE(board.received().size(), total - bytesNotSent);
    QTest::qWait(50);
    QCOMPARE(board.received().size(), total - bytesNotSent);
    QCOMPARE(dropped.count(), 1);
}

void TstSerial::returningDevice_data()
{
    QTest::addColumn<QString>("lostPath");
    QTest::addColumn<QList<SerialDevice>>("lost");   // what was listed for it: none or one
    QTest::addColumn<QList<SerialDevice>>("present");
    QTest::addColumn<bool>("lostPathExists");
    QTest::addColumn<QString>("reopened");
    const QString usb0 = QStringLiteral("/dev/ttyUSB0");
    const QString usb1 = QStringLiteral("/dev/ttyUSB1");
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A5028-if00-port0");
    SerialDevice noSerial = adapterAt(usb0, QString());
    SerialDevice otherIds = noSerial;
    otherIds.vidPid = QStringLiteral("1a86:7523");
    QTest::newRow("serial number, at another node")
        << usb0 << QList {adapterAt(usb0)} << QList {adapterAt(usb1)} << false << usb1;
    QTest::newRow("serial number, another adapter at its node")
        << usb0 << QList {adapterAt(usb0)} << QList {adapterAt(usb0, "B7")} << true << QString();
    QTest::newRow("by-id name there again")
        << byId << QList<SerialDevice> {} << QList<SerialDevice> {} << true << byId;
    QTest::newRow("by-id name not back yet")
        << byId << QList<SerialDevice> {} << QList<SerialDevice> {} << false << QString();
    QTest::newRow("a look-alike of by-id elsewhere")
        << "/tmp/serial/by-id/usb-x" << QList<SerialDevice> {} << QList<SerialDevice> {} << true
        << QString();
    QTest::newRow("no serial number: same node, same ids")
        << usb0 << QList {noSerial} << QList {noSerial} << true << usb0;
    QTest::newRow("no serial number: same node, other ids")
        << usb0 << QList {noSerial} << QList {otherIds} << true << QString();
    QTest::newRow("no serial number: same ids, other node")
        << usb0 << QList {noSerial} << QList {adapterAt(usb1, QString())} << false << QString();
    QTest::newRow("pseudo-terminal, its number taken again")
        << "/dev/pts/3" << QList<SerialDevice> {} << QList<SerialDevice> {} << true << QString();
    QTest::newRow("built-in port without ids")
        << "/dev/ttyS0" << QList {device("ttyS0")} << QList {device("ttyS0")} << true << QString();
}

void TstSerial::returningDevice()
{
    QFETCH(QString, lostPath);
    QFETCH(QList<SerialDevice>, lost);
    QFETCH(QList<SerialDevice>, present);
    QFETCH(bool, lostPathExists);
    QFETCH(QString, reopened);
    const std::optional<SerialDevice> adapter =
        lost.isEmpty() ? std::nullopt : std::optional(lost.first());
    QCOMPARE(returningDevicePath(lostPath, adapter, present, lostPathExists), reopened);
}

// Another program now holds the pseudo-terminal number the lost board had: the port stays
// closed, the other terminal keeps its settings and gets nothing written into it.
void TstSerial::ptyNumberTakenByAnotherIsNotOpened()
{
    auto board = std::make_unique<PtyPeer>();
    const QString number = board->slavePath();
    PortResolver ports;
    ports.setPresentDevicesForTest({});
    MSComm port(&ports);
    port.setCommPath(number);
    QVERIFY(port.setPortOpen(true));
    QSignalSpy failed(&port, &Link::failed);
    board.reset();   // pulled out
    QTRY_COMPARE(failed.count(), 1);

    std::vector<std::unique_ptr<PtyPeer>> others;
    PtyPeer *holder = nullptr;
    while (!holder && others.size() < 32) {
        others.push_back(std::make_unique<PtyPeer>());
        if (others.back()->slavePath() == number)
            holder = others.back().get();
    }
    if (!holder)
        QSKIP("the pseudo-terminal number went to another program");
    const int fd = ::open(QFile::encodeName(number).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios before {};
    ::tcgetattr(fd, &before);
    QTest::qWait(2500);   // past the first retry and a settled folder change
    QVERIFY(!port.PortOpen());
    port.send(QByteArray::fromHex("fd000102"));
    QTest::qWait(50);
    QVERIFY(holder->received().isEmpty());
    termios after {};
    ::tcgetattr(fd, &after);
    ::close(fd);
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QVERIFY(!port.awaitsReturn());
}

void TstSerial::adapterWithSerialNumberComesBack_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("comesBackAs");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("pulled out, back with its serial number") << "pulled"
                                                             << "A5028" << true;
    QTest::newRow("pulled out, another adapter comes") << "pulled"
                                                       << "B7" << false;
    QTest::newRow("stalled write: back after it went") << "stalled"
                                                       << "A5028" << true;
}

// The board's adapter carries a serial number, as the system would list a USB adapter.
void TstSerial::adapterWithSerialNumberComesBack()
{
    QFETCH(QString, fault);
    QFETCH(QString, comesBackAs);
    QFETCH(bool, reopens);
    auto board = std::make_unique<PtyPeer>();
    QList<SerialDevice> listed {adapterAt(board->slavePath())};
    PortResolver ports;
    ports.setPresentDeviceSourceForTest([&listed] { return listed; });
    MSComm port(&ports);
    port.setCommPath(board->slavePath());
    QVERIFY(port.setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(port.setPortOpen(true));
    QSignalSpy failed(&port, &Link::failed);
    QSignalSpy reconnected(&port, &MSComm::reconnected);
    if (fault == u"stalled") {
        board->setReading(false);
        for (int i = 0; i < 40; ++i)
            port.send(QByteArray(4096, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QVERIFY(port.awaitsReturn());
        QTest::qWait(1500);   // still there: not taken back before it went away
        QCOMPARE(reconnected.count(), 0);
    }
    board.reset();
    listed.clear();
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY(port.awaitsReturn());
    PtyPeer back;
    listed = {adapterAt(back.slavePath(), comesBackAs)};
    if (reopens) {
        QTRY_COMPARE_WITH_TIMEOUT(reconnected.count(), 1, 5000);
        QCOMPARE(port.devicePath(), back.slavePath());
        port.send(QByteArray::fromHex("fd000102"));
        QTRY_COMPARE(back.received(), QByteArray::fromHex("fd000102"));
    } else {
        QTest::qWait(2500);
        QVERIFY(!port.PortOpen());
        QVERIFY(back.received().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TstSerial)
#include "tst_serial.moc"
