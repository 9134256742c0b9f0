#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// orv4120 monitor --frames PORT [--answers PORT]: listens, and never writes, on the line
// between a microcontroller and the chip (an adapter's receive pin on each direction) and
// reports each frame, each answer with its latency and every fault of the conversation as it
// happens. arguments are those after "monitor"; runs the event loop until Ctrl-C.
int runMonitorCommand(const QList<QByteArray> &arguments);

QString monitorCommandHelp();
