#pragma once

#include "transactionstats.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <deque>

class QChartView;
class QLabel;
class QLineSeries;
class QTableView;
class QValueAxis;

// The rows of the timing view: the newest finished transactions, at most kMaxRows.
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

    void append(const QList<TransactionRow> &rows);
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
    static constexpr int kMaxPoints = 2000;
    static constexpr int kRefreshMs = 250;

    explicit TimingView(QWidget *parent = nullptr);

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

private:
    void refresh();
    void chooseReportFolder();

    TimingRows m_rows;
    QTableView *m_table = nullptr;
    QChartView *m_chart = nullptr;
    QLineSeries *m_latency = nullptr;
    QLineSeries *m_speech = nullptr;
    QValueAxis *m_time = nullptr;
    QValueAxis *m_latencyAxis = nullptr;
    QValueAxis *m_speechAxis = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_report = nullptr;
    QList<TransactionRow> m_pending;
    QTimer m_refresh;
    qint64 m_startMs = -1;   // wall time of the first row: the chart's zero
    double m_maxLatencyMs = 1;
    double m_maxSpeechS = 1;
};
