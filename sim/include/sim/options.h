// Command-line options of the instrument simulator. The simulator may use the core library
// (frames, reassembly, float bytes, codes, clock); it encodes every payload on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon::sim {

inline constexpr int kMaxRecords = 100;

// An instrument error to report at one point of the next test that reaches it.
struct ErrorFault {
    std::uint8_t Code = 0;
    int Step = 0;
};

struct SimOptions {
    std::string Device;     // empty: serve a pseudo-terminal of our own
    int Baud = 9600;        // line speed of --device
    double Speed = 1.0;     // every delay is divided by this factor
    int InstrumentType = 5; // reported by RspParameters, 4..7
    bool DoubleSteps = false;
    int Records = 9; // sample records in the store at start, 0..100
    std::optional<ErrorFault> Error;
    std::optional<int> HangupAt; // step at which the line is closed
    bool Silent = false;
    bool Noise = false;
    bool Split = false;
    bool BadCheck = false;
    bool SaveDone = false;
    bool Trace = false; // traffic as hexadecimal lines on standard error
    bool Help = false;
    bool Version = false;
    // Seeds the small variations of measured values; the same seed gives the same values.
    std::uint32_t Seed = 1;
};

// Parses the arguments after the program name. On failure returns nothing and puts a message
// naming the offending argument into *error (when error is not null).
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string* error);

// The text of --help, and the first line of --version.
std::string SimHelpText();
std::string SimVersionLine();

// Line speeds accepted by --baud.
bool IsSupportedBaud(int baud);

} // namespace dielmon::sim
