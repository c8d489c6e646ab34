// Throughput of the reassembly and the cost of turning one result frame, or one stored record,
// into its texts. Every figure is the median of several repetitions (BENCH_RUNS, default 5) and
// is printed beside a baseline measured in the same run: a plain copy of the same stream for
// the reassembly, one "%.3f" formatting for the texts. Times are processor time of the
// benchmark thread, so that a machine shared with other work disturbs them less.
#include "core/frame.h"
#include "core/helpers.h"
#include "core/panel.h"
#include "core/responses.h"
#include "core/results.h"
#include "core/texts.h"
#include "figures.h"
#include "sim/payloads.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace dielmon;
namespace sim = dielmon::sim;

namespace {

struct Count : FrameSink {
    std::uint64_t frames = 0;
    void FrameReady(const std::uint8_t*, int n) override { frames += static_cast<unsigned>(n); }
};

// Frames of every payload size with a little noise between some of them, as a line carries.
std::vector<std::uint8_t> RealisticStream(std::size_t bytes) {
    std::mt19937 rng(7);
    std::vector<std::uint8_t> s;
    int n = 0;
    while (s.size() < bytes) {
        std::vector<std::uint8_t> payload(static_cast<std::size_t>(n));
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(rng());
        }
        const auto f = BuildFrame(0x4C, payload);
        s.insert(s.end(), f.begin(), f.end());
        if (rng() % 8 == 0) {
            s.push_back(0x00);
            s.push_back(0x55);
        }
        n = (n + 1) % 256;
    }
    return s;
}

// Every third byte is a "$" announcing the longest frame, and the byte where its end marker
// must stand never is one: every candidate is examined, and the last 259 bytes of each chunk
// wait for the next one and are scanned again.
std::vector<std::uint8_t> WorstCaseStream(std::size_t bytes) {
    std::vector<std::uint8_t> s;
    while (s.size() < bytes) {
        s.push_back(kFrameStart);
        s.push_back(0x10);
        s.push_back(0xFF);
    }
    return s;
}

const std::vector<std::uint8_t>& Realistic() {
    static const auto stream = RealisticStream(1 << 20);
    return stream;
}

const std::vector<std::uint8_t>& WorstCase() {
    static const auto stream = WorstCaseStream(1 << 20);
    return stream;
}

void Reassemble(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    const int chunk = static_cast<int>(state.range(0));
    Reassembler r;
    Count sink;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += static_cast<std::size_t>(chunk)) {
            const int n = static_cast<int>(std::min<std::size_t>(chunk, stream.size() - at));
            r.Feed(stream.data() + at, n, sink);
        }
    }
    benchmark::DoNotOptimize(sink.frames);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

// The same chunks copied into a receive-sized buffer and nothing else: what the machine does
// at this moment for the least possible work per byte.
void Copy(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    static std::uint8_t buffer[kRecvBufSize];
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            std::memcpy(buffer, stream.data() + at, n);
            benchmark::ClobberMemory();
        }
    }
    benchmark::DoNotOptimize(buffer);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

// 2048 bytes is what one read of the port delivers at most, 64 a trickle of small reads.
void BM_ReassemblyRealistic(benchmark::State& state) {
    Reassemble(state, Realistic());
}
BENCHMARK(BM_ReassemblyRealistic)->Arg(2048)->Arg(64);

void BM_ReassemblyWorstCase(benchmark::State& state) {
    Reassemble(state, WorstCase());
}
BENCHMARK(BM_ReassemblyWorstCase)->Arg(2048)->Arg(64);

void BM_CopyBaseline(benchmark::State& state) {
    Copy(state, Realistic());
}
BENCHMARK(BM_CopyBaseline)->Arg(2048)->Arg(64);

// Values as a bushing, a shielded specimen, a CVT, a ratio and four channels give them.
constexpr sim::DateStamp kDate{16, 3, 24, 15, 34, 0};

