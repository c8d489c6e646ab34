// What the archive knows of a specimen beyond its name: the kind of apparatus, its voltage
// class, its nameplate, what its results are compared with and how their dissipation factor is
// corrected for temperature. Results name their specimen by text, as typed; a specimen's row is
// made the first time one of these facts is set, and until then it has the defaults below.
#pragma once

#include "core/clock.h"

#include <optional>
#include <string>
#include <vector>

namespace dielmon::archive {

enum class SpecimenClass {
    Winding,           // "winding": a transformer winding
    BushingOip,        // "bushing-oip": a capacitor bushing of oil-impregnated paper
    BushingRip,        // "bushing-rip": resin-impregnated paper
    BushingRbp,        // "bushing-rbp": resin-bonded paper
    Bushing,           // "bushing": any other bushing
    Cvt,               // "cvt": a capacitor voltage transformer
    CouplingCapacitor, // "coupling-capacitor"
    Cable,             // "cable"
    Other,             // "other"
};

// The class as the command line and the data files name it ("bushing-oip").
const char* ClassName(SpecimenClass c);
// The class of that name, or nothing.
std::optional<SpecimenClass> ClassNamed(const std::string& name);
// Every class, in the order above.
const std::vector<SpecimenClass>& AllClasses();

// What a result's capacitance and dissipation factor are compared with.
enum class Reference {
    Nameplate, // the nameplate values where they are given, else the first result
    First,     // the specimen's first result, whatever the nameplate says
};
const char* ReferenceName(Reference r); // "nameplate", "first"
std::optional<Reference> ReferenceNamed(const std::string& name);

struct Specimen {
    std::string Name; // UTF-8, exactly as the results name it
    SpecimenClass Class = SpecimenClass::Other;
    std::optional<double> VoltageClass; // kV
    std::optional<double> NameplateC;   // F
    std::optional<double> NameplateDf;  // %
    Reference ComparedWith = Reference::Nameplate;
    std::string Method;        // the temperature correction; empty: the class default
    std::string TemperatureOf; // which temperature the correction takes; empty: the method's
    TimePoint Edited{};        // the last change; the later edit wins
    bool Stored = false;       // false: no row yet, these are the defaults
    bool operator==(const Specimen&) const = default;
};

} // namespace dielmon::archive
