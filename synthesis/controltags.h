#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// Control-tag frames: a synthesis frame whose parameter is always 0x01 (GBK), whatever encoding
// the window has chosen, and whose text is nothing but the tag's ASCII bytes. The chip keeps the
// setting for whatever it speaks next.

// Tag letters of the three scroll bars.
enum class TagBar : char {
    Volume = 'v',
    Rate = 's',
    Intonation = 't',
};

// Range of the bars' values; the tag carries value - 1, so 0 to 10.
inline constexpr int kTagBarMinimum = 1;
inline constexpr int kTagBarMaximum = 11;
inline constexpr int kTagBarDefault = 6;

// Number of voices; entry 0 is "[m3]", entries 1 to 5 are "[m51]" to "[m55]".
inline constexpr int kVoiceCount = 6;

// A tag as a frame: FD, 00, 2 + tag bytes, 01, 01, tag.
QByteArray tagFrame(const QByteArray &tag);

// "[v0]" ... "[v10]" for bar values 1 to 11; none outside that range.
std::optional<QByteArray> barTagFrame(TagBar bar, int value);

// "[m3]" for entry 0, "[m5k]" for entry k = 1 to 5; none outside 0 to 5.
std::optional<QByteArray> voiceTagFrame(int entry);

// "[d]": every setting back to the chip's defaults.
QByteArray resetTagFrame();

// Display names of the six voices, in tag order; the demonstration text uses the same names.
QStringList voiceNames();

// The tag of a voice entry ("[m3]", "[m51]" ...); empty outside 0 to 5.
QByteArray voiceTag(int entry);
