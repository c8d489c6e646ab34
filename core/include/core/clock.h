// The time as the program reads it. The window's half-second tick, the time-outs and the daily
// log all read the time through a Clock so that tests can move it instead of sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace dielmon {

using TimePoint = std::chrono::system_clock::time_point;

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
    virtual TimePoint Now() const = 0;
};

class SystemClock : public Clock {
public:
    TimePoint Now() const override { return std::chrono::system_clock::now(); }
};

// A clock that stands still until a test moves it. The test moves it on its own thread while
// the serial reader reads it for the log's time stamps, so the time point is atomic.
class ManualClock : public Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint{}) : now_(start) {}
    TimePoint Now() const override { return now_.load(); }
    void Set(TimePoint t) { now_.store(t); }
    void Advance(std::chrono::milliseconds d) { now_.store(now_.load() + d); }

private:
    std::atomic<TimePoint> now_;
};

const Clock& DefaultClock();

LocalTime ToLocal(TimePoint t);
// The local time point of a calendar date and time (for tests and the simulator).
TimePoint FromLocal(int year, int month, int day, int hour, int minute, int second);

// Whole seconds from `since` to `now`, truncated; negative when the clock went back.
long long WholeSecondsBetween(TimePoint since, TimePoint now);

// "2016-03-24 15:34:00": the time stamp of a log line.
std::string LogTimeText(const LocalTime& t);
// "2016年03月24日    星期四    15:34:00": the clock label of the main window.
std::string ClockText(const LocalTime& t);

} // namespace dielmon
