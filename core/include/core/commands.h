// The commands the program sends to the instrument and the record of test-start values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace dielmon {

enum CommandCode : std::uint8_t {
    CmdConnect = 0xA1,
    CmdDisconnect = 0xA2,
    CmdInstrumentSave = 0xB1,
    CmdInstrumentPrint = 0xB2,
    CmdReturn = 0xB3,
    CmdStartTest = 0xC1,
    CmdStopTest = 0xCC,
    CmdReadIndex = 0xD1,
    CmdReadRecord = 0xD2,
    CmdDeleteRecord = 0xD7,
    CmdClearHistory = 0xDD,
};

inline constexpr int kShortCommandLength = 22; // N = 17
inline constexpr int kStartTestLength = 26;    // N = 21

// "CmdConnect" ... for the eleven commands, empty otherwise.
std::string CommandName(std::uint8_t code);

// The values of the test-start frame, in frame order.
struct TestParameters {
    std::uint8_t Channels = 0;
    std::uint8_t WiringMode = 0;
    std::uint8_t Standard = 0;
    std::uint8_t FrequencyCode = 0;
    std::int32_t TestVoltage = 0;
    float ExtCapacitance = 0;
    float ExtDissipation = 0;
    std::int32_t CvtVoltageLimit = 0;
    std::uint8_t CvtCurrentCode = 0;
    std::uint8_t ExcitationVoltageCode = 0;
    std::uint8_t ExcitationCurrentCode = 0;
    std::uint8_t Supply = 0;

    bool operator==(const TestParameters&) const = default;
};

// The 22-byte frame of a command without payload (record number at offset 3, else 0).
std::array<std::uint8_t, kShortCommandLength> BuildShortCommand(std::uint8_t code,
                                                                std::uint8_t record = 0);
// The 26-byte test-start frame.
std::array<std::uint8_t, kStartTestLength> BuildStartTest(const TestParameters& p);
// The fields of a test-start frame; missing bytes read as zero.
TestParameters DecodeStartTest(const std::uint8_t* frame, int length);

// Test frequency of a frequency code: 1..21 is code + 44 Hz, 50..53 the ranges; the item text
// of the frequency list ("45Hz", "50±1Hz"), empty for other codes.
std::string FrequencyCodeText(int code);

} // namespace dielmon
