// The name, version and --help text of one of the programs, generated at build time from its
// usage file (docs/man/<program>.usage) by dielmon-usage, together with its manual page.
#pragma once

#include <string>

namespace dielmon::usage {

struct ProgramText {
    const char* Name;
    const char* Version;
    const char* Help;

    // The first line of --version: "dielmon-sim 1.0".
    std::string VersionLine() const { return std::string(Name) + " " + Version; }
};

} // namespace dielmon::usage
