// What the simulated instrument sends and receives, as plain values, and the byte layouts
// that carry them. Offsets are payload offsets (payload byte k is frame byte 3 + k); floats
// are IEEE 754 singles, least significant byte first; 16-bit integers are big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

namespace dielmon::sim {

// Payload lengths N of every frame the simulator sends.
inline constexpr int kAckLength = 17; // acknowledgements, RspSaveDone and RspError
inline constexpr int kParametersLength = 22;
inline constexpr int kIndexLength = 8;
inline constexpr int kBoostLength = 16;
inline constexpr int kStepLength = 12;
inline constexpr int kFinalLength = 46;
inline constexpr int kFinalMultiLength = 62;
inline constexpr int kRecordLength = 47;
inline constexpr int kRecordShieldedLength = 47;
inline constexpr int kRecordCvtLength = 50;
inline constexpr int kRecordRatioLength = 46;
inline constexpr int kRecordMultiLength = 67;

// Year − 2000, month, day, hour, minute, second.
struct DateStamp {
    std::uint8_t Year = 0;
    std::uint8_t Month = 1;
    std::uint8_t Day = 1;
    std::uint8_t Hour = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Second = 0;
    bool operator==(const DateStamp&) const = default;
};

// The first four bytes of a stored record. 1 in the last three means internal standard,
// fixed frequency and internal high voltage; the simulator writes 2 for the other choice.
struct RecordHeader {
    std::uint8_t WiringMode = 1;
    std::uint8_t Standard = 1;
    std::uint8_t FrequencyKind = 1;
    std::uint8_t HighVoltage = 1;
    bool operator==(const RecordHeader&) const = default;
};

// Measured values in the units the instrument sends: capacitance nF, dissipation factor %,
// resistance kΩ, inductance H, voltage kV, current A, phase degrees, power kW, frequency
// 0.1 Hz.
struct SingleResult {
    float U = 0;
    float I = 0;
    float F1 = 0;
    float F2 = 0;
    std::uint8_t ResultKind = 1; // 1 Cx/DF, 2 Cx/Rx, 3 Lx/Q, 4 Lx/Rx
    float X = 0;                 // Cx or Lx
    float Y = 0;                 // DF, Rx or Q
    float Phase = 0;
    float PowerFactor = 0;
    float Power = 0;
};

struct ShieldedResult {
    float U = 0;
    float Ix = 0;
    float Ig = 0;
    float F1 = 0;
    float F2 = 0;
    float Cx = 0;
    float DFx = 0;
    float Cg = 0;
    float DFg = 0;
};

struct CvtResult {
    float U1 = 0;
    float U2 = 0;
    float I1 = 0;
    float I2 = 0;
    float F1 = 0;
    float F2 = 0;
    float C1 = 0;
    float DF1 = 0;
    float C2 = 0;
    float DF2 = 0;
};

struct RatioResult {
    float U1 = 0;
    float U2 = 0;
    float F1 = 0;
    float F2 = 0;
    float Phase = 0;
    float K = 0;
    float Cx = 0;
    float DF = 0;
    float I = 0;
};

// Channels a to d; the fields of channels beyond Channels are sent all the same.
struct MultiResult {
    std::uint8_t Channels = 2;
    std::array<float, 4> C{};
    std::array<float, 4> DF{};
    std::array<float, 4> U{};
    float F1 = 0;
    float F2 = 0;
};

using Measurement = std::variant<SingleResult, ShieldedResult, CvtResult, RatioResult, MultiResult>;

struct Result {
    Measurement Values;
    DateStamp Date;
};

struct StoredRecord {
    RecordHeader Header;
    Result Data;
};

// Live values while a test runs. The excitation values are sent in the CVT method only.
struct BoostValues {
    float HighVoltage = 0; // kV
    float Current = 0;     // A
    float ExcitationVoltage = 0;
    float ExcitationCurrent = 0;
};

struct StepValues {
    float HighVoltage = 0; // kV
    float Frequency = 0;   // 0.1 Hz, at offset 4
    float Current = 0;     // A
};

// The settings the instrument reports on connecting; a test start replaces them.
struct InstrumentSettings {
    std::uint8_t WiringMode = 2;
    std::uint8_t Standard = 1;
    std::uint8_t FrequencyCode = 6;
    std::uint16_t TestVoltage = 10000; // volts; 0: external high voltage
    float ExtCapacitance = 50.0F;      // pF
    float ExtDissipation = 0.0F;       // %
    std::uint16_t CvtVoltageLimit = 2000;
    std::uint8_t CvtCurrentCode = 1;
    std::uint8_t ExcitationVoltageCode = 1;
    std::uint8_t ExcitationCurrentCode = 1;
    std::uint8_t Supply = 0;
    bool operator==(const InstrumentSettings&) const = default;
};

// The test-start command's values: the channel configuration and the settings.
struct TestRequest {
    std::uint8_t Channels = 1;
    InstrumentSettings Settings;
};

// The test-start command's payload, read from a whole frame; bytes missing from a short frame
// read as zero.
TestRequest DecodeTestStart(const std::uint8_t* frame, int length);

std::vector<std::uint8_t> EncodeAck();
std::vector<std::uint8_t> EncodeError(std::uint8_t code);
std::vector<std::uint8_t> EncodeParameters(int instrumentType, const InstrumentSettings& s,
                                           bool doubleSteps);
std::vector<std::uint8_t> EncodeIndexEntry(int used, int number, const DateStamp& date);
std::vector<std::uint8_t> EncodeBoost(const BoostValues& v);
std::vector<std::uint8_t> EncodeStep(const StepValues& v);
// RspFinalResult: 46 bytes, 62 for the multi-channel layout.
std::vector<std::uint8_t> EncodeFinalResult(const Result& r);
// A stored record in the layout of its values, and the response code that names the layout.
std::uint8_t StoredRecordCode(const Measurement& m);
std::vector<std::uint8_t> EncodeStoredRecord(const StoredRecord& r);

} // namespace dielmon::sim
