#pragma once

#include <QByteArray>
#include <QList>

// The commands for the engineer who builds the chip into a product: frame (the bytes for
// firmware), decode (what a capture holds) and monitor (the live line between a
// microcontroller and the chip). None of them ever sends anything to a chip.

// Whether the arguments (argv[1] on) ask for one of them, or for its help.
bool isProductCommand(const QList<QByteArray> &arguments);

// Runs it to its end and returns the exit code.
int runProductCommand(const QList<QByteArray> &arguments, int argc, char *argv[]);
