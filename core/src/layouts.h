// Where every field of the result payloads stands, live and stored, and the out-of-range rule of
// each field. The result texts and the decoded numbers both read them from here, so that a
// number is over exactly when its text says "over". Internal to the core.
#pragma once

#include "core/results.h"

namespace dielmon::detail {

inline constexpr int kDateStampLength = 6;
inline constexpr int kRecordHeaderLength = 4;
// Payload byte of RspRecordMulti that holds the number of channels.
inline constexpr int kRecordChannels = 4;

// Out-of-range rules of the result fields.
inline constexpr OverRule kCapacitanceOver{1000, false, 999.9};
inline constexpr OverRule kDissipationOver{1, true, 100};
inline constexpr OverRule kFrequencyOver{10, false, 301.9};
inline constexpr OverRule kVoltage999Over{1, false, 999.9};
inline constexpr OverRule kVoltage1000Over{1, true, 1000};
inline constexpr OverRule kCurrentOver{1, false, 99.99};
inline constexpr OverRule kPhaseOver{1, false, 359.99};
inline constexpr OverRule kRatioOver{1, false, 99999};
inline constexpr OverRule kPowerFactorOver{1, false, 1};
inline constexpr OverRule kPowerOver{1, false, 999.9};
inline constexpr OverRule kResistanceOver{1, false, 999999999};
inline constexpr OverRule kQualityOver{1, false, 9999};

// The single layout's rules that differ between a live result and a stored record.
constexpr OverRule SingleCurrentOver(bool live) {
    return live ? OverRule{1, true, 100} : kCurrentOver;
}
// Cx of ResultKind 1 and 2; a live Cx with Rx (kind 2) is over already at the limit.
constexpr OverRule SingleCapacitanceOver(int kind, bool live) {
    return {1000, live && kind == 2, 999.9};
}
// Lx of ResultKind 3 and 4; a live Lx with Rx (kind 4) is over already at the limit.
constexpr OverRule SingleInductanceOver(int kind, bool live) {
    return {1, live && kind == 4, 999.9};
}

// BoostLayout and StepLayout: the live values while a test runs.
struct BoostLayout {
    static constexpr int HighVoltage = 0, Current = 4, ExcitationVoltage = 8,
                         ExcitationCurrent = 12;
};
struct StepLayout {
    static constexpr int HighVoltage = 0, Current = 8;
};

// Where the fields of each result layout stand, live (in RspFinalResult) and stored.
struct SingleLayout {
    int U, I, F1, F2, ResultKind, X, Y, Phi, PF, P, Date;
};
inline constexpr SingleLayout kSingleLive{0, 4, 8, 12, 16, 17, 21, 25, 29, 33, 40};
inline constexpr SingleLayout kSingleStored{4, 8, 12, 16, 20, 21, 25, 29, 33, 37, 41};

struct ShieldedLayout {
    int U, Ix, Ig, F1, F2, Cx, DFx, Cg, DFg, Date;
};
inline constexpr ShieldedLayout kShieldedLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 40};
inline constexpr ShieldedLayout kShieldedStored{4, 8, 12, 16, 20, 24, 28, 32, 36, 41};

struct CvtLayout {
    int U1, U2, I1, I2, F1, F2, C1, DF1, C2, DF2, Date;
};
inline constexpr CvtLayout kCvtLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40};
inline constexpr CvtLayout kCvtStored{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44};

struct RatioLayout {
    int U1, U2, F1, F2, Phi, K, Cx, DF, I, Date;
};
inline constexpr RatioLayout kRatioLive{0, 4, 8, 12, 16, 20, 24, 28, 32, 40};
inline constexpr RatioLayout kRatioStored{4, 8, 12, 16, 20, 24, 28, 32, 36, 40};

struct MultiLayout {
    int C[4], DF[4], U[4], F1, F2, Date;
};
inline constexpr MultiLayout kMultiLive{
    {0, 8, 16, 24}, {4, 12, 20, 28}, {32, 36, 40, 44}, 48, 52, 56};
inline constexpr MultiLayout kMultiStored{
    {5, 13, 21, 29}, {9, 17, 25, 33}, {37, 41, 45, 49}, 53, 57, 61};

} // namespace dielmon::detail
