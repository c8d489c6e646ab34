#include "core/gbk.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace dielmon {

namespace {

// Converts with iconv; at a byte sequence the target cannot take, `replacement` is written
// and `skip(input)` bytes of the input are passed over.
// One conversion descriptor per direction and thread, opened on first use: opening one costs
// more than converting a label's text.
class Converter {
public:
    Converter(const char* to, const char* from) : Cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) {
            iconv_close(Cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return Cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return Cd_; }

private:
    iconv_t Cd_;
};

template <typename Skip>
std::string Convert(const Converter& converter, const std::string& in,
                    const std::string& replacement, Skip skip) {
    if (!converter.Valid()) {
        return in;
    }
    iconv_t cd = converter.Get();
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh start for every text
    std::string out;
    out.reserve(in.size() * 3 / 2 + 4);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buffer[1024];
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut off at the end)
            out += replacement;
            const std::size_t n = std::min(left, skip(reinterpret_cast<unsigned char*>(src), left));
            src += n;
            left -= n;
        }
    }
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return out;
}

} // namespace

std::string GbkToUtf8(const std::string& gbk) {
    thread_local const Converter converter("UTF-8", "GBK");
    return Convert(converter, gbk, "\xEF\xBF\xBD",
                   [](const unsigned char*, std::size_t) { return std::size_t{1}; });
}

std::string Utf8ToGbk(const std::string& utf8) {
    thread_local const Converter converter("GBK", "UTF-8");
    return Convert(converter, utf8, "?", [](const unsigned char* p, std::size_t left) {
        // Pass over one whole UTF-8 character.
        std::size_t n = 1;
        while (n < left && n < 4 && (p[n] & 0xC0) == 0x80) {
            ++n;
        }
        return n;
    });
}

bool IsUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t k = 0; k < n;) {
        const unsigned char c = p[k];
        std::size_t length = 0;
        std::uint32_t value = 0;
        if (c < 0x80) {
            ++k;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            value = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            value = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            value = c & 0x07u;
        } else {
            return false;
        }
        if (k + length > n) {
            return false;
        }
        for (std::size_t j = 1; j < length; ++j) {
            if ((p[k + j] & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (p[k + j] & 0x3Fu);
        }
        const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
        if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            return false;
        }
        k += length;
    }
    return true;
}

} // namespace dielmon
