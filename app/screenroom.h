#pragma once

#include <QSize>

class QWidget;

// The largest size a top-level window may take on its screen with its frame. Where the system
// names no work area (the available area is the whole screen) a desktop panel is still assumed.
QSize roomOnScreen(const QWidget &window);
