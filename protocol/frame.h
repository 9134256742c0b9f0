#pragma once

#include "codes.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <optional>

// Frame layout: FD, length (16 bits, high byte first; counts every byte after it: command,
// parameter and data), command, optional parameter, optional data. No checksum, no escaping.
inline constexpr quint8 kFrameHead = 0xFD;
inline constexpr int kFrameHeaderBytes = 5;   // head, length, command, parameter
inline constexpr int kSerialMaxTextBytes = 4091;   // largest frame 4096 bytes
inline constexpr int kUsbMaxTextBytes = 512;   // the board buffers one frame of this size
inline constexpr int kSerialPieceBytes = 2000;   // long frames go to the port in two pieces
inline constexpr int kMaxLengthField = 0xFFFF;

// The two length bytes for a frame of frameBytes bytes in all.
QByteArray lengthField(int frameBytes);

// A parameterless command: FD 00 01 code.
QByteArray commandFrame(Command command);

// A command with a parameter byte and data: FD, L, command, parameter, data.
QByteArray parameterFrame(Command command, quint8 parameter, const QByteArray &data = {});

// The synthesis command for already encoded text.
QByteArray synthesisFrame(quint8 encoding, const QByteArray &text);

// Pieces in which a text frame is handed to the serial port: the whole frame up to 2000 bytes,
// else bytes 0-1999 and the rest.
QList<QByteArray> serialPieces(const QByteArray &frame);

// Bytes of a frame given as numbers (the public send operation); none when an element is not a
// whole number from 0 to 255. badIndex receives the first offending index.
std::optional<QByteArray> frameFromValues(const QVariantList &values, int *badIndex = nullptr);
