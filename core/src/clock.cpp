#include "core/clock.h"

#include "core/helpers.h"

#include <cstdio>
#include <ctime>

namespace dielmon {

const Clock& DefaultClock() {
    static const SystemClock clock;
    return clock;
}

LocalTime ToLocal(TimePoint t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    LocalTime l;
    l.year = tm.tm_year + 1900;
    l.month = tm.tm_mon + 1;
    l.day = tm.tm_mday;
    l.hour = tm.tm_hour;
    l.minute = tm.tm_min;
    l.second = tm.tm_sec;
    l.weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
    return l;
}

TimePoint FromLocal(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

long long WholeSecondsBetween(TimePoint since, TimePoint now) {
    return std::chrono::duration_cast<std::chrono::seconds>(now - since).count();
}

long long WholeSecondsBetween(SteadyPoint since, SteadyPoint now) {
    return std::chrono::duration_cast<std::chrono::seconds>(now - since).count();
}

std::string LogTimeText(const LocalTime& t) {
    return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

std::optional<TimePoint> ParseLogTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &end) != 6 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0) {
        return std::nullopt;
    }
    return FromLocal(year, month, day, hour, minute, second);
}

std::string ClockText(const LocalTime& t) {
    return Format("%.4d年%.2d月%.2d日    ", t.year, t.month, t.day) + GetWeekName(t.weekday) +
           Format("    %.2d:%.2d:%.2d", t.hour, t.minute, t.second);
}

} // namespace dielmon
