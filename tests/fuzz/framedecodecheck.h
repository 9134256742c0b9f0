#pragma once

#include <QByteArray>
#include <QString>

// Decodes bytes as a frame and checks every promise the decoder makes about the result; returns
// what broke, or an empty string when all hold.
QString checkFrameDecode(const QByteArray &bytes);
