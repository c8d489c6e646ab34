// The instrument's answers: response codes with their names, error messages and the
// parameter report that fills the panel on connecting.
#pragma once

#include <cstdint>
#include <string>

namespace dielmon {

enum ResponseCode : std::uint8_t {
    RspParameters = 0x1A,
    RspDisconnected = 0x2A,
    RspSaveDone1 = 0x4A,
    RspSaveDone2 = 0x5A,
    RspSaveDone3 = 0x6A,
    RspSaved = 0x1B,
    RspPrinted = 0x2B,
    RspReturned = 0x3B,
    RspTestStarted = 0x1C,
    RspBoosting = 0x2C,
    RspStepResult = 0x3C,
    RspFinalResult = 0x4C,
    RspStopped = 0xCC,
    RspIndex = 0x1D,
    RspRecord = 0x2D,
    RspRecordMulti = 0x3D,
    RspRecordShielded = 0x4D,
    RspRecordCvt = 0x5D,
    RspRecordRatio = 0x6D,
    RspRecordDeleted = 0x7D,
    RspHistoryCleared = 0xDD,
    RspError = 0xEE,
};

// "RspParameters" ..., "RspSaveDone" for 0x4A, 0x5A and 0x6A; empty for other codes.
std::string ResponseName(std::uint8_t code);
bool IsSaveDone(std::uint8_t code);
bool IsStoredRecord(std::uint8_t code);

// The message of an instrument error code; empty for codes outside the table.
std::string ErrorText(std::uint8_t code);
// The error code of an RspError frame: the byte at offset length - 3 (the last payload
// byte); 0 when the frame is too short to hold one.
std::uint8_t ErrorCodeOf(const std::uint8_t* frame, int length);

// The RspParameters payload. Bytes beyond the frame read as zero.
struct InstrumentParameters {
    int InstrumentType = 0;
    int WiringMode = 0;
    int Standard = 0;
    int FrequencyCode = 0;
    int TestVoltage = 0; // 0: external high voltage
    double ExtCapacitance = 0;
    double ExtDissipation = 0;
    int CvtVoltageLimit = 0;
    int CvtCurrentCode = 0;
    int ExcitationVoltageCode = 0;
    int ExcitationCurrentCode = 0;
    int Supply = 0;
    int DoubleSteps = 0;
};
InstrumentParameters DecodeParameters(const std::uint8_t* frame, int length);

} // namespace dielmon
