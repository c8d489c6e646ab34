#include "support/log.h"

#include "support/tempdir.h"

#include <cctype>

namespace dielmon::test {

bool IsTimeStamp(const std::string& s) {
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (s.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(s[i])) != 0;
        if (shape[i] == 'd' ? !digit : s[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> LogTexts(const std::string& path) {
    const std::string content = ReadAll(path);
    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            texts.push_back("malformed: " + content.substr(start));
            break;
        }
        const std::string line = content.substr(start, end - start);
        if (line.size() >= 21 && IsTimeStamp(line.substr(0, 19)) &&
            line.compare(19, 2, "  ") == 0) {
            texts.push_back(line.substr(21));
        } else {
            texts.push_back("malformed: " + line);
        }
        start = end + 2;
    }
    return texts;
}

std::optional<Bytes> ReceivedBytes(const std::string& text) {
    const std::string head = ReceivedTraceText(nullptr, 0);
    if (text.compare(0, head.size(), head) != 0) {
        return std::nullopt;
    }
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    Bytes bytes;
    for (std::size_t i = head.size(); i < text.size(); i += 3) {
        if (text.size() - i < 3 || text[i] != ' ' || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

bool IsSentText(const std::string& text) {
    return text.rfind(SentTraceText(nullptr, 0), 0) == 0;
}

Bytes LoggedBytes(const std::string& path) {
    Bytes all;
    for (const std::string& text : LogTexts(path)) {
        if (const std::optional<Bytes> bytes = ReceivedBytes(text)) {
            all.insert(all.end(), bytes->begin(), bytes->end());
        }
    }
    return all;
}

} // namespace dielmon::test
