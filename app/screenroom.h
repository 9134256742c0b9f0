#pragma once

#include <QSize>

class QMainWindow;
class QWidget;

// The largest size a top-level window may take on its screen with its frame. Where the system
// names no work area (the available area is the whole screen) a desktop panel is still assumed.
QSize roomOnScreen(const QWidget &window);

// The size a main window opens at: as large as its content (scrolled in its central widget) likes
// and at least 800 px tall (the work log takes what is left), within the room on its screen.
QSize firstSize(const QMainWindow &window, QWidget *content);
