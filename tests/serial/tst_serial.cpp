#include "mscomm.h"
#include "portresolver.h"
#include "ptypeer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

class TstSerial : public QObject
{
    Q_OBJECT
private slots:
    void numbering_data();
    void numbering();
    void comMapping_data();
    void comMapping();
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
};

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
    QVERIFY(failures.first().first().toString().contains(QStringLiteral("写出停滞")));
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

QTEST_GUILESS_MAIN(TstSerial)
#include "tst_serial.moc"
