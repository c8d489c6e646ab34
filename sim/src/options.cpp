#include "sim/options.h"

#include "usage/dielmon_sim.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>

namespace dielmon::sim {

namespace {

constexpr int kMaxStep = 9999;

constexpr std::array<int, 10> kBauds = {1200,  2400,  4800,   9600,   19200,
                                        38400, 57600, 115200, 230400, 460800};

template <typename T>
bool ParseWhole(const std::string& text, T* out, int base = 10) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out, base);
    return ec == std::errc() && ptr == end;
}

bool ParseIntIn(const std::string& text, int low, int high, int* out) {
    int v = 0;
    if (!ParseWhole(text, &v) || v < low || v > high) {
        return false;
    }
    *out = v;
    return true;
}

// "B1@3", "0xB1@3": a hexadecimal code of one byte and a decimal step.
bool ParseErrorFault(const std::string& text, ErrorFault* out) {
    const auto at = text.find('@');
    if (at == std::string::npos) {
        return false;
    }
    std::string code = text.substr(0, at);
    if (code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X')) {
        code = code.substr(2);
    }
    unsigned value = 0;
    if (code.size() > 2 || !ParseWhole(code, &value, 16)) {
        return false;
    }
    int step = 0;
    if (!ParseIntIn(text.substr(at + 1), 0, kMaxStep, &step)) {
        return false;
    }
    out->Code = static_cast<std::uint8_t>(value);
    out->Step = step;
    return true;
}

} // namespace

bool IsSupportedBaud(int baud) {
    return std::find(kBauds.begin(), kBauds.end(), baud) != kBauds.end();
}

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string* error) {
    SimOptions o;
    auto fail = [error](const std::string& message) -> std::optional<SimOptions> {
        if (error != nullptr) {
            *error = message;
        }
        return std::nullopt;
    };

    using Flag = bool SimOptions::*;
    const std::array<std::pair<const char*, Flag>, 9> flags = {{
        {"--double-steps", &SimOptions::DoubleSteps},
        {"--silent", &SimOptions::Silent},
        {"--noise", &SimOptions::Noise},
        {"--split", &SimOptions::Split},
        {"--bad-check", &SimOptions::BadCheck},
        {"--save-done", &SimOptions::SaveDone},
        {"--trace", &SimOptions::Trace},
        {"--help", &SimOptions::Help},
        {"--version", &SimOptions::Version},
    }};

    // Options with a value, each with the check that takes the value in.
    using Setter = std::function<bool(const std::string&)>;
    const std::array<std::pair<const char*, Setter>, 7> valued = {{
        {"--device",
         [&o](const std::string& v) {
             o.Device = v;
             return !v.empty();
         }},
        {"--baud",
         [&o](const std::string& v) { return ParseWhole(v, &o.Baud) && IsSupportedBaud(o.Baud); }},
        {"--speed",
         [&o](const std::string& v) {
             double f = 0;
             const char* end = v.data() + v.size();
             const auto [ptr, ec] = std::from_chars(v.data(), end, f);
             if (ec != std::errc() || ptr != end || !std::isfinite(f) || f <= 0 || f > 1e6) {
                 return false;
             }
             o.Speed = f;
             return true;
         }},
        {"--type", [&o](const std::string& v) { return ParseIntIn(v, 4, 7, &o.InstrumentType); }},
        {"--records",
         [&o](const std::string& v) { return ParseIntIn(v, 0, kMaxRecords, &o.Records); }},
        {"--error",
         [&o](const std::string& v) {
             ErrorFault f;
             if (!ParseErrorFault(v, &f)) {
                 return false;
             }
             o.Error = f;
             return true;
         }},
        {"--hangup-at",
         [&o](const std::string& v) {
             int step = 0;
             if (!ParseIntIn(v, 0, kMaxStep, &step)) {
                 return false;
             }
             o.HangupAt = step;
             return true;
         }},
    }};

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }

        const auto flag = std::find_if(flags.begin(), flags.end(),
                                       [&name](const auto& f) { return name == f.first; });
        if (flag != flags.end()) {
            if (value) {
                return fail("option '" + name + "' takes no value");
            }
            o.*(flag->second) = true;
            continue;
        }

        const auto setter = std::find_if(valued.begin(), valued.end(),
                                         [&name](const auto& v) { return name == v.first; });
        if (setter == valued.end()) {
            return fail("unknown option '" + args[i] + "'");
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return fail("option '" + name + "' needs a value");
            }
            value = args[++i];
        }
        if (!setter->second(*value)) {
            return fail("invalid value '" + *value + "' for option '" + name + "'");
        }
    }
    return o;
}

std::string SimHelpText() {
    return usage::kDielmonSim.Help;
}

std::string SimVersionLine() {
    return usage::kDielmonSim.VersionLine();
}

} // namespace dielmon::sim
