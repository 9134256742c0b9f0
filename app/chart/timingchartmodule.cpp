// The timing view's chart on Qt Charts, built as the module orv4120-chart.
#include "timingchart.h"

#include <QChart>
#include <QChartView>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>

namespace {

// A round marker drawn once and stamped at every point.
QImage marker(const QColor &color, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    return image;
}

class ChartsTimingChart final : public TimingChart
{
public:
    explicit ChartsTimingChart(const Texts &texts)
    {
        auto *chart = new QChart;
        chart->legend()->setAlignment(Qt::AlignTop);
        m_latency = new QLineSeries;
        m_latency->setName(texts.latency);
        m_speech = new QLineSeries;
        m_speech->setName(texts.speech);
        chart->addSeries(m_latency);
        chart->addSeries(m_speech);
        m_time = new QValueAxis;
        m_time->setTitleText(texts.time);
        m_time->setTickType(QValueAxis::TicksDynamic);
        m_latencyAxis = new QValueAxis;
        m_latencyAxis->setTitleText(texts.latency);
        // One decimal: labels of one digit leave the rotated title no room, and Qt elides it.
        m_latencyAxis->setLabelFormat(QStringLiteral("%.1f"));
        m_speechAxis = new QValueAxis;
        m_speechAxis->setTitleText(texts.speech);
        m_speechAxis->setLabelFormat(QStringLiteral("%.1f"));
        chart->addAxis(m_time, Qt::AlignBottom);
        chart->addAxis(m_latencyAxis, Qt::AlignLeft);
        chart->addAxis(m_speechAxis, Qt::AlignRight);
        m_latency->attachAxis(m_time);
        m_latency->attachAxis(m_latencyAxis);
        m_speech->attachAxis(m_time);
        m_speech->attachAxis(m_speechAxis);
        // Points only, each stamped from one image. A scatter series would keep a graphics item
        // per point: 2.5 KB each, and a refresh of a long run took 100 ms of the window's thread.
        for (QLineSeries *series : {m_latency, m_speech}) {
            const QColor color = series->color();
            series->setPointsVisible(true);
            series->setMarkerSize(7);
            series->setLightMarker(marker(color, 7));
            series->setPen(Qt::NoPen);
            for (QLegendMarker *legend : chart->legend()->markers(series)) {
                legend->setBrush(color);
                legend->setPen(Qt::NoPen);
            }
        }
        m_view = new QChartView(chart);
        m_view->setObjectName(QStringLiteral("TimingChart"));
        m_view->setAccessibleName(texts.accessibleName);
        m_view->setRenderHint(QPainter::Antialiasing, false);
        m_view->setMinimumSize(380, 200);   // room for both value axes' labels and titles
        clear();
    }

    QWidget *widget() override { return m_view; }

    void add(const QList<QPointF> &latency, const QList<QPointF> &speech, double last) override
    {
        keep(m_latency, latency, &m_maxLatency);
        keep(m_speech, speech, &m_maxSpeech);
        // An axis changes only when a point falls beyond it, and then by a quarter more than
        // needed: a change lays the whole chart out again, a point within the axes only draws
        // itself.
        if (last > m_time->max()) {
            double start = m_latency->count() ? m_latency->at(0).x() : last;
            if (m_speech->count())
                start = qMin(start, m_speech->at(0).x());
            fitTimeAxis(start, last);
        }
        if (m_maxLatency > m_latencyAxis->max()) {
            m_latencyAxis->setRange(0, m_maxLatency * 1.1);
            m_latencyAxis->applyNiceNumbers();
        }
        if (m_maxSpeech > m_speechAxis->max()) {
            m_speechAxis->setRange(0, m_maxSpeech * 1.1);
            m_speechAxis->applyNiceNumbers();
        }
    }

    void clear() override
    {
        m_latency->clear();
        m_speech->clear();
        m_maxLatency = m_maxSpeech = 1;
        fitTimeAxis(0, 0);
        for (QValueAxis *axis : {m_latencyAxis, m_speechAxis}) {
            axis->setRange(0, 1);
            axis->setTickCount(6);   // 0, 0.2 … 1: round values, as applyNiceNumbers() gives later
        }
    }

private:
    static void keep(QLineSeries *series, const QList<QPointF> &points, double *max)
    {
        if (points.isEmpty())
            return;
        for (const QPointF &point : points)
            *max = qMax(*max, point.y());
        series->append(points);
        const int excess = int(series->count()) - kMaxPoints;
        if (excess > 0)
            series->removePoints(0, excess);
    }

    // The time axis from start to a quarter beyond last (at least 10 s), its ticks at round values.
    void fitTimeAxis(double start, double last)
    {
        const double end = qMax(start + 10, last + (last - start) / 4);
        const double step = roundTickStep(end - start, 6);
        const double from = std::floor(start / step) * step;
        m_time->setRange(from, end);
        m_time->setTickAnchor(from);
        m_time->setTickInterval(step);
        // As many decimals as the step has: 2.5 s steps read 0, 2.5, 5, 7.5.
        int decimals = 0;
        while (decimals < 3) {
            const double scaled = step * std::pow(10.0, decimals);
            if (std::abs(scaled - std::round(scaled)) < 1e-9)
                break;
            ++decimals;
        }
        m_time->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    }

    QChartView *m_view = nullptr;
    QLineSeries *m_latency = nullptr;
    QLineSeries *m_speech = nullptr;
    QValueAxis *m_time = nullptr;
    QValueAxis *m_latencyAxis = nullptr;
    QValueAxis *m_speechAxis = nullptr;
    double m_maxLatency = 1;
    double m_maxSpeech = 1;
};

}   // namespace

extern "C" Q_DECL_EXPORT TimingChart *orv4120CreateTimingChart(const TimingChart::Texts &texts)
{
    return new ChartsTimingChart(texts);
}
