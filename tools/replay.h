#pragma once

#include <QString>

#include <optional>

// Continuous replay counts its time in one-second ticks typed as a whole number into its box.

// Position of the first character that is not an ASCII digit "0"-"9"; -1 when there is none.
qsizetype firstNonDigit(const QString &text);

// Ticks for a count of ASCII digits (leading zeros allowed, "0" gives 0); none for an empty
// text, any other character, or a count above 2^53, which a double cannot count down by one.
std::optional<double> replayTicks(const QString &text);
