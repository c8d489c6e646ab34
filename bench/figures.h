// What every measuring program prints, and the statistics they share. Each figure goes to
// standard output as one tab-separated line that bench/run.sh gathers into the table:
//   FIGURE <tab> figure <tab> value <tab> target <tab> ok|MISS|info <tab> reference
// "info" marks a figure shown for understanding the others, with no target of its own.
// Everything else a program prints is its working, kept in the raw output.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace dielmon::bench {

using SteadyClock = std::chrono::steady_clock;

// The line the table is made from. `met` decides the verdict; the value and the target are
// already written the way a reader compares them.
inline void PrintFigure(const std::string& figure, const std::string& value,
                        const std::string& target, bool met, const std::string& reference) {
    std::printf("FIGURE\t%s\t%s\t%s\t%s\t%s\n", figure.c_str(), value.c_str(), target.c_str(),
                met ? "ok" : "MISS", reference.c_str());
    std::fflush(stdout);
}

inline void PrintInformation(const std::string& figure, const std::string& value,
                             const std::string& note, const std::string& reference) {
    std::printf("FIGURE\t%s\t%s\t%s\tinfo\t%s\n", figure.c_str(), value.c_str(), note.c_str(),
                reference.c_str());
    std::fflush(stdout);
}

// A figure that could not be measured at all counts as missed.
inline void PrintUnmeasured(const std::string& figure, const std::string& target,
                            const std::string& why) {
    PrintFigure(figure, "not measured", target, false, why);
}

inline double Median(std::vector<double> v) {
    if (v.empty()) {
        return std::nan("");
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The nearest-rank percentile: the smallest sample that at least p % of the samples do not
// exceed. With 300 samples p99 is the third largest.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return std::nan("");
    }
    std::sort(v.begin(), v.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

inline std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// Whole numbers with thousands separators, as the table prints counts and rates.
inline std::string Grouped(double v) {
    const long long n = std::llround(v);
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) {
            out += ',';
        }
        out += digits[k];
    }
    return n < 0 ? "-" + out : out;
}

// How many times each measurement is repeated; BENCH_RUNS overrides it for quick looks.
inline int Runs(int fallback) {
    if (const char* s = std::getenv("BENCH_RUNS")) {
        const int n = std::atoi(s);
        if (n > 0) {
            return n;
        }
    }
    return fallback;
}

inline double MillisecondsBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The 230400-baud line at 8N1: ten bits on the wire for every byte.
inline constexpr double kLineBytesPerSecond = 230400.0 / 10;
inline constexpr double kSlowLineBytesPerSecond = 9600.0 / 10;

} // namespace dielmon::bench
