#include "fakehid.h"

QByteArray FakeHidApi::addDevice(quint16 vendorId, quint16 productId, const QByteArray &path)
{
    Device d;
    d.path =
        path.isEmpty() ? QByteArray("/dev/hidraw") + QByteArray::number(m_devices.size()) : path;
    d.vendorId = vendorId;
    d.productId = productId;
    m_index.insert(d.path, int(m_devices.size()));
    m_devices.append(d);
    return d.path;
}

void FakeHidApi::queueInput(const QByteArray &path, const QByteArray &payload, bool raw)
{
    QByteArray report = QByteArray(1, '\0') + payload;
    if (!raw && report.size() < 33)
        report.append(QByteArray(33 - report.size(), '\0'));
    device(path).pending.append(raw ? payload : report);
}

int FakeHidApi::openHandles(const QByteArray &path) const
{
    int count = 0;
    for (const QByteArray &p : m_handles)
        count += p == path;
    return count;
}

QList<HidDeviceInfo> FakeHidApi::enumerate()
{
    ++m_enumerations;
    QList<HidDeviceInfo> list;
    for (const Device &d : m_devices) {
        if (d.present)
            list.append(
                {d.path, d.vendorId, d.productId, QStringLiteral("fake"), QStringLiteral("fake")});
    }
    return list;
}

HidDevice *FakeHidApi::open(const QByteArray &path)
{
    m_denied = false;
    if (!m_index.contains(path) || !device(path).present) {
        m_error = QStringLiteral("No such device");
        return nullptr;
    }
    if (device(path).openDenied) {
        m_error = QStringLiteral("Permission denied");
        m_denied = true;
        return nullptr;
    }
    ++m_opens[path];
    const quintptr handle = m_nextHandle++;
    m_handles.insert(handle, path);
    return reinterpret_cast<HidDevice *>(handle);
}

void FakeHidApi::close(HidDevice *device)
{
    m_handles.remove(reinterpret_cast<quintptr>(device));
}

FakeHidApi::Device *FakeHidApi::deviceOf(HidDevice *handle)
{
    const auto it = m_handles.constFind(reinterpret_cast<quintptr>(handle));
    if (it == m_handles.constEnd() || !device(*it).present) {
        m_error = QStringLiteral("Device disconnected");
        return nullptr;
    }
    return &device(*it);
}

bool FakeHidApi::attributes(HidDevice *handle, quint16 *vendorId, quint16 *productId)
{
    const Device *d = deviceOf(handle);
    if (!d)
        return false;
    *vendorId = d->vendorId;
    *productId = d->productId;
    return true;
}

bool FakeHidApi::reportLengths(HidDevice *handle, int *inputBytes, int *outputBytes)
{
    const Device *d = deviceOf(handle);
    if (!d || d->inputBytes == 0 || d->outputBytes == 0)
        return false;
    *inputBytes = d->inputBytes;
    *outputBytes = d->outputBytes;
    return true;
}

int FakeHidApi::write(HidDevice *handle, const QByteArray &report)
{
    Device *d = deviceOf(handle);
    if (!d)
        return -1;
    d->written.append(report);
    const bool board = d->vendorId == 0x0FFF && d->productId == 0x0002;
    if (board && !d->silent && report.size() > 1 && quint8(report.at(1)) == 0xFC)
        queueAnswer(d->path, 0x5E);
    return int(report.size());
}

int FakeHidApi::read(HidDevice *handle, QByteArray *buffer, int maxBytes, int timeoutMs)
{
    Q_UNUSED(timeoutMs);   // reports are there or not: nothing to wait for
    Device *d = deviceOf(handle);
    if (!d)
        return -1;
    if (d->pending.isEmpty()) {
        buffer->clear();
        return 0;
    }
    *buffer = d->pending.takeFirst().left(maxBytes);
    return int(buffer->size());
}
