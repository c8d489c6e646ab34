#include "support/frames.h"

#include "core/helpers.h"

namespace dielmon::test {

Payload& Payload::F(int offset, float value) {
    Bytes_.at(static_cast<std::size_t>(offset) + 3); // bounds check
    FloatToBytes(value, &Bytes_.at(static_cast<std::size_t>(offset)));
    return *this;
}

Payload& Payload::B(int offset, std::uint8_t value) {
    Bytes_.at(static_cast<std::size_t>(offset)) = value;
    return *this;
}

Payload& Payload::Date(int offset, int year, int month, int day, int hour, int minute, int second) {
    const int v[] = {year, month, day, hour, minute, second};
    for (int k = 0; k < 6; ++k) {
        B(offset + k, static_cast<std::uint8_t>(v[k]));
    }
    return *this;
}

Bytes ParametersFrame(int type, int mode, int standard, int freq, int volt, float c, float js,
                      int cvt, int supply, int doubleSteps) {
    return Payload(22)
        .B(0, static_cast<std::uint8_t>(type))
        .B(2, static_cast<std::uint8_t>(mode))
        .B(3, static_cast<std::uint8_t>(standard))
        .B(4, static_cast<std::uint8_t>(freq))
        .B(5, static_cast<std::uint8_t>(volt >> 8))
        .B(6, static_cast<std::uint8_t>(volt & 0xFF))
        .F(7, c)
        .F(11, js)
        .B(15, static_cast<std::uint8_t>(cvt >> 8))
        .B(16, static_cast<std::uint8_t>(cvt & 0xFF))
        .B(17, 3)
        .B(18, 4)
        .B(19, 5)
        .B(20, static_cast<std::uint8_t>(supply))
        .B(21, static_cast<std::uint8_t>(doubleSteps))
        .Frame(0x1A);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

Bytes Concat(const std::vector<Bytes>& frames) {
    Bytes all;
    for (const Bytes& f : frames) {
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

std::vector<std::uint8_t> Codes(const std::vector<Bytes>& frames) {
    std::vector<std::uint8_t> codes;
    for (const Bytes& f : frames) {
        codes.push_back(f.size() > 1 ? f[1] : 0);
    }
    return codes;
}

std::vector<std::uint8_t> Sequence(std::initializer_list<std::pair<std::uint8_t, int>> runs) {
    std::vector<std::uint8_t> codes;
    for (const auto& [code, count] : runs) {
        codes.insert(codes.end(), static_cast<std::size_t>(count), code);
    }
    return codes;
}

bool Framed(const Bytes& f) {
    return f.size() >= 5 && f.front() == kFrameStart && f.back() == kFrameEnd &&
           f.size() == static_cast<std::size_t>(f[2]) + 5;
}

bool WellFormed(const Bytes& f) {
    return Framed(f) && f[f.size() - 2] == CalcCheckCode(f.data(), static_cast<int>(f.size()));
}

Bytes Pattern(std::size_t count, std::uint8_t seed) {
    Bytes b(count);
    for (std::size_t i = 0; i < count; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    }
    return b;
}

} // namespace dielmon::test
