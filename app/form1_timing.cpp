// The chip's timing beside the work log: the transaction model, its view, the soak reports of the
// test tools, and what the hex editor's frame decodes to.
#include "Form1.h"
#include "ui_Form1.h"

#include "framedecoder.h"
#include "hexeditor.h"
#include "hidlink.h"
#include "language.h"
#include "logfile.h"
#include "mscomm.h"
#include "runreport.h"
#include "session.h"
#include "soakreport.h"
#include "textform.h"
#include "timingview.h"
#include "transactions.h"

#include <QDockWidget>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

void Form1::setupTiming()
{
    m_timingDock = new QDockWidget(tr("时序"), this);
    m_timingDock->setObjectName(QStringLiteral("TimingDock"));
    m_timingDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
        | QDockWidget::DockWidgetFloatable);
    addDockWidget(Qt::BottomDockWidgetArea, m_timingDock);
    m_timingDock->hide();
    const auto orient = [this] {
        const Qt::DockWidgetArea area = dockWidgetArea(m_timingDock);
        const bool below = !m_timingDock->isFloating()
            && (area == Qt::BottomDockWidgetArea || area == Qt::TopDockWidgetArea);
        timingView()->setOrientation(below ? Qt::Horizontal : Qt::Vertical);
    };
    connect(m_timingDock, &QDockWidget::dockLocationChanged, this, orient);
    connect(m_timingDock, &QDockWidget::topLevelChanged, this, orient);

    auto *toggle = new QToolButton(this);
    toggle->setObjectName(QStringLiteral("TimingToggle"));
    toggle->setText(tr("时序"));
    toggle->setToolTip(tr("每帧的应答、延迟和播音时间"));
    toggle->setCheckable(true);
    toggle->setAutoRaise(true);
    statusBar()->addPermanentWidget(toggle);
    connect(toggle, &QToolButton::toggled, this, [this](bool on) {
        if (on && !m_timingShown) {
            m_timingShown = true;
            timingView();
            placeTimingDock();
        }
        m_timingDock->setVisible(on);
    });
    connect(m_timingDock, &QDockWidget::visibilityChanged, toggle,
        [this, toggle] { toggle->setChecked(m_timingDock->isVisible()); });
    m_session->transactions().setStoreEncoding(EncodingIndex);
    connect(m_session.get(), &Session::transactionsRestarted, this, &Form1::feedTimingView);

    m_decodeSettle = new QTimer(this);
    m_decodeSettle->setSingleShot(true);
    m_decodeSettle->setInterval(150);
    connect(m_decodeSettle, &QTimer::timeout, this, &Form1::showHexDecode);
    connect(ui->Text5, &QPlainTextEdit::textChanged, m_decodeSettle, qOverload<>(&QTimer::start));
    ui->Text5Decode->setMinimumHeight(3 * ui->Text5Decode->fontMetrics().lineSpacing());
    m_decodeSettle->start();   // the frame the editor starts with
}

// The first time the view opens it docks beside the controls where the screen has the room, else
// below them, and the window grows to take it as far as the screen allows.
void Form1::placeTimingDock()
{
    constexpr int kBeside = 720;
    constexpr int kBelow = 300;
    if (isMaximized() || isFullScreen())
        return;
    const QSize room = roomOnScreen();
    if (width() + kBeside <= room.width()) {
        addDockWidget(Qt::RightDockWidgetArea, m_timingDock);
        resize(width() + kBeside, height());
        QTimer::singleShot(
            0, this, [this] { resizeDocks({m_timingDock}, {kBeside}, Qt::Horizontal); });
    } else {
        addDockWidget(Qt::BottomDockWidgetArea, m_timingDock);
        resize(width(), qMin(height() + kBelow, room.height()));
        QTimer::singleShot(
            0, this, [this] { resizeDocks({m_timingDock}, {kBelow}, Qt::Vertical); });
    }
    // Kept on the screen: a window grown past its edge moves back inside it.
    if (const QScreen *where = screen()) {
        const QRect area = where->availableGeometry();
        const QRect frame = frameGeometry();
        QPoint at = pos();
        at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - frame.width())));
        at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - frame.height())));
        move(at);
    }
}

Wording Form1::windowWording()
{
    return currentLanguage() == Language::English ? Wording::English : Wording::Chinese;
}

// The view, its table and its fonts cost memory the window needs only once it is opened (or a
// report is to be shown): it is made then, with the rows the model kept so far.
TimingView *Form1::timingView()
{
    if (m_timingView)
        return m_timingView;
    m_timingView = new TimingView;
    m_timingDock->setWidget(m_timingView);
    connect(m_timingView, &TimingView::summaryWanted, this, [this] {
        m_timingView->setSummary(summaryText(m_session->transactions().stats(), windowWording()));
    });
    connect(m_timingView, &TimingView::saveRequested, this, &Form1::saveTimingReport);
    connect(m_timingView, &TimingView::clearRequested, this, &Form1::clearTiming);
    for (const TransactionRow &row : m_session->transactions().recentRows())
        m_timingView->addRow(row);
    feedTimingView();
    return m_timingView;
}

