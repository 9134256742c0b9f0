#pragma once

#include "timingchart.h"
#include "transactionstats.h"

#include <QAbstractTableModel>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <deque>

class QHBoxLayout;
class QLabel;
class QSplitter;
class QTableView;

// The rows of the timing view, in the order their frames were sent (by transaction id): a row
// appears when its frame is sent and is filled in as its answers arrive; the newest kMaxRows stay.
class TimingRows : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kMaxRows = 5000;
    enum Column { Time, LinkName, Frame, Answers, Latency, Speech, Problems, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Puts rows in by id: a known id is replaced where it stands, a new one goes in by send order.
    // Ids older than every row kept (trimmed away) are dropped.
    void put(const QMap<quint64, TransactionRow> &rows);
    void clear();

private:
    std::deque<TransactionRow> m_rows;
};

// The chip's timing beside the work log: one row per frame (what it was, its answers, latency and
// speech time), a chart of latency and speech time over the run, the counts so far and the last
// soak report. Rows arrive one by one and are shown in batches a few times a second.
class TimingView : public QWidget
{
    Q_OBJECT
public:
    // Points kept per series in the chart.
    static constexpr int kMaxPoints = TimingChart::kMaxPoints;
    static constexpr int kRefreshMs = 250;

    explicit TimingView(QWidget *parent = nullptr);

    // Vertical: the table above the chart (a view beside the controls or on its own); horizontal:
    // the table beside the chart (a view below the controls, where height is short).
    void setOrientation(Qt::Orientation orientation);
    // A frame's row as it stands while its answers come.
    void showRow(const TransactionRow &row);
    // A frame's row once it has ended; its latency and speech time enter the chart.
    void addRow(const TransactionRow &row);
    void setSummary(const QString &summary);
    void setReport(const QString &report);
    void clear();
    const TimingRows &rows() const { return m_rows; }

signals:
    // The report into the default folder, or (empty: the default) into one the operator picks.
    void saveRequested(const QString &folder);
    void clearRequested();
    // Asks for the summary of the counts so far, at each refresh.
    void summaryWanted();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void chooseReportFolder();
    void createChart();

    TimingRows m_rows;
    QTableView *m_table = nullptr;
    QSplitter *m_split = nullptr;
    QHBoxLayout *m_lower = nullptr;   // the chart's place, beside the counts
    std::unique_ptr<TimingChart> m_chart;   // made when the view is first shown
    bool m_chartTried = false;
    QLabel *m_summary = nullptr;
    QLabel *m_report = nullptr;
    QMap<quint64, TransactionRow> m_pending;   // rows changed since the last refresh, by id
    QList<TransactionRow> m_ended;   // rows ended since the last refresh
    // The chart's points, kept while the chart does not exist yet (it is made when the view is
    // first shown).
    QList<QPointF> m_latencyPoints;
    QList<QPointF> m_speechPoints;
    QTimer m_refresh;
    qint64 m_startMs = -1;   // wall time of the first row: the chart's zero
    double m_lastS = 0;   // the newest ended frame, seconds after the first
};
