// Verdicts of the shipped profiles at their boundaries, the history a result is compared with,
// the warnings about conditions, a change of method on a real archive, and what leaves the
// program (JSON, CSV, the specimen report's content).
#include "results.h"

#include "assess/assess.h"
#include "assess/report.h"
#include "core/measured.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace dielmon;
using namespace dielmon::assess;
using dielmon::archive::Reference;
using dielmon::archive::Result;
using dielmon::archive::Specimen;
using dielmon::test::TempDir;

namespace {

const Library& Shipped() {
    static const Library lib = LoadLibrary(DIELMON_SHIPPED_ASSESSMENT, "");
    return lib;
}

std::vector<const Profile*> Profiles(std::initializer_list<const char*> names) {
    std::vector<const Profile*> out;
    for (const char* n : names) {
        out.push_back(Shipped().ProfileNamed(n));
    }
    return out;
}

// A result of one capacitance and its dissipation factor, tested at 10 kV and 50 Hz.
Result Make(const std::string& id, const std::string& day, double c, std::optional<double> df,
            std::optional<double> t = 20.0, std::optional<double> rh = 50.0, int mode = 1,
            const std::string& cap = "Cx") {
    Result r;
    r.Id = id;
    r.Measured = day + "T10:00:00";
    r.Config.WiringMode = mode;
    r.Config.TestVoltage = 10000;
    r.Quantities.push_back({cap, "F", c, false});
    if (df) {
        r.Quantities.push_back({DissipationNameOf(cap), "%", df, false});
    }
    r.Quantities.push_back({"F1", "Hz", 50.0, false});
    r.Taken.Specimen = "B1";
    r.Taken.Temperature = t;
    r.Taken.Humidity = rh;
    return r;
}

Specimen Bushing(SpecimenClass c = SpecimenClass::BushingOip, std::optional<double> kv = 110) {
    Specimen s;
    s.Name = "B1";
    s.Class = c;
    s.VoltageClass = kv;
    s.NameplateC = 1e-9;
    s.NameplateDf = 0.3;
    return s;
}

// The level of one rule's verdict on the last result.
std::string LevelOf(const SpecimenAssessment& a, const std::string& rule,
                    const std::string& quantity = "") {
    for (const Verdict& v : a.Results.back().Verdicts) {
        if (v.Rule == rule && (quantity.empty() || v.Quantity == quantity)) {
            return LevelName(v.Grade);
        }
    }
    return "(none)";
}

bool Warned(const ResultAssessment& a, const std::string& code) {
    for (const Warning& w : a.Warnings) {
        if (w.Code == code) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Verdicts, TheNameplateProfileTakesEachBoundaryAsItsDocumentationSays) {
    // Capacitance: below 5 % ok; 5 % to 10 %, both ends, investigate; above 10 % critical; in
    // either direction. DF: below 2× ok; 2× to 3×, both ends, investigate; above 3× critical.
    const struct {
        double c;  // nF, nameplate 1 nF
        double df; // %, nameplate 0.3 %
        const char* capacitance;
        const char* dissipation;
    } cases[] = {
        {1.0, 0.3, "ok", "ok"},
        {1.0499, 0.5997, "ok", "ok"},
        {1.05, 0.6, "investigate", "investigate"},
        {0.95, 0.6, "investigate", "investigate"},
        {1.1, 0.9, "investigate", "investigate"},
        {0.9, 0.9, "investigate", "investigate"},
        {1.1001, 0.9003, "critical", "critical"},
        {0.8999, 0.9003, "critical", "critical"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.c) + " nF, " + std::to_string(k.df) + " %");
        const SpecimenAssessment a =
            AssessHistory(Bushing(), {Make("r", "2020-01-01", k.c * 1e-9, k.df)}, Shipped(),
                          Profiles({"nameplate"}));
        EXPECT_EQ(LevelOf(a, "capacitance"), k.capacitance);
        EXPECT_EQ(LevelOf(a, "dissipation"), k.dissipation);
    }
    // The text names the numbers, the bound that decided and the source.
    const SpecimenAssessment a = AssessHistory(Bushing(), {Make("r", "2020-01-01", 0.9e-9, 0.3)},
                                               Shipped(), Profiles({"nameplate"}));
    const Verdict& v = a.Results[0].Verdicts[0];
    EXPECT_EQ(v.Text, "Capacitance change from the reference: Cx 900 pF is -10 % from the "
                      "nameplate 1 nF; investigate (|-10| ≥ 5) [IEEE Std 62; USBR FIST Volume "
                      "3-2 (as public test-set manuals cite them for bushings), 1995; 1991]");
    EXPECT_EQ(v.Value, 10);
    EXPECT_EQ(v.Group, "trend");
}

TEST(Verdicts, TheCodesLimitsApplyByClassVoltageAndStage) {
    auto level = [](Specimen s, double c, double df, const char* profile, const char* rule) {
        return LevelOf(
            AssessHistory(s, {Make("r", "2020-01-01", c, df)}, Shipped(), Profiles({profile})),
            rule);
    };
    // GB 50150-2016, CVT: capacitance within −5 % to +10 % of rated, tanδ at most 0.2 %.
    Specimen cvt = Bushing(SpecimenClass::Cvt, std::nullopt);
    EXPECT_EQ(level(cvt, 0.95e-9, 0.2, "gb50150", "cvt-capacitance"), "ok");
    EXPECT_EQ(level(cvt, 0.9499e-9, 0.2, "gb50150", "cvt-capacitance"), "investigate");
    EXPECT_EQ(level(cvt, 1.1e-9, 0.2, "gb50150", "cvt-capacitance"), "ok");
    EXPECT_EQ(level(cvt, 1.1001e-9, 0.2, "gb50150", "cvt-capacitance"), "investigate");
    EXPECT_EQ(level(cvt, 1e-9, 0.2, "gb50150", "cvt-tan-delta"), "ok");
    EXPECT_EQ(level(cvt, 1e-9, 0.201, "gb50150", "cvt-tan-delta"), "critical");
    // A bushing is no CVT.
    EXPECT_EQ(level(Bushing(), 1e-9, 0.5, "gb50150", "cvt-tan-delta"), "(none)");

    // DL/T 596-1996: an oil-paper bushing of 110 kV at most 1.0 %, of 220 kV at most 0.8 %.
    EXPECT_EQ(level(Bushing(), 1e-9, 1.0, "dlt596", "oip-66-110"), "ok");
    EXPECT_EQ(level(Bushing(), 1e-9, 1.001, "dlt596", "oip-66-110"), "critical");
    EXPECT_EQ(level(Bushing(SpecimenClass::BushingOip, 220), 1e-9, 0.81, "dlt596", "oip-220-500"),
              "critical");
    EXPECT_EQ(level(Bushing(SpecimenClass::BushingOip, 220), 1e-9, 0.81, "dlt596", "oip-66-110"),
              "(none)");
    // Resin-bonded paper at 35 kV: above the after-overhaul 2.0 % it is looked into, above the
    // in-service 3.0 % it is critical.
    const Specimen rbp = Bushing(SpecimenClass::BushingRbp, 35);
    EXPECT_EQ(level(rbp, 1e-9, 2.5, "dlt596", "rbp-20-35-overhaul"), "investigate");
    EXPECT_EQ(level(rbp, 1e-9, 2.5, "dlt596", "rbp-20-35-service"), "ok");
    EXPECT_EQ(level(rbp, 1e-9, 3.1, "dlt596", "rbp-20-35-service"), "critical");
    // The capacitance may differ by 5 % from the factory value; beyond it, look into it.
    EXPECT_EQ(level(Bushing(), 1.05e-9, 0.3, "dlt596", "capacitance-reference"), "ok");
    EXPECT_EQ(level(Bushing(), 1.0501e-9, 0.3, "dlt596", "capacitance-reference"), "investigate");
    // Without its voltage class a bushing is not held against a table by voltage, and the
    // assessment says so.
    const SpecimenAssessment a =
        AssessHistory(Bushing(SpecimenClass::BushingOip, std::nullopt),
                      {Make("r", "2020-01-01", 1e-9, 5.0)}, Shipped(), Profiles({"dlt596"}));
    EXPECT_EQ(LevelOf(a, "oip-66-110"), "(none)");
    ASSERT_EQ(a.Notes.size(), 3u);
    EXPECT_NE(a.Notes[0].find("dlt596/oip-20-35"), std::string::npos);
    EXPECT_NE(a.Notes[0].find("needs the specimen's voltage class"), std::string::npos);
}

TEST(Verdicts, AResultIsComparedWithTheReferenceAndTheResultBefore) {
    Specimen s = Bushing();
    s.ComparedWith = Reference::First;
    // Capacitance changes +3 %, then +3 % again: +6.09 % from the first. The DF doubles.
    const std::vector<Result> history = {
        Make("a", "2018-05-01", 1.00e-9, 0.30),
        Make("b", "2019-05-01", 1.03e-9, 0.45),
        Make("c", "2020-05-01", 1.0609e-9, 0.60),
    };
    const SpecimenAssessment a =
        AssessHistory(s, history, Shipped(), Profiles({"nameplate", "dlt596"}));
    ASSERT_EQ(a.Results.size(), 3u);
    const SeriesValues& last = a.Results[2].Series[0];
    EXPECT_NEAR(*last.CVsReference, 6.09, 1e-9);
    EXPECT_NEAR(*last.CVsPrevious, 3.0, 1e-9);
    EXPECT_NEAR(*last.CVsNameplate, 6.09, 1e-9); // shown, though the first result is the reference
    EXPECT_NEAR(*last.DfRatioVsReference, 2.0, 1e-12);
    EXPECT_NEAR(*last.DfRatioVsPrevious, 0.6 / 0.45, 1e-12);
    EXPECT_NEAR(*last.DfRiseVsReference, 0.3, 1e-12);
    EXPECT_EQ(last.PreviousId, "b");
    EXPECT_EQ(last.CReference, "the first result (2018-05-01, 1 nF)");
    EXPECT_EQ(LevelOf(a, "capacitance"), "investigate");
    EXPECT_EQ(LevelOf(a, "dissipation"), "investigate");
    EXPECT_EQ(LevelOf(a, "capacitance-reference"), "investigate");
    EXPECT_EQ(LevelOf(a, "capacitance-previous"), "ok");
    EXPECT_EQ(*a.Results[2].Overall, Level::Investigate);
    // The first result is its own reference.
    EXPECT_EQ(a.Results[0].Series[0].CReference, "itself (the first result is the reference)");
    EXPECT_EQ(*a.Results[0].Overall, Level::Ok);

    // The nameplate C and DF, when given and wanted, are the reference of the first capacitance
    // only; the second is compared with its own first result.
    Result two = Make("d", "2020-06-01", 1.2e-9, 0.3);
    two.Quantities.push_back({"Cg", "F", 2.0e-9, false});
    two.Quantities.push_back({"DFg", "%", 0.5, false});
    Result three = Make("e", "2021-06-01", 1.2e-9, 0.3);
    three.Quantities.push_back({"Cg", "F", 2.3e-9, false});
    three.Quantities.push_back({"DFg", "%", 0.5, false});
    const SpecimenAssessment b = AssessHistory(Bushing(), {two, three}, Shipped(), {});
    const ResultAssessment& r = b.Results[1];
    ASSERT_EQ(r.Series.size(), 2u);
    EXPECT_TRUE(r.Series[0].Primary);
    EXPECT_EQ(r.Series[0].CReference, "the nameplate 1 nF");
    EXPECT_NEAR(*r.Series[0].CVsReference, 20, 1e-9);
    EXPECT_FALSE(r.Series[1].Primary);
    EXPECT_EQ(r.Series[1].Dissipation, "DFg");
    EXPECT_NEAR(*r.Series[1].CVsReference, 15, 1e-9);
    EXPECT_FALSE(r.Series[1].CVsNameplate);
    EXPECT_FALSE(r.Overall); // no profile: no verdict
}

TEST(Verdicts, ConditionsAreWarnedOfWithoutChangingALevel) {
    const Specimen s = Bushing(SpecimenClass::Winding);
    auto one = [&](Result r) {
        return AssessHistory(s, {r}, Shipped(), Profiles({"nameplate"})).Results[0];
    };
    EXPECT_FALSE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 10.0)), "temperature-range"));
    EXPECT_FALSE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 40.0)), "temperature-range"));
    EXPECT_TRUE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 9.9)), "temperature-range"));
    EXPECT_TRUE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 40.1)), "temperature-range"));
    EXPECT_FALSE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 20.0, 80.0)), "humidity"));
    EXPECT_TRUE(Warned(one(Make("a", "2020-01-01", 1e-9, 0.3, 20.0, 80.5)), "humidity"));
    // A winding without a temperature is not corrected, and is not judged at 20 °C.
    ResultAssessment r = one(Make("a", "2020-01-01", 1e-9, 0.3, std::nullopt));
    EXPECT_TRUE(Warned(r, "no-temperature"));
    EXPECT_FALSE(r.Series[0].Df20);
    EXPECT_DOUBLE_EQ(*r.Series[0].RawDf, 0.3);
    // A negative reading keeps its sign through the correction, and no ratio is made of it.
    const SpecimenAssessment neg = AssessHistory(
        s, {Make("a", "2019-01-01", 1e-9, 0.3, 20.0), Make("b", "2020-01-01", 1e-9, -0.05, 30.0)},
        Shipped(), Profiles({"nameplate"}));
    r = neg.Results[1];
    EXPECT_TRUE(Warned(r, "negative-df"));
    EXPECT_LT(*r.Series[0].Df20, 0);
    EXPECT_NEAR(*r.Series[0].Df20, -0.05 / 1.3, 1e-12);
    EXPECT_FALSE(r.Series[0].DfRatioVsReference);
    EXPECT_EQ(LevelOf(neg, "dissipation"), "(none)");
    // Over the range: not compared.
    Result over = Make("a", "2020-01-01", 1e-9, std::nullopt);
    over.Quantities.push_back({"DF", "%", std::nullopt, true});
    EXPECT_TRUE(Warned(one(over), "over"));

    // Two results compared whose wiring mode, voltage or frequency differ.
    Result before = Make("a", "2019-01-01", 1e-9, 0.3);
    Result now = Make("b", "2020-01-01", 1e-9, 0.3, 20.0, 50.0, 2);
    now.Config.TestVoltage = 2000;
    now.Quantities[2].Value = 45.0;
    const std::vector<Warning> w = ComparedConditions(now, before, "the result before", {});
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].Text, "wiring mode 反接线, the result before 正接线");
    EXPECT_EQ(w[1].Text, "test voltage 2 kV, the result before 10 kV");
    EXPECT_EQ(w[2].Text, "test frequency 45 Hz, the result before 50 Hz");
    now.Config = before.Config;
    now.Config.TestVoltage = 10900; // within 10 %
    now.Quantities[2].Value = 50.9; // within 1 Hz
    EXPECT_TRUE(ComparedConditions(now, before, "the result before", {}).empty());
    const SpecimenAssessment both = AssessHistory(
        Bushing(), {before, Make("b", "2020-01-01", 1e-9, 0.3, 20.0, 50.0, 2)}, Shipped(), {});
    EXPECT_TRUE(Warned(both.Results[1], "conditions-differ"));
}

