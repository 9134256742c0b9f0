// The chip's timing beside the work log: the transaction model, its view, the soak reports of the
// test tools, and what the hex editor's frame decodes to.
#include "Form1.h"
#include "ui_Form1.h"

#include "framedecoder.h"
#include "hexeditor.h"
#include "hidlink.h"
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
    m_timingView = new TimingView;
    m_timingDock = new QDockWidget(QStringLiteral("时序"), this);
    m_timingDock->setObjectName(QStringLiteral("TimingDock"));
    m_timingDock->setWidget(m_timingView);
    m_timingDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
        | QDockWidget::DockWidgetFloatable);
    addDockWidget(Qt::BottomDockWidgetArea, m_timingDock);
    m_timingDock->hide();
    const auto orient = [this] {
        const Qt::DockWidgetArea area = dockWidgetArea(m_timingDock);
        const bool below = !m_timingDock->isFloating()
            && (area == Qt::BottomDockWidgetArea || area == Qt::TopDockWidgetArea);
        m_timingView->setOrientation(below ? Qt::Horizontal : Qt::Vertical);
    };
    connect(m_timingDock, &QDockWidget::dockLocationChanged, this, orient);
    connect(m_timingDock, &QDockWidget::topLevelChanged, this, orient);

    auto *toggle = new QToolButton(this);
    toggle->setObjectName(QStringLiteral("TimingToggle"));
    toggle->setText(QStringLiteral("时序"));
    toggle->setToolTip(QStringLiteral("每帧的应答、延迟和播音时间"));
    toggle->setCheckable(true);
    toggle->setAutoRaise(true);
    statusBar()->addPermanentWidget(toggle);
    connect(toggle, &QToolButton::toggled, this, [this](bool on) {
        if (on && !m_timingShown) {
            m_timingShown = true;
            placeTimingDock();
        }
        m_timingDock->setVisible(on);
    });
    connect(m_timingDock, &QDockWidget::visibilityChanged, toggle,
        [this, toggle] { toggle->setChecked(m_timingDock->isVisible()); });
    connect(m_timingView, &TimingView::summaryWanted, this,
        [this] { m_timingView->setSummary(summaryText(m_timing->stats())); });
    connect(m_timingView, &TimingView::saveRequested, this, &Form1::saveTimingReport);
    connect(m_timingView, &TimingView::clearRequested, this, &Form1::clearTiming);
    newTimingModel();

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

std::unique_ptr<TransactionModel> Form1::makeTimingModel()
{
    auto model = std::make_unique<TransactionModel>(linkNow);
    model->addLink(MSComm1, AnswerRule::SerialCharacters, QStringLiteral("串口"));
    model->addLink(m_usb, AnswerRule::UsbReports, QStringLiteral("USB"));
    model->setStoreEncoding(EncodingIndex);
    model->follow(m_session.get());
    return model;
}

void Form1::newTimingModel()
{
    m_timing = makeTimingModel();
    connect(m_timing.get(), &TransactionModel::rowAdded, m_timingView, &TimingView::addRow);
    // A frame's row shows from the moment it is sent and fills in as its answers come.
    TransactionModel *model = m_timing.get();
    connect(model, &TransactionModel::transactionChanged, m_timingView,
        [this, model](
            const TransactionModel::Transaction &t) { m_timingView->showRow(model->row(t)); });
}

void Form1::clearTiming()
{
    newTimingModel();
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
        ? QStringLiteral("测试报告：") + report.csvPath()
        : QStringLiteral("测试报告未能写完（缺 %1 行）：%2；可用“另存报告…”存到别处")
              .arg(report.rowsLost())
              .arg(report.errorString());
    m_timingView->setReport(where + u'\n' + summary);
    showNotice(cause.isEmpty() ? where : cause + QStringLiteral("；") + where);
}

void Form1::saveTimingReport(const QString &folder)
{
    SoakReport report;
    if (folder.isEmpty() ? !startReport(report, m_workDir) : !report.start(folder)) {
        const QString notice = QStringLiteral("测试报告无法保存：") + report.errorString();
        m_timingView->setReport(notice);
        showNotice(notice);
        return;
    }
    for (const TransactionRow &row : m_timing->recentRows())
        report.addRow(row);
    const QString summary = summaryText(m_timing->stats());
    report.finish(summary);
    reportWritten(report, summary);
}

void Form1::startRunReport()
{
    if (m_run)
        return;
    m_run = std::make_unique<RunReport>();
    if (!startReport(m_run->report, m_workDir)) {
        const QString notice = QStringLiteral("测试报告无法写入：") + m_run->report.errorString();
        m_timingView->setReport(notice);
        showNotice(notice);
        m_run.reset();
        return;
    }
    m_run->model = makeTimingModel();
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
    const QString summary = summaryText(m_run->model->stats());
    m_run->report.finish(summary);
    reportWritten(m_run->report, summary, cause);
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
            QStringLiteral("格式不匹配：第 %1 个字符不是16进制数值").arg(parse.badOffset + 1));
        return;
    case HexStatus::Parsed:
        break;
    }
    const DecodedFrame direct = decodeFrame(parse.bytes, EncodingIndex);
    QStringList lines {QStringLiteral("直接播放：") + frameSummary(direct)};
    if (direct.problems.size() > 1) {
        QStringList all;
        for (const FrameProblem &problem : direct.problems)
            all << problem.message;
        lines << QStringLiteral("问题：") + all.join(QStringLiteral("；"));
    }
    const HexParse withHeader = headerPlayFrame(text, quint8(ui->Combo5->currentIndex()));
    if (withHeader.status == HexStatus::Parsed && direct.hasErrors())
        lines << QStringLiteral("添加命令头：") + frameSummary(decodeFrame(withHeader.bytes));
    ui->Text5Decode->setText(lines.join(u'\n'));
}
