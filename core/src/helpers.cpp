#include "core/helpers.h"
#include "core/fd.h"

#include "fileio.h"

#include <array>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace dielmon {

std::string Format(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(copy);
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        va_end(copy);
        return std::string(small, static_cast<std::size_t>(n));
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

std::string NonFiniteText(double value) {
    if (std::isnan(value)) {
        return "NAN";
    }
    return value < 0 ? "-INF" : "INF";
}

std::string FormatFixed(int decimals, int width, double value) {
    decimals = decimals < 0 ? 0 : (decimals > 30 ? 30 : decimals);
    std::string text;
    if (!std::isfinite(value)) {
        text = NonFiniteText(value);
    } else {
        // The value to 18 significant digits, then rounded half away from zero at the
        // requested decimal, on the digit string. The digits are worked on in a plain buffer:
        // GCC 12 at -O3 sees overlapping copies that cannot happen in std::string's replace
        // (a false -Wrestrict), and a buffer of known size needs no allocation either.
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
        char digits[18];
        std::size_t count = 0;
        const char* p = buf;
        for (; *p != 'e'; ++p) {
            if (*p >= '0' && *p <= '9' && count < sizeof digits) {
                digits[count++] = *p;
            }
        }
        const int exponent = std::atoi(p + 1);
        const int shift = exponent - 17 + decimals; // value × 10^decimals = digits × 10^shift
        // At most 309 integer digits (DBL_MAX) plus 30 decimals, and one carry.
        char n[18 + 308 + 30 + 2];
        std::size_t len = 0;
        if (shift >= 0) {
            std::memcpy(n, digits, count);
            std::memset(n + count, '0', static_cast<std::size_t>(shift));
            len = count + static_cast<std::size_t>(shift);
        } else if (-shift <= static_cast<int>(count)) {
            len = count - static_cast<std::size_t>(-shift);
            std::memcpy(n, digits, len);
            const bool roundUp = digits[len] >= '5';
            if (len == 0) {
                n[len++] = '0';
            }
            if (roundUp) {
                std::size_t k = len;
                while (k > 0 && n[k - 1] == '9') {
                    n[--k] = '0';
                }
                if (k == 0) {
                    std::memmove(n + 1, n, len++);
                    n[0] = '1';
                } else {
                    ++n[k - 1];
                }
            }
        } else {
            n[len++] = '0';
        }
        std::size_t first = 0;
        while (first + 1 < len && n[first] == '0') {
            ++first;
        }
        const char* d = n + first;
        const std::size_t dl = len - first;
        const bool zero = dl == 1 && d[0] == '0';
        const auto places = static_cast<std::size_t>(decimals);
        if (value < 0 && !zero) {
            text.push_back('-');
        }
        if (dl <= places) {
            text.push_back('0');
            text.push_back('.');
            text.append(places - dl, '0');
            text.append(d, dl);
        } else {
            text.append(d, dl - places);
            if (places > 0) {
                text.push_back('.');
                text.append(d + dl - places, places);
            }
        }
    }
    if (static_cast<int>(text.size()) < width) {
        text.append(static_cast<std::size_t>(width) - text.size(), ' ');
    }
    return text;
}

double TruncScaled(double value, int k) {
    static const double kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    const double m = kPowers[k < 0 ? 0 : (k > 6 ? 6 : k)];
    const double p = value * m;
    const double err = std::fma(value, m, -p); // exact remainder of the rounded product
    double t = std::trunc(p);
    if (t == p && std::fabs(p) < 9007199254740992.0) { // below 2^53 every integer is exact
        if (value > 0 && err < 0) {
            t -= 1;
        } else if (value < 0 && err > 0) {
            t += 1;
        }
    }
    return t + 0.0; // no negative zero
}

namespace {

std::string FormatCut(double value, int k) {
    if (!std::isfinite(value)) {
        return NonFiniteText(value);
    }
    static const double kPowers[] = {1, 10, 100, 1000, 10000};
    // A whole number prints exactly with "%.0f"; no integer type has to hold it.
    return Format("%.*f", k, TruncScaled(value, k) / kPowers[k]);
}

} // namespace

std::string FormatValue3(double value) {
    const double a = std::fabs(value);
    const int k = a > 1000 ? 0 : a > 100 ? 1 : a > 10 ? 2 : 3;
    return FormatCut(value, k);
}

std::string FormatValue4(double value) {
    const double a = std::fabs(value);
    const int k = a > 10000 ? 0 : a > 1000 ? 1 : a > 100 ? 2 : a > 10 ? 3 : 4;
    return FormatCut(value, k);
}

std::string PadRight(const std::string& text, int width) {
    if (static_cast<int>(text.size()) > width) {
        return text;
    }
    std::string padded = text;
    padded.append(static_cast<std::size_t>(width) + 1 - text.size(), ' ');
    return padded;
}

double BytesToFloat(const std::uint8_t* p) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return static_cast<double>(f);
}

