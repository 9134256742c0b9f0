#include "timingview.h"

#include "codes.h"
#include "language.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The model's words for a link, a speech's end and a problem, as the view shows them.
[[maybe_unused]] const char *const kRowWords[] = {QT_TRANSLATE_NOOP("TimingRows", "串口"),
    QT_TRANSLATE_NOOP("TimingRows", "停止"), QT_TRANSLATE_NOOP("TimingRows", "被新帧取代"),
    QT_TRANSLATE_NOOP("TimingRows", "待机"), QT_TRANSLATE_NOOP("TimingRows", "芯片重启"),
    QT_TRANSLATE_NOOP("TimingRows", "未结束"), QT_TRANSLATE_NOOP("TimingRows", "未发出"),
    QT_TRANSLATE_NOOP("TimingRows", "无应答"), QT_TRANSLATE_NOOP("TimingRows", "接收失败(45)"),
    QT_TRANSLATE_NOOP("TimingRows", "收据后无芯片应答"),
    QT_TRANSLATE_NOOP("TimingRows", "无状态应答"), QT_TRANSLATE_NOOP("TimingRows", "无版本文本"),
    QT_TRANSLATE_NOOP("TimingRows", "停止后无 4F"),
    QT_TRANSLATE_NOOP("TimingRows", "应答早于帧发完"),
    QT_TRANSLATE_NOOP("TimingRows", "无帧等待的应答"),
    QT_TRANSLATE_NOOP("TimingRows", "结束时仍在等待")};

// What an answer code means, for the English view: the work log names it in Chinese.
QString englishAnswerName(quint8 code)
{
    switch (code) {
    case Answer::Received:
        return QStringLiteral("received");
    case Answer::ReceiveFailed:
        return QStringLiteral("refused");
    case Answer::Initialised:
        return QStringLiteral("initialised");
    case Answer::Playing:
        return QStringLiteral("playing");
    case Answer::Idle:
        return QStringLiteral("idle");
    case Answer::VersionText:
        return QStringLiteral("version");
    case Answer::ReceivedWasIdle:
        return QStringLiteral("received, was idle");
    case Answer::ReceivedWasPaused:
        return QStringLiteral("received, was paused");
    case Answer::ReceivedWasPlaying:
        return QStringLiteral("received, was playing");
    case Answer::HardwarePlaying:
        return QStringLiteral("hardware: playing");
    default:
        return {};
    }
}

QString rowWord(const QString &word)
{
    return QCoreApplication::translate("TimingRows", word.toUtf8().constData());
}

// A row of the model (worded in Chinese, as the reports keep it) in the window's language.
TransactionRow inWindowLanguage(const TransactionRow &row)
{
    if (currentLanguage() == Language::Chinese)
        return row;
    TransactionRow shown = row;
    if (!row.frameBytes.isEmpty()) {
        shown.frame = frameSummary(
            decodeFrame(row.frameBytes, row.storeEncoding, Wording::English), Wording::English);
    }
    QStringList answers;
    for (QString item : row.answerItems) {   // each starts with its code's two hex digits
        bool ok = false;
        const QString name = englishAnswerName(quint8(item.left(2).toUInt(&ok, 16)));
        if (ok && !name.isEmpty())
            item.insert(2, u' ' + name);
        answers << item;
    }
    if (!answers.isEmpty())
        shown.answers = answers.join(QStringLiteral(", "));
    shown.link = rowWord(row.link);
    shown.speechEnd = rowWord(row.speechEnd);
    for (QString &problem : shown.problems)
        problem = rowWord(problem);
    return shown;
}

}   // namespace

int TimingRows::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TimingRows::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TimingRows::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const TransactionRow &row = m_rows[size_t(index.row())];
    if (role == Qt::TextAlignmentRole && (index.column() == Latency || index.column() == Speech))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(row.wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case LinkName:
        return row.link;
    case Frame:
        return row.frame.isEmpty() ? tr("（无帧）") : row.frame;
    case Answers:
        return row.answers;
    case Latency:
        return row.latencyUs < 0 ? QString() : QString::number(row.latencyUs / 1000.0, 'f', 1);
    case Speech:
        return row.speechUs < 0
            ? QString()
            : QString::number(row.speechUs / 1e6, 'f', 2) + u' ' + row.speechEnd;
    case Problems:
        return row.problems.join(tr("；"));
    default:
        return {};
    }
}

