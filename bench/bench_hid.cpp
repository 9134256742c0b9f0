// Links: tts_hid
#include "hidlink.h"
#include "hidreports.h"

#include <benchmark/benchmark.h>

namespace {

// A system without HID devices.
class NoDevices final : public HidApi
{
public:
    QList<HidDeviceInfo> enumerate() override { return {}; }
    HidDevice *open(const QByteArray &) override { return nullptr; }
    void close(HidDevice *) override { }
    bool attributes(HidDevice *, quint16 *, quint16 *) override { return false; }
    bool reportLengths(HidDevice *, int *, int *) override { return false; }
    int write(HidDevice *, const QByteArray &) override { return -1; }
    int read(HidDevice *, QByteArray *, int, int) override { return -1; }
    QString lastError() const override { return {}; }
};

// Timer2 polls every millisecond whether or not a board is found.
void pollWithoutBoard(benchmark::State &state)
{
    NoDevices api;
    HidLink link(api);
    for (auto _ : state)
        link.poll();
}
BENCHMARK(pollWithoutBoard);

// The largest USB synthesis frame: 16 full reports and the closing one.
void cutLargestFrame(benchmark::State &state)
{
    const QByteArray frame(517, '\x5a');
    for (auto _ : state)
        benchmark::DoNotOptimize(hidReports(frame, 516));
}
BENCHMARK(cutLargestFrame);

}   // namespace

BENCHMARK_MAIN();
