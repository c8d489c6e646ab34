#include "sim/payloads.h"

#include "core/helpers.h"
#include "core/responses.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace dielmon::sim {

namespace {

// Where each field stands in the live result (RspFinalResult) and in the stored record of the
// same layout. A stored record begins with its four-byte RecordHeader.
struct SingleOffsets {
    int U, I, F1, F2, ResultKind, X, Y, Phase, PowerFactor, Power, Date, Length;
};
constexpr SingleOffsets kSingleLive{0, 4, 8, 12, 16, 17, 21, 25, 29, 33, 40, kFinalLength};
constexpr SingleOffsets kSingleStored{4, 8, 12, 16, 20, 21, 25, 29, 33, 37, 41, kRecordLength};

struct ShieldedOffsets {
    int U, Ix, Ig, F1, F2, Cx, DFx, Cg, DFg, Date, Length;
};
constexpr ShieldedOffsets kShieldedLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 40, kFinalLength};
constexpr ShieldedOffsets kShieldedStored{
    4, 8, 12, 16, 20, 24, 28, 32, 36, 41, kRecordShieldedLength};

struct CvtOffsets {
    int U1, U2, I1, I2, F1, F2, C1, DF1, C2, DF2, Date, Length;
};
constexpr CvtOffsets kCvtLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, kFinalLength};
constexpr CvtOffsets kCvtStored{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, kRecordCvtLength};

struct RatioOffsets {
    int U1, U2, F1, F2, Phase, K, Cx, DF, I, Date, Length;
};
constexpr RatioOffsets kRatioLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 40, kFinalLength};
constexpr RatioOffsets kRatioStored{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, kRecordRatioLength};

struct MultiOffsets {
    int Channels; // absent from the live layout: -1
    std::array<int, 4> C, DF, U;
    int F1, F2, Date, Length;
};
constexpr MultiOffsets kMultiLive{-1, {0, 8, 16, 24},   {4, 12, 20, 28}, {32, 36, 40, 44}, 48, 52,
                                  56, kFinalMultiLength};
constexpr MultiOffsets kMultiStored{
    4, {5, 13, 21, 29}, {9, 17, 25, 33}, {37, 41, 45, 49}, 53, 57, 61, kRecordMultiLength};

constexpr int kHeaderOffset = 0;

// Test-start payload: channels, wiring mode, standard, frequency code, voltage (2),
// capacitance (4), dissipation factor (4), CVT limit (2), three limit codes, supply, reserved.
constexpr int kStartPayloadLength = 21;
constexpr int kStartChannels = 0;
constexpr int kStartWiringMode = 1;
constexpr int kStartStandard = 2;
constexpr int kStartFrequency = 3;
constexpr int kStartVoltage = 4;
constexpr int kStartCapacitance = 6;
constexpr int kStartDissipation = 10;
constexpr int kStartCvtLimit = 14;
constexpr int kStartCvtCurrent = 16;
constexpr int kStartExcitationVoltage = 17;
constexpr int kStartExcitationCurrent = 18;
constexpr int kStartSupply = 19;

// RspParameters payload: the same settings one byte further on, after the instrument type
// and an unused byte, with DoubleSteps at the end.
constexpr int kParType = 0;
constexpr int kParWiringMode = 2;
constexpr int kParStandard = 3;
constexpr int kParFrequency = 4;
constexpr int kParVoltage = 5;
constexpr int kParCapacitance = 7;
constexpr int kParDissipation = 11;
constexpr int kParCvtLimit = 15;
constexpr int kParCvtCurrent = 17;
constexpr int kParExcitationVoltage = 18;
constexpr int kParExcitationCurrent = 19;
constexpr int kParSupply = 20;
constexpr int kParDoubleSteps = 21;

// RspIndex payload: used count, record number, then the date as six bytes.
constexpr int kIndexUsed = 0;
constexpr int kIndexNumber = 1;
constexpr int kIndexDate = 2;

constexpr int kBoostHighVoltage = 0;
constexpr int kBoostCurrent = 4;
constexpr int kBoostExcitationVoltage = 8;
constexpr int kBoostExcitationCurrent = 12;

constexpr int kStepHighVoltage = 0;
constexpr int kStepFrequency = 4;
constexpr int kStepCurrent = 8;

class Writer {
public:
    explicit Writer(int length) : Bytes_(static_cast<std::size_t>(length), 0) {}

