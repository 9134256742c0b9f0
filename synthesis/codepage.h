#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The system's ANSI code page is always Windows code page 936 (GBK), converted through ICU's
// windows-936 converter whatever the locale.

enum class LineBreaks {
    AsTheyAre,   // every character as it stands
    CrLf,   // "\n" and the paragraph and line separators become CR LF, as on the wire
};

// GBK bytes of text: the one GBK encoder of the program. A character the code page cannot
// represent becomes one "?" byte; a surrogate pair is one character and gives one "?".
QByteArray toGbk(QStringView text, LineBreaks lineBreaks = LineBreaks::AsTheyAre);

// Text of GBK bytes; a byte sequence that is not GBK becomes U+FFFD.
QString fromGbk(const QByteArray &bytes);

// GBK bytes of one UTF-16 code unit outside the surrogate range: the value (lead byte in the
// high half for a double-byte code) and the byte count, 0 when GBK has no code for it.
struct GbkCode
{
    quint16 value = 0;
    quint8 bytes = 0;
};

// The codes of all 65,536 code units at once (surrogates have none), for loops over long text.
const GbkCode *gbkCodes();

// Whether ICU's GB2312 converter has a code for a code unit (outside the surrogate range). GBK
// holds more: a GB2312 frame carries GBK bytes, and the chip may not speak those characters.
bool inGb2312(char16_t unit);
