// The frame-to-label latency of the real window, shared by the measuring programs that take
// it: frames written one at a time at random moments onto a pseudo-terminal, so that they fall
// at every phase of the reader's 50 ms poll. "Written" is when write(2) of the frame's last byte
// has returned; "on show" is when Lbl_UpInfo takes the frame's text, seen by an event filter on
// the label (setting its gbkText property sends it a DynamicPropertyChange event, after the text
// is set). The gauge's "steps" property tells which frame it was. References from the same run:
// the same frames on a second line read by a bare thread that polls every 50 ms, the reader's
// poll period counted from its passes, and each latency split where the debug log shows the
// reader had the frame (it traces every chunk it reads; inotify tells when).
#pragma once

#include "figures.h"
#include "line.h"
#include "mainwindow.h"

#include <QDynamicPropertyChangeEvent>
#include <QEventLoop>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dielmon::bench {

// Sees each text Lbl_UpInfo takes and which step frame brought it.
class LabelWatch : public QObject {
public:
    LabelWatch(TextLabel* label, QProgressBar* gauge) : Gauge_(gauge) {
        label->installEventFilter(this);
    }

    // Step count on show; -1 before the first step frame.
    std::atomic<long long> Steps{-1};
    std::function<void(long long steps, SteadyClock::time_point at)> OnStep;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::DynamicPropertyChange &&
            static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == "gbkText") {
            const auto at = SteadyClock::now();
            const QVariant steps = Gauge_->property("steps");
            if (steps.isValid()) {
                Steps.store(steps.toLongLong());
                if (OnStep) {
                    OnStep(steps.toLongLong(), at);
                }
            }
        }
        return false;
    }

private:
    QProgressBar* Gauge_;
};

// Runs the window's event loop until `done` or the time limit; false on the limit.
inline bool RunUntil(const std::function<bool()>& done, int limitMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    bool timedOut = false;
    QTimer::singleShot(limitMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    check.start(20);
    if (!done()) {
        loop.exec();
    }
    return !timedOut || done();
}

struct LatencyRun {
    std::vector<double> ms; // one per frame
    double pollMs = 0;      // mean period of the reader's passes
    // The same frames on a second line, read by a thread that does nothing but poll it every
    // 50 ms: the floor of the design on this machine at this moment, disturbances included.
    std::vector<double> floorMs;
    // The two parts of each frame's latency: until the reader had read it (waiting for the
    // poll), and from there until the label had its text (trace, reassembly, hand-over,
    // dispatch).
    std::vector<double> readMs, handOverMs;
};

// Polls `path` every 50 ms like the reader thread, and notes when each frame of `frameSize`
// bytes has been read, until stopped.
class BarePoller {
public:
    BarePoller(const std::string& path, std::size_t frameSize, std::size_t frames)
        : Fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
          FrameSize_(frameSize), Read_(frames) {
        Thread_ = std::thread([this] { Run(); });
    }
    ~BarePoller() {
        Stop();
        ::close(Fd_);
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Stop_ = true;
        }
        Wake_.notify_all();
        if (Thread_.joinable()) {
            Thread_.join();
        }
    }
    // When frame k had been read; after Stop.
    const std::vector<SteadyClock::time_point>& Read() const { return Read_; }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(Lock_);
        std::uint8_t buffer[kRecvBufSize];
        std::size_t bytes = 0;
        while (!Wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return Stop_; })) {
            int waiting = 0;
            if (::ioctl(Fd_, FIONREAD, &waiting) != 0 || waiting <= 0) {
                continue;
            }
            const ssize_t n = ::read(Fd_, buffer, sizeof buffer);
            const auto at = SteadyClock::now();
            if (n <= 0) {
                continue;
            }
            for (std::size_t k = bytes / FrameSize_;
                 k < (bytes + static_cast<std::size_t>(n)) / FrameSize_ && k < Read_.size(); ++k) {
                Read_[k] = at;
            }
            bytes += static_cast<std::size_t>(n);
        }
    }

    int Fd_;
    std::size_t FrameSize_;
    std::vector<SteadyClock::time_point> Read_;
    std::mutex Lock_;
    std::condition_variable Wake_;
    bool Stop_ = false;
    std::thread Thread_;
};

// Notes when the program's debug log is written to. The reader thread traces every chunk it
// reads before it cuts frames out of it, so in a run where nothing else is logged the first
// write after a frame was sent is the moment the reader had it.
class LogWatch {
public:
    explicit LogWatch(const std::string& folder) : Fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        std::filesystem::create_directories(folder);
        ::inotify_add_watch(Fd_, folder.c_str(), IN_MODIFY);
        Thread_ = std::thread([this] { Run(); });
    }
    ~LogWatch() {
        Stop();
        ::close(Fd_);
    }
    void Stop() {
        Stop_.store(true);
        if (Thread_.joinable()) {
            Thread_.join();
        }
    }
    // After Stop: the times of the writes, in order.
    const std::vector<SteadyClock::time_point>& Writes() const { return Writes_; }