QVariant TimingRows::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const kHeaders[] = {QT_TR_NOOP("时间"), QT_TR_NOOP("连接"), QT_TR_NOOP("帧"),
        QT_TR_NOOP("应答"), QT_TR_NOOP("延迟 ms"), QT_TR_NOOP("播音 s"), QT_TR_NOOP("问题")};
    return section >= 0 && section < ColumnCount ? tr(kHeaders[section]) : QVariant();
}

void TimingRows::put(const QMap<quint64, TransactionRow> &rows)
{
    const auto byId = [](const TransactionRow &row, quint64 id) { return row.id < id; };
    auto it = rows.cbegin();
    // Rows already shown, or older ones that come late, go in where they belong by id.
    for (; it != rows.cend() && !m_rows.empty() && it.key() <= m_rows.back().id; ++it) {
        const quint64 id = it.key();
        if (id < m_rows.front().id)
            continue;   // older than every row kept
        const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), id, byId);
        const int index = int(at - m_rows.begin());
        if (at->id == id) {
            *at = it.value();
            emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
            continue;
        }
        beginInsertRows({}, index, index);
        m_rows.insert(at, it.value());
        endInsertRows();
    }
    // Newer frames: one insertion at the end.
    const int added = int(std::distance(it, rows.cend()));
    if (added > 0) {
        const int first = int(m_rows.size());
        beginInsertRows({}, first, first + added - 1);
        for (; it != rows.cend(); ++it)
            m_rows.push_back(it.value());
        endInsertRows();
    }
    const int excess = int(m_rows.size()) - kMaxRows;
    if (excess > 0) {
        beginRemoveRows({}, 0, excess - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + excess);
        endRemoveRows();
    }
}

void TimingRows::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

TimingView::TimingView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TimingView"));
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("TimingTable"));
    m_table->setAccessibleName(tr("每帧的时序"));
    m_table->setModel(&m_rows);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(TimingRows::Frame, 260);
    m_table->setColumnWidth(TimingRows::Answers, 180);
    m_table->setWordWrap(false);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("TimingSummary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setAccessibleName(tr("时序统计"));
    m_report = new QLabel(this);
    m_report->setObjectName(QStringLiteral("TimingReport"));
    m_report->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_report->setAccessibleName(tr("测试报告"));
    m_report->setWordWrap(true);

    auto *save = new QPushButton(tr("保存报告"), this);
    save->setObjectName(QStringLiteral("TimingSave"));
    auto *clear = new QPushButton(tr("清空时序"), this);
    clear->setObjectName(QStringLiteral("TimingClear"));
    auto *saveAs = new QPushButton(tr("另存报告…"), this);
    saveAs->setObjectName(QStringLiteral("TimingSaveAs"));
    connect(save, &QPushButton::clicked, this, [this] { emit saveRequested({}); });
    connect(saveAs, &QPushButton::clicked, this, &TimingView::chooseReportFolder);
    connect(clear, &QPushButton::clicked, this, &TimingView::clearRequested);

    // The table above; below it the chart, and beside the chart the counts, the last report and
    // the buttons.
    m_summary->setWordWrap(true);
    m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto *side = new QWidget(this);
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(m_summary);
    sideLayout->addWidget(m_report);
    sideLayout->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(save);
    buttons->addWidget(saveAs);
    buttons->addWidget(clear);
    buttons->addStretch(1);
    sideLayout->addLayout(buttons);
    auto *lower = new QWidget(this);
    m_lower = new QHBoxLayout(lower);
    m_lower->setContentsMargins(0, 0, 0, 0);
    m_lower->addWidget(side, 2);
    m_split = new QSplitter(Qt::Vertical, this);
    m_split->addWidget(m_table);
    m_split->addWidget(lower);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_split);

    m_refresh.setObjectName(QStringLiteral("TimingRefresh"));
    m_refresh.setInterval(kRefreshMs);
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &TimingView::refresh);
}

