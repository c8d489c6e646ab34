#include "core/history.h"

#include "core/helpers.h"
#include "core/results.h"

namespace dielmon {

std::string HistoryCountText(int used) {
    return "可用数据" + std::to_string(static_cast<long long>(HistoryCapacity) - used) +
           "条，已用" + std::to_string(used) + "条";
}

std::string RecordNumberText(int number) {
    return Format("%.3d", number);
}

int RecordNumberOf(const std::string& numberText) {
    return ParseInt(numberText).value_or(0);
}

IndexEntry DecodeIndexEntry(const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    IndexEntry e;
    e.Used = r.Byte(0);
    e.Number = r.Byte(1);
    e.Year = r.Byte(2);
    e.Month = r.Byte(3);
    e.Day = r.Byte(4);
    e.Hour = r.Byte(5);
    e.Minute = r.Byte(6);
    e.Second = r.Byte(7);
    return e;
}

std::string TestTimeText(const IndexEntry& e) {
    return Format("20%.2d-%.2d-%.2d", e.Year, e.Month, e.Day) +
           Format(" %.2d:%.2d:%.2d", e.Hour, e.Minute, e.Second);
}

IndexUpdate ShowIndexEntry(const std::uint8_t* frame, int length) {
    const IndexEntry e = DecodeIndexEntry(frame, length);
    IndexUpdate u;
    u.ClearRows = e.Number == 1;
    u.CountText = HistoryCountText(e.Used);
    if (e.Used != 0) {
        u.Row = IndexRow{RecordNumberText(e.Number), TestTimeText(e)};
    }
    return u;
}

} // namespace dielmon
