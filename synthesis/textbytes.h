#pragma once

#include "codetable.h"

#include <QByteArray>
#include <QStringView>

#include <optional>

// Text of the send box in widget form: one "\n" (or paragraph/line separator) per line break.
// On the wire and in every byte count a line break is CR LF: two single-byte characters, 0D 0A
// in GBK and BIG5, 0D 00 0A 00 or 00 0D 00 0A in UTF-16.

// Encodings 2 to 4 look GBK codes up in the code table; 0 and 1 send GBK bytes as they are.
bool isValidEncoding(int encodingIndex);
bool needsCodeTable(int encodingIndex);

// The longest leading part of a selection that fits a frame.
struct TextCut
{
    int keepChars = 0;   // widget characters (UTF-16 units) to keep
    int byteCount = 0;   // bytes of the kept part in the chosen encoding
    bool cut = false;   // the selection is longer than what is kept
};

// Counts the selection's bytes in the chosen encoding as far as the limit allows and no further,
// so a selection of any length costs at most maxTextBytes steps. A character adds 2 in the
// Unicode encodings (3, 4) and for code 0; a GBK double-byte character adds 2; any other
// character adds 1, a character GBK cannot represent counting as its one "?" byte. A line break
// adds both CR and LF (4 bytes in Unicode) and is kept or left out whole; so is a surrogate pair
// (one "?" byte, or 4 bytes in Unicode).
TextCut cutToFit(QStringView widgetText, int encodingIndex, int maxTextBytes);

// The text bytes of a frame for widgetText, every character of it: GBK bytes for encodings 0 and
// 1; for 2 to 4 a GBK double-byte character is looked up in the table (its BIG5 code high byte
// first, or its UTF-16 unit in the chosen byte order) and ASCII is written as itself (one byte,
// or two in UTF-16). A character that has no GBK code or a single-byte GBK code above 0x7F is
// "?" in BIG5 and its own UTF-16 in the Unicode encodings, so its length stays what cutToFit
// counted; code 0 is written as zero bytes of the encoding's width. None for an invalid encoding
// or when the encoding needs a table and table is null.
std::optional<QByteArray> encodeText(
    QStringView widgetText, int encodingIndex, const CodeTable *table);

// The text part of a synthesis or cache-store frame: the selection cut to fit, then encoded.
// The window builds the frame with parameterFrame(Command::Synthesize or CacheStore, ...);
// bytes stay empty for an empty selection and for an encoding index outside 0 to 4.
struct FrameText
{
    int keepChars = 0;   // shrink the selection to this many widget characters
    int textByteCount = 0;   // bytes the kept part counts
    bool cut = false;
    bool tableMissing = false;   // encoding 2-4 without a table: nothing to send
    QByteArray bytes;   // the encoded kept part; empty when there is nothing to send
};
FrameText frameText(
    QStringView selection, int encodingIndex, int maxTextBytes, const CodeTable *table);
