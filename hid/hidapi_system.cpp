#include "HidAPI.h"
#include "deviceaccess.h"
#include "hidreports.h"

#include <QFile>
#include <QFileInfo>

#include <hidapi.h>

#include <cerrno>
#include <optional>

namespace {

// What systemHidApi() hands out as a HidDevice.
struct SystemDevice
{
    hid_device *handle = nullptr;
    std::optional<HidReportLayout> layout;
};

// hidraw publishes the report descriptor in sysfs: /sys/class/hidraw/hidrawN/device.
std::optional<HidReportLayout> readReportLayout(const QByteArray &path)
{
    const QString node = QFileInfo(QString::fromLocal8Bit(path)).fileName();
    if (!node.startsWith(QLatin1String("hidraw")))
        return std::nullopt;
    QFile file(QStringLiteral("/sys/class/hidraw/%1/device/report_descriptor").arg(node));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseReportDescriptor(file.read(4096));
}

SystemDevice *systemDevice(HidDevice *device)
{
    return reinterpret_cast<SystemDevice *>(device);
}

QString fromWide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

class SystemHidApi final : public HidApi
{
public:
    SystemHidApi()
    {
        if (hid_init() != 0)
            m_error = fromWide(hid_error(nullptr));
    }
    ~SystemHidApi() override { hid_exit(); }

    QList<HidDeviceInfo> enumerate() override
    {
        QList<HidDeviceInfo> devices;
        hid_device_info *list = hid_enumerate(0, 0);
        for (const hid_device_info *info = list; info; info = info->next) {
            devices.append({QByteArray(info->path), info->vendor_id, info->product_id,
                fromWide(info->manufacturer_string), fromWide(info->product_string)});
        }
        hid_free_enumeration(list);
        return devices;
    }

    HidDevice *open(const QByteArray &path) override
    {
        m_denied = false;
        hid_device *handle = hid_open_path(path.constData());
        if (!handle) {
            m_error = fromWide(hid_error(nullptr));
            // hidapi keeps no errno of its own; ask the file system why the node cannot be opened.
            m_denied = deviceAccessError(path) == EACCES;
            if (m_error.isEmpty())
                m_error = m_denied
                    ? QStringLiteral("Permission denied")
                    : QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(path));
            return nullptr;
        }
        return reinterpret_cast<HidDevice *>(new SystemDevice {handle, readReportLayout(path)});
    }

    void close(HidDevice *device) override
    {
        if (!device)
            return;
        SystemDevice *d = systemDevice(device);
        hid_close(d->handle);
        delete d;
    }

    bool attributes(HidDevice *device, quint16 *vendorId, quint16 *productId) override
    {
        const hid_device_info *info = hid_get_device_info(systemDevice(device)->handle);
        if (!info) {
            m_error = fromWide(hid_error(systemDevice(device)->handle));
            return false;
        }
        *vendorId = info->vendor_id;
        *productId = info->product_id;
        return true;
    }

    bool reportLengths(HidDevice *device, int *inputBytes, int *outputBytes) override
    {
        const std::optional<HidReportLayout> &layout = systemDevice(device)->layout;
        if (!layout || layout->inputBytes == 0 || layout->outputBytes == 0)
            return false;
        *inputBytes = layout->inputBytes;
        *outputBytes = layout->outputBytes;
        return true;
    }

    int write(HidDevice *device, const QByteArray &report) override
    {
        hid_device *handle = systemDevice(device)->handle;
        const int written = hid_write(handle,
            reinterpret_cast<const unsigned char *>(report.constData()), size_t(report.size()));
        if (written < 0)
            m_error = fromWide(hid_error(handle));
        return written;
    }

    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override
    {
        // hidraw leaves out the report id of a device without numbered reports; the caller always
        // finds it in byte 0, as the board's reports are laid out.
        const SystemDevice *d = systemDevice(device);
        const int idBytes = d->layout && d->layout->numbered ? 0 : 1;
        if (maxBytes <= idBytes) {
            buffer->clear();
            return 0;
        }
        buffer->fill('\0', maxBytes);
        const int got =
            hid_read_timeout(d->handle, reinterpret_cast<unsigned char *>(buffer->data()) + idBytes,
                size_t(maxBytes - idBytes), timeoutMs);
        if (got < 0) {
            m_error = fromWide(hid_error(d->handle));
            buffer->clear();
            return -1;
        }
        if (got == 0) {
            buffer->clear();
            return 0;
        }
        buffer->resize(got + idBytes);
        return got + idBytes;
    }

    QString lastError() const override { return m_error; }
    bool lastOpenDenied() const override { return m_denied; }

private:
    QString m_error;
    bool m_denied = false;
};

}   // namespace

HidApi &systemHidApi()
{
    static SystemHidApi api;
    return api;
}
