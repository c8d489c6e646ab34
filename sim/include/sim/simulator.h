// The simulated instrument on a line: a pseudo-terminal of its own, or a real serial port.
// A thread of its own reads the commands, hands them to the Instrument and writes what it
// schedules, with the line faults the options ask for. Counters may be read from any thread.
#pragma once

#include "core/fd.h"

#include "sim/options.h"

#include "core/clock.h"
#include "core/frame.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace dielmon::sim {

class Instrument;
struct Output;

class Simulator : FrameSink {
public:
    // Receives each chunk read from the line (incoming = true) and each chunk written to it.
    using TraceSink = std::function<void(bool incoming, const std::uint8_t* data, int count)>;

    explicit Simulator(SimOptions options, const Clock& wallClock = DefaultClock());
    ~Simulator() override;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Called on the simulator's thread; set it before Start.
    void SetTraceSink(TraceSink sink) { Trace_ = std::move(sink); }

    // Opens the line and starts the thread. False with a message when the line cannot be had.
    bool Start(std::string* error);
    // Ends the thread and closes the line. Safe to call more than once.
    void Stop();

    // The port the program opens: the far end of the pseudo-terminal, or --device.
    std::string DevicePath() const { return DevicePath_; }
    // True from Start until Stop, a hang-up or a failure of the line.
    bool Running() const { return Running_.load(); }
    bool HungUp() const { return HungUp_.load(); }

    std::uint64_t CommandsReceived(std::uint8_t code) const { return Received_[code].load(); }
    std::uint64_t CommandsReceived() const { return ReceivedTotal_.load(); }
    std::uint64_t BadCheckCommands() const { return BadCheck_.load(); }
    // Counted when a frame's last byte has been written.
    std::uint64_t FramesSent(std::uint8_t code) const { return Sent_[code].load(); }
    std::uint64_t FramesSent() const { return SentTotal_.load(); }
    std::uint64_t WritesMade() const { return Writes_.load(); }
    std::uint64_t NoiseBytesSent() const { return NoiseBytes_.load(); }

private:
    struct Line;
    // What writing the due chunks came to. Blocked: the line takes no more bytes for now.
    enum class Flushed { Idle, Blocked, WaitingToHangUp, Closed };

    void Loop();
    // Turns an output of the instrument into chunks to write, with the faults of the line.
    void Enqueue(Output& o, std::chrono::steady_clock::time_point now);
    // Writes every chunk that is due.
    Flushed Flush(std::chrono::steady_clock::time_point now);
    // A command cut out of the received bytes.
    void FrameReady(const std::uint8_t* frame, int length) override;

    SimOptions Options_;
    const Clock& WallClock_;
    TraceSink Trace_;
    std::chrono::steady_clock::duration SplitPause_{};
    std::string DevicePath_;
    std::unique_ptr<Line> Line_;
    std::unique_ptr<Instrument> Instrument_;
    std::thread Thread_;
    UniqueFd WakeFd_; // an eventfd that Stop writes to
    std::atomic<bool> StopRequested_{false};
    std::atomic<bool> Running_{false};
    std::atomic<bool> HungUp_{false};

    std::array<std::atomic<std::uint64_t>, 256> Received_{};
    std::atomic<std::uint64_t> ReceivedTotal_{0};
    std::atomic<std::uint64_t> BadCheck_{0};
    std::array<std::atomic<std::uint64_t>, 256> Sent_{};
    std::atomic<std::uint64_t> SentTotal_{0};
    std::atomic<std::uint64_t> Writes_{0};
    std::atomic<std::uint64_t> NoiseBytes_{0};
};

} // namespace dielmon::sim
