// The serial link end to end: the program's side wired as the main window wires it (the
// connection, the receive path with its debug log, the hand-over to the window's thread and a
// frame sink there), and the instrument's side, the simulator on a pseudo-terminal of its own.
// Every wait is on a condition with a generous deadline; nothing here measures wall-clock time.
#pragma once

#include "../serial/logfile.h"
#include "../serial/tempfolder.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/log.h"
#include "core/panel.h"
#include "core/responses.h"
#include "serial/commreceive.h"
#include "serial/serialcomm.h"
#include "sim/instrument.h"
#include "sim/options.h"
#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace dielmon::link {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kDeadline = 20s;

// The speed factor of the simulator in these tests: a one-channel test takes about 50 ms.
inline constexpr double kSpeed = 100;

// Checks `condition` every few milliseconds until it holds or `limit` has passed.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kDeadline) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Runs `work` on a thread of its own and waits for it within `limit`. A call that does not
// come back is reported and ends the run: a deadlock cannot be recovered from.
inline void FinishesWithin(const std::function<void()>& work, const char* what,
                           std::chrono::milliseconds limit = kDeadline) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([work, done] {
        work();
        done->store(true);
    });
    if (!WaitUntil([&] { return done->load(); }, limit)) {
        ADD_FAILURE() << what << " did not come back: deadlock";
        std::fprintf(stderr, "%s did not come back: deadlock\n", what);
        std::fflush(stderr);
        std::abort();
    }
    worker.join();
}

// Stands in for the window's thread: runs the jobs posted to it one at a time, in order.
// While paused it holds them back, as a window busy elsewhere (a modal box) does.
class WindowThread {
public:
    using Job = std::function<void()>;

    WindowThread() : Thread_([this] { Run(); }) {}
    // Jobs still queued are dropped unrun.
    ~WindowThread() {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Stopped_ = true;
        }
        Wake_.notify_all();
        Thread_.join();
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    void Post(Job job) {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Queue_.push_back(std::move(job));
        }
        Wake_.notify_all();
    }
    void Pause() {
        std::lock_guard<std::mutex> guard(Lock_);
        Paused_ = true;
    }
    void Resume() {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Paused_ = false;
        }
        Wake_.notify_all();
    }
    std::size_t Queued() {
        std::lock_guard<std::mutex> guard(Lock_);
        return Queue_.size();
    }
    std::thread::id Id() const { return Thread_.get_id(); }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(Lock_);
        for (;;) {
            Wake_.wait(lock, [this] { return Stopped_ || (!Paused_ && !Queue_.empty()); });
            if (Stopped_) {
                return;
            }
            Job job = std::move(Queue_.front());
            Queue_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex Lock_;
    std::condition_variable Wake_;
    std::deque<Job> Queue_;
    bool Paused_ = false;
    bool Stopped_ = false;
    std::thread Thread_;
};

// Lets the frame sink through, or, while closed, holds it (and with it the reader, which waits
// for the hand-over) until opened again.
class Gate {
public:
    void Close() {
        std::lock_guard<std::mutex> guard(Lock_);
        Closed_ = true;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Closed_ = false;
        }
        Changed_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(Lock_);
        ++Waiting_;
        Changed_.notify_all();
        Changed_.wait(lock, [this] { return !Closed_; });
        --Waiting_;
    }
    // A sink is held at the closed gate.
    bool Holding() {
        std::lock_guard<std::mutex> guard(Lock_);
        return Waiting_ > 0;
    }

private:
    std::mutex Lock_;
    std::condition_variable Changed_;
    bool Closed_ = false;
    int Waiting_ = 0;
};

// The program's end of the line, wired as the main window wires it: the debug log in a
// folder of its own, the hand-over into the window's thread, the receive path, the
// connection. The frame sink records every frame on the window's thread.
class Program {
public:
    using FrameHook = std::function<void(const Bytes& frame)>;

