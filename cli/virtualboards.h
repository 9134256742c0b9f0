#pragma once

#include "HidAPI.h"

#include <QString>

#include <memory>

// The built-in virtual board, loaded from the module orv4120-virtual only when --virtual is
// given: the board's speech (espeak-ng and the sound libraries it pulls in) then stays out of
// every other run's start-up.
class VirtualBoards
{
public:
    virtual ~VirtualBoards() = default;
    // --virtual-accept-ms, --virtual-speech-scale and --virtual-usb-acks, read as the window
    // reads them; the reason when a value is refused.
    virtual QString setOption(const QString &option, const QString &value) = 0;
    // Starts the serial board on a pseudo-terminal (once); its device path, or empty with *error.
    virtual QString serialPath(QString *error) = 0;
    // The USB board behind the HID seam (made on first use).
    virtual HidApi &usb() = 0;
};

// Loads the module from beside the program, else from the package's library folder; null with
// *error when it cannot be loaded.
std::unique_ptr<VirtualBoards> loadVirtualBoards(QString *error);

// The module's one entry point.
extern "C" VirtualBoards *orv4120CreateVirtualBoards();
using CreateVirtualBoards = VirtualBoards *(*)();