// The chart costs a graphics scene and its items: it is made when the view is first shown.
void TimingView::createChart()
{
    m_chartTried = true;
    QString error;
    m_chart =
        loadTimingChart({tr("延迟 ms"), tr("播音 s"), tr("时间 s"), tr("延迟和播音时间")}, &error);
    if (!m_chart) {
        auto *missing = new QLabel(tr("图表模块无法载入：%1").arg(error));
        missing->setObjectName(QStringLiteral("TimingChartMissing"));
        missing->setWordWrap(true);
        m_lower->insertWidget(0, missing, 3);
        return;
    }
    m_lower->insertWidget(0, m_chart->widget(), 3);
    m_chart->add(m_latencyPoints, m_speechPoints, m_lastS);
}

void TimingView::showEvent(QShowEvent *event)
{
    if (!m_chartTried)
        createChart();
    QWidget::showEvent(event);
}

void TimingView::setOrientation(Qt::Orientation orientation)
{
    m_split->setOrientation(orientation);
}

void TimingView::showRow(const TransactionRow &row)
{
    m_pending.insert(row.id, inWindowLanguage(row));
    if (!m_refresh.isActive())
        m_refresh.start();   // nothing wakes while no row comes
}

void TimingView::addRow(const TransactionRow &row)
{
    showRow(row);
    if (m_ended.size() >= kMaxPoints)
        m_ended.removeFirst();   // more than the chart keeps, within one refresh
    m_ended.append(row);
}

void TimingView::setSummary(const QString &summary)
{
    if (m_summary->text() != summary)
        m_summary->setText(summary);
}

// A folder of the operator's choice, for when the default one takes no report (full, read-only).
// The dialog is window-modal and asynchronous: the window's thread does not wait in it.
void TimingView::chooseReportFolder()
{
    auto *dialog = new QFileDialog(this, tr("测试报告保存到"));
    dialog->setObjectName(QStringLiteral("TimingSaveAsDialog"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this,
        [this](const QString &folder) { emit saveRequested(folder); });
    dialog->open();
}

void TimingView::setReport(const QString &report)
{
    m_report->setText(report);
}

void TimingView::clear()
{
    m_pending.clear();
    m_ended.clear();
    m_rows.clear();
    m_latencyPoints.clear();
    m_speechPoints.clear();
    m_startMs = -1;
    m_lastS = 0;
    if (m_chart)
        m_chart->clear();
}

// Everything that arrived since the last refresh goes in at once: one update of the table, one
// append per series; points beyond kMaxPoints leave from the start.
void TimingView::refresh()
{
    emit summaryWanted();
    if (m_pending.isEmpty())
        return;
    const QMap<quint64, TransactionRow> rows = std::exchange(m_pending, {});
    const QList<TransactionRow> ended = std::exchange(m_ended, {});
    const bool atBottom =
        m_table->verticalScrollBar()->value() == m_table->verticalScrollBar()->maximum();
    m_rows.put(rows);
    if (atBottom)
        m_table->scrollToBottom();
    if (ended.isEmpty())
        return;

    QList<QPointF> latency;
    QList<QPointF> speech;
    for (const TransactionRow &row : ended) {
        if (m_startMs < 0)
            m_startMs = row.wallMs;
        const double at = (row.wallMs - m_startMs) / 1000.0;
        m_lastS = qMax(m_lastS, at);
        if (row.latencyUs >= 0)
            latency.append({at, row.latencyUs / 1000.0});
        if (row.speechUs >= 0)
            speech.append({at, row.speechUs / 1e6});
    }
    const auto keep = [](QList<QPointF> &kept, const QList<QPointF> &points) {
        kept.append(points);
        const int excess = int(kept.size()) - kMaxPoints;
        if (excess > 0)
            kept.remove(0, excess);
    };
    keep(m_latencyPoints, latency);
    keep(m_speechPoints, speech);
    if (m_chart)
        m_chart->add(latency, speech, m_lastS);
}