    Program()
        : Log_(Home_.Home()),
          HandOver_([this](FrameHandOver::Job job) { Window_.Post(std::move(job)); },
                    [this](const std::uint8_t* frame, int length) { Sink(frame, length); }),
          Receiver_(Log_, HandOver_), Comm_(std::make_unique<TSerialComm>(Log_)) {
        Receiver_.SetLineLost([this] { ++LinesLost_; });
        Receiver_.SetTrace([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(Lock_);
            Traced_.push_back(text);
        });
        Comm_->SetReceiveCallback(&Receiver_);
    }
    // Lets a held sink and a paused window go first, so that nothing waits on them.
    ~Program() {
        Gate_.Open();
        Window_.Resume();
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Open(const std::string& path, std::uint32_t baud = 9600, std::uint8_t byteSize = 8,
              std::uint8_t parity = kParityNone, std::uint8_t stopBits = kOneStopBit) {
        return Comm_->Open(path, baud, byteSize, parity, stopBits, 0);
    }
    bool Send(const Bytes& frame) {
        return Comm_->Send(frame.data(), static_cast<int>(frame.size()));
    }
    bool SendCommand(std::uint8_t code, std::uint8_t record = 0) {
        const auto frame = BuildShortCommand(code, record);
        return Comm_->Send(frame.data(), static_cast<int>(frame.size()));
    }
    bool SendStartTest(const TestParameters& p) {
        const auto frame = BuildStartTest(p);
        return Comm_->Send(frame.data(), static_cast<int>(frame.size()));
    }

    std::size_t FrameCount() const {
        std::lock_guard<std::mutex> guard(Lock_);
        return Frames_.size();
    }
    // The frames handed over so far, from the index `from` on.
    std::vector<Bytes> Frames(std::size_t from = 0) const {
        std::lock_guard<std::mutex> guard(Lock_);
        if (from >= Frames_.size()) {
            return {};
        }
        return std::vector<Bytes>(Frames_.begin() + static_cast<std::ptrdiff_t>(from),
                                  Frames_.end());
    }
    // Waits until `count` frames in all have been handed over.
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds limit = kDeadline) const {
        std::unique_lock<std::mutex> lock(Lock_);
        return Arrived_.wait_for(lock, limit, [&] { return Frames_.size() >= count; });
    }
    // Sends a command and waits for `answers` frames; the frames that came in the meantime.
    std::vector<Bytes> Exchange(const Bytes& command, std::size_t answers) {
        const std::size_t mark = FrameCount();
        Send(command);
        WaitForFrames(mark + answers);
        return Frames(mark);
    }
    std::vector<Bytes> Exchange(std::uint8_t code, std::size_t answers, std::uint8_t record = 0) {
        const auto frame = BuildShortCommand(code, record);
        return Exchange(Bytes(frame.begin(), frame.end()), answers);
    }

    // The texts of the developer's trace channel: one for each chunk received.
    std::vector<std::string> Traced() const {
        std::lock_guard<std::mutex> guard(Lock_);
        return Traced_;
    }

    // Whether every frame was handed to the sink on the window's thread.
    bool AllOnWindowThread() const { return !OffWindowThread_.load(); }
    int LinesLost() const { return LinesLost_.load(); }

    // Called on the window's thread with each frame before it is recorded; set it before Open.
    void SetFrameHook(FrameHook hook) { Hook_ = std::move(hook); }

    TSerialComm& Comm() { return *Comm_; }
    bool HasConnection() const { return Comm_ != nullptr; }
    // Destroys the connection as the window does when it is destroyed.
    void DestroyConnection() { Comm_.reset(); }
    DebugLog& Log() { return Log_; }
    Gate& SinkGate() { return Gate_; }
    WindowThread& Window() { return Window_; }
    FrameHandOver& HandOver() { return HandOver_; }
    const TCommReceiver& Receiver() const { return Receiver_; }

private:
    void Sink(const std::uint8_t* frame, int length) {
        if (std::this_thread::get_id() != Window_.Id()) {
            OffWindowThread_ = true;
        }
        Gate_.Pass();
        const Bytes f(frame, frame + length);
        if (Hook_) {
            Hook_(f);
        }
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Frames_.push_back(f);
        }
        Arrived_.notify_all();
    }

    test::TempFolder Home_;
    DebugLog Log_;
    mutable std::mutex Lock_;
    mutable std::condition_variable Arrived_;
    std::vector<Bytes> Frames_;
    std::vector<std::string> Traced_;
    FrameHook Hook_;
    std::atomic<bool> OffWindowThread_{false};
    std::atomic<int> LinesLost_{0};
    Gate Gate_;
    WindowThread Window_;
    FrameHandOver HandOver_;
    TCommReceiver Receiver_;
    std::unique_ptr<TSerialComm> Comm_;
};

// The simulator on a pseudo-terminal of its own, with every chunk it reads and writes kept.
class Instrument {
public:
    explicit Instrument(sim::SimOptions options) : Sim_(std::move(options)) {
        Sim_.SetTraceSink([this](bool incoming, const std::uint8_t* data, int count) {
            std::lock_guard<std::mutex> guard(Lock_);
            Bytes& into = incoming ? Heard_ : Written_;
            into.insert(into.end(), data, data + count);
        });
        std::string error;
        Started_ = Sim_.Start(&error);
        EXPECT_TRUE(Started_) << error;
    }

