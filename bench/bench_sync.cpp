// The lab synchronisation against a PostgreSQL server of its own on this machine (initdb and
// pg_ctl of Debian's package, a Unix socket, every commit waiting for the disk as on a lab's
// server):
//   pushing 10,000 results: one synchronisation of an archive of 10,000 results with an empty
//     database, the median of BENCH_RUNS runs (each into a fresh database);
// references measured in the same run: pulling the same 10,000 into an empty archive, a
// synchronisation with nothing to do, and the rate in results per second.
//
//   bench_sync [FOLDER]   (the archive is made in a temporary folder under FOLDER, by default
//                          the current one, so that it lies on that disk)
#include "archive/archive.h"
#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"
#include "figures.h"
#include "sim/payloads.h"
#include "support/postgres.h"
#include "sync/engine.h"

#include <filesystem>
#include <iostream>
#include <linux/magic.h>
#include <random>
#include <sys/vfs.h>

using namespace dielmon;
using namespace dielmon::archive;
using bench::SteadyClock;
namespace fs = std::filesystem;

namespace {

constexpr int kResults = 10000;

Result Made(int k, std::mt19937& random) {
    std::uniform_real_distribution<float> drift(0.99f, 1.01f);
    const sim::DateStamp date{static_cast<std::uint8_t>(14 + k / 1000 % 10),
                              static_cast<std::uint8_t>(1 + k % 12),
                              static_cast<std::uint8_t>(1 + k % 28),
                              static_cast<std::uint8_t>(8 + k % 10),
                              static_cast<std::uint8_t>(k % 60),
                              0};
    const sim::SingleResult v{
        10,    0.0148f, 500,    500, 1, 4.7f * drift(random), 0.45f * drift(random),
        89.7f, 0.0045f, 0.0007f};
    const auto f = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
    PanelSelection s;
    s.ConnType = IndexToWiringMode(2);
    s.Standard = texts::kInternalStandard;
    s.Frequency = "50Hz";
    s.TestVolt = texts::kInternalHighVoltage;
    TestParameters p;
    p.WiringMode = 2;
    p.TestVoltage = 10000;
    Result r = FromTest(f.data(), static_cast<int>(f.size()), s, &p, 5);
    r.Taken.Specimen = Format("主变%03d 套管 %c相", k % 300, "ABC"[k % 3]);
    r.Taken.Temperature = 15 + k % 20;
    r.Taken.Humidity = 40 + k % 30;
    return r;
}

std::unique_ptr<Archive> OpenOrDie(const std::string& path) {
    Opened opened = Archive::Open(path);
    if (!opened.Store) {
        std::cerr << opened.Error << "\n";
        std::exit(1);
    }
    return std::move(opened.Store);
}

// Seconds of one synchronisation; exits when it fails.
double Synchronised(Archive& a, const std::string& server, sync::SyncReport* report = nullptr) {
    const auto t0 = SteadyClock::now();
    const sync::SyncReport r = sync::SyncEngine(a, server).Run();
    const double s = bench::MillisecondsBetween(t0, SteadyClock::now()) / 1000;
    if (!r.Ok()) {
        std::cerr << r.Error << "\n";
        std::exit(1);
    }
    if (report != nullptr) {
        *report = r;
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const std::string figure = "Pushing 10,000 results to a local server";
    const std::string target = "≤ 10 s";
    if (test::PostgresServer::BinFolder().empty()) {
        bench::PrintUnmeasured(figure, target, "PostgreSQL is not installed");
        return 1;
    }
    test::PostgresServer::Options options;
    options.Durable = true;
    test::PostgresServer server(options);
    if (!server.Running()) {
        bench::PrintUnmeasured(figure, target, "the server did not start: " + server.Error());
        return 1;
    }
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    std::string pattern = (base / "bench-sync-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "no folder under " << base << "\n";
        return 1;
    }
    const std::string folder = pattern;
    auto onTmpfs = [](const std::string& path) {
        struct statfs info {};
        return ::statfs(path.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
    };
    const std::string where = std::string("archive on ") +
                              (onTmpfs(folder) ? "memory (tmpfs)" : "disk") + ", server on " +
                              (onTmpfs(server.Folder()) ? "memory (tmpfs)" : "disk");

    std::mt19937 random(15);
    auto a = OpenOrDie(folder + "/pushing.db");
    for (int k = 0; k < kResults; ++k) {
        if (!a->Add(Made(k, random)).Ok()) {
            std::cerr << "cannot archive\n";
            return 1;
        }
    }
    const int runs = bench::Runs(3);
    std::vector<double> pushes;
    std::vector<double> pulls;
    std::vector<double> idle;
    for (int run = 0; run < runs; ++run) {
        // A fresh database each time: the archive meets another server and pushes everything.
        const std::string db = server.NewDatabase();
        const std::string conninfo = server.ConnectionString(db);
        sync::SyncReport report;
        pushes.push_back(Synchronised(*a, conninfo, &report));
        if (report.PushedNew != kResults) {
            std::cerr << "pushed " << report.PushedNew << " of " << kResults << "\n";
            return 1;
        }
        idle.push_back(Synchronised(*a, conninfo) * 1000);
        const std::string fresh = folder + "/pulling-" + std::to_string(run) + ".db";
        auto b = OpenOrDie(fresh);
        pulls.push_back(Synchronised(*b, conninfo, &report));
        if (report.PulledNew != kResults) {
            std::cerr << "pulled " << report.PulledNew << " of " << kResults << "\n";
            return 1;
        }
        std::cout << "run " << run + 1 << ": push " << pushes.back() << " s, pull " << pulls.back()
                  << " s, nothing to do " << idle.back() << " ms\n";
    }
    const double push = bench::Median(pushes);
    bench::PrintFigure(figure, bench::Fixed(push, 2) + " s", target, push <= 10,
                       bench::Grouped(kResults / push) + " results/s; pulling them into an " +
                           "empty archive " + bench::Fixed(bench::Median(pulls), 2) +
                           " s; a synchronisation with nothing to do " +
                           bench::Fixed(bench::Median(idle), 1) + " ms; " + where +
                           ", every commit waiting for the disk");
    std::error_code ignored;
    a.reset();
    fs::remove_all(folder, ignored);
    return push <= 10 ? 0 : 1;
}
