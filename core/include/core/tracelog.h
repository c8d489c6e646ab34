// Reading the traffic trace of a debug log back: the "发出：" and "收到" lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

struct TraceLine {
    int LineNumber = 0;
    std::string Time; // the text before the two spaces
    bool Sent = false;
    std::vector<std::uint8_t> Bytes;
};

struct TraceParse {
    std::vector<TraceLine> Lines;
    std::vector<std::string> Errors; // "line 12: broken byte pair 'G1'"
};

// A trace line holds two spaces followed by "发出：" or "收到" and hexadecimal byte pairs.
// Other lines give nothing; a trace line with a broken byte pair gives an error.
std::optional<TraceLine> ParseTraceLine(const std::string& line, int lineNumber,
                                        std::string* error);
// All trace lines of a log file's bytes (lines end with CR LF or LF).
TraceParse ParseTraceLog(const std::string& bytes);

} // namespace dielmon
