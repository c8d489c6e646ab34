// The commands of dielmon-archive that judge results: specimen (show or change what the archive
// knows of a specimen), assess (the verdicts of the chosen profiles) and rules (the correction
// methods and profiles in use, and the files left out).
#pragma once

#include "archive/archive.h"
#include "assess/library.h"
#include "assess/report.h"

#include <optional>
#include <string>
#include <vector>

namespace dielmon::tool {

// The data files and the profiles a command judges by.
struct Judging {
    assess::Library Lib;
    std::vector<const assess::Profile*> Profiles;
};

// Loads the shipped and the lab's files (what is left out is said on standard error) and picks
// the profiles: a name, names parted by commas, "all", or the default when empty. An unknown
// profile is a message in `problem`.
bool LoadJudging(const std::string& shipped, const std::string& lab, const std::string& profiles,
                 Judging& j, std::string& problem);

// The changes `specimen NAME` asks for, as typed.
struct SpecimenChange {
    std::optional<std::string> Class;
    std::optional<std::string> VoltageClass;
    std::optional<std::string> NameplateC;
    std::optional<std::string> NameplateDf;
    std::optional<std::string> Reference;
    std::optional<std::string> Method;
    std::optional<std::string> TemperatureOf;
    bool Any() const {
        return Class || VoltageClass || NameplateC || NameplateDf || Reference || Method ||
               TemperatureOf;
    }
};

// The specimen with the changes made; a message in `problem` when one is wrong.
bool ApplyChange(archive::Specimen& s, const SpecimenChange& c, const assess::Library& lib,
                 std::string& problem);

// Shows a specimen (after changing it, when asked); exit status.
int SpecimenCommand(archive::Archive& a, const std::string& name, const SpecimenChange& c,
                    bool json, const assess::Library& lib);
// The verdicts on the results the filter leaves; exit status.
int AssessCommand(archive::Archive& a, const archive::Filter& f, bool json, const Judging& j);
// The methods, profiles and defaults in use and the files left out; exit status.
int RulesCommand(const assess::Library& lib);

// "21.5" as a temperature (°C) or a humidity (%); nothing when it is not one.
std::optional<double> TemperatureValue(const std::string& text);
std::optional<double> HumidityValue(const std::string& text);

} // namespace dielmon::tool