    void Byte(int offset, std::uint8_t v) { At(offset, 1)[0] = v; }
    void Float(int offset, float v) { FloatToBytes(v, At(offset, 4)); }
    void Word(int offset, std::uint16_t v) {
        std::uint8_t* p = At(offset, 2);
        p[0] = static_cast<std::uint8_t>(v >> 8);
        p[1] = static_cast<std::uint8_t>(v & 0xFF);
    }
    void Date(int offset, const DateStamp& d) {
        std::uint8_t* p = At(offset, 6);
        p[0] = d.Year;
        p[1] = d.Month;
        p[2] = d.Day;
        p[3] = d.Hour;
        p[4] = d.Minute;
        p[5] = d.Second;
    }
    void Header(const RecordHeader& h) {
        std::uint8_t* p = At(kHeaderOffset, 4);
        p[0] = h.WiringMode;
        p[1] = h.Standard;
        p[2] = h.FrequencyKind;
        p[3] = h.HighVoltage;
    }
    std::vector<std::uint8_t> Take() { return std::move(Bytes_); }

private:
    std::uint8_t* At(int offset, int width) {
        assert(offset >= 0 && offset + width <= static_cast<int>(Bytes_.size()));
        (void)width;
        return Bytes_.data() + offset;
    }

    std::vector<std::uint8_t> Bytes_;
};

void Put(Writer& w, const SingleOffsets& o, const SingleResult& v) {
    w.Float(o.U, v.U);
    w.Float(o.I, v.I);
    w.Float(o.F1, v.F1);
    w.Float(o.F2, v.F2);
    w.Byte(o.ResultKind, v.ResultKind);
    w.Float(o.X, v.X);
    w.Float(o.Y, v.Y);
    w.Float(o.Phase, v.Phase);
    w.Float(o.PowerFactor, v.PowerFactor);
    w.Float(o.Power, v.Power);
}

void Put(Writer& w, const ShieldedOffsets& o, const ShieldedResult& v) {
    w.Float(o.U, v.U);
    w.Float(o.Ix, v.Ix);
    w.Float(o.Ig, v.Ig);
    w.Float(o.F1, v.F1);
    w.Float(o.F2, v.F2);
    w.Float(o.Cx, v.Cx);
    w.Float(o.DFx, v.DFx);
    w.Float(o.Cg, v.Cg);
    w.Float(o.DFg, v.DFg);
}

void Put(Writer& w, const CvtOffsets& o, const CvtResult& v) {
    w.Float(o.U1, v.U1);
    w.Float(o.U2, v.U2);
    w.Float(o.I1, v.I1);
    w.Float(o.I2, v.I2);
    w.Float(o.F1, v.F1);
    w.Float(o.F2, v.F2);
    w.Float(o.C1, v.C1);
    w.Float(o.DF1, v.DF1);
    w.Float(o.C2, v.C2);
    w.Float(o.DF2, v.DF2);
}

void Put(Writer& w, const RatioOffsets& o, const RatioResult& v) {
    w.Float(o.U1, v.U1);
    w.Float(o.U2, v.U2);
    w.Float(o.F1, v.F1);
    w.Float(o.F2, v.F2);
    w.Float(o.Phase, v.Phase);
    w.Float(o.K, v.K);
    w.Float(o.Cx, v.Cx);
    w.Float(o.DF, v.DF);
    w.Float(o.I, v.I);
}

void Put(Writer& w, const MultiOffsets& o, const MultiResult& v) {
    if (o.Channels >= 0) {
        w.Byte(o.Channels, v.Channels);
    }
    for (std::size_t c = 0; c < 4; ++c) {
        w.Float(o.C[c], v.C[c]);
        w.Float(o.DF[c], v.DF[c]);
        w.Float(o.U[c], v.U[c]);
    }
    w.Float(o.F1, v.F1);
    w.Float(o.F2, v.F2);
}

// Encodes a result by the live or the stored table of its layout.
template <typename Tables>
std::vector<std::uint8_t> EncodeResult(const Result& r, const RecordHeader* header) {
    return std::visit(
        [&](const auto& values) {
            const auto& o = Tables::For(values);
            Writer w(o.Length);
            if (header != nullptr) {
                w.Header(*header);
            }
            Put(w, o, values);
            w.Date(o.Date, r.Date);
            return w.Take();
        },
        r.Values);
}

struct LiveTables {
    static const SingleOffsets& For(const SingleResult&) { return kSingleLive; }
    static const ShieldedOffsets& For(const ShieldedResult&) { return kShieldedLive; }
    static const CvtOffsets& For(const CvtResult&) { return kCvtLive; }
    static const RatioOffsets& For(const RatioResult&) { return kRatioLive; }
    static const MultiOffsets& For(const MultiResult&) { return kMultiLive; }
};

struct StoredTables {
    static const SingleOffsets& For(const SingleResult&) { return kSingleStored; }
    static const ShieldedOffsets& For(const ShieldedResult&) { return kShieldedStored; }
    static const CvtOffsets& For(const CvtResult&) { return kCvtStored; }
    static const RatioOffsets& For(const RatioResult&) { return kRatioStored; }
    static const MultiOffsets& For(const MultiResult&) { return kMultiStored; }
};

} // namespace

