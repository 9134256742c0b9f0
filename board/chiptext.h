#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// Voice settings the chip keeps between frames until a tag or "[d]" changes them.
struct VoiceSettings
{
    int volume = 5;   // [v0] .. [v10]
    int rate = 5;   // [s0] .. [s10]
    int intonation = 5;   // [t0] .. [t10]
    int voice = 3;   // [m3], [m51] .. [m55]
    int style = 1;   // [f0] one syllable at a time, [f1] even narration
    bool promptSounds = true;   // [x1] names such as "msga" are prompt sounds, [x0] text
    bool readPunctuation = false;   // [b1]
    bool markedProsody = false;   // [z1] "#" marks a prosodic break

    bool operator==(const VoiceSettings &) const = default;
};

// One stretch of what the chip plays: speech in one setting, a prompt sound, or a pause.
struct SpeechPiece
{
    enum class Kind { Speech, PromptSound, Silence };
    Kind kind = Kind::Speech;
    QString text;   // Speech: the words; PromptSound: the sound's name
    VoiceSettings settings;
    int silenceMs = 0;   // Silence only
};

// Longest pause one [p*] tag asks for; longer values are cut to it.
inline constexpr int kMaxPauseMs = 30000;

// Text bytes of a synthesis frame as the chip reads them (encoding 0 GB2312, 1 GBK, 2 BIG5,
// 3 UTF-16LE, 4 UTF-16BE); none for an unknown encoding. Undecodable bytes become U+FFFD and
// an odd last byte of UTF-16 is dropped.
std::optional<QString> decodeChipText(quint8 encoding, const QByteArray &text);

// Length of the prompt-sound name at position of text ("msga".."msgn", "sound101".."sound719"
// in the catalogue's ranges, "sounda".."soundy" without "sounds"); 0 when none starts there.
int promptSoundNameAt(const QString &text, qsizetype position);

// The text split into what the chip plays, tags applied to settings (which carry over to the
// next frame) and removed from the spoken text.
QList<SpeechPiece> parseChipText(const QString &text, VoiceSettings *settings);
