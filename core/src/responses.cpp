#include "core/responses.h"

#include "core/helpers.h"
#include "core/results.h"

namespace dielmon {

std::string ResponseName(std::uint8_t code) {
    switch (code) {
    case RspParameters:
        return "RspParameters";
    case RspDisconnected:
        return "RspDisconnected";
    case RspSaveDone1:
    case RspSaveDone2:
    case RspSaveDone3:
        return "RspSaveDone";
    case RspSaved:
        return "RspSaved";
    case RspPrinted:
        return "RspPrinted";
    case RspReturned:
        return "RspReturned";
    case RspTestStarted:
        return "RspTestStarted";
    case RspBoosting:
        return "RspBoosting";
    case RspStepResult:
        return "RspStepResult";
    case RspFinalResult:
        return "RspFinalResult";
    case RspStopped:
        return "RspStopped";
    case RspIndex:
        return "RspIndex";
    case RspRecord:
        return "RspRecord";
    case RspRecordMulti:
        return "RspRecordMulti";
    case RspRecordShielded:
        return "RspRecordShielded";
    case RspRecordCvt:
        return "RspRecordCvt";
    case RspRecordRatio:
        return "RspRecordRatio";
    case RspRecordDeleted:
        return "RspRecordDeleted";
    case RspHistoryCleared:
        return "RspHistoryCleared";
    case RspError:
        return "RspError";
    default:
        return {};
    }
}

bool IsSaveDone(std::uint8_t code) {
    return code == RspSaveDone1 || code == RspSaveDone2 || code == RspSaveDone3;
}

bool IsStoredRecord(std::uint8_t code) {
    return code == RspRecord || code == RspRecordMulti || code == RspRecordShielded ||
           code == RspRecordCvt || code == RspRecordRatio;
}

std::string ErrorText(std::uint8_t code) {
    switch (code) {
    case 0xA1:
    case 0xB6:
        return "请检查接地！";
    case 0xA2:
        return "当前设置为内高压，请开启内高压！";
    case 0xA3:
        return "当前设置为外电压，请关闭内高压！";
    case 0xB0:
        return "电源通信失败，请关机重启！";
    case 0xB1:
        return "过电压保护！";
    case 0xB2:
        return "高压输出异常！";
    case 0xB3:
        return "接线错误！";
    case 0xB4:
        return "过电流保护！";
    case 0xB5:
        return "采样通信失败，请关机重启！";
    case 0xB7:
        return "电源故障！";
    default:
        return {};
    }
}

std::uint8_t ErrorCodeOf(const std::uint8_t* frame, int length) {
    // Offset length - 3 is the last payload byte; with an empty payload it is the length
    // byte itself, which is 0.
    if (length < 3) {
        return 0;
    }
    return frame[length - 3];
}

InstrumentParameters DecodeParameters(const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    InstrumentParameters p;
    p.InstrumentType = r.Byte(0);
    p.WiringMode = r.Byte(2);
    p.Standard = r.Byte(3);
    p.FrequencyCode = r.Byte(4);
    p.TestVoltage = r.Byte(5) * 256 + r.Byte(6);
    p.ExtCapacitance = r.Float(7);
    p.ExtDissipation = r.Float(11);
    p.CvtVoltageLimit = r.Byte(15) * 256 + r.Byte(16);
    p.CvtCurrentCode = r.Byte(17);
    p.ExcitationVoltageCode = r.Byte(18);
    p.ExcitationCurrentCode = r.Byte(19);
    p.Supply = r.Byte(20);
    p.DoubleSteps = r.Byte(21);
    return p;
}

} // namespace dielmon
