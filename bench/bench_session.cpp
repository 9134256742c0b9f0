// Links tts_session. What pairing an answer with its frame costs: the model's bookkeeping, the
// frame's decoding into its row and the row kept in the ring of recent rows; and one row
// streamed into a soak report on disk.
#include "frame.h"
#include "link.h"
#include "soakreport.h"
#include "transactions.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class BenchLink : public Link
{
public:
    bool isOpen() const override { return true; }
    QString errorString() const override { return {}; }
    int maxTextBytes() const override { return 4091; }
    qint64 wireTime(qint64 bytes) const override { return bytes * 87; }   // 115200 baud
    void send(const QByteArray &) override { }
    void reset() override { }
};

// A serial frame and its answers, 1 ms apart on the model's clock.
void pairSerial(benchmark::State &state, const QByteArray &frame, const QList<QByteArray> &answers)
{
    BenchLink link;
    LinkTime now = 0;
    TransactionModel model([&now] { return now; });
    AnswerReader reader(&link, AnswerRule::SerialCharacters, [&now] { return now; });
    model.addLink(&reader, QStringLiteral("/dev/ttyUSB0"));
    for (auto _ : state) {
        model.frameSent(frame, &link, now);
        model.frameWritten(&link, {frame.size(), now, now + link.wireTime(frame.size())});
        for (const QByteArray &answer : answers) {
            now += 1000;
            reader.receive(answer, now);
        }
    }
    state.SetItemsProcessed(state.iterations() * answers.size());
}

void BM_PairStopAnswer(benchmark::State &state)
{
    pairSerial(state, commandFrame(Command::Stop), {"A"});
}
BENCHMARK(BM_PairStopAnswer);

void BM_PairSynthesisAnswers(benchmark::State &state)
{
    const QByteArray text = QByteArray("\xbb\xb6\xd3\xad").repeated(30);   // 欢迎, 120 bytes
    pairSerial(state, synthesisFrame(1, text), {"A", "O"});
}
BENCHMARK(BM_PairSynthesisAnswers);

void BM_PairUsbStatusAnswers(benchmark::State &state)
{
    BenchLink link;
    LinkTime now = 0;
    TransactionModel model([&now] { return now; });
    AnswerReader reader(&link, AnswerRule::UsbReports, [&now] { return now; });
    model.addLink(&reader, QStringLiteral("usb:/dev/hidraw0"));
    const QByteArray frame = commandFrame(Command::StatusQuery);
    QList<QByteArray> reports;
    for (quint8 code : {0x5E, 0xAA, 0x41, 0x4F}) {
        QByteArray report(33, '\0');
        report[1] = char(code);
        reports << report;
    }
    for (auto _ : state) {
        model.frameSent(frame, &link, now);
        model.frameWritten(&link, {frame.size(), now, now});
        for (const QByteArray &report : reports)
            reader.receive(report, now += 1000);
    }
    state.SetItemsProcessed(state.iterations() * 3);   // 0x5E is no answer
}
BENCHMARK(BM_PairUsbStatusAnswers);

void BM_UnsolicitedAnswer(benchmark::State &state)
{
    BenchLink link;
    LinkTime now = 0;
    TransactionModel model([&now] { return now; });
    AnswerReader reader(&link, AnswerRule::SerialCharacters, [&now] { return now; });
    model.addLink(&reader, QStringLiteral("/dev/ttyUSB0"));
    for (auto _ : state)
        reader.receive("O", now += 1000);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnsolicitedAnswer);

void BM_ReportRowToDisk(benchmark::State &state)
{
    QTemporaryDir dir;
    SoakReport report;
    if (!report.start(dir.path())) {
        state.SkipWithError("no report file");
        return;
    }
    TransactionRow row;
    row.wallMs = 1'800'000'000'000;
    row.link = QStringLiteral("/dev/ttyUSB0");
    row.frame = QStringLiteral("合成 GBK 120 字节：欢迎欢迎欢迎欢迎欢迎欢迎欢迎欢迎欢迎欢迎…");
    row.answers = QStringLiteral("41 +4.12 ms, 4F +2.315 s");
    row.latencyUs = 4120;
    row.speechUs = 2311000;
    row.speechEnd = QStringLiteral("4F");
    for (auto _ : state)
        report.addRow(row);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportRowToDisk);

}   // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);   // the model's deadline timer needs an event dispatcher
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