sim::Measurement Values(LayoutKind kind) {
    switch (kind) {
    case LayoutKind::SingleLayout: {
        sim::SingleResult v;
        v = {10.0F, 0.00314F, 500, 500, 1, 1.0F, 0.30F, 89.83F, 0.0052F, 0.0006F};
        return v;
    }
    case LayoutKind::ShieldedLayout:
        return sim::ShieldedResult{10.0F, 0.0069F, 0.0025F, 500, 500, 2.2F, 0.35F, 0.8F, 0.50F};
    case LayoutKind::CvtLayout:
        return sim::CvtResult{2.0F, 0.4F, 0.0063F, 0.0063F, 500, 500, 10.0F, 0.08F, 50.0F, 0.10F};
    case LayoutKind::RatioLayout:
        return sim::RatioResult{10.0F, 0.0091F, 500, 500, 0.05F, 1100.0F, 10.0F, 0.08F, 0.0314F};
    case LayoutKind::MultiLayout:
        return sim::MultiResult{
            4, {1.0F, 1.2F, 0.85F, 1.1F}, {0.30F, 0.35F, 0.28F, 0.40F}, {10, 10, 10, 10}, 500, 500};
    }
    return {};
}

// The panel selections that choose each layout. The texts come from the core, which keeps them
// as the GBK bytes the panel holds.
PanelSelection SelectionFor(LayoutKind kind) {
    auto sel = [](int mode, int model) {
        return PanelSelection{IndexToWiringMode(mode), texts::kInternalStandard, "50Hz",
                              texts::kInternalHighVoltage, model};
    };
    switch (kind) {
    case LayoutKind::SingleLayout:
        return sel(2, -1);
    case LayoutKind::ShieldedLayout:
        return sel(3, -1);
    case LayoutKind::CvtLayout:
        return sel(4, -1);
    case LayoutKind::RatioLayout:
        return sel(5, -1);
    case LayoutKind::MultiLayout:
        return sel(1, 3);
    }
    return {};
}

std::vector<std::uint8_t> FinalFrame(LayoutKind kind) {
    return BuildFrame(RspFinalResult, sim::EncodeFinalResult({Values(kind), kDate}));
}

std::vector<std::uint8_t> RecordFrame(LayoutKind kind) {
    sim::StoredRecord record;
    record.Header.WiringMode = kind == LayoutKind::MultiLayout ? 1 : 3;
    record.Data = {Values(kind), kDate};
    return BuildFrame(sim::StoredRecordCode(record.Data.Values), sim::EncodeStoredRecord(record));
}

void BM_FinalResult(benchmark::State& state) {
    const auto kind = static_cast<LayoutKind>(state.range(0));
    const auto frame = FinalFrame(kind);
    const PanelSelection sel = SelectionFor(kind);
    if (FinalLayoutFor(sel).Kind != kind) {
        state.SkipWithError("the panel selection does not choose this layout");
        return;
    }
    for (auto _ : state) {
        FinalResultView v = ShowFinalResult(frame.data(), static_cast<int>(frame.size()), sel);
        benchmark::DoNotOptimize(v);
    }
}

void BM_StoredRecord(benchmark::State& state) {
    const auto kind = static_cast<LayoutKind>(state.range(0));
    const auto frame = RecordFrame(kind);
    for (auto _ : state) {
        StoredRecordView v =
            ShowStoredRecord(frame[1], frame.data(), static_cast<int>(frame.size()));
        benchmark::DoNotOptimize(v);
    }
}

constexpr LayoutKind kLayouts[] = {LayoutKind::SingleLayout, LayoutKind::ShieldedLayout,
                                   LayoutKind::CvtLayout, LayoutKind::RatioLayout,
                                   LayoutKind::MultiLayout};
const char* const kLayoutNames[] = {"single", "shielded", "CVT", "ratio", "4-channel"};

void LayoutArgs(benchmark::internal::Benchmark* b) {
    for (LayoutKind k : kLayouts) {
        b->Arg(static_cast<int>(k));
    }
    b->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_FinalResult)->Apply(LayoutArgs);
BENCHMARK(BM_StoredRecord)->Apply(LayoutArgs);

// One value formatted the way the texts format theirs, for scale.
void BM_FormatBaseline(benchmark::State& state) {
    double v = 0.0123;
    for (auto _ : state) {
        std::string s = Format("%.3f", v);
        benchmark::DoNotOptimize(s);
        v += 1e-9;
    }
}
BENCHMARK(BM_FormatBaseline)->Unit(benchmark::kMicrosecond);

