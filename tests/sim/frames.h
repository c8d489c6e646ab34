// Frames for the simulator's tests, built and read by hand so that a wrong offset in the
// simulator shows up here: commands as the program sends them, and little readers of the
// replies' payloads.
#pragma once

#include "support/frames.h"

#include <cstdint>
#include <cstring>

namespace simtest {

using dielmon::test::Bytes;

// A 22-byte command with the record number at frame offset 3.
inline Bytes Command(std::uint8_t code, std::uint8_t record = 0) {
    Bytes payload(17, 0);
    payload[0] = record;
    return dielmon::BuildFrame(code, payload);
}

struct StartValues {
    std::uint8_t Channels = 1;
    std::uint8_t WiringMode = 1;
    std::uint8_t Standard = 1;
    std::uint8_t FrequencyCode = 6;
    std::uint16_t Volts = 10000;
    float Capacitance = 50.0F;
    float Dissipation = 0.0F;
    std::uint16_t CvtLimit = 2000;
    std::uint8_t CvtCurrentCode = 1;
    std::uint8_t ExcitationVoltageCode = 1;
    std::uint8_t ExcitationCurrentCode = 1;
    std::uint8_t Supply = 0;
};

inline void PutFloat(Bytes& b, std::size_t at, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (std::size_t k = 0; k < 4; ++k) {
        b[at + k] = static_cast<std::uint8_t>(bits >> (8 * k));
    }
}

// The 26-byte test-start command.
inline Bytes StartTest(const StartValues& v) {
    Bytes p(21, 0);
    p[0] = v.Channels;
    p[1] = v.WiringMode;
    p[2] = v.Standard;
    p[3] = v.FrequencyCode;
    p[4] = static_cast<std::uint8_t>(v.Volts >> 8);
    p[5] = static_cast<std::uint8_t>(v.Volts & 0xFF);
    PutFloat(p, 6, v.Capacitance);
    PutFloat(p, 10, v.Dissipation);
    p[14] = static_cast<std::uint8_t>(v.CvtLimit >> 8);
    p[15] = static_cast<std::uint8_t>(v.CvtLimit & 0xFF);
    p[16] = v.CvtCurrentCode;
    p[17] = v.ExcitationVoltageCode;
    p[18] = v.ExcitationCurrentCode;
    p[19] = v.Supply;
    return dielmon::BuildFrame(0xC1, p);
}

inline int PayloadLength(const Bytes& frame) {
    return frame.at(2);
}

// Payload byte k of a frame.
inline std::uint8_t U8(const Bytes& frame, int k) {
    return frame.at(3 + static_cast<std::size_t>(k));
}

// The single-precision float at payload offset k, least significant byte first.
inline float F32(const Bytes& frame, int k) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
        bits = (bits << 8) | U8(frame, k + i);
    }
    float v = 0;
    std::memcpy(&v, &bits, 4);
    return v;
}

inline Bytes PayloadSlice(const Bytes& frame, int from, int to) {
    return Bytes(frame.begin() + 3 + from, frame.begin() + 3 + to);
}

} // namespace simtest
