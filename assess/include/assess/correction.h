// Temperature correction of a dissipation factor: pure functions of a method, a temperature
// and the measured value. The measured value is never changed; the corrected one is the
// measured one times the factor, so its sign stays (a negative reading stays negative).
#pragma once

#include "assess/library.h"

#include <optional>
#include <string>

namespace dielmon::assess {

struct Corrected {
    std::optional<double> Factor; // measured × factor = the value at the reference temperature
    std::optional<double> Value;  // the corrected dissipation factor, %
    std::string Problem;          // why there is no corrected value
    bool Clamped = false;         // a table's end was used for a temperature beyond it
};

// base ^ ((reference − t) / step): 1 / A above the reference, A below it, with
// A = base ^ (|t − reference| / step).
double ExponentialFactor(double base, double step, double reference, double t);

// The factor at t, on the straight line between the two points around it; beyond the first
// or last point the end's factor when clamping, nothing when refusing.
std::optional<double> TableFactor(const std::vector<std::pair<double, double>>& points, double t,
                                  Beyond outside, bool* clamped = nullptr);

// The dissipation factor `df` (%) measured at `temperature` (°C) corrected by `m`. Without a
// temperature only "none" corrects.
Corrected Correct(const Method& m, const std::optional<double>& temperature, double df);

} // namespace dielmon::assess
