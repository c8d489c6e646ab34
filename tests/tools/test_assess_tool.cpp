// dielmon-archive judging results, as a process: a bushing's two years of results imported
// with their conditions, its nameplate given, and the verdicts with their numbers and sources;
// the specimen command; the JSON and CSV members; broken data files of a lab.
#include "results.h"

#include "core/resultfile.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dielmon;
using namespace dielmon::archive::test;
using dielmon::test::Lines;
using dielmon::test::Process;
using dielmon::test::Ran;
using dielmon::test::ReadAll;
using dielmon::test::RunToEnd;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace {

Ran Tool(const std::vector<std::string>& args) {
    return RunToEnd(DIELMON_ARCHIVE_EXE, args);
}

// Everything printed below the result line that starts with `start`, up to the next result.
std::string BlockOf(const std::string& text, const std::string& start) {
    std::string block;
    bool in = false;
    for (const std::string& l : Lines(text)) {
        if (l.rfind(start, 0) == 0) {
            in = true;
        } else if (in && l.rfind("    ", 0) != 0) {
            break;
        }
        if (in) {
            block += l + "\n";
        }
    }
    return block;
}

// A result file of one reverse-connection result of `nf` nF and `df` %. The texts show four
// digits cut toward zero: the values are nudged up so that they show as written.
std::string ResultFile(const TempDir& home, const std::string& name, double nf, double df,
                       const sim::DateStamp& date) {
    const Bytes f = LiveFrame(static_cast<float>(nf + 1e-6), static_cast<float>(df + 1e-5), date);
    const std::string file = home.File(name);
    EXPECT_EQ(AppendResultRun(
                  file, ShowFinalResult(f.data(), static_cast<int>(f.size()), PanelOf(2)).Texts),
              "");
    return file;
}

const char* const kBushing = "1#主变A相套管";

// Two years of a 110 kV oil-paper bushing: its capacitance creeps up and its dissipation factor
// rises. Each result with the temperature and humidity of its day.
void ImportTwoYears(const TempDir& home) {
    const struct {
        const char* file;
        double nf, df;
        sim::DateStamp date;
        const char* temperature;
        const char* humidity;
    } runs[] = {
        {"2016-05.txt", 0.4000, 0.300, Day(2016, 5, 10), "22", "55"},
        {"2016-11.txt", 0.4020, 0.320, Day(2016, 11, 8), "12", "60"},
        {"2017-05.txt", 0.4150, 0.450, Day(2017, 5, 9), "25", "85"},
        {"2017-11.txt", 0.4280, 0.650, Day(2017, 11, 7), "8", "50"},
    };
    for (const auto& run : runs) {
        const std::string file = ResultFile(home, run.file, run.nf, run.df, run.date);
        const Ran r = Tool({"--home", home.Home(), "import", "--specimen", kBushing,
                            "--temperature", run.temperature, "--humidity", run.humidity, file});
        ASSERT_EQ(r.Status, 0) << r.Err;
    }
}

} // namespace

