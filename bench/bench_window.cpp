// The real window, offscreen, on a pseudo-terminal whose other end this program writes step
// frames into: the whole receive path of the program (reader thread polling the port,
// reassembly, hand-over to the window's thread, dispatcher, labels) between the last byte
// written and the text on show.
//
// Latency: frames written one at a time at random moments, so that they fall at every phase of
// the reader's 50 ms poll. "Written" is when write(2) of the frame's last byte has returned;
// "on show" is when Lbl_UpInfo takes the frame's text, seen by an event filter on the label
// (setting its gbkText property sends it a DynamicPropertyChange event, after the text is set).
// The gauge's "steps" property tells which frame it was. References from the same run: the same
// frames on a second line read by a bare thread that polls every 50 ms, the reader's poll period
// counted from its passes, and each latency split where the debug log shows the reader had the
// frame (it traces every chunk it reads; inotify tells when).
//
// Sustained rate: frames written flat out (the writer never waits), counted when their text is
// on show; every frame written must be shown.
#include "figures.h"
#include "latency.h"
#include "line.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDynamicPropertyChangeEvent>
#include <QEventLoop>
#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace dielmon;
using bench::LabelWatch;
using bench::LatencyRun;
using bench::MeasureLatency;
using bench::RunUntil;
using bench::SteadyClock;

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Where the window's thread spends its processor time, by the kind of event it was handling:
// frames handed over (the hand-over posts each frame to the window as a queued call),
// repaints, layout requests, and everything else. Processor time rather than wall time, so
// that other work on the machine does not count. Events sent from inside another are counted
// in the outer one.
class TimingApp : public QApplication {
public:
    using QApplication::QApplication;
    QObject* Window = nullptr;

    enum Kind { Frame, Paint, Layout, Other, Kinds };
    struct Tally {
        std::uint64_t count[Kinds] = {};
        double us[Kinds] = {};
    } Spent;

    bool notify(QObject* receiver, QEvent* event) override {
        if (Depth_ > 0) {
            return QApplication::notify(receiver, event);
        }
        Kind kind = Other;
        if (event->type() == QEvent::MetaCall && receiver == Window) {
            kind = Frame;
        } else if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Paint) {
            kind = Paint;
        } else if (event->type() == QEvent::LayoutRequest) {
            kind = Layout;
        }
        ++Depth_;
        const double start = ThreadCpuSeconds();
        const bool result = QApplication::notify(receiver, event);
        Spent.us[kind] += (ThreadCpuSeconds() - start) * 1e6;
        ++Spent.count[kind];
        --Depth_;
        return result;
    }

private:
    int Depth_ = 0;
};

// Processor time of each thread of this process, by thread id, from the scheduler's account.
std::map<int, double> ThreadCpu() {
    std::map<int, double> out;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0;
        if (stat >> ns) {
            out[std::atoi(task.path().filename().c_str())] = ns * 1e-9;
        }
    }
    return out;
}

double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct RateRun {
    double framesPerSecond = 0;
    long long lost = 0;
    double bytesPerRead = 0;
    double readsPerSecond = 0;
    // Per frame on show: the window thread's time in the frame's own handling, in repaints,
    // in layout requests and in other events, and its processor time in all; the processor
    // time of the whole process (the writer included).
    double frameUs = 0, paintUs = 0, layoutUs = 0, otherUs = 0, windowCpuUs = 0, processCpuUs = 0;
    // Processor time per frame of the other threads: the program's reader thread, and the
    // threads of Qt's pool, which share out the fills and blends of large repaints.
    double readerCpuUs = 0, poolCpuUs = 0;
    double paintsPerFrame = 0;
};