    bool Started() const { return Started_; }
    sim::Simulator& Sim() { return Sim_; }
    std::string Path() const { return Sim_.DevicePath(); }
    // Everything written to the line so far, noise included.
    Bytes Written() const {
        std::lock_guard<std::mutex> guard(Lock_);
        return Written_;
    }
    // Everything read from the line so far.
    Bytes Heard() const {
        std::lock_guard<std::mutex> guard(Lock_);
        return Heard_;
    }

private:
    mutable std::mutex Lock_;
    Bytes Written_;
    Bytes Heard_;
    bool Started_ = false;
    sim::Simulator Sim_; // last: its thread ends before the buffers it writes into go
};

// The operator's side of the window: the parameter panel, cleared and with its frequency list
// filled as the window shows it, and what the instrument reported on connecting.
struct Operator {
    Operator() {
        panel.ResetPanel(false);
        panel.FillFrequencyList();
    }

    // RspParameters into the panel, as the dispatcher applies it.
    void Apply(const Bytes& parameters) {
        const InstrumentParameters p =
            panel.ApplyInstrumentParameters(parameters.data(), static_cast<int>(parameters.size()));
        instrumentType = p.InstrumentType;
        doubleSteps = p.DoubleSteps;
    }
    // Chooses a wiring mode (1..5) as the operator does, and with mode 1 the channel count.
    void ChooseWiring(int mode, int channels = 1) {
        panel.CBox_ConnType.Select(mode - 1);
        panel.CBox_ConnTypeChange();
        if (mode == 1) {
            panel.CBox_Model.Select(channels - 1);
        }
    }
    // The number of step frames the gauge expects for the panel as it is.
    int Gauge() const { return GaugeMaximum(panel.Selection(), doubleSteps, 0); }

    Panel panel;
    int instrumentType = 0;
    int doubleSteps = 0;
};

inline sim::SimOptions FastOptions() {
    sim::SimOptions o;
    o.Speed = kSpeed;
    return o;
}

inline std::vector<std::uint8_t> Codes(const std::vector<Bytes>& frames) {
    std::vector<std::uint8_t> codes;
    for (const Bytes& f : frames) {
        codes.push_back(f.size() > 1 ? f[1] : 0);
    }
    return codes;
}

// An expected run of frames: each code with how many times it repeats.
inline std::vector<std::uint8_t>
Sequence(std::initializer_list<std::pair<std::uint8_t, int>> runs) {
    std::vector<std::uint8_t> codes;
    for (const auto& [code, count] : runs) {
        codes.insert(codes.end(), static_cast<std::size_t>(count), code);
    }
    return codes;
}

inline Bytes Concat(const std::vector<Bytes>& frames) {
    Bytes all;
    for (const Bytes& f : frames) {
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

// Markers and length byte in place (the check byte is not looked at).
inline bool Framed(const Bytes& f) {
    return f.size() >= 5 && f.front() == kFrameStart && f.back() == kFrameEnd &&
           f.size() == static_cast<std::size_t>(f[2]) + 5;
}

// Framed, with a correct check byte.
inline bool WellFormed(const Bytes& f) {
    return Framed(f) && f[f.size() - 2] == CalcCheckCode(f.data(), static_cast<int>(f.size()));
}

inline Bytes ToBytes(const std::array<std::uint8_t, kShortCommandLength>& frame) {
    return Bytes(frame.begin(), frame.end());
}

// Sends CmdConnect and returns the instrument's answer; empty when none came.
inline Bytes Connect(Program& program) {
    const std::vector<Bytes> frames = program.Exchange(CmdConnect, 1);
    return frames.empty() ? Bytes{} : frames.front();
}

// The frames of a whole test with `steps` step frames, in order.
inline std::vector<std::uint8_t> TestFrames(int steps) {
    return Sequence({{RspTestStarted, 1},
                     {RspBoosting, sim::InstrumentTiming::BoostFrames},
                     {RspStepResult, steps},
                     {RspFinalResult, 1}});
}

// Starts a test with the panel's values and waits for as many frames as a whole test of the
// gauge's steps brings; the frames that came.
inline std::vector<Bytes> RunTest(Program& program, const Operator& op) {
    const auto start = BuildStartTest(op.panel.ReadTestParameters());
    return program.Exchange(Bytes(start.begin(), start.end()), TestFrames(op.Gauge()).size());
}

} // namespace dielmon::link