// Keeps the median of every benchmark while the console reporter prints as usual.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    struct Median {
        double cpuTime = 0; // in the benchmark's unit
        double bytesPerSecond = 0;
        bool failed = false;
    };
    std::map<std::string, Median> medians;

    // Plain text: the output is kept in a file beside the table.
    MedianCollector() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!single && !median) {
                continue;
            }
            Median m;
            m.failed = r.error_occurred;
            m.cpuTime = r.GetAdjustedCPUTime();
            if (const auto it = r.counters.find("bytes_per_second"); it != r.counters.end()) {
                m.bytesPerSecond = it->second.value;
            }
            medians[r.run_name.str()] = m;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string Mb(double bytesPerSecond) {
    return bench::Fixed(bytesPerSecond / 1e6, 0) + " MB/s";
}

void ThroughputFigure(const MedianCollector& c, const std::string& figure, const char* name,
                      int chunk, double target) {
    const std::string key = std::string(name) + "/" + std::to_string(chunk);
    const std::string copyKey = "BM_CopyBaseline/" + std::to_string(chunk);
    const std::string targetText = "≥ " + bench::Fixed(target / 1e6, 0) + " MB/s";
    const auto it = c.medians.find(key);
    if (it == c.medians.end() || it->second.failed) {
        bench::PrintUnmeasured(figure, targetText, "benchmark " + key + " did not run");
        return;
    }
    const double rate = it->second.bytesPerSecond;
    std::string reference = bench::Grouped(rate / bench::kLineBytesPerSecond) +
                            "× the 230400-baud line (" +
                            bench::Grouped(rate / bench::kSlowLineBytesPerSecond) + "× 9600)";
    if (const auto copy = c.medians.find(copyKey); copy != c.medians.end()) {
        reference += "; plain copy " + Mb(copy->second.bytesPerSecond);
    }
    bench::PrintFigure(figure, Mb(rate), targetText, rate >= target, reference);
}

void TimeFigure(const MedianCollector& c, const std::string& figure, const std::string& key,
                double targetUs) {
    const std::string targetText = "< " + bench::Fixed(targetUs, 0) + " µs";
    const auto it = c.medians.find(key);
    if (it == c.medians.end() || it->second.failed) {
        bench::PrintUnmeasured(figure, targetText, "benchmark " + key + " did not run");
        return;
    }
    std::string reference;
    if (const auto base = c.medians.find("BM_FormatBaseline"); base != c.medians.end()) {
        reference = "one %.3f value " + bench::Fixed(base->second.cpuTime, 3) + " µs";
    }
    bench::PrintFigure(figure, bench::Fixed(it->second.cpuTime, 2) + " µs", targetText,
                       it->second.cpuTime < targetUs, reference);
}

} // namespace

int main(int argc, char** argv) {
    // Repetitions for the medians and short runs, unless the command line says otherwise.
    const std::string repetitions = "--benchmark_repetitions=" + std::to_string(bench::Runs(5));
    std::vector<std::string> defaults = {repetitions, "--benchmark_min_time=0.1",
                                         "--benchmark_report_aggregates_only=true",
                                         "--benchmark_color=false"};
    std::vector<char*> args;
    args.push_back(argv[0]);
    for (std::string& d : defaults) {
        args.push_back(d.data());
    }
    for (int k = 1; k < argc; ++k) {
        args.push_back(argv[k]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 2;
    }
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    constexpr double kRealisticTarget = 500e6;
    constexpr double kWorstTarget = 50e6;
    ThroughputFigure(collector, "Reassembly, valid frames + noise, 2048-byte reads",
                     "BM_ReassemblyRealistic", 2048, kRealisticTarget);
    ThroughputFigure(collector, "Reassembly, valid frames + noise, 64-byte reads",
                     "BM_ReassemblyRealistic", 64, kRealisticTarget);
    ThroughputFigure(collector, "Reassembly, worst case, 2048-byte reads", "BM_ReassemblyWorstCase",
                     2048, kWorstTarget);
    ThroughputFigure(collector, "Reassembly, worst case, 64-byte reads", "BM_ReassemblyWorstCase",
                     64, kWorstTarget);
    for (std::size_t k = 0; k < std::size(kLayouts); ++k) {
        const std::string arg = std::to_string(static_cast<int>(kLayouts[k]));
        TimeFigure(collector, std::string("Final result, ") + kLayoutNames[k] + " layout",
                   "BM_FinalResult/" + arg, 20);
    }
    for (std::size_t k = 0; k < std::size(kLayouts); ++k) {
        const std::string arg = std::to_string(static_cast<int>(kLayouts[k]));
        TimeFigure(collector, std::string("Stored record, ") + kLayoutNames[k] + " layout",
                   "BM_StoredRecord/" + arg, 20);
    }
    return 0;
}
