#include "timingchart.h"

#include "modules.h"

std::unique_ptr<TimingChart> loadTimingChart(const TimingChart::Texts &texts, QString *error)
{
    const auto create = reinterpret_cast<CreateTimingChart>(
        resolveModuleEntry(QStringLiteral("orv4120-chart"), ORV_TIMING_CHART_ENTRY, error));
    return create ? std::unique_ptr<TimingChart>(create(texts)) : nullptr;
}
