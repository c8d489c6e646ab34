// The time as the program reads it. The window's half-second tick, the time-outs and the daily
// log all read the time through a Clock so that tests can move it instead of sleeping. A clock
// has two faces: the wall time the operator reads (the clock label, the log, date stamps) and
// a steady time for every time-out, which setting the system clock neither stops nor skips.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace dielmon {

using TimePoint = std::chrono::system_clock::time_point;
using SteadyPoint = std::chrono::steady_clock::time_point;

struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    int weekday = 0; // Monday = 1 .. Sunday = 7
};

class Clock {
public:
    virtual ~Clock() = default;
    // Wall time.
    virtual TimePoint Now() const = 0;
    // Steady time, for time-outs.
    virtual SteadyPoint Steady() const = 0;
};

class SystemClock : public Clock {
public:
    TimePoint Now() const override { return std::chrono::system_clock::now(); }
    SteadyPoint Steady() const override { return std::chrono::steady_clock::now(); }
};

// A clock that stands still until a test moves it. The test moves it on its own thread while
// the serial reader reads it for the log's time stamps, so the time points are atomic.
class ManualClock : public Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint{}) : now_(start) {}
    TimePoint Now() const override { return now_.load(); }
    SteadyPoint Steady() const override { return steady_.load(); }
    // Sets the wall time only, as the operator setting the system clock does.
    void Set(TimePoint t) { now_.store(t); }
    // Time passing: both faces move.
    void Advance(std::chrono::milliseconds d) {
        now_.store(now_.load() + d);
        steady_.store(steady_.load() + d);
    }

private:
    std::atomic<TimePoint> now_;
    std::atomic<SteadyPoint> steady_{SteadyPoint{}};
};

const Clock& DefaultClock();

LocalTime ToLocal(TimePoint t);
// The local time point of a calendar date and time (for tests and the simulator).
TimePoint FromLocal(int year, int month, int day, int hour, int minute, int second);

// Whole seconds from `since` to `now`, truncated; negative when the clock went back.
long long WholeSecondsBetween(TimePoint since, TimePoint now);
long long WholeSecondsBetween(SteadyPoint since, SteadyPoint now);

// "2016-03-24 15:34:00": the time stamp of a log line.
std::string LogTimeText(const LocalTime& t);
// The local time point of such a stamp; nothing when the text is not one.
std::optional<TimePoint> ParseLogTime(const std::string& text);
// "2016年03月24日    星期四    15:34:00": the clock label of the main window.
std::string ClockText(const LocalTime& t);

} // namespace dielmon
