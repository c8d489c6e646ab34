#include "core/tracelog.h"

#include "core/helpers.h"

namespace dielmon {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::optional<TraceLine> ParseTraceLine(const std::string& line, int lineNumber,
                                        std::string* error) {
    static const std::string kSent = "  发出：";
    static const std::string kReceived = "  收到";
    std::size_t at = line.find(kSent);
    bool sent = true;
    std::size_t marker = kSent.size();
    const std::size_t received = line.find(kReceived);
    if (received != std::string::npos && (at == std::string::npos || received < at)) {
        at = received;
        sent = false;
        marker = kReceived.size();
    }
    if (at == std::string::npos) {
        return std::nullopt;
    }
    TraceLine t;
    t.LineNumber = lineNumber;
    t.Time = line.substr(0, at);
    t.Sent = sent;
    std::size_t k = at + marker;
    while (k < line.size()) {
        const char c = line[k];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++k;
            continue;
        }
        const std::size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\r') {
            ++k;
        }
        const std::string pair = line.substr(start, k - start);
        const int hi = pair.size() == 2 ? HexDigit(pair[0]) : -1;
        const int lo = pair.size() == 2 ? HexDigit(pair[1]) : -1;
        if (hi < 0 || lo < 0) {
            if (error != nullptr) {
                *error = "line " + std::to_string(lineNumber) + ": broken byte pair '" +
                         pair.substr(0, 16) + "'";
            }
            return std::nullopt;
        }
        t.Bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    if (error != nullptr) {
        error->clear();
    }
    return t;
}

TraceParse ParseTraceLog(const std::string& bytes) {
    TraceParse result;
    int number = 0;
    for (const std::string& line : SplitLines(bytes)) {
        ++number;
        std::string error;
        if (auto t = ParseTraceLine(line, number, &error)) {
            result.Lines.push_back(std::move(*t));
        } else if (!error.empty()) {
            result.Errors.push_back(error);
        }
    }
    return result;
}

} // namespace dielmon
