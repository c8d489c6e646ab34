// Specimens: their class names and their rows in the archive.
#include "archive/archive.h"

#include "sqlite.h"

#include "core/json.h"

#include <cmath>

namespace dielmon::archive {

using detail::Statement;

namespace {

struct ClassNaming {
    SpecimenClass Class;
    const char* Name;
};

const ClassNaming kClassNames[] = {
    {SpecimenClass::Winding, "winding"},
    {SpecimenClass::BushingOip, "bushing-oip"},
    {SpecimenClass::BushingRip, "bushing-rip"},
    {SpecimenClass::BushingRbp, "bushing-rbp"},
    {SpecimenClass::Bushing, "bushing"},
    {SpecimenClass::Cvt, "cvt"},
    {SpecimenClass::CouplingCapacitor, "coupling-capacitor"},
    {SpecimenClass::Cable, "cable"},
    {SpecimenClass::Other, "other"},
};

std::int64_t Milliseconds(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

bool FiniteOrNone(const std::optional<double>& v) {
    return !v || std::isfinite(*v);
}

} // namespace

const char* ClassName(SpecimenClass c) {
    for (const ClassNaming& n : kClassNames) {
        if (n.Class == c) {
            return n.Name;
        }
    }
    return "other";
}

std::optional<SpecimenClass> ClassNamed(const std::string& name) {
    for (const ClassNaming& n : kClassNames) {
        if (name == n.Name) {
            return n.Class;
        }
    }
    return std::nullopt;
}

const std::vector<SpecimenClass>& AllClasses() {
    static const std::vector<SpecimenClass> all = [] {
        std::vector<SpecimenClass> v;
        for (const ClassNaming& n : kClassNames) {
            v.push_back(n.Class);
        }
        return v;
    }();
    return all;
}

const char* ReferenceName(Reference r) {
    return r == Reference::First ? "first" : "nameplate";
}

std::optional<Reference> ReferenceNamed(const std::string& name) {
    if (name == "nameplate") {
        return Reference::Nameplate;
    }
    if (name == "first") {
        return Reference::First;
    }
    return std::nullopt;
}

Outcome<Specimen> Archive::SpecimenNamed(const std::string& name) {
    Outcome<Specimen> out;
    out.Value.Name = name;
    Statement s(Db_, "SELECT class, voltage_class, nameplate_c, nameplate_df, reference, method, "
                     "temperature_of, edited FROM specimens WHERE name = ?");
    int rc = s.Prepared();
    if (rc == SQLITE_OK) {
        s.Bind(1, name);
        rc = s.Step();
    }
    if (rc == SQLITE_DONE) {
        return out;
    }
    if (rc != SQLITE_ROW) {
        out.Error = Fail(rc, "the specimen cannot be read");
        return out;
    }
    Specimen& sp = out.Value;
    // A class or reference this program does not know (a newer one wrote it) reads as the
    // default rather than failing the whole specimen.
    sp.Class = ClassNamed(s.Text(0)).value_or(SpecimenClass::Other);
    sp.VoltageClass = s.OptReal(1);
    sp.NameplateC = s.OptReal(2);
    sp.NameplateDf = s.OptReal(3);
    sp.ComparedWith = ReferenceNamed(s.Text(4)).value_or(Reference::Nameplate);
    sp.Method = s.Text(5);
    sp.TemperatureOf = s.Text(6);
    sp.Edited = TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(s.Int(7))));
    sp.Stored = true;
    return out;
}

std::string Archive::SetSpecimen(Specimen sp) {
    if (std::string why = Writable(); !why.empty()) {
        return why;
    }
    if (sp.Name.empty()) {
        return "a specimen needs a name";
    }
    if (!IsUtf8(sp.Name) || !IsUtf8(sp.Method) || !IsUtf8(sp.TemperatureOf)) {
        return "the specimen's texts are not UTF-8 text";
    }
    if (!FiniteOrNone(sp.VoltageClass) || !FiniteOrNone(sp.NameplateC) ||
        !FiniteOrNone(sp.NameplateDf)) {
        return "a specimen's value is not a finite number";
    }
    Statement s(Db_,
                "INSERT INTO specimens(name, class, voltage_class, nameplate_c, nameplate_df, "
                "reference, method, temperature_of, edited) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
                "ON CONFLICT(name) DO UPDATE SET class = excluded.class, "
                "voltage_class = excluded.voltage_class, nameplate_c = excluded.nameplate_c, "
                "nameplate_df = excluded.nameplate_df, reference = excluded.reference, "
                "method = excluded.method, temperature_of = excluded.temperature_of, "
                "edited = excluded.edited");
    if (const int rc = s.Prepared(); rc != SQLITE_OK) {
        return Fail(rc, "the specimen was not kept");
    }
    s.Bind(1, sp.Name)
        .Bind(2, ClassName(sp.Class))
        .Bind(3, sp.VoltageClass)
        .Bind(4, sp.NameplateC)
        .Bind(5, sp.NameplateDf)
        .Bind(6, ReferenceName(sp.ComparedWith))
        .Bind(7, sp.Method)
        .Bind(8, sp.TemperatureOf)
        .Bind(9, Milliseconds(Clock_->Now()));
    if (const int rc = s.Step(); rc != SQLITE_DONE) {
        return Fail(rc, "the specimen was not kept");
    }
    return {};
}

} // namespace dielmon::archive
