#include "core/commands.h"

#include "core/frame.h"
#include "core/helpers.h"

#include <algorithm>
#include <cstring>

namespace dielmon {

std::string CommandName(std::uint8_t code) {
    switch (code) {
    case CmdConnect:
        return "CmdConnect";
    case CmdDisconnect:
        return "CmdDisconnect";
    case CmdInstrumentSave:
        return "CmdInstrumentSave";
    case CmdInstrumentPrint:
        return "CmdInstrumentPrint";
    case CmdReturn:
        return "CmdReturn";
    case CmdStartTest:
        return "CmdStartTest";
    case CmdStopTest:
        return "CmdStopTest";
    case CmdReadIndex:
        return "CmdReadIndex";
    case CmdReadRecord:
        return "CmdReadRecord";
    case CmdDeleteRecord:
        return "CmdDeleteRecord";
    case CmdClearHistory:
        return "CmdClearHistory";
    default:
        return {};
    }
}

std::array<std::uint8_t, kShortCommandLength> BuildShortCommand(std::uint8_t code,
                                                                std::uint8_t record) {
    std::array<std::uint8_t, kShortCommandLength> f{};
    f[0] = kFrameStart;
    f[1] = code;
    f[2] = kShortCommandLength - kFrameOverhead;
    f[3] = record;
    f[20] = CalcCheckCode(f.data(), kShortCommandLength);
    f[21] = kFrameEnd;
    return f;
}

namespace {

// High byte: the value divided by 256, truncated toward zero, then its low eight bits.
void PutWord(std::uint8_t* p, std::int32_t v) {
    p[0] = static_cast<std::uint8_t>((v / 256) & 0xFF);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

} // namespace

std::array<std::uint8_t, kStartTestLength> BuildStartTest(const TestParameters& p) {
    std::array<std::uint8_t, kStartTestLength> f{};
    f[0] = kFrameStart;
    f[1] = CmdStartTest;
    f[2] = kStartTestLength - kFrameOverhead;
    f[3] = p.Channels;
    f[4] = p.WiringMode;
    f[5] = p.Standard;
    f[6] = p.FrequencyCode;
    PutWord(&f[7], p.TestVoltage);
    FloatToBytes(p.ExtCapacitance, &f[9]);
    FloatToBytes(p.ExtDissipation, &f[13]);
    PutWord(&f[17], p.CvtVoltageLimit);
    f[19] = p.CvtCurrentCode;
    f[20] = p.ExcitationVoltageCode;
    f[21] = p.ExcitationCurrentCode;
    f[22] = p.Supply;
    f[23] = 0;
    f[24] = CalcCheckCode(f.data(), kStartTestLength);
    f[25] = kFrameEnd;
    return f;
}

TestParameters DecodeStartTest(const std::uint8_t* frame, int length) {
    std::uint8_t b[kStartTestLength] = {};
    std::memcpy(b, frame, static_cast<std::size_t>(std::min(length, kStartTestLength)));
    // Bytes past the payload are not part of the command.
    const int end = length >= 3 ? std::min(3 + b[2], kStartTestLength) : 0;
    for (int k = std::max(end, 3); k < kStartTestLength; ++k) {
        b[k] = 0;
    }
    TestParameters p;
    p.Channels = b[3];
    p.WiringMode = b[4];
    p.Standard = b[5];
    p.FrequencyCode = b[6];
    p.TestVoltage = b[7] * 256 + b[8];
    p.ExtCapacitance = static_cast<float>(BytesToFloat(&b[9]));
    p.ExtDissipation = static_cast<float>(BytesToFloat(&b[13]));
    p.CvtVoltageLimit = b[17] * 256 + b[18];
    p.CvtCurrentCode = b[19];
    p.ExcitationVoltageCode = b[20];
    p.ExcitationCurrentCode = b[21];
    p.Supply = b[22];
    return p;
}

std::string FrequencyCodeText(int code) {
    if (code >= 1 && code <= 21) {
        return std::to_string(code + 44) + "Hz";
    }
    switch (code) {
    case 50:
        return "50±1Hz";
    case 51:
        return "50±2Hz";
    case 52:
        return "60±1Hz";
    case 53:
        return "60±2Hz";
    default:
        return {};
    }
}

} // namespace dielmon
