// Reading back the debug log the serial link writes into.
#pragma once

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dielmon::test {

// "2016-03-24 15:34:00"
inline bool IsTimeStamp(const std::string& s) {
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

// The texts of the lines of a log file, each checked to start with a time stamp and two
// spaces and to end with CR LF; a line that does not is returned whole, marked "malformed: ".
inline std::vector<std::string> LogTexts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string content = all.str();
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

} // namespace dielmon::test
