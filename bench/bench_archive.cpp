// The result archive on a file on disk:
//   archiving one result: each Add, a transaction committed before it returns, timed alone;
//     the 99th percentile of 1,000, 10 ms apart (a test takes seconds at the least), into an
//     archive that already holds results;
//   an archive of 100,000 results (1,000 specimens of 100 results over ten years, in three
//   wiring modes): opening it; the first page of its list as the window shows it (the count
//   and the newest 100 rows); a specimen filter (count and first page) by the exact name the
//   window's chooser gives and by a part of a name; one specimen's trend (its series and the
//   points of one); the CSV export of all of it.
// References measured in the same run: the same archiving flat out, one result right after the
// other (the log's copy-back into the file then competes with the commits for the disk), and
// with every commit waiting for the disk (SyncEveryCommit); the disk's own fsync; an empty
// archive opened.
//
//   bench_archive [FOLDER]   (the archives are made in a temporary folder under FOLDER, by
//                             default the current one, so that they lie on that disk)
#include "archive/archive.h"
#include "archive/export.h"
#include "archive_results.h"
#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"
#include "figures.h"
#include "sim/payloads.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <linux/magic.h>
#include <random>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::archive;
using bench::kResults;
using bench::kSpecimens;
using bench::Made;
using bench::SpecimenName;
using bench::SteadyClock;
namespace fs = std::filesystem;

