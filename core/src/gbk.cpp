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

} // namespace dielmon
