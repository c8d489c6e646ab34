#include "gbk_escape.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace dielmon {

namespace {

// The length of the UTF-8 sequence that starts with `lead`; 0 when it cannot start one.
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

class Converter {
public:
    Converter() : Cd_(iconv_open("GB18030", "UTF-8")) {}
    ~Converter() {
        if (Ok()) {
            iconv_close(Cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return Cd_ != reinterpret_cast<iconv_t>(-1); }

    // The GB18030 bytes of one UTF-8 character; false when iconv refuses it.
    bool Convert(const char* utf8, std::size_t n, std::string& out) {
        char in[4];
        for (std::size_t k = 0; k < n; ++k) {
            in[k] = utf8[k];
        }
        char buffer[16];
        char* src = in;
        std::size_t left = n;
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        if (iconv(Cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) || left != 0) {
            iconv(Cd_, nullptr, nullptr, nullptr, nullptr);
            return false;
        }
        out.assign(buffer, static_cast<std::size_t>(dst - buffer));
        return true;
    }

private:
    iconv_t Cd_;
};

} // namespace

bool EscapeNonAscii(const std::string& utf8, std::string& out, std::string& error) {
    Converter converter;
    if (!converter.Ok()) {
        error = "iconv cannot convert from UTF-8 to GB18030";
        return false;
    }
    out.clear();
    out.reserve(utf8.size() * 2);
    std::string bytes;
    int line = 1;
    // A byte-order mark is no character of the source; the compilers pass over it too.
    const std::size_t start = utf8.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (std::size_t k = start; k < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[k]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            line += c == '\n' ? 1 : 0;
            ++k;
            continue;
        }
        const std::size_t n = SequenceLength(c);
        bool valid = n > 0 && k + n <= utf8.size();
        for (std::size_t j = 1; valid && j < n; ++j) {
            valid = (static_cast<unsigned char>(utf8[k + j]) & 0xC0) == 0x80;
        }
        if (!valid || !converter.Convert(utf8.data() + k, n, bytes)) {
            error = "line " + std::to_string(line) + ": not a UTF-8 character GB18030 can hold";
            return false;
        }
        for (const char b : bytes) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned char>(b));
            out += escape;
        }
        k += n;
    }
    return true;
}

} // namespace dielmon