TEST(AssessTool, ABushingsTwoYearsAreJudgedAgainstItsNameplateWithTheirSources) {
    TempDir home;
    ImportTwoYears(home);
    Ran r = Tool({"--home", home.Home(), "specimen", kBushing, "--class", "bushing-oip",
                  "--voltage-class", "110", "--nameplate-c", "400e-12", "--nameplate-df", "0.28"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("class: bushing-oip\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("nameplate C: 400 pF\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("correction: none (the default of class bushing-oip)"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("results: 4\n"), std::string::npos) << r.Out;

    r = Tool({"--home", home.Home(), "assess", "--profile", "nameplate,dlt596"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string& out = r.Out;
    EXPECT_NE(out.find("# 1#主变A相套管: bushing-oip, 110 kV; nameplate C 400 pF DF 0.28 %"),
              std::string::npos)
        << out;
    // The first: every comparison within its bounds.
    const std::string first = BlockOf(out, "2016-05-10 10:00:00");
    EXPECT_NE(first.find("  ok  "), std::string::npos) << first;
    EXPECT_NE(first.find("nameplate/capacitance: Capacitance change from the reference: Cx 400 pF "
                         "is 0 % from the nameplate 400 pF; ok (investigate at ≥ 5, critical at "
                         "> 10) [IEEE Std 62"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("dlt596/oip-66-110: tanδ at 20 °C, oil-paper capacitor bushing, 66–110 "
                         "kV (after overhaul and in service): DF 0.3 % (not corrected: method "
                         "none); ok (critical at > 1) [DL/T 596"),
              std::string::npos)
        << first;
    // A year later: +3.75 % is still acceptable, but the humidity is warned of.
    const std::string third = BlockOf(out, "2017-05-09 10:00:00");
    EXPECT_NE(third.find("  ok  "), std::string::npos) << third;
    EXPECT_NE(third.find("relative humidity 85 % is above 80 %: surface leakage"),
              std::string::npos)
        << third;
    // The last: +7 % from the nameplate and 2.32 times its dissipation factor, to be
    // investigated, and a test at 8 °C, where a correction is not to be trusted.
    const std::string last = BlockOf(out, "2017-11-07 10:00:00");
    EXPECT_NE(last.find("  investigate  "), std::string::npos) << last;
    EXPECT_NE(last.find("investigate nameplate/capacitance: Capacitance change from the "
                        "reference: Cx 428 pF is +7 % from the nameplate 400 pF; investigate "
                        "(|7| ≥ 5) [IEEE Std 62; USBR FIST Volume 3-2"),
              std::string::npos)
        << last;
    EXPECT_NE(last.find("investigate nameplate/dissipation: Dissipation factor against the "
                        "reference: DF 0.65 % (not corrected: method none) is 2.32× the nameplate "
                        "0.28 %; investigate (≥ 2)"),
              std::string::npos)
        << last;
    EXPECT_NE(last.find("investigate dlt596/capacitance-reference:"), std::string::npos) << last;
    EXPECT_NE(last.find("ok          dlt596/capacitance-previous: Capacitance of a capacitor "
                        "bushing against the last test: Cx 428 pF is +3.13 % from the result "
                        "before (2017-05-09, 415 pF)"),
              std::string::npos)
        << last;
    EXPECT_NE(last.find("tested at 8 °C, outside 10 to 40 °C"), std::string::npos) << last;
    EXPECT_EQ(Lines(out).back(), "3 ok, 1 to investigate, 0 critical");

    // The JSON of each result carries its correction and verdicts.
    r = Tool({"--home", home.Home(), "assess", "--json", "--since", "2017-11-01"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(Lines(r.Out).size(), 1u) << r.Out;
    const std::string json = r.Out;
    EXPECT_NE(json.find("\"temperature\":8,\"humidity\":50,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"correction\":{\"method\":\"none\",\"factor\":1,\"df20\":0.65,"
                        "\"quantity\":\"DF\",\"raw\":0.65,"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"verdicts\":[{\"profile\":\"nameplate\",\"rule\":\"capacitance\","
                        "\"group\":\"trend\",\"level\":\"investigate\",\"quantity\":\"Cx\","
                        "\"value\":7,\"unit\":\"%\",\"source\":\"IEEE Std 62"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"level\":\"investigate\",\"warnings\":[{\"code\":\"temperature-range\""),
              std::string::npos)
        << json;
    // list --json judges by the default profile.
    r = Tool({"--home", home.Home(), "list", "--json", "--until", "2016-05-31"});
    EXPECT_NE(r.Out.find("\"verdicts\":[{\"profile\":\"nameplate\""), std::string::npos) << r.Out;

    // The same history taken as a winding: corrected to 20 °C by the exponential rule, never
    // touching the values kept.
    r = Tool({"--home", home.Home(), "specimen", kBushing, "--method", "exponential-1.3"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    r = Tool({"--home", home.Home(), "assess", "--json", "--until", "2016-05-31"});
    EXPECT_NE(r.Out.find("\"correction\":{\"method\":\"exponential-1.3\",\"factor\":0.9488"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("\"DF\":{\"value\":0.3,"), std::string::npos) << r.Out;
    r = Tool({"--home", home.Home(), "specimen", kBushing, "--method", "default", "--json"});
    EXPECT_NE(r.Out.find("\"method\":\"none\",\"method_is_default\":true"), std::string::npos)
        << r.Out;

    // The CSV table carries the same judgement.
    r = Tool({"--home", home.Home(), "export"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::vector<std::string> rows = Lines(r.Out);
    EXPECT_NE(rows[0].find(",main,details,corrected quantity,DF raw (%),correction method,"
                           "correction factor,DF at 20 °C (%),level,verdicts,warnings\r"),
              std::string::npos)
        << rows[0];
    EXPECT_NE(r.Out.find(",DF,0.65,none,1,0.65,investigate,\"investigate: nameplate/"),
              std::string::npos)
        << r.Out;
}

TEST(AssessTool, SpecimenOptionsAreCheckedAndAWrongOneChangesNothing) {
    TempDir home;
    ImportTwoYears(home);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } wrong[] = {
        {{"specimen"}, "specimen needs one SPECIMEN"},
        {{"specimen", kBushing, "--class", "transformer"},
         "unknown class transformer (classes: "
         "winding, bushing-oip"},
        {{"specimen", kBushing, "--nameplate-c", "400pF"}, "not a capacitance in farads: 400pF"},
        {{"specimen", kBushing, "--nameplate-c", "-4e-10"}, "not a capacitance in farads"},
        {{"specimen", kBushing, "--voltage-class", "abc"}, "not a voltage class in kV: abc"},
        {{"specimen", kBushing, "--reference", "last"}, "the reference is nameplate or first"},
        {{"specimen", kBushing, "--method", "doble"}, "there is no correction method doble"},
        {{"specimen", kBushing, "--bogus", "1"}, "unknown option --bogus"},
        {{"assess", "--profile", "iec"},
         "there is no profile iec (profiles: dlt596, gb50150, "
         "nameplate)"},
        {{"import", "--temperature", "hot", "x.txt"}, "not a temperature in °C"},
        {{"import", "--humidity", "120", "x.txt"}, "not a relative humidity in % (0 to 100): 120"},
    };
    for (const auto& w : wrong) {
        std::vector<std::string> args = {"--home", home.Home()};
        args.insert(args.end(), w.args.begin(), w.args.end());
        const Ran r = Tool(args);
        SCOPED_TRACE(w.message);
        EXPECT_EQ(r.Status, 2);
        EXPECT_NE(r.Err.find(w.message), std::string::npos) << r.Err;
    }
    // Nothing was kept: the specimen has its defaults, and looking does not store it.
    Ran r = Tool({"--home", home.Home(), "specimen", kBushing});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("class: other\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("stored: no (the defaults)\n"), std::string::npos) << r.Out;

    // Values are cleared with "none"; the first result may be chosen as the reference.
    r = Tool({"--home", home.Home(), "specimen", kBushing, "--nameplate-c", "4e-10", "--reference",
              "first", "--temperature-of", "air at the bushing"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("reference: first"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("temperature taken: air at the bushing\n"), std::string::npos) << r.Out;
    r = Tool({"--home", home.Home(), "specimen", kBushing, "--nameplate-c", "none", "--json"});
    EXPECT_NE(r.Out.find("\"nameplate_c\":null,\"nameplate_df\":null,\"reference\":\"first\""),
              std::string::npos)
        << r.Out;
    // Against its first result, the last one is +7 % as well.
    r = Tool({"--home", home.Home(), "assess", "--since", "2017-11-01"});
    EXPECT_NE(r.Out.find("Cx 428 pF is +7 % from the first result (2016-05-10, 400 pF)"),
              std::string::npos)
        << r.Out;
    // A specimen that has no results yet can be described before its first test.
    r = Tool({"--home", home.Home(), "specimen", "2#主变B相套管", "--class", "bushing-rip"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("results: 0\n"), std::string::npos) << r.Out;
}

TEST(AssessTool, ALabsBrokenFileIsNamedWithItsLineAndTheShippedOneServes) {
    TempDir home;
    ImportTwoYears(home);
    std::filesystem::create_directories(home.File("assessment"));
    // A lab's profile with a slip on line 4, and a table method of its own that is fine.
    WriteAll(home.File("assessment/nameplate.profile"),
             "title = ours\nsource = our lab\n[rule capacitance]\nmeasure = capacitance\n"
             "investigate = >= 1\n");
    WriteAll(home.File("assessment/lab-table.method"),
             "kind = table\nsource = our lab's table of 2019\noutside = clamp\n"
             "point = 0 1.5\npoint = 20 1\npoint = 40 0.6\n");
    Ran r = Tool({"--home", home.Home(), "specimen", kBushing, "--nameplate-c", "4e-10", "--method",
                  "lab-table"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find(home.File("assessment/nameplate.profile") +
                         ":4: unknown measure \"capacitance\"; the shipped file is used instead"),
              std::string::npos)
        << r.Err;
    r = Tool({"--home", home.Home(), "assess"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    // The shipped profile's 5 % and 10 % judge, and the lab's table corrects: at 8 °C,
    // 1.5 + (1 − 1.5) × 8 / 20 = 1.3.
    EXPECT_NE(r.Out.find("Cx 428 pF is +7 % from the nameplate 400 pF; investigate (|7| ≥ 5)"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("DF 0.65 % → 0.845 % at 20 °C (× 1.3, lab-table, 8 °C)"),
              std::string::npos)
        << r.Out;
    r = Tool({"--home", home.Home(), "rules"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("lab-table: lab-table\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("# files left out\n" + home.File("assessment/nameplate.profile") + ":4:"),
              std::string::npos)
        << r.Out;
}
