// Builds response frames for the tests: floats and bytes at payload offsets.
#pragma once

#include "core/frame.h"
#include "core/helpers.h"

#include <cstdint>
#include <vector>

namespace dielmon::test {

class Payload {
public:
    explicit Payload(int n) : Bytes_(static_cast<std::size_t>(n), 0) {}

    Payload& F(int offset, float value) {
        FloatToBytes(value, &Bytes_.at(static_cast<std::size_t>(offset)));
        Bytes_.at(static_cast<std::size_t>(offset) + 3); // bounds check
        return *this;
    }
    Payload& B(int offset, std::uint8_t value) {
        Bytes_.at(static_cast<std::size_t>(offset)) = value;
        return *this;
    }
    Payload& Date(int offset, int year, int month, int day, int hour, int minute, int second) {
        const int v[] = {year, month, day, hour, minute, second};
        for (int k = 0; k < 6; ++k) {
            B(offset + k, static_cast<std::uint8_t>(v[k]));
        }
        return *this;
    }
    std::vector<std::uint8_t> Frame(std::uint8_t code) const { return BuildFrame(code, Bytes_); }

private:
    std::vector<std::uint8_t> Bytes_;
};

inline int Len(const std::vector<std::uint8_t>& f) {
    return static_cast<int>(f.size());
}

} // namespace dielmon::test
