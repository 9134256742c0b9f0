#pragma once

#include <QObject>

#include <functional>

// SIGINT, SIGTERM and SIGHUP, caught from the first line of main(): each writes one byte to a
// socket pair, which a wait for input polls and the event loop reads.
namespace Interrupts {

// Catches the signals; a write past the file size limit fails with EFBIG instead of SIGXFSZ.
void install();
// Readable once a signal has come and the event loop has not yet taken it; -1 before install().
int descriptor();
// From now on each signal calls call on the event loop, in context's thread.
void onSignal(QObject *context, std::function<void()> call);

}   // namespace Interrupts
