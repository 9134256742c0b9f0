#pragma once

#include "codetable.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringView>

// What the status bar and the command line's --strict say about a text before it is sent: how
// many characters it has and which of them the chosen encoding cannot carry.

enum class UncarriedKind {
    OutsideGbk,   // no GBK code: sent as "?" in GB2312, GBK and BIG5
    NoBig5,   // a GBK character without a BIG5 form: sent as "？" (a single-byte one as "?")
    OutsideGb2312,   // a GBK character outside GB2312 in a GB2312 frame: sent as its GBK bytes
};

struct UncarriedCharacter
{
    QString character;   // one character: a code unit or a surrogate pair
    UncarriedKind kind = UncarriedKind::OutsideGbk;
    QChar sentAs;   // "?" or "？"; null when the character goes out as it is
    int count = 0;
};

struct TextCheck
{
    int characters = 0;   // code points, a line break counting as one
    QList<UncarriedCharacter> uncarried;   // distinct, in order of first appearance
};

// Checks a widget text ("\n" line breaks) for an encoding index. In BIG5 the code table given
// decides which GBK characters have a BIG5 form; without a table only characters outside GBK are
// found. The UTF-16 encodings carry every character.
TextCheck checkText(QStringView widgetText, int encodingIndex, const CodeTable *table);
