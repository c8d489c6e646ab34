// The serial link end to end: the program's side wired as the main window wires it (the
// connection, the receive path with its debug log, the hand-over to the window's thread and a
// frame sink there), and the instrument's side, the simulator on a pseudo-terminal of its own.
// Every wait is on a condition with a generous deadline; nothing here measures wall-clock time.
#pragma once

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
#include "support/frames.h"
#include "support/log.h"
#include "support/sim.h"
#include "support/tempdir.h"
#include "support/threads.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dielmon::link {

using namespace test;

// The speed factor of the simulator in these tests: a one-channel test takes about 50 ms.
inline constexpr double kSpeed = 100;

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
    EventLoop& Window() { return Window_; }
    FrameHandOver& HandOver() { return HandOver_; }
    const TCommReceiver& Receiver() const { return Receiver_; }

private:
    void Sink(const std::uint8_t* frame, int length) {
        if (std::this_thread::get_id() != Window_.ThreadId()) {
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

    TempDir Home_;
    DebugLog Log_;
    mutable std::mutex Lock_;
    mutable std::condition_variable Arrived_;
    std::vector<Bytes> Frames_;
    std::vector<std::string> Traced_;
    FrameHook Hook_;
    std::atomic<bool> OffWindowThread_{false};
    std::atomic<int> LinesLost_{0};
    Gate Gate_;
    EventLoop Window_;
    FrameHandOver HandOver_;
    TCommReceiver Receiver_;
    std::unique_ptr<TSerialComm> Comm_;
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
