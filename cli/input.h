#pragma once

#include "options.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Longest text file, texts file or standard input read.
inline constexpr qint64 kMaxInputBytes = 16 * 1024 * 1024;

struct InputRead
{
    QByteArray bytes;
    QString error;   // why it could not be read; empty when it was
    bool interrupted = false;   // a signal came while the program waited for input
};

// Reads a file (standard input when path is empty) to its end, limit bytes at most. It waits
// for input with poll() beside Interrupts::descriptor(), so a FIFO without a writer or a
// terminal does not hold off a signal; a device without an end (/dev/zero) stops at the limit.
InputRead readInput(const QString &path, qint64 limit = kMaxInputBytes);

// The first byte offset at which bytes are not GBK: 0x80 and 0xFF alone, a lead byte without its
// trail byte, or a pair in the user-defined areas (AAA1-AFFE, F8A1-FEFE, A140-A7A0), which name
// no character. None when every byte belongs to a character.
std::optional<qsizetype> firstNonGbkByte(const QByteArray &bytes);

class Output;

// Text of input bytes (the arguments, a file, standard input) in the input encoding, checked:
// bytes that are not GBK (with --input-encoding gbk) and NUL characters are named on stderr and
// sent, or refused under --strict. None, with *exitCode, when the text cannot be sent.
std::optional<QString> checkedText(
    const QByteArray &bytes, const CliOptions &options, Output &output, int *exitCode);