namespace {

double Ms(SteadyClock::time_point a, SteadyClock::time_point b) {
    return bench::MillisecondsBetween(a, b);
}

std::unique_ptr<Archive> OpenOrDie(const std::string& path, const OpenOptions& o = {}) {
    Opened opened = Archive::Open(path, o);
    if (!opened.Store) {
        std::cerr << opened.Error << "\n";
        std::exit(1);
    }
    return std::move(opened.Store);
}

// Milliseconds of each of `n` results archived one after the other, `pause` apart.
std::vector<double> Archiving(const std::string& path, int n, bool sync, std::mt19937& random,
                              std::chrono::milliseconds pause = {}) {
    OpenOptions o;
    o.SyncEveryCommit = sync;
    auto a = OpenOrDie(path, o);
    std::vector<double> times;
    for (int k = 0; k < n; ++k) {
        const Result r = Made(k, random);
        const auto t0 = SteadyClock::now();
        const Added added = a->Add(r);
        times.push_back(Ms(t0, SteadyClock::now()));
        if (!added.Ok()) {
            std::cerr << added.Error << "\n";
            std::exit(1);
        }
        std::this_thread::sleep_for(pause);
    }
    return times;
}

std::vector<double> Fsyncs(const std::string& folder, int n) {
    const std::string path = folder + "/fsync-probe";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<double> times;
    const std::string block(4096, 'x');
    for (int k = 0; k < n && fd >= 0; ++k) {
        if (::write(fd, block.data(), block.size()) < 0) {
            break;
        }
        const auto t0 = SteadyClock::now();
        ::fsync(fd);
        times.push_back(Ms(t0, SteadyClock::now()));
    }
    ::close(fd);
    ::unlink(path.c_str());
    return times;
}

// The median over runs of how long `work` takes.
template <typename Work>
double Timed(int runs, Work work) {
    std::vector<double> times;
    for (int k = 0; k < runs; ++k) {
        const auto t0 = SteadyClock::now();
        work();
        times.push_back(Ms(t0, SteadyClock::now()));
    }
    return bench::Median(times);
}

std::string MsText(double ms) {
    return ms < 10 ? bench::Fixed(ms, 2) + " ms" : bench::Fixed(ms, 1) + " ms";
}

} // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    std::string pattern = (base / "bench-archive-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "no folder under " << base << "\n";
        return 1;
    }
    const std::string folder = pattern;
    struct statfs fsInfo {};
    const bool tmpfs = ::statfs(folder.c_str(), &fsInfo) == 0 && fsInfo.f_type == TMPFS_MAGIC;
    const std::string where = tmpfs ? " (MEMORY, not a disk: tmpfs)" : "";
    std::mt19937 random(14);
    const int runs = bench::Runs(3);

    // Archiving one result, into an archive of 1,000 results already.
    {
        const std::string path = folder + "/one.db";
        const std::vector<double> flat = Archiving(path, 1000, false, random);
        const std::vector<double> paced =
            Archiving(path, 1000, false, random, std::chrono::milliseconds(10));
        const std::vector<double> synced =
            Archiving(folder + "/synced.db", 300, true, random, std::chrono::milliseconds(10));
        const std::vector<double> fsyncs = Fsyncs(folder, 100);
        const double p99 = bench::Percentile(paced, 99);
        bench::PrintFigure(
            "Archiving one result, p99 (file on disk)", MsText(p99), "≤ 2 ms", p99 <= 2,
            "median " + MsText(bench::Median(paced)) +
                ", 1,000 results 10 ms apart; flat out: p50 " + MsText(bench::Median(flat)) +
                " / p99 " + MsText(bench::Percentile(flat, 99)) +
                "; each commit waiting for the disk (SyncEveryCommit): p50 " +
                MsText(bench::Median(synced)) + " / p99 " + MsText(bench::Percentile(synced, 99)) +
                "; the disk's fsync alone: p50 " + MsText(bench::Median(fsyncs)) + " / p99 " +
                MsText(bench::Percentile(fsyncs, 99)) + where);
    }

    // The large archive.
    const std::string big = folder + "/Archive.db";
    {
        const auto t0 = SteadyClock::now();
        auto a = OpenOrDie(big);
        for (int k = 0; k < kResults; ++k) {
            if (!a->Add(Made(k, random)).Ok()) {
                std::cerr << "archiving failed\n";
                return 1;
            }
        }
        std::cout << "made " << kResults << " results in " << Ms(t0, SteadyClock::now()) / 1000
                  << " s, file " << fs::file_size(big) / 1048576.0 << " MiB\n";
    }
    const double emptyOpen = Timed(runs, [&] { OpenOrDie(folder + "/empty.db"); });
    const double bigOpen = Timed(runs, [&] { OpenOrDie(big); });
    bench::PrintFigure("Opening a 100,000-result archive", MsText(bigOpen), "≤ 50 ms",
                       bigOpen <= 50, "an empty archive " + MsText(emptyOpen) + where);

    auto a = OpenOrDie(big);
    auto firstPage = [&](const Filter& f) {
        const auto count = a->Count(f);
        const auto page = a->List(f, std::nullopt, 100);
        if (!count.Ok() || !page.Ok() || page.Value.empty()) {
            std::cerr << "listing failed\n";
            std::exit(1);
        }
    };
    const double page = Timed(runs, [&] { firstPage({}); });
    std::optional<Cursor> after;
    const double deep = Timed(runs, [&] {
        // The 500th page, reached by its cursor as a window scrolling down reaches it.
        const auto rows = a->List({}, after, 100);
        after = CursorAfter(rows.Value.back());
    });
    bench::PrintFigure("List of 100,000 results, count and first page of 100", MsText(page),
                       "≤ 20 ms", page <= 20,
                       "each further page of 100 by its cursor " + MsText(deep));

    Filter exact;
    exact.Specimen = SpecimenName(417);
    exact.ExactSpecimen = true;
    const double exactMs = Timed(runs, [&] { firstPage(exact); });
    Filter part;
    part.Specimen = "主变139";
    const double partMs = Timed(runs, [&] { firstPage(part); });
    bench::PrintFigure("Specimen filter over 100,000, by name", MsText(exactMs), "≤ 50 ms",
                       exactMs <= 50, "count and first page; 100 results match");
    bench::PrintFigure("Specimen filter over 100,000, by part of a name", MsText(partMs), "≤ 50 ms",
                       partMs <= 50, "count and first page; 300 results match");

    const double trend = Timed(runs, [&] {
        const auto series = a->SeriesOf(SpecimenName(417));
        const auto points = a->Trend(SpecimenName(417), series.Value.at(0));
        if (points.Value.size() != 100) {
            std::cerr << "trend has " << points.Value.size() << " points\n";
            std::exit(1);
        }
    });
    bench::PrintFigure("One specimen's trend in 100,000", MsText(trend), "≤ 20 ms", trend <= 20,
                       "its series and the 100 points of one");

    std::uintmax_t bytes = 0;
    const double csv = Timed(std::min(runs, 3), [&] {
        const std::string out = folder + "/export.csv";
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        if (!ExportCsv(*a, {}, file).empty()) {
            std::cerr << "export failed\n";
            std::exit(1);
        }
        file.close();
        bytes = fs::file_size(out);
    });
    bench::PrintFigure(
        "CSV export of 100,000 results", bench::Fixed(csv / 1000, 2) + " s", "≤ 2 s", csv <= 2000,
        bench::Fixed(static_cast<double>(bytes) / 1048576.0, 1) + " MiB written to the same disk");

    a.reset();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