TEST(Verdicts, ChangingTheMethodRecomputesAndNeverTouchesTheKeptValue) {
    TempDir dir;
    auto store = archive::test::OpenOk(dir.File(archive::kArchiveFileName));
    Result r = archive::test::Live(1.0f, 0.5f, archive::test::Day(2020, 7, 1), "W1");
    r.Taken.Temperature = 30;
    const std::string id = store->Add(r).Id;
    Specimen s;
    s.Name = "W1";
    s.Class = SpecimenClass::Bushing;
    ASSERT_EQ(store->SetSpecimen(s), "");

    const std::vector<const Profile*> none;
    ArchiveAssessor first(*store, Shipped(), none);
    const ResultAssessment* a = first.Of(*store->Get(id).Value);
    ASSERT_NE(a, nullptr) << first.Error();
    EXPECT_EQ(a->Method, "none");
    EXPECT_NEAR(*a->Main()->Df20, 0.5, 1e-6);

    s.Method = "exponential-1.3";
    ASSERT_EQ(store->SetSpecimen(s), "");
    ArchiveAssessor second(*store, Shipped(), none);
    a = second.Of(*store->Get(id).Value);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Method, "exponential-1.3");
    EXPECT_NEAR(*a->Main()->Df20, 0.384615, 1e-6);
    EXPECT_NEAR(*a->Main()->Factor, 0.769231, 1e-6);
    // The kept raw value is the measured one, whatever the method.
    EXPECT_NEAR(*a->Main()->RawDf, 0.5, 1e-6);
    const Result kept = *store->Get(id).Value;
    for (const archive::Quantity& q : kept.Quantities) {
        if (q.Name == "DF") {
            EXPECT_NEAR(*q.Value, 0.5, 1e-6);
        }
    }
    // Back to the class's default: as before.
    s.Method.clear();
    ASSERT_EQ(store->SetSpecimen(s), "");
    ArchiveAssessor third(*store, Shipped(), none);
    EXPECT_NEAR(*third.Of(*store->Get(id).Value)->Main()->Df20, 0.5, 1e-6);
}

