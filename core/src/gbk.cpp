#include "core/gbk.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace dielmon {

namespace {

// Converts with iconv; at a byte sequence the target cannot take, `replacement` is written
// and `skip(input)` bytes of the input are passed over.
template <typename Skip>
std::string Convert(const char* to, const char* from, const std::string& in,
                    const std::string& replacement, Skip skip) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return in;
    }
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
    iconv_close(cd);
    return out;
}

} // namespace

std::string GbkToUtf8(const std::string& gbk) {
    return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD",
                   [](const unsigned char*, std::size_t) { return std::size_t{1}; });
}

std::string Utf8ToGbk(const std::string& utf8) {
    return Convert("GBK", "UTF-8", utf8, "?", [](const unsigned char* p, std::size_t left) {
        // Pass over one whole UTF-8 character.
        std::size_t n = 1;
        while (n < left && n < 4 && (p[n] & 0xC0) == 0x80) {
            ++n;
        }
        return n;
    });
}

} // namespace dielmon
