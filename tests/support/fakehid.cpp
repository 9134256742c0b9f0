#include "fakehid.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

QByteArray FakeHidApi::addDevice(quint16 vendorId, quint16 productId, const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    Device d;
    d.path =
        path.isEmpty() ? QByteArray("/dev/hidraw") + QByteArray::number(m_devices.size()) : path;
    d.vendorId = vendorId;
    d.productId = productId;
    m_index.insert(d.path, int(m_devices.size()));
    m_devices.append(d);
    return d.path;
}

void FakeHidApi::unplug(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    device(path).present = false;
    m_changed.wakeAll();
}

void FakeHidApi::setSilent(const QByteArray &path, bool silent)
{
    QMutexLocker locker(&m_lock);
    device(path).silent = silent;
}

void FakeHidApi::setAcks(const QByteArray &path, Acks acks)
{
    QMutexLocker locker(&m_lock);
    device(path).acks = acks;
}

void FakeHidApi::chipReady(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    Device &d = device(path);
    for (; d.heldAcks > 0; --d.heldAcks)
        queueLocked(d, QByteArray(1, char(0x5E)), false);
}

void FakeHidApi::releaseFullAck(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    Device &d = device(path);
    if (d.heldFullAcks > 0) {
        --d.heldFullAcks;
        queueLocked(d, QByteArray(1, char(0x5E)), false);
    }
}

void FakeHidApi::failWrites(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    device(path).writesFail = true;
}

void FakeHidApi::queueLocked(Device &d, const QByteArray &payload, bool raw)
{
    QByteArray report = QByteArray(1, '\0') + payload;
    if (!raw && report.size() < 33)
        report.append(QByteArray(33 - report.size(), '\0'));
    d.pending.append(raw ? payload : report);
    m_changed.wakeAll();
}

void FakeHidApi::queueInput(const QByteArray &path, const QByteArray &payload, bool raw)
{
    QMutexLocker locker(&m_lock);
    queueLocked(device(path), payload, raw);
}

QList<QByteArray> FakeHidApi::written(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    return device(path).written;
}

int FakeHidApi::opens(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    return m_opens.value(path);
}

int FakeHidApi::openHandles(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    int count = 0;
    for (const QByteArray &p : std::as_const(m_handles))
        count += p == path;
    return count;
}

int FakeHidApi::openHandles()
{
    QMutexLocker locker(&m_lock);
    return int(m_handles.size());
}

int FakeHidApi::enumerations()
{
    QMutexLocker locker(&m_lock);
    return m_enumerations;
}

QList<HidDeviceInfo> FakeHidApi::enumerate()
{
    QMutexLocker locker(&m_lock);
    ++m_enumerations;
    QList<HidDeviceInfo> list;
    for (const Device &d : std::as_const(m_devices)) {
        if (d.present)
            list.append(
                {d.path, d.vendorId, d.productId, QStringLiteral("fake"), QStringLiteral("fake")});
    }
    return list;
}

HidDevice *FakeHidApi::open(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
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
    QMutexLocker locker(&m_lock);
    m_handles.remove(reinterpret_cast<quintptr>(device));
    m_changed.wakeAll();
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
    QMutexLocker locker(&m_lock);
    const Device *d = deviceOf(handle);
    if (!d)
        return false;
    *vendorId = d->vendorId;
    *productId = d->productId;
    return true;
}

bool FakeHidApi::reportLengths(HidDevice *handle, int *inputBytes, int *outputBytes)
{
    QMutexLocker locker(&m_lock);
    const Device *d = deviceOf(handle);
    if (!d || d->inputBytes == 0 || d->outputBytes == 0)
        return false;
    *inputBytes = d->inputBytes;
    *outputBytes = d->outputBytes;
    return true;
}

int FakeHidApi::write(HidDevice *handle, const QByteArray &report)
{
    QMutexLocker locker(&m_lock);
    Device *d = deviceOf(handle);
    if (!d)
        return -1;
    if (d->writesFail) {
        m_error = QStringLiteral("Broken pipe");
        return -1;
    }
    d->written.append(report);
    const bool board = d->vendorId == 0x0FFF && d->productId == 0x0002;
    const bool full = report.size() > 1 && quint8(report.at(1)) == 0xFC;
    if (!board || d->silent)
        return int(report.size());
    const QByteArray accepted(1, char(0x5E));
    if (d->readyOnNextReport) {
        for (; d->heldAcks > 0; --d->heldAcks)
            queueLocked(*d, accepted, false);
    }
    if (full && d->holdFullAcks)
        ++d->heldFullAcks;
    else if (full || d->acks == Acks::All)
        queueLocked(*d, accepted, false);
    else if (d->acks == Acks::Ready)
        ++d->heldAcks;
    if (!full && d->speaks) {
        queueLocked(*d, QByteArray(1, char(0xAA)), false);
        queueLocked(*d, QByteArray(1, char(0x4F)), false);
        for (; d->heldAcks > 0; --d->heldAcks)
            queueLocked(*d, accepted, false);
    }
    return int(report.size());
}

int FakeHidApi::read(HidDevice *handle, QByteArray *buffer, int maxBytes, int timeoutMs)
{
    QMutexLocker locker(&m_lock);
    QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    for (;;) {
        Device *d = deviceOf(handle);
        if (!d)
            return -1;
        if (!d->pending.isEmpty()) {
            *buffer = d->pending.takeFirst().left(maxBytes);
            return int(buffer->size());
        }
        if (deadline.hasExpired() || !m_changed.wait(&m_lock, deadline)) {
            buffer->clear();
            return 0;
        }
    }
}

QString FakeHidApi::lastError() const
{
    QMutexLocker locker(&m_lock);
    return m_error;
}

bool FakeHidApi::lastOpenDenied() const
{
    QMutexLocker locker(&m_lock);
    return m_denied;
}
