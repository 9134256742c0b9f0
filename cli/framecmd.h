#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// orv4120 frame COMMAND [ARGUMENTS] [--format hex|c|python|json] [--name NAME]: the frames that
// orv4120 COMMAND would send, built by the same code and with the same options, printed for
// firmware and scripts; no board is opened. arguments are those after "frame".
int runFrameCommand(const QList<QByteArray> &arguments);

// The help of orv4120 frame.
QString frameCommandHelp();