private:
    void Run() {
        alignas(inotify_event) char buffer[4096];
        while (!Stop_.load()) {
            pollfd p{Fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                const auto at = SteadyClock::now();
                if (::read(Fd_, buffer, sizeof buffer) > 0) {
                    Writes_.push_back(at);
                }
            }
        }
    }

    int Fd_;
    std::atomic<bool> Stop_{false};
    std::vector<SteadyClock::time_point> Writes_;
    std::thread Thread_;
};

inline LatencyRun MeasureLatency(const PtyLine& line, TfrmDielmon& window, LabelWatch& watch,
                                 int frames, std::uint32_t seed) {
    LogWatch logWrites(window.Log().LogFolder());
    const bench::PtyLine floorLine;
    BarePoller poller(floorLine.Path(), bench::StepFrame(0).size(),
                      static_cast<std::size_t>(frames));
    const long long base = watch.Steps.load() < 0 ? 0 : watch.Steps.load();
    std::vector<SteadyClock::time_point> written(static_cast<std::size_t>(frames));
    std::vector<SteadyClock::time_point> shown(static_cast<std::size_t>(frames));
    std::vector<SteadyClock::time_point> floorWritten(static_cast<std::size_t>(frames));
    std::atomic<int> seen{0};
    watch.OnStep = [&](long long steps, SteadyClock::time_point at) {
        const long long k = steps - base - 1;
        if (k >= 0 && k < frames) {
            shown[static_cast<std::size_t>(k)] = at;
            seen.fetch_add(1);
        }
    };
    const std::uint64_t passesBefore = window.Connection()->Thread().Passes();
    const auto start = SteadyClock::now();
    std::thread writer([&] {
        std::mt19937 rng(seed);
        // Gaps of 25 to 75 ms: the sum of the gaps, modulo the 50 ms poll, spreads the frames
        // evenly over every phase of the poll.
        std::uniform_int_distribution<int> gapUs(25000, 75000);
        for (int k = 0; k < frames; ++k) {
            std::this_thread::sleep_for(std::chrono::microseconds(gapUs(rng)));
            const auto frame = bench::StepFrame(static_cast<std::uint64_t>(base + k));
            // Each time is taken as its write begins (a 17-byte write takes microseconds): taken
            // after it, a writer preempted between the two would see its frame on the label
            // "before" it was written, and lose that sample.
            written[static_cast<std::size_t>(k)] = SteadyClock::now();
            line.Write(frame);
            floorWritten[static_cast<std::size_t>(k)] = SteadyClock::now();
            floorLine.Write(frame);
        }
    });
    RunUntil([&] { return seen.load() >= frames; }, frames * 75 + 10000);
    writer.join();
    const auto end = SteadyClock::now();
    watch.OnStep = nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // the poller's last pass
    poller.Stop();
    logWrites.Stop();
    const std::vector<SteadyClock::time_point>& floorRead = poller.Read();
    const std::vector<SteadyClock::time_point>& logged = logWrites.Writes();

    LatencyRun run;
    for (int k = 0; k < frames; ++k) {
        const auto w = floorWritten[static_cast<std::size_t>(k)];
        const auto r = floorRead[static_cast<std::size_t>(k)];
        if (r.time_since_epoch().count() != 0 && r >= w) {
            run.floorMs.push_back(bench::MillisecondsBetween(w, r));
        }
    }
    for (int k = 0; k < frames; ++k) {
        const auto w = written[static_cast<std::size_t>(k)];
        const auto s = shown[static_cast<std::size_t>(k)];
        if (s.time_since_epoch().count() != 0 && s >= w) {
            run.ms.push_back(bench::MillisecondsBetween(w, s));
            const auto read = std::lower_bound(logged.begin(), logged.end(), w);
            if (read != logged.end() && *read <= s) {
                run.readMs.push_back(bench::MillisecondsBetween(w, *read));
                run.handOverMs.push_back(bench::MillisecondsBetween(*read, s));
            }
        }
    }
    const std::uint64_t passes = window.Connection()->Thread().Passes() - passesBefore;
    run.pollMs =
        passes > 0 ? bench::MillisecondsBetween(start, end) / static_cast<double>(passes) : 0;
    return run;
}

} // namespace dielmon::bench
