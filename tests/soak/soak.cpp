// The long run: the real window, offscreen, with live frames streaming into its port for
// minutes, first at the most a 230400-baud line carries and then as fast as the
// pseudo-terminal takes them. Prints its figures and exits non-zero when a criterion fails:
// a frame sent but never handled, resident memory growing by more than 5 % after the warm-up,
// threads or descriptors growing, a message box, or a log line the trace tool cannot read.
#include "core/responses.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "sim/payloads.h"
#include "support/pty.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dielmon;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr double kLineBytesPerSecond = 23040; // 230400 baud, 10 bits a byte
constexpr double kMemoryGrowthLimit = 0.05;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

long EntriesIn(const char* folder) {
    std::error_code ec;
    long n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}

// Live frames as the instrument sends them while a test runs: boosting and step frames with
// values that change from frame to frame, so that every label is really rewritten.
std::vector<std::uint8_t> LiveFrames(int count, int& frames) {
    std::vector<std::uint8_t> bytes;
    for (int k = 0; k < count; ++k) {
        const float v = 1.0F + static_cast<float>(k % 97) / 10.0F;
        const auto f = k % 2 == 0 ? BuildFrame(RspBoosting, sim::EncodeBoost({v, v / 1000, 0, 0}))
                                  : BuildFrame(RspStepResult, sim::EncodeStep({v, 500, v / 1000}));
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    frames = count;
    return bytes;
}

struct Streamer {
    test::PseudoTerminal& Line;
    steady_clock::time_point FullSpeedFrom;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Failed{false};
    std::atomic<bool> Done{false};
    std::atomic<std::uint64_t> FramesSent{0};
    std::atomic<std::uint64_t> BytesSent{0};

    void Run() {
        Stream();
        Done = true;
    }

    void Stream() {
        // Bursts of the size a 50 ms poll of a full-speed line finds.
        int perBurst = 0;
        const std::vector<std::uint8_t> burst = LiveFrames(60, perBurst);
        const auto start = steady_clock::now();
        while (!Stop.load()) {
            const auto now = steady_clock::now();
            if (now < FullSpeedFrom) {
                const double due = kLineBytesPerSecond * duration<double>(now - start).count();
                if (static_cast<double>(BytesSent.load() + burst.size()) > due) {
                    std::this_thread::sleep_for(milliseconds(2));
                    continue;
                }
            }
            if (!Line.Write(burst.data(), burst.size(), 60000)) {
                Failed = true;
                return;
            }
            BytesSent += burst.size();
            FramesSent += static_cast<std::uint64_t>(perBurst);
        }
    }
};

struct Sample {
    double Seconds = 0;
    long RssKiB = 0;
    long Threads = 0;
    long Fds = 0;
};

} // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    std::string traceTool = "build/tools/trace/dielmon-trace";
    bool keep = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--minutes" && k + 1 < argc) {
            minutes = std::atof(argv[++k]);
        } else if (arg == "--trace-tool" && k + 1 < argc) {
            traceTool = argv[++k];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::cerr << "Usage: dielmon-soak [--minutes N] [--trace-tool PATH] [--keep]\n";
            return 2;
        }
    }
    if (minutes <= 0) {
        std::cerr << "dielmon-soak: --minutes must be positive\n";
        return 2;
    }
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    InstallFontSubstitutes();

    char pattern[] = "/tmp/dielmon-soak-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string home = std::string(pattern) + "/";
    std::ofstream(home + "Config.ini") << "[Config]\r\nBaud=230400\r\n";

    test::PseudoTerminal line;
    // No message box may appear in a soak; each one is told and counted.
    UnattendedDialogs dialogs;
    dialogs.Seen = [](const QString& text) {
        std::cerr << "message box: " << text.toStdString() << "\n";
    };
    WindowSetup setup;
    setup.AppPath = home;
    setup.Port = line.Path();
    setup.DialogSource = &dialogs;
    auto window = std::make_unique<TfrmDielmon>(setup);
    window->show();
    QApplication::processEvents();

    const double total = minutes * 60;
    const double warmUp = std::clamp(total * 0.1, 10.0, 60.0);
    const auto started = steady_clock::now();
    Streamer streamer{line,
                      started + duration_cast<steady_clock::duration>(duration<double>(total / 2))};
    std::thread streaming([&] { streamer.Run(); });

    std::optional<Sample> baseline;
    Sample peak;
    std::uint64_t framesAtFullSpeed = 0;
    std::uint64_t bytesAtFullSpeed = 0;
    std::uint64_t dispatchedAtFullSpeed = 0;
    std::uint64_t maxBacklog = 0;
    double lastReport = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double t = duration<double>(steady_clock::now() - started).count();
        const Sample s{t, ResidentKiB(), EntriesIn("/proc/self/task"), EntriesIn("/proc/self/fd")};
        maxBacklog =
            std::max(maxBacklog, streamer.FramesSent.load() - std::min(streamer.FramesSent.load(),
                                                                       window->FramesDispatched()));
        if (!baseline && t >= warmUp) {
            baseline = s;
            peak = s;
        }
        if (baseline) {
            peak.RssKiB = std::max(peak.RssKiB, s.RssKiB);
            peak.Threads = std::max(peak.Threads, s.Threads);
            peak.Fds = std::max(peak.Fds, s.Fds);
        }
        if (framesAtFullSpeed == 0 && t >= total / 2) {
            framesAtFullSpeed = streamer.FramesSent.load();
            bytesAtFullSpeed = streamer.BytesSent.load();
            dispatchedAtFullSpeed = window->FramesDispatched();
        }
        if (t - lastReport >= 30 || t >= total) {
            lastReport = t;
            std::printf(
                "%6.0f s  sent %10llu  handled %10llu  rss %6ld KiB  threads %ld  fds %ld\n", t,
                static_cast<unsigned long long>(streamer.FramesSent.load()),
                static_cast<unsigned long long>(window->FramesDispatched()), s.RssKiB, s.Threads,
                s.Fds);
            std::fflush(stdout);
        }
        if (t >= total || streamer.Failed.load()) {
            app.quit();
        }
    });
    sampler.start(1000);
    app.exec();
    sampler.stop();

    // The streamer may wait for room on the line, which only the window's thread makes.
    streamer.Stop = true;
    while (!streamer.Done.load()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    streaming.join();
    const std::uint64_t sent = streamer.FramesSent.load();
    // Whatever is still on the line is handled before the count is taken.
    const auto drainUntil = steady_clock::now() + seconds(120);
    while (window->FramesDispatched() < sent && steady_clock::now() < drainUntil) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(milliseconds(5));
    }
    const double elapsed = duration<double>(steady_clock::now() - started).count();
    const std::uint64_t handled = window->FramesDispatched();
    const std::uint64_t bytesRead = window->Connection()->Thread().BytesRead();
    const std::uint64_t overflow = window->Receiver().Reassembly().OverflowDropped();
    const Sample end{elapsed, ResidentKiB(), EntriesIn("/proc/self/task"),
                     EntriesIn("/proc/self/fd")};
    const unsigned long logFailures = window->Log().FailedWrites();
    window.reset();

    // Every line of the log must read back: its frames are exactly those sent.
    const std::string errors = home + "trace-errors.txt";
    const std::string command = "'" + traceTool + "' --json '" + home + "Log' 2>'" + errors + "'";
    FILE* trace = ::popen(command.c_str(), "r");
    std::uint64_t tracedFrames = 0;
    if (trace != nullptr) {
        std::string lineText;
        char chunk[65536];
        while (std::fgets(chunk, sizeof chunk, trace) != nullptr) {
            lineText += chunk;
            if (!lineText.empty() && lineText.back() == '\n') {
                tracedFrames += lineText.rfind("{\"dir\":\"received\"", 0) == 0 ? 1 : 0;
                lineText.clear();
            }
        }
    }
    const int traceStatus = trace != nullptr ? ::pclose(trace) : -1;
    std::string traceErrors;
    {
        std::ifstream in(errors);
        std::getline(in, traceErrors, '\0');
    }

    const std::uint64_t pacedSent = framesAtFullSpeed;
    const std::uint64_t fullSent = sent - framesAtFullSpeed;
    const double half = total / 2;
    const double lineFrames = kLineBytesPerSecond * static_cast<double>(pacedSent) /
                              static_cast<double>(std::max<std::uint64_t>(bytesAtFullSpeed, 1));
    const double pacedRate = static_cast<double>(pacedSent) / half;
    std::printf("\nsoak of %.1f min (%.0f s with the drain), home %s\n", minutes, elapsed,
                home.c_str());
    std::printf("  line speed:  %llu frames sent, %llu handled by then: %.0f frames/s of the %.0f "
                "a 230400-baud line carries (%s)\n",
                static_cast<unsigned long long>(pacedSent),
                static_cast<unsigned long long>(dispatchedAtFullSpeed), pacedRate, lineFrames,
                pacedRate >= 0.98 * lineFrames ? "kept up" : "did not keep up; the line waited");
    std::printf("  full speed:  %llu frames sent, %.0f frames/s, %.0f B/s taken by the line\n",
                static_cast<unsigned long long>(fullSent), static_cast<double>(fullSent) / half,
                static_cast<double>(streamer.BytesSent.load() - bytesAtFullSpeed) / half);
    std::printf(
        "  in all:      %llu frames sent, %llu handled, %lld lost; most waiting at once %llu\n",
        static_cast<unsigned long long>(sent), static_cast<unsigned long long>(handled),
        static_cast<long long>(sent) - static_cast<long long>(handled),
        static_cast<unsigned long long>(maxBacklog));
    std::printf("  bytes:       %llu written, %llu read by the program (%lld never read), %llu "
                "dropped by the reassembly\n",
                static_cast<unsigned long long>(streamer.BytesSent.load()),
                static_cast<unsigned long long>(bytesRead),
                static_cast<long long>(streamer.BytesSent.load()) -
                    static_cast<long long>(bytesRead),
                static_cast<unsigned long long>(overflow));
    const double growth = baseline ? static_cast<double>(peak.RssKiB - baseline->RssKiB) /
                                         static_cast<double>(baseline->RssKiB)
                                   : 0;
    if (baseline) {
        std::printf("  memory:      %ld KiB after %.0f s of warm-up, at most %ld KiB, %ld KiB at "
                    "the end (%+.1f %%)\n",
                    baseline->RssKiB, warmUp, peak.RssKiB, end.RssKiB, growth * 100);
        std::printf("  threads:     %ld after warm-up, at most %ld; descriptors %ld, at most %ld\n",
                    baseline->Threads, peak.Threads, baseline->Fds, peak.Fds);
    }
    std::printf("  log:         %lu failed writes; dielmon-trace status %d, %llu received frames "
                "read back, %zu bytes of complaints\n",
                logFailures, traceStatus, static_cast<unsigned long long>(tracedFrames),
                traceErrors.size());
    std::printf("  message boxes: %d\n", dialogs.Shown);

    std::vector<std::string> failed;
    if (streamer.Failed.load()) {
        failed.push_back("the line stopped taking bytes");
    }
    if (handled != sent) {
        failed.push_back("frames lost");
    }
    if (!baseline) {
        failed.push_back("no sample after the warm-up");
    } else {
        if (growth > kMemoryGrowthLimit) {
            failed.push_back("resident memory grew by more than 5 %");
        }
        if (peak.Threads > baseline->Threads || end.Threads > baseline->Threads) {
            failed.push_back("threads grew");
        }
        if (peak.Fds > baseline->Fds || end.Fds > baseline->Fds) {
            failed.push_back("descriptors grew");
        }
    }
    if (traceStatus != 0 || !traceErrors.empty()) {
        std::printf("%s", traceErrors.substr(0, 2000).c_str());
        failed.push_back("the log does not read back");
    }
    if (tracedFrames != sent || logFailures != 0) {
        failed.push_back("the log misses frames");
    }
    if (dialogs.Shown != 0) {
        failed.push_back("a message box appeared");
    }
    if (!keep) {
        std::error_code ec;
        fs::remove_all(pattern, ec);
    }
    if (failed.empty()) {
        std::printf("PASSED\n");
        return 0;
    }
    for (const std::string& f : failed) {
        std::printf("FAILED: %s\n", f.c_str());
    }
    return 1;
}
