#include "screenroom.h"

#include <QScreen>
#include <QWidget>

QSize roomOnScreen(const QWidget &window)
{
    constexpr int kTitleBar = 36;
    constexpr int kPanel = 32;
    const QScreen *where = window.screen();
    if (!where)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QRect room = where->availableGeometry();
    const QSize frame = window.frameGeometry().size() - window.size();
    const int panel = room == where->geometry() ? kPanel : 0;
    return QSize(
        room.width() - frame.width(), room.height() - qMax(frame.height(), kTitleBar) - panel);
}
