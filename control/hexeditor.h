#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The hexadecimal frame editor reads its text as groups of three characters: two hexadecimal
// digits and a separator that is never examined. The last group may lack its separator, and a
// single character left after the last separator is ignored. A line break counts as the two
// characters CR LF, so the window hands over its text in that form (toCrLf).

// Outcome of reading the editor's text or building a frame from it.
enum class HexStatus {
    Parsed,   // bytes holds the frame (or the typed bytes)
    Empty,   // no text: nothing to do, nothing to show
    Mismatch,   // a digit position holds no hexadecimal digit ("格式不匹配，不是16进制数值")
    TooLong,   // the bytes do not fit one frame's 16-bit length field behind a header
};

// Result of the editor's parser and frame builders.
struct HexParse
{
    HexStatus status = HexStatus::Empty;
    QByteArray bytes;   // parsed bytes or the built frame; empty unless Parsed
    qsizetype badOffset = -1;   // Mismatch: 0-based character offset; the text's length when a
                                // one-character text lacks its second digit
};

// Most data bytes the header frame carries: its length field counts command, parameter and data.
inline constexpr qsizetype kMaxHeaderFrameData = 0xFFFF - 2;

// Number of bytes a text of textLength characters yields when it parses: floor((L + 1) / 3).
qsizetype hexByteCount(qsizetype textLength);

// Reads the editor's text (CR LF line breaks) into bytes; any length, no frame limit.
HexParse parseHexText(const QString &text);

// "直接播放": the typed bytes as the whole frame, exactly as typed.
HexParse directPlayFrame(const QString &text);

// "添加命令头播放(自动)": FD, n + 2 (high byte first), 01, encoding, then the n typed bytes.
HexParse headerPlayFrame(const QString &text, quint8 encoding);
