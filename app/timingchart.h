#pragma once

#include <QList>
#include <QPointF>
#include <QString>

#include <cmath>
#include <memory>

class QWidget;

// The timing view's chart: latency (ms) and speech time (s) of each frame over the run (s since
// the first frame). It lives in a module of its own, orv4120-chart, so that Qt Charts and the
// OpenGL libraries it pulls in are loaded only when the view is first shown.
class TimingChart
{
public:
    // Points kept per series.
    static constexpr int kMaxPoints = 2000;

    struct Texts
    {
        QString latency;   // series and axis name of the latency, "延迟 ms"
        QString speech;   // of the speech time, "播音 s"
        QString time;   // the time axis, "时间 s"
        QString accessibleName;
    };

    virtual ~TimingChart() = default;
    // The chart's widget; its parent owns it once it is put in a layout.
    virtual QWidget *widget() = 0;
    // Adds points; the oldest leave beyond kMaxPoints. last: the time of the newest frame.
    virtual void add(const QList<QPointF> &latency, const QList<QPointF> &speech, double last) = 0;
    virtual void clear() = 0;
};

// The module's one entry point.
using CreateTimingChart = TimingChart *(*)(const TimingChart::Texts &texts);
#define ORV_TIMING_CHART_ENTRY "orv4120CreateTimingChart"

// Loads the module (beside the program, else where the package installs it) and makes a chart;
// null with *error saying why.
std::unique_ptr<TimingChart> loadTimingChart(const TimingChart::Texts &texts, QString *error);

// A step of 1, 2, 2.5 or 5 times a power of ten that cuts span into at most about ticks parts.
inline double roundTickStep(double span, int ticks)
{
    if (!(span > 0) || ticks < 1)
        return 1;
    const double rough = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10 * power;
}