// `window` bytes at most outstanding (written, not yet on show); 0: no limit.
RateRun MeasureRate(const bench::PtyLine& line, TfrmDielmon& window, LabelWatch& watch,
                    TimingApp& app, int frames, std::size_t outstanding) {
    const long long base = watch.Steps.load() < 0 ? 0 : watch.Steps.load();
    const std::size_t frameSize = bench::StepFrame(0).size();
    std::vector<std::uint8_t> stream;
    stream.reserve(static_cast<std::size_t>(frames) * frameSize);
    for (int k = 0; k < frames; ++k) {
        const auto f = bench::StepFrame(static_cast<std::uint64_t>(base + k));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::atomic<long long> onShow{0};
    std::mutex lock;
    std::condition_variable progressed;
    const TCommThread& reader = window.Connection()->Thread();
    const std::uint64_t reads0 = reader.Reads();
    const std::uint64_t bytes0 = reader.BytesRead();
    // As things stood when the last frame went on show; polls after it read nothing.
    SteadyClock::time_point last{};
    std::uint64_t readsAtLast = reads0;
    std::uint64_t bytesAtLast = bytes0;
    watch.OnStep = [&](long long steps, SteadyClock::time_point at) {
        {
            std::lock_guard<std::mutex> guard(lock);
            onShow.store(steps - base);
        }
        last = at;
        readsAtLast = reader.Reads();
        bytesAtLast = reader.BytesRead();
        progressed.notify_all();
    };
    const TimingApp::Tally spent0 = app.Spent;
    const double windowCpu0 = ThreadCpuSeconds();
    const std::map<int, double> threads0 = ThreadCpu();
    std::atomic<int> writerTid{0};
    const double processCpu0 = ProcessCpuSeconds();
    std::atomic<bool> stop{false};
    const auto start = SteadyClock::now();
    std::thread writer([&] {
        writerTid.store(static_cast<int>(::gettid()));
        // Whole frames, as a device's buffer sends them; small pieces when paced, so that the
        // line holds nearly as much as one read takes whole.
        const std::size_t piece = (outstanding > 0 ? 8 : 64) * frameSize;
        std::size_t at = 0;
        while (at < stream.size() && !stop.load()) {
            std::size_t n = std::min(piece, stream.size() - at);
            if (outstanding > 0) {
                std::unique_lock<std::mutex> guard(lock);
                progressed.wait_for(guard, std::chrono::milliseconds(100), [&] {
                    const std::size_t shownBytes =
                        static_cast<std::size_t>(onShow.load()) * frameSize;
                    return stop.load() || at + n <= shownBytes + outstanding;
                });
                const std::size_t shownBytes = static_cast<std::size_t>(onShow.load()) * frameSize;
                if (at + n > shownBytes + outstanding) {
                    continue;
                }
            }
            if (!line.Write(stream.data() + at, n)) {
                break;
            }
            at += n;
        }
    });
    // Done when every frame is on show, or when nothing more has come for two seconds.
    long long lastCount = -1;
    auto lastChange = SteadyClock::now();
    RunUntil(
        [&] {
            const long long n = onShow.load();
            if (n != lastCount) {
                lastCount = n;
                lastChange = SteadyClock::now();
            }
            return n >= frames || SteadyClock::now() - lastChange > std::chrono::seconds(2);
        },
        120000);
    stop.store(true);
    progressed.notify_all();
    const double windowCpu = ThreadCpuSeconds() - windowCpu0;
    const std::map<int, double> threads1 = ThreadCpu();
    const double processCpu = ProcessCpuSeconds() - processCpu0;
    const TimingApp::Tally spent = app.Spent;
    writer.join();
    watch.OnStep = nullptr;
    // Drain what is still queued so that the next run starts on an empty line.
    RunUntil([&] { return false; }, 300);

    RateRun run;
    const long long seen = std::min<long long>(onShow.load(), frames);
    run.lost = frames - seen;
    const double seconds = std::chrono::duration<double>(last - start).count();
    run.framesPerSecond = seconds > 0 ? static_cast<double>(seen) / seconds : 0;
    const std::uint64_t reads = readsAtLast - reads0;
    run.bytesPerRead =
        reads > 0 ? static_cast<double>(bytesAtLast - bytes0) / static_cast<double>(reads) : 0;
    run.readsPerSecond = seconds > 0 ? static_cast<double>(reads) / seconds : 0;
    if (seen > 0) {
        const double n = static_cast<double>(seen);
        run.frameUs = (spent.us[TimingApp::Frame] - spent0.us[TimingApp::Frame]) / n;
        run.paintUs = (spent.us[TimingApp::Paint] - spent0.us[TimingApp::Paint]) / n;
        run.layoutUs = (spent.us[TimingApp::Layout] - spent0.us[TimingApp::Layout]) / n;
        run.otherUs = (spent.us[TimingApp::Other] - spent0.us[TimingApp::Other]) / n;
        run.paintsPerFrame =
            static_cast<double>(spent.count[TimingApp::Paint] - spent0.count[TimingApp::Paint]) / n;
        run.windowCpuUs = windowCpu * 1e6 / n;
        for (const auto& [tid, seconds] : threads1) {
            const auto before = threads0.find(tid);
            const double us = (seconds - (before != threads0.end() ? before->second : 0)) * 1e6 / n;
            std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
            std::string name;
            std::getline(comm, name);
            if (tid == static_cast<int>(::getpid()) || tid == writerTid.load()) {
                continue;
            }
            if (name.rfind("Thread (pooled)", 0) == 0) {
                run.poolCpuUs += us;
            } else {
                run.readerCpuUs += us;
            }
        }
        run.processCpuUs = processCpu * 1e6 / n;
    }
    return run;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TimingApp app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    InstallFontSubstitutes();
    QApplication::setFont(SongFont(13));

    const int runs = bench::Runs(3);
    const int latencyFrames = 300;
    const int rateFrames = 12000;

    bench::ScratchHome home;
    bench::PtyLine line;
    WindowSetup setup;
    setup.AppPath = home.Folder();
    setup.Port = line.Path();
    TfrmDielmon window(setup);
    app.Window = &window;
    window.show();
    if (!RunUntil([&] { return window.State().PortOpen; }, 10000)) {
        const char* why = "the window did not open the line";
        bench::PrintUnmeasured("Latency p50, last byte written → label", "—", why);
        return 1;
    }
    LabelWatch watch(window.Lbl_UpInfo, window.ProgBar_Step);
    // Connected: the instrument's settings report fills the panel, as after "连接".
    line.Write(bench::ParametersFrame());
    RunUntil([&] { return window.PanelModel().CBox_ConnType.ItemIndex >= 0; }, 10000);
    // A few frames first, so that fonts, glyph caches and the label's page are ready.
    MeasureLatency(line, window, watch, 10, 99);

    std::vector<double> p50s, p99s, polls, floor50s, floor99s, read99s, handOver99s;
    std::size_t samples = 0;
    for (int r = 0; r < runs; ++r) {
        const LatencyRun run = MeasureLatency(line, window, watch, latencyFrames, 1000 + r);
        const double p50 = bench::Percentile(run.ms, 50);
        const double p99 = bench::Percentile(run.ms, 99);
        std::cout << "latency run " << r + 1 << ": " << run.ms.size() << " frames, p50 "
                  << bench::Fixed(p50, 2) << " ms, p99 " << bench::Fixed(p99, 2) << " ms, max "
                  << bench::Fixed(bench::Percentile(run.ms, 100), 2) << " ms, poll period "
                  << bench::Fixed(run.pollMs, 2) << " ms" << std::endl;
        if (static_cast<int>(run.ms.size()) < latencyFrames) {
            std::cout << "  " << latencyFrames - static_cast<int>(run.ms.size())
                      << " frames never reached the label" << std::endl;
        }
        p50s.push_back(p50);
        p99s.push_back(p99);
        floor50s.push_back(bench::Percentile(run.floorMs, 50));
        floor99s.push_back(bench::Percentile(run.floorMs, 99));
        std::cout << "  bare poller on a second line: p50 " << bench::Fixed(floor50s.back(), 2)
                  << " ms, p99 " << bench::Fixed(floor99s.back(), 2) << " ms" << std::endl;
        read99s.push_back(bench::Percentile(run.readMs, 99));
        handOver99s.push_back(bench::Percentile(run.handOverMs, 99));
        std::cout << "  until read: p50 " << bench::Fixed(bench::Percentile(run.readMs, 50), 2)
                  << " ms, p99 " << bench::Fixed(read99s.back(), 2) << " ms; read to label: p50 "
                  << bench::Fixed(bench::Percentile(run.handOverMs, 50), 2) << " ms, p99 "
                  << bench::Fixed(handOver99s.back(), 2) << " ms, max "
                  << bench::Fixed(bench::Percentile(run.handOverMs, 100), 2) << " ms ("
                  << run.handOverMs.size() << " frames)" << std::endl;
        polls.push_back(run.pollMs);
        samples = std::min(samples == 0 ? run.ms.size() : samples, run.ms.size());
    }
    const std::string floor = "a bare 50 ms poller, same frames on a second line: p50 " +
                              bench::Fixed(bench::Median(floor50s), 1) + " / p99 " +
                              bench::Fixed(bench::Median(floor99s), 1) +
                              " ms; reader's poll period " + bench::Fixed(bench::Median(polls), 1) +
                              " ms";
    const std::string split =
        "; p99 until the reader had it " + bench::Fixed(bench::Median(read99s), 1) +
        " ms, from there to the label " + bench::Fixed(bench::Median(handOver99s), 1) + " ms";
    const std::string over =
        "; " + std::to_string(samples) + " frames × " + std::to_string(runs) + " runs";
    bench::PrintInformation("Latency p50, last byte written → label",
                            bench::Fixed(bench::Median(p50s), 1) + " ms", "— (the target is p99)",
                            floor + over);
    bench::PrintFigure("Latency p99, last byte written → label",
                       bench::Fixed(bench::Median(p99s), 1) + " ms", "≤ 60 ms",
                       bench::Median(p99s) <= 60 && samples >= 300, floor + split + over);

    // Half as much again as the 230400-baud line brings: the 50 ms poll, taking at most 2048
    // bytes a pass, carries 1.78 times the line, and whatever the line brings must get through.
    const double lineFrames = bench::kLineBytesPerSecond / 17.0;
    const double lineMultiple = 1.5;
    const double target = lineMultiple * lineFrames;
    {
        std::vector<RateRun> done;
        long long lost = 0;
        for (int r = 0; r < runs; ++r) {
            const RateRun run = MeasureRate(line, window, watch, app, rateFrames, 0);
            std::cout << "flat-out run " << r + 1 << ": " << bench::Fixed(run.framesPerSecond, 0)
                      << " frames/s, lost " << run.lost << ", " << bench::Fixed(run.bytesPerRead, 0)
                      << " B per read, " << bench::Fixed(run.readsPerSecond, 1)
                      << " reads/s; processor per frame: window thread "
                      << bench::Fixed(run.windowCpuUs, 1) << " µs (handling "
                      << bench::Fixed(run.frameUs, 1) << ", repaint "
                      << bench::Fixed(run.paintUs, 1) << " in "
                      << bench::Fixed(run.paintsPerFrame, 2) << " repaints, layout "
                      << bench::Fixed(run.layoutUs, 1) << ", other " << bench::Fixed(run.otherUs, 1)
                      << "), Qt's pool " << bench::Fixed(run.poolCpuUs, 1) << " µs, reader thread "
                      << bench::Fixed(run.readerCpuUs, 1) << " µs; whole process "
                      << bench::Fixed(run.processCpuUs, 1) << " µs" << std::endl;
            done.push_back(run);
            lost += run.lost;
        }
        auto median = [&](double RateRun::*field) {
            std::vector<double> v;
            for (const RateRun& r : done) {
                v.push_back(r.*field);
            }
            return bench::Median(v);
        };
        const double rate = median(&RateRun::framesPerSecond);
        const std::string reference =
            bench::Fixed(rate / lineFrames, 2) + "× what the 230400-baud line carries (" +
            bench::Grouped(lineFrames) + " step frames/s of 17 B); " +
            bench::Fixed(median(&RateRun::bytesPerRead), 0) + " B per read, " +
            bench::Fixed(median(&RateRun::readsPerSecond), 1) +
            " reads/s; processor per frame: window thread " +
            bench::Fixed(median(&RateRun::windowCpuUs), 0) + " µs (handling " +
            bench::Fixed(median(&RateRun::frameUs), 0) + ", repaint " +
            bench::Fixed(median(&RateRun::paintUs), 0) + "), Qt's pool " +
            bench::Fixed(median(&RateRun::poolCpuUs), 0) + " µs, reader thread " +
            bench::Fixed(median(&RateRun::readerCpuUs), 0) + " µs; " + std::to_string(lost) +
            " of " + bench::Grouped(double(rateFrames) * runs) + " lost";
        bench::PrintFigure("Sustained frames/s, no frame lost", bench::Grouped(rate) + "/s",
                           "≥ " + bench::Grouped(target) + "/s (" + bench::Fixed(lineMultiple, 1) +
                               "× line)",
                           rate >= target && lost == 0, reference);
    }
    return 0;
}
