// The real dielmon program as a process, offscreen, on a pseudo-terminal this program holds:
//   start-up: from spawning it to its main window shown. The window opens its port when it is
//     shown, which inotify reports on the port's device node;
//   processor time while connected and idle, and while a test streams step frames at the
//     230400-baud line rate: its processor clock (all threads) over a fixed wall interval;
//   peak resident memory (VmHWM) at the end of the streamed test.
// References measured in the same run: a bare Qt window started the same way (bench_qtbase)
// for start-up and memory; a process that only wakes 20 times a second for the idle time; the
// rate the source actually achieved for the streamed test.
//
//   bench_process DIELMON BENCH_QTBASE
#include "core/tracelog.h"
#include "figures.h"
#include "line.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace dielmon;
using bench::SteadyClock;

namespace {

class Child {
public:
    Child() = default;
    explicit Child(pid_t pid) : Pid_(pid) {}
    ~Child() { Stop(); }
    Child(Child&& o) noexcept : Pid_(o.Pid_) { o.Pid_ = -1; }
    Child& operator=(Child&& o) noexcept {
        if (this != &o) {
            Stop();
            Pid_ = o.Pid_;
            o.Pid_ = -1;
        }
        return *this;
    }

    pid_t Pid() const { return Pid_; }
    // Reaps the child when it has ended.
    bool Running() {
        if (Pid_ <= 0) {
            return false;
        }
        if (::waitpid(Pid_, nullptr, WNOHANG) == 0) {
            return true;
        }
        Pid_ = -1;
        return false;
    }

    // Processor time of every thread, living or ended, in seconds.
    std::optional<double> CpuSeconds() const {
        clockid_t clock;
        timespec ts{};
        if (Pid_ <= 0 || ::clock_getcpuclockid(Pid_, &clock) != 0 ||
            ::clock_gettime(clock, &ts) != 0) {
            return std::nullopt;
        }
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }

    // Peak resident set in MB of 10^6 bytes (VmHWM).
    std::optional<double> PeakResidentMb() const {
        std::ifstream status("/proc/" + std::to_string(Pid_) + "/status");
        std::string key;
        while (status >> key) {
            if (key == "VmHWM:") {
                double kb = 0;
                status >> kb;
                return kb * 1024 / 1e6;
            }
            std::getline(status, key);
        }
        return std::nullopt;
    }

    void Stop() {
        if (Pid_ <= 0) {
            return;
        }
        ::kill(Pid_, SIGTERM);
        for (int k = 0; k < 200; ++k) {
            if (::waitpid(Pid_, nullptr, WNOHANG) != 0) {
                Pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(Pid_, SIGKILL);
        ::waitpid(Pid_, nullptr, 0);
        Pid_ = -1;
    }

private:
    pid_t Pid_ = -1;
};

// Starts a program offscreen with its output discarded, and returns when it opens `port`
// (its window has been shown), with the time that took in ms; nothing after `limitMs`.
std::optional<double> StartAndWaitForPort(const std::vector<std::string>& args,
                                          const std::string& port, Child& child,
                                          int limitMs = 20000) {
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || ::inotify_add_watch(watch, port.c_str(), IN_OPEN) < 0) {
        if (watch >= 0) {
            ::close(watch);
        }
        return std::nullopt;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    const auto start = SteadyClock::now();
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ::close(watch);
        return std::nullopt;
    }
    child = Child(pid);
    std::optional<double> ms;
    const auto deadline = start + std::chrono::milliseconds(limitMs);
    while (!ms && SteadyClock::now() < deadline) {
        pollfd p{watch, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            const auto at = SteadyClock::now();
            alignas(inotify_event) char buf[4096];
            if (::read(watch, buf, sizeof buf) > 0) {
                ms = bench::MillisecondsBetween(start, at);
            }
        }
        if (!child.Running()) {
            break;
        }
    }
    ::close(watch);
    return ms;
}

// A process that does nothing but wake up 20 times a second: the least that polling a port
// every 50 ms can cost.
Child StartPoller() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;) {
            timespec t{0, 50'000'000};
            ::nanosleep(&t, nullptr);
        }
    }
    return Child(pid);
}

