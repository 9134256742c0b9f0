#pragma once

#include <QObject>

#include <functional>

// SIGINT, SIGTERM and SIGHUP into the event loop, for the window and orv4120 alike. Caught from
// the first line of main(), each writes one byte to a socket pair whose ends never block: a
// burst of signals never holds up the handler, and a wait for input may poll the read end.
namespace Interrupts {

// Catches the signals (once; later calls do nothing).
void install();
// Readable once a signal has come and the event loop has not yet taken it; -1 before install().
int descriptor();
// The first signal caught; 0 while none came.
int first();
// From now on each signal calls call on the event loop, in context's thread: one call per
// signal, so a second one may mean "now".
void onSignal(QObject *context, std::function<void()> call);
// When a signal came, ends the program by it (its default action), as its sender expects to
// see; returns at once otherwise.
void endBySignal();

}   // namespace Interrupts
