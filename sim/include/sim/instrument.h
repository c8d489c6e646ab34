// The simulated instrument without its line: it takes the command frames that arrive and
// schedules the frames it answers with, each at the time it is due. The caller feeds it the
// frames it reassembled and asks it, at or after each due time, for what to send. Nothing here
// sleeps or touches a file, so tests drive it with made-up times.
#pragma once

#include "sim/options.h"
#include "sim/payloads.h"

#include "core/clock.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace dielmon::sim {

class Model;
struct TestConditions;

using SteadyTime = std::chrono::steady_clock::time_point;

// Something the instrument does on its line at a given time: send a whole frame, or close the
// line (Frame empty).
struct Output {
    SteadyTime Due;
    std::vector<std::uint8_t> Frame;
    bool Hangup = false;
};

struct InstrumentCounters {
    std::array<std::uint64_t, 256> Commands{}; // frames taken in, by code (bad check included)
    std::uint64_t BadCheck = 0;                // frames dropped for a wrong check byte
    std::uint64_t Unknown = 0;                 // frames whose code is no command
    std::uint64_t Unanswered = 0;   // commands left without answer: a test already running,
                                    // a record number that is not in the store
    std::uint64_t NothingSaved = 0; // saves without a new result, or with the store full
};

// Delays of a real instrument at speed 1; every one is divided by the speed factor.
struct InstrumentTiming {
    static constexpr std::chrono::milliseconds Reply{50};
    static constexpr std::chrono::milliseconds Save{300};
    static constexpr std::chrono::milliseconds SaveDone{500};
    static constexpr std::chrono::milliseconds Print{1500};
    static constexpr std::chrono::milliseconds Clear{800};
    static constexpr std::chrono::milliseconds IndexGap{20};
    static constexpr std::chrono::milliseconds Boost{200}; // between boosting frames
    static constexpr std::chrono::milliseconds Step{300};  // between steps, and to the result
    static constexpr int BoostFrames = 10;
};

class Instrument {
public:
    // wallClock dates the results.
    Instrument(const SimOptions& options, const Clock& wallClock);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // A whole frame as the reassembly cut it out, received at `now`.
    void Receive(const std::uint8_t* frame, int length, SteadyTime now);
    // Everything due at or before `now`, in order. Stops after a hang-up.
    std::vector<Output> Poll(SteadyTime now);
    // When the next output is due; nothing when nothing is pending.
    std::optional<SteadyTime> NextDue() const;

    bool TestRunning() const { return Run_ != nullptr; }
    // After a hang-up the instrument neither takes nor sends anything.
    bool LineClosed() const { return LineClosed_; }
    const InstrumentSettings& Settings() const { return Settings_; }
    const std::vector<StoredRecord>& Store() const { return Store_; }
    const InstrumentCounters& Counters() const { return Counters_; }

private:
    struct Run;

    std::vector<std::uint8_t> Frame(std::uint8_t code, const std::vector<std::uint8_t>& payload);
    // Schedules a frame `delay` after the instrument is free, and keeps it busy until then.
    void Reply(std::uint8_t code, const std::vector<std::uint8_t>& payload, SteadyTime now,
               std::chrono::milliseconds delay);
    SteadyTime::duration Scaled(std::chrono::milliseconds d) const;
    void StartTest(const std::uint8_t* frame, int length, SteadyTime now);
    void Save(SteadyTime now);
    void ListIndex(SteadyTime now);
    // The stored record a command names, or nothing when its number is not in the store.
    std::optional<std::size_t> RecordOf(const std::uint8_t* frame, int length) const;
    void EmitRunEvent(std::vector<Output>& out);
    // The event of a run at which a fault set for `step` strikes.
    int FaultEvent(int step) const;
    DateStamp Now() const;

    SimOptions Options_;
    const Clock& WallClock_;
    std::unique_ptr<Model> Model_;
    InstrumentSettings Settings_;
    std::vector<StoredRecord> Store_;
    std::optional<StoredRecord> LastResult_;
    bool LastResultSaved_ = false;
    std::optional<ErrorFault> Error_;
    std::optional<int> HangupAt_;
    std::unique_ptr<Run> Run_;
    int TestsStarted_ = 0;
    std::vector<Output> Replies_; // ordered by due time
    SteadyTime BusyUntil_{};
    bool LineClosed_ = false;
    InstrumentCounters Counters_;
};

} // namespace dielmon::sim
