// The index of the instrument's stored records: index entries, the count text, row texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dielmon {

inline constexpr int HistoryCapacity = 100;

// "可用数据91条，已用9条".
std::string HistoryCountText(int used);
// "%.3d": 7 gives "007".
std::string RecordNumberText(int number);
// The integer value of a "编号" text ("007" gives 7); 0 when it holds no number.
int RecordNumberOf(const std::string& numberText);

struct IndexEntry {
    int Used = 0;
    int Number = 0;
    int Year = 0; // within the century
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};
IndexEntry DecodeIndexEntry(const std::uint8_t* frame, int length);
// "2016-03-24 15:34:00" (year 2000 + byte, "%.2d" fields).
std::string TestTimeText(const IndexEntry& e);

struct IndexRow {
    std::string Number; // "编号"
    std::string Time;   // "测试时间"
};
// What one RspIndex frame does to the list and the count label.
struct IndexUpdate {
    bool ClearRows = false;
    std::string CountText;
    std::optional<IndexRow> Row;
};
IndexUpdate ShowIndexEntry(const std::uint8_t* frame, int length);

} // namespace dielmon