void Form1::feedTimingView()
{
    if (!m_timingView)
        return;
    TransactionModel *model = &m_session->transactions();
    connect(model, &TransactionModel::rowAdded, m_timingView, &TimingView::addRow);
    // A frame's row shows from the moment it is sent and fills in as its answers come.
    connect(model, &TransactionModel::transactionChanged, m_timingView,
        [this, model](
            const TransactionModel::Transaction &t) { m_timingView->showRow(model->row(t)); });
}

void Form1::clearTiming()
{
    m_session->restartTransactions();
    if (m_timingView)
        m_timingView->clear();
}

// Where the reports go: beside LOG.txt, or the user's own folder when that takes none.
static bool startReport(SoakReport &report, const QString &workDir)
{
    return report.start(workDir) || report.start(LogFile::fallbackDirectory());
}

void Form1::reportWritten(const SoakReport &report, const QString &summary, const QString &cause)
{
    const QString where = report.errorString().isEmpty()
        ? tr("测试报告：%1").arg(report.csvPath())
        : tr("测试报告未能写完（缺 %1 行）：%2；可用“另存报告…”存到别处")
              .arg(report.rowsLost())
              .arg(report.errorString());
    timingView()->setReport(where + u'\n' + summary);
    showNotice(cause.isEmpty() ? where : cause + tr("；") + where);
}

void Form1::saveTimingReport(const QString &folder)
{
    SoakReport report;
    if (folder.isEmpty() ? !startReport(report, m_workDir) : !report.start(folder)) {
        const QString notice = tr("测试报告无法保存：%1").arg(report.errorString());
        timingView()->setReport(notice);
        showNotice(notice);
        return;
    }
    const TransactionModel &transactions = m_session->transactions();
    for (const TransactionRow &row : transactions.recentRows())
        report.addRow(row);
    report.finish(summaryText(transactions.stats()));
    reportWritten(report, summaryText(transactions.stats(), windowWording()));
}

void Form1::startRunReport()
{
    if (m_run)
        return;
    m_run = std::make_unique<RunReport>();
    if (!startReport(m_run->report, m_workDir)) {
        const QString notice = tr("测试报告无法写入：%1").arg(m_run->report.errorString());
        timingView()->setReport(notice);
        showNotice(notice);
        m_run.reset();
        return;
    }
    m_run->model = m_session->newTransactions();
    SoakReport *report = &m_run->report;
    m_run->model->setRowSink([report](const TransactionRow &row) { report->addRow(row); });
}

void Form1::finishRunReport(const QString &cause)
{
    if (!m_run) {
        if (!cause.isEmpty())
            showNotice(cause);
        return;
    }
    m_run->model->finish();   // what still waits is written as unfinished
    m_run->report.finish(summaryText(m_run->model->stats()));
    reportWritten(m_run->report, summaryText(m_run->model->stats(), windowWording()), cause);
    m_run.reset();
}

// What the frame typed into the hex editor decodes to, before anything is sent: as it stands
// (直接播放) and behind the generated header (添加命令头播放).
void Form1::showHexDecode()
{
    const QString text = toCrLf(ui->Text5->toPlainText());
    const HexParse parse = parseHexText(text);
    switch (parse.status) {
    case HexStatus::Empty:
        ui->Text5Decode->clear();
        return;
    case HexStatus::Mismatch:
    case HexStatus::TooLong:
        ui->Text5Decode->setText(
            tr("格式不匹配：第 %1 个字符不是16进制数值").arg(parse.badOffset + 1));
        return;
    case HexStatus::Parsed:
        break;
    }
    const Wording wording = windowWording();
    const DecodedFrame direct = decodeFrame(parse.bytes, EncodingIndex, wording);
    QStringList lines {tr("直接播放：%1").arg(frameSummary(direct, wording))};
    if (direct.problems.size() > 1) {
        QStringList all;
        for (const FrameProblem &problem : direct.problems)
            all << problem.message;
        lines << tr("问题：%1").arg(all.join(tr("；")));
    }
    const HexParse withHeader = headerPlayFrame(text, quint8(ui->Combo5->currentIndex()));
    if (withHeader.status == HexStatus::Parsed && direct.hasErrors())
        lines << tr("添加命令头：%1")
                     .arg(frameSummary(decodeFrame(withHeader.bytes, 1, wording), wording));
    ui->Text5Decode->setText(lines.join(u'\n'));
}