// Processor share of one core over the next `seconds`, for each child, measured together.
std::vector<double> CpuShares(const std::vector<const Child*>& children, double seconds) {
    std::vector<double> before;
    const auto start = SteadyClock::now();
    for (const Child* c : children) {
        before.push_back(c->CpuSeconds().value_or(0));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    std::vector<double> shares;
    for (std::size_t k = 0; k < children.size(); ++k) {
        shares.push_back((children[k]->CpuSeconds().value_or(0) - before[k]) / wall * 100);
    }
    return shares;
}

// A test at the line rate: the start acknowledged, the voltage raised, then step after step,
// with bytes leaving as a 230400-baud line lets them go (checked every 5 ms).
class LineRateSource {
public:
    explicit LineRateSource(const bench::PtyLine& line) : Line_(line) {
        Stream_ = BuildFrame(RspTestStarted, sim::EncodeAck());
        for (int k = 0; k < 10; ++k) {
            const auto f = bench::BoostFrame(static_cast<std::uint64_t>(k) * 10);
            Stream_.insert(Stream_.end(), f.begin(), f.end());
        }
        Thread_ = std::thread([this] { Run(); });
    }
    ~LineRateSource() { Stop(); }

    void Stop() {
        Stop_.store(true);
        if (Thread_.joinable()) {
            Thread_.join();
        }
    }
    std::size_t Written() const { return Written_.load(); }

private:
    void Run() {
        Start_ = SteadyClock::now();
        std::size_t at = 0;
        std::uint64_t step = 0;
        while (!Stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const auto now = SteadyClock::now();
            const double due =
                std::chrono::duration<double>(now - Start_).count() * bench::kLineBytesPerSecond;
            while (static_cast<double>(Written_.load()) + 1 <= due) {
                if (at == Stream_.size()) {
                    Stream_ = bench::StepFrame(step++);
                    at = 0;
                }
                const std::size_t want = static_cast<std::size_t>(due) - Written_.load();
                const std::size_t n = std::min(want, Stream_.size() - at);
                if (!Line_.Write(Stream_.data() + at, n)) {
                    return;
                }
                at += n;
                Written_.fetch_add(n);
            }
        }
    }

    const bench::PtyLine& Line_;
    std::vector<std::uint8_t> Stream_;
    std::thread Thread_;
    std::atomic<bool> Stop_{false};
    SteadyClock::time_point Start_;
    std::atomic<std::size_t> Written_{0};
};

// Bytes the program has read from its port so far, as its debug log traced them.
std::uint64_t BytesTraced(const std::string& home) {
    std::uint64_t total = 0;
    std::error_code ignored;
    for (const auto& file : std::filesystem::directory_iterator(home + "Log", ignored)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        for (const TraceLine& line : ParseTraceLog(bytes).Lines) {
            if (!line.Sent) {
                total += line.Bytes.size();
            }
        }
    }
    return total;
}

std::vector<std::string> DielmonArgs(const std::string& program, const std::string& home,
                                     const std::string& port) {
    return {program, "--home", home, "--port", port};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bench_process DIELMON BENCH_QTBASE\n";
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string dielmon = argv[1];
    const std::string baseline = argv[2];
    const int runs = bench::Runs(3);
    const double idleSeconds = 6;
    const double streamSeconds = 6;

    // One start of each first: the loader's and fontconfig's caches are warm for every run.
    {
        bench::ScratchHome home;
        bench::PtyLine a;
        bench::PtyLine b;
        Child c;
        StartAndWaitForPort(DielmonArgs(dielmon, home.Folder(), a.Path()), a.Path(), c);
        c.Stop();
        StartAndWaitForPort({baseline, b.Path()}, b.Path(), c);
        c.Stop();
    }

    std::vector<double> starts, baseStarts, idle, pollerIdle, streaming, sourceRates, peaks,
        basePeaks, readRates;
    for (int r = 0; r < runs; ++r) {
        bench::ScratchHome home;
        bench::PtyLine line;
        bench::PtyLine baseLine;
        Child program;
        Child bare;
        // Each goes first in every other run, so that neither always meets a warmer machine.
        std::optional<double> s;
        std::optional<double> b;
        if (r % 2 == 0) {
            s = StartAndWaitForPort(DielmonArgs(dielmon, home.Folder(), line.Path()), line.Path(),
                                    program);
            b = StartAndWaitForPort({baseline, baseLine.Path()}, baseLine.Path(), bare);
        } else {
            b = StartAndWaitForPort({baseline, baseLine.Path()}, baseLine.Path(), bare);
            s = StartAndWaitForPort(DielmonArgs(dielmon, home.Folder(), line.Path()), line.Path(),
                                    program);
        }
        if (!s || !b) {
            std::cout << "run " << r + 1 << ": a program did not show its window" << std::endl;
            continue;
        }
        starts.push_back(*s);
        baseStarts.push_back(*b);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        basePeaks.push_back(bare.PeakResidentMb().value_or(0));
        bare.Stop();

        // Connected: the settings report fills the panel, as after "连接".
        line.Write(bench::ParametersFrame());
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        Child poller = StartPoller();
        const auto shares = CpuShares({&program, &poller}, idleSeconds);
        poller.Stop();
        idle.push_back(shares[0]);
        pollerIdle.push_back(shares[1]);

        LineRateSource source(line);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const std::size_t written0 = source.Written();
        const std::uint64_t read0 = BytesTraced(home.Folder());
        const auto windowStart = SteadyClock::now();
        const auto busy = CpuShares({&program}, streamSeconds);
        const double window =
            std::chrono::duration<double>(SteadyClock::now() - windowStart).count();
        sourceRates.push_back(static_cast<double>(source.Written() - written0) / window);
        readRates.push_back(static_cast<double>(BytesTraced(home.Folder()) - read0) / window);
        source.Stop();
        streaming.push_back(busy[0]);
        peaks.push_back(program.PeakResidentMb().value_or(0));
        const bool alive = program.Running();
        program.Stop();

        std::cout << "run " << r + 1 << ": start " << bench::Fixed(*s, 0) << " ms (bare Qt "
                  << bench::Fixed(*b, 0) << " ms), idle " << bench::Fixed(shares[0], 3)
                  << " % (20 wake-ups/s " << bench::Fixed(shares[1], 3) << " %), streaming "
                  << bench::Fixed(busy[0], 2) << " % with " << bench::Fixed(sourceRates.back(), 0)
                  << " B/s written, " << bench::Fixed(readRates.back(), 0)
                  << " B/s read by the program, peak " << bench::Fixed(peaks.back(), 1)
                  << " MB (bare Qt " << bench::Fixed(basePeaks.back(), 1) << " MB)"
                  << (alive ? "" : ", the program had ended") << std::endl;
        if (!alive) {
            starts.pop_back();
            idle.pop_back();
            streaming.pop_back();
            peaks.pop_back();
        }
    }

    const std::string over = " (median of " + std::to_string(starts.size()) + " runs)";
    if (starts.empty()) {
        for (const char* f : {"Start-up to main window shown", "Processor, connected and idle",
                              "Processor, streaming at line rate", "Peak resident memory"}) {
            bench::PrintUnmeasured(f, "—", "dielmon did not run through");
        }
        return 1;
    }
    const double start = bench::Median(starts);
    bench::PrintFigure(
        "Start-up to main window shown", bench::Fixed(start, 0) + " ms", "< 400 ms", start < 400,
        "bare Qt window " + bench::Fixed(bench::Median(baseStarts), 0) + " ms" + over);
    const double idleShare = bench::Median(idle);
    bench::PrintFigure("Processor, connected and idle", bench::Fixed(idleShare, 3) + " %",
                       "≤ 0.5 %", idleShare <= 0.5,
                       "a process waking 20×/s " + bench::Fixed(bench::Median(pollerIdle), 3) +
                           " %; " + bench::Fixed(idleSeconds, 0) + " s each" + over);
    const double busyShare = bench::Median(streaming);
    const double rate = bench::Median(sourceRates);
    bench::PrintFigure("Processor, streaming at line rate", bench::Fixed(busyShare, 2) + " %",
                       "≤ 5 %", busyShare <= 5,
                       "step frames written at " + bench::Grouped(rate) +
                           " B/s = " + bench::Fixed(rate / bench::kLineBytesPerSecond, 2) +
                           "× line rate, read by the program at " +
                           bench::Grouped(bench::Median(readRates)) + " B/s; " +
                           bench::Fixed(streamSeconds, 0) + " s each" + over);
    const double peak = bench::Median(peaks);
    bench::PrintFigure(
        "Peak resident memory (VmHWM), test streamed", bench::Fixed(peak, 1) + " MB", "< 80 MB",
        peak < 80, "bare Qt window " + bench::Fixed(bench::Median(basePeaks), 1) + " MB" + over);
    return 0;
}
