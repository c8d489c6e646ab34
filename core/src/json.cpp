#include "core/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace dielmon {

namespace {

// The length of the well-formed UTF-8 character at `at`, 0 when there is none.
std::size_t Utf8CharAt(const std::string& s, std::size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (at + n > s.size()) {
        return 0;
    }
    for (std::size_t j = 1; j < n; ++j) {
        const auto t = static_cast<unsigned char>(s[at + j]);
        if ((t & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

} // namespace

bool IsUtf8(const std::string& s) {
    for (std::size_t at = 0; at < s.size();) {
        const std::size_t n = Utf8CharAt(s, at);
        if (n == 0) {
            return false;
        }
        at += n;
    }
    return true;
}

std::string JsonString(const std::string& utf8) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out = "\"";
    out.reserve(utf8.size() + 2);
    for (std::size_t at = 0; at < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[at]);
        const std::size_t n = Utf8CharAt(utf8, at);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        if (n > 1) {
            out.append(utf8, at, n);
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        at += n;
    }
    return out + "\"";
}

std::string JsonNumber(double value, int digits) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value + 0.0,
                                 std::chars_format::general, digits);
    return std::string(buffer, r.ptr);
}

std::string JsonNumber(const std::optional<double>& value, int digits) {
    return value ? JsonNumber(*value, digits) : "null";
}

} // namespace dielmon
