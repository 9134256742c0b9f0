// The module orv4120-virtual: the virtual boards of --virtual, for the window and orv4120.
#include "boardoptions.h"
#include "virtualboards.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"

namespace {

class ModuleBoards final : public VirtualBoards
{
public:
    explicit ModuleBoards(const VirtualBoardOptions &options)
    {
        static_cast<VirtualBoardOptions &>(m_options) = options;   // the rest: the defaults
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

extern "C" Q_DECL_EXPORT VirtualBoards *orv4120CreateVirtualBoards(
    const VirtualBoardOptions *options, std::size_t optionsSize)
{
    if (optionsSize != sizeof(VirtualBoardOptions))
        return nullptr;
    return new ModuleBoards(*options);
}
