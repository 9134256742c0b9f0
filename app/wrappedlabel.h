#pragma once

#include <QLabel>

// A word-wrapped label whose height does not follow its width: it keeps the height it is given.
// A layout holding it keeps a plain minimum size; inside a scroll area a height-for-width layout
// asks for scrolling whenever a text would wrap once more.
class WrappedLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
    bool hasHeightForWidth() const override { return false; }
};
