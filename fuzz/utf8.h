// Whether bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
#pragma once

#include <cstdint>
#include <string>

inline bool IsUtf8(const std::string& s) {
    for (std::size_t k = 0; k < s.size();) {
        const auto c = static_cast<unsigned char>(s[k]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++k;
            continue;
        }
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
            return false;
        }
        if (k + n > s.size()) {
            return false;
        }
        for (std::size_t j = 1; j < n; ++j) {
            const auto t = static_cast<unsigned char>(s[k + j]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        k += n;
    }
    return true;
}
