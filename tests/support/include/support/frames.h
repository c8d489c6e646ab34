// Frames for the tests: response payloads built with floats and bytes at their offsets,
// frames collected from a stream, and the small comparisons every suite makes of them.
#pragma once

#include "core/frame.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace dielmon::test {

using Bytes = std::vector<std::uint8_t>;

// A payload of `n` zero bytes with floats (least significant byte first), bytes and a date
// (year - 2000, month, day, hour, minute, second) put at their offsets.
class Payload {
public:
    explicit Payload(int n) : Bytes_(static_cast<std::size_t>(n), 0) {}

    Payload& F(int offset, float value);
    Payload& B(int offset, std::uint8_t value);
    Payload& Date(int offset, int year, int month, int day, int hour, int minute, int second);
    Bytes Frame(std::uint8_t code) const { return BuildFrame(code, Bytes_); }

private:
    Bytes Bytes_;
};

// An RspParameters frame: instrument type, wiring mode, standard, frequency code, test voltage
// (0: external), external standard, CVT limit, limit codes 3/4/5, supply and doubled steps.
Bytes ParametersFrame(int type, int mode, int standard, int freq, int volt, float c = 50,
                      float js = 0, int cvt = 2000, int supply = 0, int doubleSteps = 0);

inline int Len(const Bytes& f) {
    return static_cast<int>(f.size());
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

// Keeps every frame handed to it.
struct FrameCollector : FrameSink {
    void FrameReady(const std::uint8_t* frame, int length) override {
        Frames.emplace_back(frame, frame + length);
    }
    std::vector<Bytes> Frames;
};

Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Concat(const std::vector<Bytes>& frames);

// The code of each frame, in order.
std::vector<std::uint8_t> Codes(const std::vector<Bytes>& frames);
// An expected run of frames: each code with how many times it repeats.
std::vector<std::uint8_t> Sequence(std::initializer_list<std::pair<std::uint8_t, int>> runs);

// Markers and length byte in place (the check byte is not looked at).
bool Framed(const Bytes& f);
// Framed, with a correct check byte.
bool WellFormed(const Bytes& f);

// Bytes that tell their position apart, so that a lost or repeated byte shows.
Bytes Pattern(std::size_t count, std::uint8_t seed = 0);

} // namespace dielmon::test
