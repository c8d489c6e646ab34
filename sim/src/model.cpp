#include "model.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numbers>

namespace dielmon::sim {

namespace {

// Limits of the CVT method by their codes 1..16: excitation volts and amperes.
constexpr std::array<float, 16> kExcitationVoltLimits = {3,  4,  5,  6,  7,  8,  9,  10,
                                                         12, 15, 20, 25, 30, 35, 40, 50};
constexpr std::array<float, 16> kExcitationAmpereLimits = {3,  4,  5,  6,  7,  8,  9,  10,
                                                           11, 12, 13, 14, 15, 16, 20, 30};
// A code outside 1..16 is taken as code 8 (10 V, 10 A).
constexpr int kDefaultLimitCode = 8;
// The excitation settles at this share of its limit.
constexpr float kExcitationShare = 0.7F;

// The specimens, in nF and %.
constexpr double kBushingC = 1.0, kBushingDF = 0.30;
constexpr double kWindingC = 4.7, kWindingDF = 0.45;
constexpr double kShieldedCx = 2.2, kShieldedDFx = 0.35, kShieldedCg = 0.8, kShieldedDFg = 0.50;
constexpr double kCvtC1 = 10.0, kCvtDF1 = 0.08, kCvtC2 = 50.0, kCvtDF2 = 0.10;
constexpr double kRatioK = 1100.0, kRatioPhase = 0.05;
constexpr std::array<double, 4> kChannelC = {1.00, 1.20, 0.85, 1.10};
constexpr std::array<double, 4> kChannelDF = {0.30, 0.35, 0.28, 0.40};

// The high voltage an external source is turned up to, in kV.
constexpr double kExternalKv = 10.0;
constexpr int kStepsPerChannel = 10;
constexpr int kCvtSteps = 20;

float LimitOf(const std::array<float, 16>& table, int code) {
    if (code < 1 || code > 16) {
        code = kDefaultLimitCode;
    }
    return table[static_cast<std::size_t>(code - 1)];
}

double Omega(const TestConditions& c) {
    // F1 and F2 are in 0.1 Hz; the mean of both frequencies.
    return 2 * std::numbers::pi * (c.F1 + c.F2) / 20.0;
}

// The current in A through nF at kV.
double CapacitiveCurrent(double omega, double nanofarads, double kilovolts) {
    return omega * nanofarads * 1e-9 * kilovolts * 1e3;
}

// The capacitance whose current the high-voltage lead carries.
double LeadCapacitance(const TestConditions& c) {
    switch (c.WiringMode) {
    case 1: {
        double sum = 0;
        for (int ch = 0; ch < c.Channels; ++ch) {
            sum += kChannelC[static_cast<std::size_t>(ch)];
        }
        return c.Channels > 1 ? sum : kBushingC;
    }
    case 2:
        return kWindingC;
    case 3:
        return kShieldedCx + kShieldedCg;
    default:
        return kCvtC1;
    }
}

double Degrees(double radians) {
    return radians * 180.0 / std::numbers::pi;
}

DateStamp StampOf(std::chrono::sys_seconds t) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{t - day};
    DateStamp d;
    d.Year = static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - 2000);
    d.Month = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month()));
    d.Day = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day()));
    d.Hour = static_cast<std::uint8_t>(hms.hours().count());
    d.Minute = static_cast<std::uint8_t>(hms.minutes().count());
    d.Second = static_cast<std::uint8_t>(hms.seconds().count());
    return d;
}

// One sample record of each kind in a cycle of ten: the layouts, wiring modes, result kinds
// and headers an operator meets.
struct SampleSlot {
    int WiringMode;
    int Channels;
    int ResultKind; // RspRecord only
    std::uint16_t Volts;
    std::uint8_t FrequencyCode;
    std::uint8_t Standard;
};
constexpr std::array<SampleSlot, 10> kSampleSlots = {{
    {1, 1, 1, 10000, 6, 1}, // bushing, Cx and DF
    {1, 2, 1, 10000, 6, 1},
    {3, 1, 1, 10000, 50, 1},
    {4, 1, 1, 10000, 51, 1}, // CVT method: the CVT limit decides the voltage
    {5, 1, 1, 10000, 6, 1},
    {2, 1, 3, 500, 6, 2}, // a reactor: Lx and Q
    {1, 3, 1, 10000, 52, 1},
    {2, 1, 2, 0, 0, 1},    // external high voltage, Cx and Rx
    {1, 1, 4, 500, 11, 2}, // Lx and Rx
    {1, 4, 1, 8000, 6, 1},
}};

} // namespace

