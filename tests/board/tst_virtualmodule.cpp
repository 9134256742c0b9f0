// The module orv4120-virtual as the front ends load it: the options given reach its boards.
#include "hidreports.h"
#include "modules.h"
#include "virtualboards.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

class TstVirtualModule : public QObject
{
    Q_OBJECT
private slots:
    void usbBoardTakesTheOptions_data();
    void usbBoardTakesTheOptions();
    void serialBoardPowersUp();
    void moduleOfAnotherBuildIsRefused();
};

namespace {

std::unique_ptr<VirtualBoards> load(const VirtualBoardOptions &options)
{
    QString error;
    auto boards = loadVirtualBoards(options, &error);
    if (!boards)
        qWarning("%s", qPrintable(error));
    return boards;
}

}   // namespace

void TstVirtualModule::usbBoardTakesTheOptions_data()
{
    QTest::addColumn<UsbAcks>("acks");
    QTest::addColumn<int>("acceptDelayMs");
    QTest::addColumn<QByteArray>("codes");   // byte 1 of each input report after 0x4A
    // A status query goes out as one closing report.
    QTest::newRow("acknowledges full reports only")
        << UsbAcks::Full << 0 << QByteArray::fromHex("aa414f");
    QTest::newRow("acknowledges every report")
        << UsbAcks::All << 0 << QByteArray::fromHex("5eaa414f");
    QTest::newRow("answers after the accept delay")
        << UsbAcks::All << 10000 << QByteArray::fromHex("5e");
}

void TstVirtualModule::usbBoardTakesTheOptions()
{
    QFETCH(UsbAcks, acks);
    QFETCH(int, acceptDelayMs);
    QFETCH(QByteArray, codes);
    VirtualBoardOptions options;
    options.playback = false;
    options.usbAcks = acks;
    options.acceptDelayMs = acceptDelayMs;
    const auto boards = load(options);
    QVERIFY(boards);
    HidApi &hid = boards->usb();
    const QList<HidDeviceInfo> devices = hid.enumerate();
    QCOMPARE(devices.size(), 1);
    HidDevice *device = hid.open(devices.first().path);
    QVERIFY(device);
    QByteArray report;
    QVERIFY(hid.read(device, &report, kHidReportBytes, 60000) > 0);
    QCOMPARE(report.at(1), char(0x4a));
    QCOMPARE(hid.write(device, hidReports(QByteArray::fromHex("fd000121")).first().bytes),
        kHidReportBytes);
    QByteArray got;
    while (got.size() < codes.size() && hid.read(device, &report, kHidReportBytes, 60000) > 0)
        got += report.at(1);
    while (hid.read(device, &report, kHidReportBytes, 200) > 0)   // nothing more comes
        got += report.at(1);
    QCOMPARE(got.toHex(' '), codes.toHex(' '));
    hid.close(device);
}

void TstVirtualModule::serialBoardPowersUp()
{
    VirtualBoardOptions options;
    options.playback = false;
    const auto boards = load(options);
    QVERIFY(boards);
    QString error;
    const QString path = boards->serialPath(&error);
    QVERIFY2(!path.isEmpty(), qPrintable(error));
    QCOMPARE(boards->serialPath(&error), path);   // one board, started once
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    pollfd wait = {fd, POLLIN, 0};
    char byte = 0;
    const bool answered = ::poll(&wait, 1, 10000) == 1 && ::read(fd, &byte, 1) == 1;
    ::close(fd);
    QVERIFY(answered);
    QCOMPARE(byte, char(0x4a));
}

void TstVirtualModule::moduleOfAnotherBuildIsRefused()
{
    QString error;
    const auto create = reinterpret_cast<CreateVirtualBoards>(resolveModuleEntry(
        QStringLiteral("orv4120-virtual"), "orv4120CreateVirtualBoards", &error));
    QVERIFY2(create, qPrintable(error));
    const VirtualBoardOptions options;
    QCOMPARE(create(&options, sizeof options + 8), nullptr);
}

QTEST_GUILESS_MAIN(TstVirtualModule)
#include "tst_virtualmodule.moc"