TEST(Verdicts, TheJsonTheCsvAndTheSpecimenReportCarryTheNumbers) {
    const std::vector<Result> history = {
        Make("a", "2018-05-01", 1.00e-9, 0.30, 15.0),
        Make("b", "2020-05-01", 1.08e-9, 0.70, 35.0, 85.0),
    };
    Specimen s = Bushing(SpecimenClass::Winding);
    const SpecimenAssessment a = AssessHistory(s, history, Shipped(), Profiles({"nameplate"}));
    const std::string json = JsonMembers(&a.Results[1]);
    EXPECT_EQ(json.rfind("\"correction\":{\"method\":\"exponential-1.3\",\"factor\":0.67466,", 0),
              0u)
        << json;
    EXPECT_NE(json.find("\"level\":\"investigate\""), std::string::npos);
    EXPECT_NE(json.find("{\"code\":\"humidity\""), std::string::npos);
    EXPECT_NE(json.find("\"c_vs_reference\":8,"), std::string::npos) << json;
    const std::string empty = JsonMembers(nullptr);
    EXPECT_EQ(empty, "\"correction\":{\"method\":null,\"factor\":null,\"df20\":null,\"quantity\":"
                     "null,\"raw\":null,\"temperature\":null,\"values\":{}},\"verdicts\":[],"
                     "\"level\":null,\"warnings\":[],\"trend\":[]");

    const archive::CsvColumns columns =
        CsvColumnsOf([&a](const Result& r) { return r.Id == "b" ? &a.Results[1] : nullptr; });
    ASSERT_EQ(columns.Headers.size(), 8u);
    const std::vector<std::string> cells = columns.Cells(history[1]);
    EXPECT_EQ(cells[0], "DF");
    EXPECT_EQ(cells[1], "0.7");
    EXPECT_EQ(cells[2], "exponential-1.3");
    EXPECT_EQ(cells[5], "investigate");
    EXPECT_NE(cells[6].find("investigate: nameplate/capacitance: "), std::string::npos);
    EXPECT_EQ(columns.Cells(history[0]), std::vector<std::string>(8));

    const SpecimenReport rep = BuildSpecimenReport(a, history, Shipped());
    EXPECT_EQ(rep.ClassName, "winding");
    EXPECT_EQ(rep.Method, "exponential-1.3");
    EXPECT_NE(rep.TemperatureOf.find("top oil"), std::string::npos);
    ASSERT_EQ(rep.Rows.size(), 2u);
    EXPECT_EQ(rep.Rows[1].Mode, "正接线");
    EXPECT_NEAR(*rep.Rows[1].Df20, 0.7 / std::pow(1.3, 1.5), 1e-9);
    EXPECT_EQ(rep.Ok, 1);
    EXPECT_EQ(rep.Investigate, 1);
    EXPECT_EQ(rep.Critical, 0);
    EXPECT_EQ(rep.ByDate.at("Cx").size(), 2u);
    // Against temperature: by rising temperature, whatever the dates.
    ASSERT_EQ(rep.ByTemperature.at("Cx").size(), 2u);
    EXPECT_EQ(rep.ByTemperature.at("Cx")[0].Temperature, 15);
    EXPECT_EQ(rep.ByTemperature.at("Cx")[1].Id, "b");
    EXPECT_NE(rep.Sources[0].find("GB 50150-2016"), std::string::npos);
    EXPECT_NE(rep.Sources[1].find("IEEE Std 62"), std::string::npos);
    EXPECT_EQ(rep.SignatureFields.size(), 4u);

    EXPECT_STRNE(LevelColour(Level::Ok), LevelColour(Level::Investigate));
    EXPECT_STRNE(LevelColour(Level::Investigate), LevelColour(Level::Critical));
    EXPECT_EQ(CapacitanceText(4.125e-10), "412.5 pF");
    EXPECT_EQ(CapacitanceText(2.2e-6), "2.2 µF");
    EXPECT_EQ(SignedPercent(-3.5), "-3.5 %");
}