TestRequest DecodeTestStart(const std::uint8_t* frame, int length) {
    std::array<std::uint8_t, kStartPayloadLength> p{};
    const int available = length - 5; // markers, code, length byte, check byte
    if (frame != nullptr && available > 0) {
        std::memcpy(p.data(), frame + 3,
                    static_cast<std::size_t>(std::min(available, kStartPayloadLength)));
    }
    auto word = [&p](int offset) {
        return static_cast<std::uint16_t>((p[static_cast<std::size_t>(offset)] << 8) |
                                          p[static_cast<std::size_t>(offset) + 1]);
    };
    auto single = [&p](int offset) { return static_cast<float>(BytesToFloat(p.data() + offset)); };

    TestRequest r;
    r.Channels = p[kStartChannels];
    InstrumentSettings& s = r.Settings;
    s.WiringMode = p[kStartWiringMode];
    s.Standard = p[kStartStandard];
    s.FrequencyCode = p[kStartFrequency];
    s.TestVoltage = word(kStartVoltage);
    s.ExtCapacitance = single(kStartCapacitance);
    s.ExtDissipation = single(kStartDissipation);
    s.CvtVoltageLimit = word(kStartCvtLimit);
    s.CvtCurrentCode = p[kStartCvtCurrent];
    s.ExcitationVoltageCode = p[kStartExcitationVoltage];
    s.ExcitationCurrentCode = p[kStartExcitationCurrent];
    s.Supply = p[kStartSupply];
    return r;
}

std::vector<std::uint8_t> EncodeAck() {
    return std::vector<std::uint8_t>(kAckLength, 0);
}

std::vector<std::uint8_t> EncodeError(std::uint8_t code) {
    Writer w(kAckLength);
    w.Byte(kAckLength - 1, code);
    return w.Take();
}

std::vector<std::uint8_t> EncodeParameters(int instrumentType, const InstrumentSettings& s,
                                           bool doubleSteps) {
    Writer w(kParametersLength);
    w.Byte(kParType, static_cast<std::uint8_t>(instrumentType));
    w.Byte(kParWiringMode, s.WiringMode);
    w.Byte(kParStandard, s.Standard);
    w.Byte(kParFrequency, s.FrequencyCode);
    w.Word(kParVoltage, s.TestVoltage);
    w.Float(kParCapacitance, s.ExtCapacitance);
    w.Float(kParDissipation, s.ExtDissipation);
    w.Word(kParCvtLimit, s.CvtVoltageLimit);
    w.Byte(kParCvtCurrent, s.CvtCurrentCode);
    w.Byte(kParExcitationVoltage, s.ExcitationVoltageCode);
    w.Byte(kParExcitationCurrent, s.ExcitationCurrentCode);
    w.Byte(kParSupply, s.Supply);
    w.Byte(kParDoubleSteps, doubleSteps ? 1 : 0);
    return w.Take();
}

std::vector<std::uint8_t> EncodeIndexEntry(int used, int number, const DateStamp& date) {
    Writer w(kIndexLength);
    w.Byte(kIndexUsed, static_cast<std::uint8_t>(used));
    w.Byte(kIndexNumber, static_cast<std::uint8_t>(number));
    w.Date(kIndexDate, date);
    return w.Take();
}

std::vector<std::uint8_t> EncodeBoost(const BoostValues& v) {
    Writer w(kBoostLength);
    w.Float(kBoostHighVoltage, v.HighVoltage);
    w.Float(kBoostCurrent, v.Current);
    w.Float(kBoostExcitationVoltage, v.ExcitationVoltage);
    w.Float(kBoostExcitationCurrent, v.ExcitationCurrent);
    return w.Take();
}

std::vector<std::uint8_t> EncodeStep(const StepValues& v) {
    Writer w(kStepLength);
    w.Float(kStepHighVoltage, v.HighVoltage);
    w.Float(kStepFrequency, v.Frequency);
    w.Float(kStepCurrent, v.Current);
    return w.Take();
}

std::vector<std::uint8_t> EncodeFinalResult(const Result& r) {
    return EncodeResult<LiveTables>(r, nullptr);
}

std::uint8_t StoredRecordCode(const Measurement& m) {
    // In the order of the Measurement alternatives.
    constexpr std::array<std::uint8_t, 5> kCodes = {RspRecord, RspRecordShielded, RspRecordCvt,
                                                    RspRecordRatio, RspRecordMulti};
    return kCodes[m.index()];
}

std::vector<std::uint8_t> EncodeStoredRecord(const StoredRecord& r) {
    return EncodeResult<StoredTables>(r.Data, &r.Header);
}

} // namespace dielmon::sim
