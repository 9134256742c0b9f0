#pragma once

#include "portresolver.h"

#include <QList>
#include <QObject>
#include <QString>

class MSComm;
class QComboBox;
class QLabel;
class QTimer;

// The port list 端口号 and the line under it. COM1 ... COM20 stay its first items, each with a
// tooltip naming the device it stands for; the serial devices present follow under their own
// names, and a typed path is taken as it stands. The devices are listed again at each choice and
// when /dev changes (once a burst of changes has settled). The line under the list says what the
// chosen item stands for and whether the port is open, also after the list closed without a
// choice; while the list is open it describes the item under the pointer.
class PortList : public QObject
{
    Q_OBJECT
public:
    // The items "COM1" ... "COM20".
    static constexpr int kComItems = kComPorts;   // "COM1" ... "COM20"

    PortList(QComboBox *list, QLabel *info, const PortResolver &ports, const MSComm *serial,
        QObject *parent = nullptr);

    // Lists the devices present now; the tooltips of COM1 ... COM20 follow.
    void listDevices();
    // The same, and the devices offered anew past COM20; the item chosen stays chosen (a device
    // by its path, else COMn by its place).
    void refresh();
    // The device COMn stands for among the devices listed last (path empty: none), and the
    // adapter found there.
    QString pathFor(int number) const;
    std::optional<SerialDevice> deviceFor(int number) const;
    // The listed adapter a path leads to; none for a path that leads to no listed device.
    std::optional<SerialDevice> deviceAt(const QString &path) const;
    // The path item index stands for past COM20: a listed device, or the text of a typed path.
    QString pathOfItem(int index) const;
    // The line under the list for the item chosen and the state of the port.
    void showInfo();
    // The port as a notice names it: "COM1 → /dev/ttyUSB0" while a COMn is chosen, else the path.
    QString portName(int number) const;

signals:
    // The line under the list was written anew.
    void infoShown(const QString &info);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QComboBox *m_list;
    QLabel *m_info;
    const PortResolver &m_ports;
    const MSComm *m_serial;
    QList<SerialDevice> m_devices;   // the serial devices present when last listed
    QTimer *m_settle;   // lets a burst of device arrivals settle
};
