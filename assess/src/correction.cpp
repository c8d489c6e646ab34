#include "assess/correction.h"

#include "core/json.h"

#include <cmath>

namespace dielmon::assess {

double ExponentialFactor(double base, double step, double reference, double t) {
    return std::pow(base, (reference - t) / step);
}

std::optional<double> TableFactor(const std::vector<std::pair<double, double>>& points, double t,
                                  Beyond outside, bool* clamped) {
    if (clamped != nullptr) {
        *clamped = false;
    }
    if (points.empty() || !std::isfinite(t)) {
        return std::nullopt;
    }
    if (t < points.front().first || t > points.back().first) {
        if (outside == Beyond::Refuse) {
            return std::nullopt;
        }
        if (clamped != nullptr) {
            *clamped = true;
        }
        return t < points.front().first ? points.front().second : points.back().second;
    }
    for (std::size_t k = 1; k < points.size(); ++k) {
        const auto& [t0, f0] = points[k - 1];
        const auto& [t1, f1] = points[k];
        if (t <= t1) {
            return f0 + (f1 - f0) * (t - t0) / (t1 - t0);
        }
    }
    return points.back().second;
}

Corrected Correct(const Method& m, const std::optional<double>& temperature, double df) {
    Corrected out;
    if (m.Kind == MethodKind::None) {
        out.Factor = 1.0;
        out.Value = df;
        return out;
    }
    if (!temperature || !std::isfinite(*temperature)) {
        out.Problem = "no test temperature: the method " + m.Name + " needs one";
        return out;
    }
    if (m.Kind == MethodKind::Exponential) {
        out.Factor = ExponentialFactor(m.Base, m.Step, m.Reference, *temperature);
    } else {
        out.Factor = TableFactor(m.Points, *temperature, m.Outside, &out.Clamped);
        if (!out.Factor) {
            out.Problem = "the table of " + m.Name + " covers " +
                          JsonNumber(m.Points.front().first) + " to " +
                          JsonNumber(m.Points.back().first) + " °C, not " +
                          JsonNumber(*temperature) + " °C";
            return out;
        }
    }
    out.Value = df * *out.Factor;
    return out;
}

} // namespace dielmon::assess
