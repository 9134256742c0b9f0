#include "timingchart.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

std::unique_ptr<TimingChart> loadTimingChart(const TimingChart::Texts &texts, QString *error)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates {
        programDir + QStringLiteral("/orv4120-chart"),   // the build
        programDir + QStringLiteral("/" ORV_MODULE_RELATIVE_DIR "/orv4120-chart"),   // installed
        QStringLiteral(ORV_MODULE_DIR "/orv4120-chart"),
    };
    QStringList reasons;
    for (const QString &path : candidates) {
        QLibrary module(path);
        const auto create =
            reinterpret_cast<CreateTimingChart>(module.resolve(ORV_TIMING_CHART_ENTRY));
        if (create)
            return std::unique_ptr<TimingChart>(create(texts));   // the module stays loaded
        reasons << module.errorString();
    }
    *error = reasons.join(QStringLiteral("; "));
    return nullptr;
}
