#pragma once

#include "HidAPI.h"
#include "virtualoptions.h"

#include <QString>

#include <cstddef>
#include <memory>

// The built-in virtual board of --virtual, for the window and orv4120 alike. It lives in the
// module orv4120-virtual, loaded only when --virtual is given: the board's speech (espeak-ng and
// the sound libraries it pulls in) stays out of every other run.
class VirtualBoards
{
public:
    virtual ~VirtualBoards() = default;
    // Starts the serial board on a pseudo-terminal (once, on a thread of its own); its device
    // path, or empty with *error.
    virtual QString serialPath(QString *error) = 0;
    // The USB board behind the HID seam (made on first use). It must outlive every HidLink on it.
    virtual HidApi &usb() = 0;
};

// Loads the module (beside the program, else from the package's library folder) and sets its
// boards up as options say; null with *error when it cannot be loaded.
std::unique_ptr<VirtualBoards> loadVirtualBoards(
    const VirtualBoardOptions &options, QString *error);

// The module's one entry point. optionsSize guards against a module of another build: it
// returns null when the sizes differ.
extern "C" VirtualBoards *orv4120CreateVirtualBoards(
    const VirtualBoardOptions *options, std::size_t optionsSize);
using CreateVirtualBoards = VirtualBoards *(*)(const VirtualBoardOptions *, std::size_t);
