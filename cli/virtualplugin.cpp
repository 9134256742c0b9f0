// The module orv4120-virtual: the virtual boards of the window's --virtual, for orv4120.
#include "boardoptions.h"
#include "virtualboards.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"

namespace {

class ModuleBoards final : public VirtualBoards
{
public:
    ModuleBoards() { m_options.playback = true; }

    QString setOption(const QString &option, const QString &value) override
    {
        if (option == u"--baud") {
            m_options.baud = value.toInt();
            return {};
        }
        if (option == u"--virtual-usb-acks")
            return setUsbAcks(&m_options, option, value);
        const QString error = option == u"--virtual-accept-ms"
            ? setAcceptDelay(&m_options, option, value)
            : setSpeechScale(&m_options, option, value);
        // Sound plays only in real time; otherwise the board keeps time silently.
        m_options.playback = m_options.speechScale == 1.0;
        return error;
    }

    QString serialPath(QString *error) override
    {
        if (!m_serial) {
            m_serial = std::make_unique<VirtualBoardRunner>(m_options);
            if (!m_serial->start()) {
                *error = m_serial->errorString();
                m_serial.reset();
                return {};
            }
        }
        return m_serial->slavePath();
    }

    HidApi &usb() override
    {
        if (!m_usb)
            m_usb = std::make_unique<VirtualHidApi>(m_options);
        return *m_usb;
    }

private:
    BoardOptions m_options;
    std::unique_ptr<VirtualBoardRunner> m_serial;
    std::unique_ptr<VirtualHidApi> m_usb;
};

}   // namespace

extern "C" Q_DECL_EXPORT VirtualBoards *orv4120CreateVirtualBoards()
{
    return new ModuleBoards;
}
