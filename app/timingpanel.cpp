#include "timingpanel.h"

#include "language.h"
#include "guardedfile.h"
#include "runreport.h"
#include "screenroom.h"
#include "session.h"
#include "soakreport.h"
#include "timingview.h"
#include "transactions.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

TimingPanel::TimingPanel(QMainWindow *window, Session *session, const QString &workDir)
    : QObject(window)
    , m_window(window)
    , m_session(session)
    , m_workDir(workDir)
{
    m_dock = new QDockWidget(tr("时序"), window);
    m_dock->setObjectName(QStringLiteral("TimingDock"));
    m_dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
        | QDockWidget::DockWidgetFloatable);
    window->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    m_dock->hide();
    const auto orient = [this] {
        const Qt::DockWidgetArea area = m_window->dockWidgetArea(m_dock);
        const bool below = !m_dock->isFloating()
            && (area == Qt::BottomDockWidgetArea || area == Qt::TopDockWidgetArea);
        view()->setOrientation(below ? Qt::Horizontal : Qt::Vertical);
    };
    connect(m_dock, &QDockWidget::dockLocationChanged, this, orient);
    connect(m_dock, &QDockWidget::topLevelChanged, this, orient);

    auto *toggle = new QToolButton(window);
    toggle->setObjectName(QStringLiteral("TimingToggle"));
    toggle->setText(tr("时序"));
    toggle->setToolTip(tr("每帧的应答、延迟和播音时间"));
    toggle->setCheckable(true);
    toggle->setAutoRaise(true);
    window->statusBar()->addPermanentWidget(toggle);
    connect(toggle, &QToolButton::toggled, this, [this](bool on) {
        if (on && !m_placed) {
            m_placed = true;
            view();
            place();
        }
        m_dock->setVisible(on);
    });
    connect(m_dock, &QDockWidget::visibilityChanged, toggle,
        [this, toggle] { toggle->setChecked(m_dock->isVisible()); });
    connect(session, &Session::transactionsRestarted, this, &TimingPanel::feedView);
}

TimingPanel::~TimingPanel() = default;

// The frames and answers the view shows and 保存报告 saves.
TransactionModel &TimingPanel::model() const
{
    return m_session->transactions();
}

// The first time the view opens it docks beside the controls where the screen has the room, else
// below them, and the window grows to take it as far as the screen allows.
void TimingPanel::place()
{
    constexpr int kBeside = 720;
    constexpr int kBelow = 300;
    QMainWindow *w = m_window;
    if (w->isMaximized() || w->isFullScreen())
        return;
    const QSize room = roomOnScreen(*w);
    if (w->width() + kBeside <= room.width()) {
        w->addDockWidget(Qt::RightDockWidgetArea, m_dock);
        w->resize(w->width() + kBeside, w->height());
        QTimer::singleShot(
            0, this, [this] { m_window->resizeDocks({m_dock}, {kBeside}, Qt::Horizontal); });
    } else {
        w->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
        w->resize(w->width(), qMin(w->height() + kBelow, room.height()));
        QTimer::singleShot(
            0, this, [this] { m_window->resizeDocks({m_dock}, {kBelow}, Qt::Vertical); });
    }
    // Kept on the screen: a window grown past its edge moves back inside it.
    if (const QScreen *where = w->screen()) {
        const QRect area = where->availableGeometry();
        const QRect frame = w->frameGeometry();
        QPoint at = w->pos();
        at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - frame.width())));
        at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - frame.height())));
        w->move(at);
    }
}

// The view, its table and its fonts cost memory the window needs only once it is opened (or a
// report is to be shown): it is made then, with the rows the model kept so far.
TimingView *TimingPanel::view()
{
    if (m_view)
        return m_view;
    m_view = new TimingView;
    m_dock->setWidget(m_view);
    connect(m_view, &TimingView::summaryWanted, this,
        [this] { m_view->setSummary(summaryText(model().stats(), windowWording())); });
    connect(m_view, &TimingView::saveRequested, this, &TimingPanel::save);
    connect(m_view, &TimingView::clearRequested, this, &TimingPanel::clear);
    for (const TransactionRow &row : model().recentRows())
        m_view->addRow(row);
    feedView();
    return m_view;
}

void TimingPanel::feedView()
{
    if (!m_view)
        return;
    TransactionModel *rows = &model();
    connect(rows, &TransactionModel::rowAdded, m_view, &TimingView::addRow);
    // A frame's row shows from the moment it is sent and fills in as its answers come.
    connect(rows, &TransactionModel::transactionChanged, m_view,
        [this, rows](const TransactionModel::Transaction &t) { m_view->showRow(rows->row(t)); });
}

void TimingPanel::clear()
{
    m_session->restartTransactions();   // the view is fed the new model
    if (m_view)
        m_view->clear();
}

// Where the reports go: beside LOG.txt, or the user's own folder when that takes none.
static bool startReport(SoakReport &report, const QString &workDir)
{
    return report.start(workDir) || report.start(LogFile::fallbackDirectory());
}

void TimingPanel::reportWritten(
    const SoakReport &report, const QString &summary, const QString &cause)
{
    const QString where = report.errorString().isEmpty()
        ? tr("测试报告：%1").arg(report.csvPath())
        : tr("测试报告未能写完（缺 %1 行）：%2；可用“另存报告…”存到别处")
              .arg(report.rowsLost())
              .arg(report.errorString());
    view()->setReport(where + u'\n' + summary);
    emit notice(cause.isEmpty() ? where : cause + tr("；") + where);
}

void TimingPanel::save(const QString &folder)
{
    SoakReport report;
    if (folder.isEmpty() ? !startReport(report, m_workDir) : !report.start(folder)) {
        const QString text = tr("测试报告无法保存：%1").arg(report.errorString());
        view()->setReport(text);
        emit notice(text);
        return;
    }
    const TransactionModel &kept = model();
    for (const TransactionRow &row : kept.recentRows())
        report.addRow(row);
    report.finish(summaryText(kept.stats()));
    reportWritten(report, summaryText(kept.stats(), windowWording()), {});
}

void TimingPanel::startRun(Tool tool)
{
    m_tools |= int(tool);
    startRunReport();
}

void TimingPanel::endRun(Tool tool, const QString &cause)
{
    m_tools &= ~int(tool);
    if (m_tools == 0)
        finishRunReport(cause);
    else if (!cause.isEmpty())
        emit notice(cause);
}

void TimingPanel::endAllRuns()
{
    m_tools = 0;
    finishRunReport({});
}

void TimingPanel::startRunReport()
{
    if (m_run)
        return;
    m_run = std::make_unique<RunReport>();
    if (!startReport(m_run->report, m_workDir)) {
        const QString text = tr("测试报告无法写入：%1").arg(m_run->report.errorString());
        view()->setReport(text);
        emit notice(text);
        m_run.reset();
        return;
    }
    m_run->model = m_session->newTransactions();
    SoakReport *report = &m_run->report;
    m_run->model->setRowSink([report](const TransactionRow &row) { report->addRow(row); });
}

void TimingPanel::finishRunReport(const QString &cause)
{
    if (!m_run) {
        if (!cause.isEmpty())
            emit notice(cause);
        return;
    }
    m_run->model->finish();   // what still waits is written as unfinished
    m_run->report.finish(summaryText(m_run->model->stats()));
    reportWritten(m_run->report, summaryText(m_run->model->stats(), windowWording()), cause);
    m_run.reset();
}