TestConditions ConditionsOf(const TestRequest& request) {
    const InstrumentSettings& s = request.Settings;
    TestConditions c;
    c.WiringMode = s.WiringMode;
    c.Channels = (s.WiringMode == 1 && request.Channels >= 2 && request.Channels <= 4)
                     ? request.Channels
                     : 1;
    const bool external = s.TestVoltage == 0;
    if (s.WiringMode == 4) {
        c.TargetKv = static_cast<float>(s.CvtVoltageLimit / 1000.0);
        c.ExcitationVolts =
            kExcitationShare * LimitOf(kExcitationVoltLimits, s.ExcitationVoltageCode);
        c.ExcitationAmperes =
            kExcitationShare * LimitOf(kExcitationAmpereLimits, s.ExcitationCurrentCode);
    } else {
        c.TargetKv =
            external ? static_cast<float>(kExternalKv) : static_cast<float>(s.TestVoltage / 1000.0);
    }

    const int code = s.FrequencyCode;
    float f1 = 500, f2 = 500;
    if (code >= 1 && code <= 21) {
        f1 = f2 = static_cast<float>((code + 44) * 10);
    } else if (code >= 50 && code <= 53) {
        const float centre = code <= 51 ? 500.0F : 600.0F;
        const float offset = (code == 50 || code == 52) ? 10.0F : 20.0F;
        f1 = centre - offset;
        f2 = centre + offset;
    }
    c.F1 = f1;
    c.F2 = f2;

    c.Header.WiringMode = s.WiringMode;
    c.Header.Standard = s.Standard == 1 ? 1 : 2;
    c.Header.FrequencyKind = (code >= 1 && code <= 21) ? 1 : 2;
    c.Header.HighVoltage = external ? 2 : 1;
    return c;
}

int StepCount(int wiringMode, int channels, bool doubleSteps) {
    int steps = kStepsPerChannel;
    if (wiringMode == 1 && channels >= 2 && channels <= 4) {
        steps = kStepsPerChannel * channels;
    } else if (wiringMode == 4) {
        steps = kCvtSteps;
    }
    return doubleSteps ? 2 * steps : steps;
}

float Model::Vary(double nominal, double spread) {
    std::uniform_real_distribution<double> u(-spread, spread);
    return static_cast<float>(nominal * (1.0 + u(Random_)));
}

BoostValues Model::Boost(const TestConditions& c, int k, int count) {
    const double share = count > 0 ? static_cast<double>(k) / count : 1.0;
    BoostValues v;
    const double kv = c.TargetKv * share;
    v.HighVoltage = k == count ? Vary(c.TargetKv, 0.002) : Vary(kv, 0.01);
    v.Current = Vary(CapacitiveCurrent(Omega(c), LeadCapacitance(c), v.HighVoltage), 0.01);
    if (c.WiringMode == 4) {
        v.ExcitationVoltage = Vary(c.ExcitationVolts * share, 0.01);
        v.ExcitationCurrent = Vary(c.ExcitationAmperes * share, 0.01);
    }
    return v;
}

StepValues Model::Step(const TestConditions& c, int k, int count) {
    StepValues v;
    v.HighVoltage = Vary(c.TargetKv, 0.003);
    // The first half of the steps measures at F1, the second half at F2.
    v.Frequency = 2 * k <= count ? c.F1 : c.F2;
    double nanofarads = LeadCapacitance(c);
    if (c.WiringMode == 1 && c.Channels > 1) {
        const int channel = (k - 1) * c.Channels / std::max(count, 1);
        nanofarads = kChannelC[static_cast<std::size_t>(std::clamp(channel, 0, 3))];
    }
    v.Current = Vary(CapacitiveCurrent(Omega(c), nanofarads, v.HighVoltage), 0.01);
    return v;
}

namespace {

// Loss angle values of a capacitance with a dissipation factor in %.
struct Losses {
    float Phase;       // degrees between voltage and current
    float PowerFactor; // cos φ
};
Losses LossesOf(double df) {
    const double delta = std::atan(df / 100.0);
    return {static_cast<float>(90.0 - Degrees(delta)), static_cast<float>(std::sin(delta))};
}

} // namespace

