// Throughput of the reassembly and the cost of turning one result frame into its texts.
#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/results.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace dielmon;

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

// Every "$" announces a long frame whose end marker never matches.
std::vector<std::uint8_t> WorstCaseStream(std::size_t bytes) {
    std::vector<std::uint8_t> s;
    while (s.size() < bytes) {
        s.push_back(0x24);
        s.push_back(0x10);
        s.push_back(0xFF);
        for (int k = 0; k < 5; ++k) {
            s.push_back(0x11);
        }
    }
    return s;
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

void BM_ReassemblyRealistic(benchmark::State& state) {
    static const auto stream = RealisticStream(1 << 20);
    Reassemble(state, stream);
}
BENCHMARK(BM_ReassemblyRealistic)->Arg(64)->Arg(2048);

void BM_ReassemblyWorstCase(benchmark::State& state) {
    static const auto stream = WorstCaseStream(1 << 20);
    Reassemble(state, stream);
}
BENCHMARK(BM_ReassemblyWorstCase)->Arg(2048);

std::vector<std::uint8_t> SingleResult() {
    std::vector<std::uint8_t> p(46, 0);
    const float values[] = {10.0f, 0.0123f, 500, 500};
    for (int k = 0; k < 4; ++k) {
        FloatToBytes(values[k], &p[static_cast<std::size_t>(k) * 4]);
    }
    p[16] = 1;
    FloatToBytes(1.0f, &p[17]);
    FloatToBytes(0.3f, &p[21]);
    FloatToBytes(89.83f, &p[25]);
    FloatToBytes(0.0052f, &p[29]);
    FloatToBytes(0.0006f, &p[33]);
    return BuildFrame(RspFinalResult, p);
}

void BM_FinalResultTexts(benchmark::State& state) {
    const auto frame = SingleResult();
    const PanelSelection sel{"反接线", "内标准", "50Hz", "内高压", -1};
    for (auto _ : state) {
        FinalResultView v = ShowFinalResult(frame.data(), static_cast<int>(frame.size()), sel);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_FinalResultTexts);

} // namespace

BENCHMARK_MAIN();
