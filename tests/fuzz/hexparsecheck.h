#pragma once

#include <QString>

// Reads text with the hex editor's parser and both frame builders and checks every promise they
// make about it; returns what broke, or an empty string when all hold.
QString checkHexParse(const QString &text);