Measurement Model::Measure(const TestConditions& c, int testNumber) {
    const bool external = c.Header.HighVoltage != 1;
    const double omega = Omega(c);
    auto voltage = [&]() { return external ? Vary(c.TargetKv, 0.03) : Vary(c.TargetKv, 0.002); };
    auto frequency = [&](float f) { return external ? Vary(f, 0.0006) : f; };

    switch (c.WiringMode) {
    case 3: {
        ShieldedResult r;
        r.U = voltage();
        r.F1 = frequency(c.F1);
        r.F2 = frequency(c.F2);
        r.Cx = Vary(kShieldedCx, 0.02);
        r.DFx = Vary(kShieldedDFx, 0.05);
        r.Cg = Vary(kShieldedCg, 0.02);
        r.DFg = Vary(kShieldedDFg, 0.05);
        r.Ix = static_cast<float>(CapacitiveCurrent(omega, r.Cx, r.U));
        r.Ig = static_cast<float>(CapacitiveCurrent(omega, r.Cg, r.U));
        return r;
    }
    case 4: {
        CvtResult r;
        r.U1 = Vary(c.TargetKv, 0.005);
        r.F1 = c.F1;
        r.F2 = c.F2;
        r.C1 = Vary(kCvtC1, 0.02);
        r.DF1 = Vary(kCvtDF1, 0.08);
        r.C2 = Vary(kCvtC2, 0.02);
        r.DF2 = Vary(kCvtDF2, 0.08);
        // One current through both capacitors in series.
        r.U2 = r.U1 * r.C1 / r.C2;
        r.I1 = static_cast<float>(CapacitiveCurrent(omega, r.C1, r.U1));
        r.I2 = Vary(r.I1, 0.002);
        return r;
    }
    case 5: {
        RatioResult r;
        r.U1 = voltage();
        r.K = Vary(kRatioK, 0.002);
        r.U2 = r.U1 / r.K;
        r.F1 = frequency(c.F1);
        r.F2 = frequency(c.F2);
        r.Phase = Vary(kRatioPhase, 0.2);
        r.Cx = Vary(kCvtC1, 0.02);
        r.DF = Vary(kCvtDF1, 0.08);
        r.I = static_cast<float>(CapacitiveCurrent(omega, r.Cx, r.U1));
        return r;
    }
    default:
        break;
    }

    if (c.WiringMode == 1 && c.Channels > 1) {
        MultiResult r;
        r.Channels = static_cast<std::uint8_t>(c.Channels);
        for (std::size_t ch = 0; ch < static_cast<std::size_t>(c.Channels); ++ch) {
            r.C[ch] = Vary(kChannelC[ch], 0.02);
            r.DF[ch] = Vary(kChannelDF[ch], 0.05);
            r.U[ch] = voltage();
        }
        r.F1 = frequency(c.F1);
        r.F2 = frequency(c.F2);
        return r;
    }

    // Every fifth test reports the parallel resistance instead of the dissipation factor.
    const int kind = testNumber % 5 == 0 ? 2 : 1;
    SingleResult r;
    r.U = voltage();
    r.F1 = frequency(c.F1);
    r.F2 = frequency(c.F2);
    r.ResultKind = static_cast<std::uint8_t>(kind);
    const double nominalC = c.WiringMode == 2 ? kWindingC : kBushingC;
    const double nominalDF = c.WiringMode == 2 ? kWindingDF : kBushingDF;
    const float cx = Vary(nominalC, 0.02);
    const float df = Vary(nominalDF, 0.05);
    r.X = cx;
    r.Y = kind == 1 ? df : static_cast<float>(1.0 / (omega * cx * 1e-9 * df / 100.0) / 1000.0);
    const Losses l = LossesOf(df);
    r.Phase = l.Phase;
    r.PowerFactor = l.PowerFactor;
    r.I = static_cast<float>(CapacitiveCurrent(omega, cx, r.U));
    r.Power = r.U * r.I * r.PowerFactor;
    return r;
}

StoredRecord Model::SampleRecord(int index) {
    const SampleSlot& slot = kSampleSlots[static_cast<std::size_t>(index) % kSampleSlots.size()];
    TestRequest request;
    request.Channels = static_cast<std::uint8_t>(slot.Channels);
    request.Settings.WiringMode = static_cast<std::uint8_t>(slot.WiringMode);
    request.Settings.Standard = slot.Standard;
    request.Settings.FrequencyCode = slot.FrequencyCode;
    request.Settings.TestVoltage = slot.Volts;
    const TestConditions c = ConditionsOf(request);

    StoredRecord record;
    record.Header = c.Header;
    record.Data.Values = Measure(c, 1);
    if (auto* single = std::get_if<SingleResult>(&record.Data.Values)) {
        single->ResultKind = static_cast<std::uint8_t>(slot.ResultKind);
        const double omega = Omega(c);
        if (slot.ResultKind == 2) {
            // The parallel resistance of the measured capacitance and dissipation factor.
            single->Y =
                static_cast<float>(1.0 / (omega * single->X * 1e-9 * single->Y / 100.0) / 1000.0);
        } else if (slot.ResultKind >= 3) {
            // An inductance in H with its quality factor or its series resistance in kΩ.
            const double henries = slot.ResultKind == 3 ? Vary(2.5, 0.02) : Vary(0.25, 0.02);
            const double q = Vary(25.0, 0.05);
            const double reactance = omega * henries; // Ω
            single->X = static_cast<float>(henries);
            single->Y = slot.ResultKind == 3 ? static_cast<float>(q)
                                             : static_cast<float>(reactance / q / 1000.0);
            single->Phase = static_cast<float>(Degrees(std::atan(q)));
            single->PowerFactor = static_cast<float>(std::cos(std::atan(q)));
            single->I = static_cast<float>(single->U * 1000.0 / reactance);
            single->Power = single->U * single->I * single->PowerFactor;
        }
    }

    // Records a little over a day apart, the first on 9 October 2023 at 08:15:00.
    using namespace std::chrono;
    const sys_seconds first = sys_days{year{2023} / October / 9} + hours{8} + minutes{15};
    const seconds apart = hours{26} + minutes{13} + seconds{7};
    record.Data.Date = StampOf(first + index * apart);
    return record;
}

} // namespace dielmon::sim
