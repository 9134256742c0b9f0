#pragma once

#include <QString>

// The ready-made contents of the send box, in widget form ("\n" line breaks); the files behind
// them are UTF-8 resources.

// The welcome line and fourteen sections showing what the chip reads: 158 lines, no final line
// break, more GBK bytes than one frame carries with either link.
QString demonstrationText();

// The built-in prompt sounds by category, with the names that invoke them from the text:
// 49 lines, the first empty, each ending with a line break.
QString promptSoundCatalogue();
