#include "screenroom.h"

#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
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

QSize firstSize(const QMainWindow &window, QWidget *content)
{
    constexpr int kComfortableHeight = 800;
    content->layout()->activate();
    const QSize contentSize = content->sizeHint().expandedTo(content->minimumSizeHint());
    const int bar = window.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QSize wanted = contentSize + QSize(bar, window.statusBar()->sizeHint().height());
    wanted.setHeight(qMax(wanted.height(), kComfortableHeight));
    return wanted.boundedTo(roomOnScreen(window));
}