void FloatToBytes(float value, std::uint8_t* p) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int k = 0; k < 4; ++k) {
        p[k] = static_cast<std::uint8_t>(bits >> (8 * k));
    }
}

namespace {
const std::array<const char*, 5> kWiringModes = {"正接线", "反接线", "反接线低压屏蔽", "CVT自激法",
                                                 "变比"};
const std::array<const char*, 7> kWeekNames = {"星期一", "星期二", "星期三", "星期四",
                                               "星期五", "星期六", "星期日"};
} // namespace

int WiringModeToIndex(const std::string& name) {
    for (std::size_t k = 0; k < kWiringModes.size(); ++k) {
        if (name == kWiringModes[k]) {
            return static_cast<int>(k) + 1;
        }
    }
    return 1;
}

std::string IndexToWiringMode(int index) {
    if (index < 1 || index > 5) {
        return {};
    }
    return kWiringModes[static_cast<std::size_t>(index) - 1];
}

std::string GetWeekName(int isoWeekday) {
    if (isoWeekday < 1 || isoWeekday > 7) {
        return {};
    }
    return kWeekNames[static_cast<std::size_t>(isoWeekday) - 1];
}

bool AppendLine(const std::string& line, const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd) {
        return false;
    }
    const bool ok = detail::WriteFully(fd.Get(), line + "\r\n") == 0;
    return fd.Close() && ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string& line = lines.emplace_back(text, start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        start = end + 1;
    }
    return lines;
}

std::string TrimBlanks(const std::string& text) {
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && blank(text[first])) {
        ++first;
    }
    while (last > first && blank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::optional<int> ParseInt(const std::string& typed) {
    const std::string text = TrimBlanks(typed);
    std::size_t k = 0;
    bool negative = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
        negative = text[k] == '-';
        ++k;
    }
    if (k == text.size()) {
        return std::nullopt;
    }
    long long v = 0;
    for (; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') {
            return std::nullopt;
        }
        v = v * 10 + (text[k] - '0');
        if (v > 2147483648LL) {
            return std::nullopt;
        }
    }
    v = negative ? -v : v;
    if (v > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

std::optional<double> ParseDecimal(const std::string& typed) {
    const std::string text = TrimBlanks(typed);
    // sign? digits* ("." digits*)? (e sign? digits+)?, at least one mantissa digit
    std::size_t k = 0;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
        ++k;
    }
    int mantissaDigits = 0;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
        ++k;
        ++mantissaDigits;
    }
    if (k < text.size() && text[k] == '.') {
        ++k;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
            ++k;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }
    if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
        ++k;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
            ++k;
        }
        int exponentDigits = 0;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
            ++k;
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return std::nullopt;
        }
    }
    if (k != text.size()) {
        return std::nullopt;
    }
    // from_chars reads "." whatever the process locale says.
    double v = 0;
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (!std::isfinite(v) || std::fabs(v) > static_cast<double>(FLT_MAX)) {
        return std::nullopt;
    }
    return v;
}

} // namespace dielmon
