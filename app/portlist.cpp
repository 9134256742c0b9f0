#include "portlist.h"

#include "mscomm.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QTimer>

PortList::PortList(
    QComboBox *list, QLabel *info, const PortResolver &ports, const MSComm *serial, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_info(info)
    , m_ports(ports)
    , m_serial(serial)
    , m_settle(new QTimer(this))
{
    connect(list, &QComboBox::highlighted, this, [this](int index) {
        m_info->setText(m_list->itemData(index, Qt::ToolTipRole).toString());
    });
    // The list closed without a choice (Escape, a click outside): the line names the port again.
    list->view()->installEventFilter(this);

    // The serial control watches only for a device it lost; the list follows every device.
    m_settle->setSingleShot(true);
    m_settle->setInterval(500);
    auto *devices = new QFileSystemWatcher(this);
    for (const QString &folder : {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}) {
        if (QFileInfo(folder).isDir())
            devices->addPath(folder);
    }
    connect(devices, &QFileSystemWatcher::directoryChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_settle, &QTimer::timeout, this, [this] {
        refresh();
        showInfo();
    });
}

bool PortList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->view() && event->type() == QEvent::Hide)
        showInfo();
    return QObject::eventFilter(watched, event);
}

void PortList::listDevices()
{
    m_devices = m_ports.presentDevices();
    for (int n = 1; n <= kComItems; ++n)
        m_list->setItemData(n - 1, m_ports.describe(n, m_devices, tr("无此设备")), Qt::ToolTipRole);
}

void PortList::refresh()
{
    const QString chosen = m_list->currentData().toString();
    const int current = m_list->currentIndex();
    while (m_list->count() > kComItems)
        m_list->removeItem(kComItems);
    listDevices();
    for (const SerialDevice &device : std::as_const(m_devices)) {
        m_list->addItem(device.path, device.path);
        QString tip = device.path;
        if (!device.description.isEmpty())
            tip += QStringLiteral(" (") + device.description + u')';
        m_list->setItemData(m_list->count() - 1, tip, Qt::ToolTipRole);
    }
    const int found = chosen.isEmpty() ? -1 : m_list->findData(chosen);
    if (found >= 0)
        m_list->setCurrentIndex(found);
    else if (current >= 0 && current < kComItems)
        m_list->setCurrentIndex(current);
}

QString PortList::pathFor(int number) const
{
    return m_ports.pathFor(number, m_devices);
}

std::optional<SerialDevice> PortList::deviceFor(int number) const
{
    return m_ports.deviceFor(number, m_devices);
}

std::optional<SerialDevice> PortList::deviceAt(const QString &path) const
{
    return PortResolver::deviceAt(path, m_devices);
}

QString PortList::pathOfItem(int index) const
{
    const QString path = m_list->itemData(index).toString();
    return path.isEmpty() ? m_list->itemText(index) : path;
}

void PortList::showInfo()
{
    const QString state = m_serial->PortOpen() ? tr("已打开") : tr("未打开");
    const int k = m_list->currentIndex();
    const QString where = k >= 0 && k < kComItems
        ? m_ports.describe(k + 1, m_devices, tr("无此设备"))
        : m_serial->devicePath();
    m_info->setText(tr("%1，%2").arg(where, state));
    emit infoShown(m_info->text());
}

QString PortList::portName(int number) const
{
    const int k = m_list->currentIndex();
    return k >= 0 && k < kComItems
        ? QStringLiteral("COM%1 → %2").arg(number).arg(m_serial->devicePath())
        : m_serial->devicePath();
}
