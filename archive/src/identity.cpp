#include "identity.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sys/random.h>
#include <unistd.h>

namespace dielmon::archive::detail {

namespace {

void RandomBytes(std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::getrandom(out + done, n - done, 0);
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    if (done < n) {
        // Without the kernel's generator (a very old kernel, a seccomp filter).
        std::random_device device;
        for (; done < n; ++done) {
            out[done] = static_cast<std::uint8_t>(device());
        }
    }
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
    static const char* const kDigits = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t k = 0; k < n; ++k) {
        out += kDigits[p[k] >> 4];
        out += kDigits[p[k] & 0xF];
    }
    return out;
}

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(std::array<std::uint32_t, 8>& h, const std::uint8_t* block) {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
               static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | block[4 * t + 3];
    }
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const std::uint32_t ch = (e & f) ^ (~e & g);
        const std::uint32_t t1 = k + s1 + ch + kRound[t] + w[t];
        const std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + maj;
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
}

} // namespace

std::string NewUuid() {
    std::uint8_t b[16];
    RandomBytes(b, sizeof b);
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    const std::string hex = Hex(b, sizeof b);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string Sha256Hex(const std::string& bytes) {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t at = 0;
    for (; at + 64 <= n; at += 64) {
        Compress(h, p + at);
    }
    std::uint8_t tail[128] = {};
    const std::size_t rest = n - at;
    for (std::size_t k = 0; k < rest; ++k) {
        tail[k] = p[at + k];
    }
    tail[rest] = 0x80;
    const std::size_t blocks = rest + 9 <= 64 ? 1 : 2;
    const std::uint64_t bits = static_cast<std::uint64_t>(n) * 8;
    for (int k = 0; k < 8; ++k) {
        tail[blocks * 64 - 1 - static_cast<std::size_t>(k)] =
            static_cast<std::uint8_t>(bits >> (8 * k));
    }
    for (std::size_t k = 0; k < blocks; ++k) {
        Compress(h, tail + 64 * k);
    }
    std::uint8_t digest[32];
    for (int k = 0; k < 8; ++k) {
        for (int j = 0; j < 4; ++j) {
            digest[4 * k + j] =
                static_cast<std::uint8_t>(h[static_cast<std::size_t>(k)] >> (24 - 8 * j));
        }
    }
    return Hex(digest, sizeof digest);
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

} // namespace dielmon::archive::detail
