// The command line of dielmon.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace dielmon {

struct ProgramOptions {
    std::string Home;                // folder of Config.ini, Log/ and the data; empty: chosen
    std::optional<std::string> Port; // port for this run, Config.ini untouched
    bool Trace = false;              // received chunks to standard error
    bool Simulate = false;           // the built-in simulated instrument as the port
    std::vector<std::string> SimArgs;
    bool Help = false;
    bool Version = false;
    bool Folders = false; // print the folders of this run
};

// The text of --help, made with the manual page from docs/man/dielmon.usage.
extern const char* const kProgramUsage;

// The options, or the message that refuses them.
std::variant<ProgramOptions, std::string> ParseProgramOptions(const std::vector<std::string>& args);

} // namespace dielmon
