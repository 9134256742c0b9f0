#include "mscomm.h"
#include "portlist.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

namespace {

const SerialDevice kAdapter {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ttyUSB0"),
    QStringLiteral("FT232R"), QStringLiteral("0403:6001"), true, QString()};
const SerialDevice kBuiltIn {
    QStringLiteral("/dev/ttyS0"), QStringLiteral("ttyS0"), QString(), QString(), false, QString()};

// The list as the window has it, its devices given by the test.
struct Ports
{
    explicit Ports(QList<SerialDevice> present)
        : devices(std::move(present))
    {
        resolver.setPresentDeviceSourceForTest([this] { return devices; });
        for (int n = 1; n <= PortList::kComItems; ++n)
            combo.addItem(QStringLiteral("COM%1").arg(n));
        combo.setEditable(true);
        list.refresh();
    }
    QString tip(int index) const { return combo.itemData(index, Qt::ToolTipRole).toString(); }

    QList<SerialDevice> devices;
    PortResolver resolver;
    MSComm serial {&resolver};
    QComboBox combo;
    QLabel info;
    PortList list {&combo, &info, resolver, &serial};
};

}   // namespace

class TstPortList : public QObject
{
    Q_OBJECT
private slots:
    void devicesFollowTheComItems();
    void choiceSurvivesARelisting_data();
    void choiceSurvivesARelisting();
    void lineUnderTheList_data();
    void lineUnderTheList();
};

// COM1 ... COM20 say what they stand for; the devices follow under their own names.
void TstPortList::devicesFollowTheComItems()
{
    Ports p({kAdapter, kBuiltIn});
    QCOMPARE(p.combo.count(), PortList::kComItems + 2);
    QCOMPARE(p.combo.itemText(20), kAdapter.path);
    QCOMPARE(p.tip(20), QStringLiteral("/dev/ttyUSB0 (FT232R)"));
    QCOMPARE(p.tip(21), kBuiltIn.path);
    QVERIFY2(p.tip(0).contains(kAdapter.path), qPrintable(p.tip(0)));   // USB adapters first
    QVERIFY2(p.tip(1).contains(kBuiltIn.path), qPrintable(p.tip(1)));
    QVERIFY2(p.tip(2).contains(QStringLiteral("无此设备")), qPrintable(p.tip(2)));

    p.devices = {kBuiltIn};
    p.list.refresh();
    QCOMPARE(p.combo.count(), PortList::kComItems + 1);
    QCOMPARE(p.combo.itemText(20), kBuiltIn.path);
    QVERIFY2(p.tip(0).contains(kBuiltIn.path), qPrintable(p.tip(0)));
    QCOMPARE(p.list.pathFor(1), kBuiltIn.path);
    QCOMPARE(p.list.pathFor(2), QString());
}

void TstPortList::choiceSurvivesARelisting_data()
{
    using Devices = QList<SerialDevice>;
    QTest::addColumn<Devices>("before");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<Devices>("after");
    QTest::addColumn<QString>("stillChosen");
    QTest::newRow("a device by name, one before it gone")
        << Devices {kAdapter, kBuiltIn} << 21 << Devices {kBuiltIn} << kBuiltIn.path;
    QTest::newRow("a device by name, one before it come")
        << Devices {kBuiltIn} << 20 << Devices {kAdapter, kBuiltIn} << kBuiltIn.path;
    QTest::newRow("COM3 while the devices change")
        << Devices {kAdapter, kBuiltIn} << 2 << Devices {kBuiltIn} << QStringLiteral("COM3");
}

void TstPortList::choiceSurvivesARelisting()
{
    QFETCH(QList<SerialDevice>, before);
    QFETCH(int, chosen);
    QFETCH(QList<SerialDevice>, after);
    QFETCH(QString, stillChosen);
    Ports p(before);
    p.combo.setCurrentIndex(chosen);
    p.devices = after;
    p.list.refresh();
    QCOMPARE(p.combo.currentText(), stillChosen);
}

void TstPortList::lineUnderTheList_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");   // in a notice, with CommPortNumber 2
    QTest::newRow("COM1") << 0 << QStringLiteral("COM1 → /dev/ttyUSB0 (FT232R, 0403:6001)，未打开")
                          << QStringLiteral("COM2 → /dev/ttyUSB0");
    QTest::newRow("COM2, no device")
        << 1 << QStringLiteral("COM2 → 无此设备，未打开") << QStringLiteral("COM2 → /dev/ttyUSB0");
    QTest::newRow("a device by name")
        << 20 << QStringLiteral("/dev/ttyUSB0，未打开") << QStringLiteral("/dev/ttyUSB0");
}

// The line says what the item chosen stands for; a notice names the port the control has.
void TstPortList::lineUnderTheList()
{
    QFETCH(int, chosen);
    QFETCH(QString, line);
    QFETCH(QString, name);
    Ports p({kAdapter});
    p.serial.setCommPath(kAdapter.path);
    QSignalSpy shown(&p.list, &PortList::infoShown);
    p.combo.setCurrentIndex(chosen);
    p.list.showInfo();
    QCOMPARE(p.info.text(), line);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).at(0).toString(), p.info.text());
    QCOMPARE(p.list.portName(2), name);
}

QTEST_MAIN(TstPortList)
#include "tst_portlist.moc"
