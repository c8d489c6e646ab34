// The data files: every shipped file read without a fault, each kind of fault named with its
// file and line, and a lab's folder that adds, replaces and breaks files.
#include "assess/library.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dielmon::assess;
using dielmon::archive::SpecimenClass;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace {

const std::string kShipped = DIELMON_SHIPPED_ASSESSMENT;

std::string FirstProblem(const std::vector<Problem>& p) {
    return p.empty() ? std::string("(none)") : p.front().Text();
}

} // namespace

TEST(Library, TheShippedFilesAreReadWhole) {
    const Library lib = LoadLibrary(kShipped, "");
    EXPECT_TRUE(lib.Problems.empty()) << lib.Problems.front();
    ASSERT_NE(lib.MethodNamed("exponential-1.3"), nullptr);
    const Method& e = *lib.MethodNamed("exponential-1.3");
    EXPECT_EQ(e.Kind, MethodKind::Exponential);
    EXPECT_DOUBLE_EQ(e.Base, 1.3);
    EXPECT_DOUBLE_EQ(e.Step, 10);
    EXPECT_DOUBLE_EQ(e.Reference, 20);
    EXPECT_NE(e.Source.find("GB 50150-2016"), std::string::npos);
    EXPECT_NE(e.Temperature.find("top oil"), std::string::npos);
    ASSERT_NE(lib.MethodNamed("none"), nullptr);
    EXPECT_EQ(lib.Settings.Profile, "nameplate");
    EXPECT_EQ(lib.Settings.MethodOf(SpecimenClass::Winding), "exponential-1.3");
    for (SpecimenClass c : dielmon::archive::AllClasses()) {
        if (c != SpecimenClass::Winding) {
            EXPECT_EQ(lib.Settings.MethodOf(c), "none") << dielmon::archive::ClassName(c);
        }
    }
    EXPECT_DOUBLE_EQ(lib.Settings.ReliableFrom, 10);
    EXPECT_DOUBLE_EQ(lib.Settings.ReliableTo, 40);
    EXPECT_DOUBLE_EQ(lib.Settings.HumidityAbove, 80);
    for (const char* name : {"nameplate", "gb50150", "dlt596"}) {
        const Profile* p = lib.ProfileNamed(name);
        ASSERT_NE(p, nullptr) << name;
        for (const Rule& r : p->Rules) {
            EXPECT_FALSE(r.Source.empty()) << name << "/" << r.Name;
            EXPECT_FALSE(r.Edition.empty()) << name << "/" << r.Name;
        }
    }
    EXPECT_EQ(lib.ProfileNamed("dlt596")->Rules.size(), 9u);
    // Without its files the program still runs: it corrects nothing, and says why windings
    // are not corrected.
    const Library bare = LoadLibrary("/nonexistent/", "");
    ASSERT_EQ(bare.Problems.size(), 1u);
    EXPECT_EQ(bare.Problems[0], "the program's defaults: the method exponential-1.3 of class "
                                "winding is not known; its results are not corrected");
    EXPECT_NE(bare.MethodNamed("none"), nullptr);
    EXPECT_EQ(bare.MethodNamed("exponential-1.3"), nullptr);
    EXPECT_EQ(bare.Settings.MethodOf(SpecimenClass::Winding), "none");
}

TEST(Library, EveryFaultIsNamedWithItsFileAndLine) {
    const struct {
        const char* kind; // "method", "profile" or "defaults"
        const char* text;
        const char* problem;
    } cases[] = {
        {"method", "kind = exponential\n", "m.method:0: the method names no source"},
        {"method", "source = x\n", "m.method:0: the method has no kind"},
        {"method", "source = x\nkind = cubic\n", "m.method:2: kind is none, exponential or table"},
        {"method", "source = x\nkind = exponential\nbase = 0\n",
         "m.method:3: base is a number above 0, not \"0\""},
        {"method", "source = x\nkind = exponential\nstep = ten\n", "m.method:3: step is a number"},
        {"method", "source = x\nkind = table\npoint = 0 1\n",
         "m.method:0: a table needs two points at least"},
        {"method", "source = x\nkind = table\npoint = 20 1\npoint = 10 1.2\n",
         "m.method:4: the points' temperatures must rise"},
        {"method", "source = x\nkind = table\npoint = 0 1\npoint = 10 -1\n",
         "m.method:4: a point is a temperature in °C and a factor above 0"},
        {"method", "source = x\nkind = table\npoint = 0 1\npoint = 10\n", "m.method:4: a point"},
        {"method", "source = x\nkind = table\noutside = wrap\n", "m.method:3: outside is clamp"},
        {"method", "source = x\nkind = none\noutside = clamp\n",
         "m.method:3: only a table has an outside rule"},
        {"method", "source = x\nkind = none\nclasses = transformer\n",
         "m.method:3: unknown class \"transformer\""},
        {"method", "# fine\n\nsource = x\nkind = none\nkind = none\n",
         "m.method:5: \"kind\" is given twice"},
        {"method", "source = x\nkind = none\ncolour = red\n", "m.method:3: unknown key \"colour\""},
        {"method", "source = x\nkind none\n", "m.method:2: not \"key = value\": kind none"},
        {"method", "source = x\n[rule a]\n", "m.method:2: this file has no sections"},
        {"method", "source = \xC3\x28\n", "m.method:0: the file is not UTF-8 text"},
        {"profile", "source = x\n", "p.profile:0: the profile has no rule"},
        {"profile", "source = x\n[rule a]\ncritical = > 1\n", "p.profile:2: rule a has no measure"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\n",
         "p.profile:2: rule a has no investigate or critical condition"},
        {"profile", "[rule a]\nmeasure = df20\ncritical = > 1\n",
         "p.profile:1: rule a names no source"},
        {"profile", "source = x\n[rule a]\nmeasure = df21\n", "p.profile:3: unknown measure"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\ncritical = > one\n",
         "p.profile:4: critical is a comparison and a number"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\ncritical = = 1\n", "p.profile:4:"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\nvoltage = 110..66\ncritical = > 1\n",
         "p.profile:4: voltage is a range of kV"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\ngroup = alarm\n",
         "p.profile:4: group is limit or trend"},
        {"profile", "source = x\n[rule a]\nmeasure = df20\ncritical = > 1\n[rule a]\n",
         "p.profile:5: rule a is given twice"},
        {"profile", "source = x\n[limit a]\n", "p.profile:2: a section is \"[rule NAME]\""},
        {"profile", "source = x\n[rule a\n", "p.profile:2: a section line ends with \"]\""},
        {"profile", "stage = x\n", "p.profile:1: unknown key \"stage\" before the first rule"},
        {"defaults", "method.transformer = none\n", "defaults.conf:1: unknown class"},
        {"defaults", "profile = ../etc/passwd\n", "defaults.conf:1: not a profile name"},
        {"defaults", "reliable-temperature = 40..10\n", "defaults.conf:1: reliable-temperature"},
        {"defaults", "humidity-above = -1\n", "defaults.conf:1: humidity-above is a number"},
        {"defaults", "\n\nwarp = 9\n", "defaults.conf:3: unknown key \"warp\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string kind = c.kind;
        std::vector<Problem> problems;
        if (kind == "method") {
            problems = ParseMethod("m", c.text, "m.method").Problems;
        } else if (kind == "profile") {
            problems = ParseProfile("p", c.text, "p.profile").Problems;
        } else {
            problems = ParseDefaults(c.text, "defaults.conf").Problems;
        }
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems.front().Text().rfind(c.problem, 0), 0u) << problems.front().Text();
    }
    // A file an editor saved with a byte-order mark and CR LF reads as any other.
    const auto m = ParseMethod("m",
                               "\xEF\xBB\xBFsource = x\r\nkind = table\r\noutside = clamp\r\n"
                               "point = -10 1.4\r\npoint = 20 1\r\n",
                               "m.method");
    EXPECT_TRUE(m.Ok()) << FirstProblem(m.Problems);
    EXPECT_EQ(m.Value.Points.size(), 2u);
    EXPECT_EQ(m.Value.Outside, Beyond::Clamp);
    // Words for the comparisons, and the default group of each measure.
    const auto p = ParseProfile("p",
                                "source = x\nedition = 2020\n[rule a]\nmeasure = "
                                "abs(capacitance-vs-previous)\ninvestigate = at least 5\n"
                                "critical = above 10\n[rule b]\nmeasure = df20\nsource = y\n"
                                "critical = at most -1\nclasses = cvt, cable\nvoltage = 35..35\n",
                                "p.profile");
    ASSERT_TRUE(p.Ok()) << FirstProblem(p.Problems);
    const Rule& a = p.Value.Rules[0];
    EXPECT_TRUE(a.Magnitude);
    EXPECT_EQ(a.What, Measure::CapacitanceVsPrevious);
    EXPECT_EQ(a.Group, "trend");
    EXPECT_EQ(a.Source, "x");
    EXPECT_EQ(a.Edition, "2020");
    EXPECT_TRUE(a.Investigate[0].Holds(5));
    EXPECT_FALSE(a.Critical[0].Holds(10));
    const Rule& b = p.Value.Rules[1];
    EXPECT_EQ(b.Group, "limit");
    EXPECT_EQ(b.Source, "y");
    EXPECT_TRUE(b.Critical[0].Holds(-1));
    EXPECT_TRUE(b.AppliesTo(SpecimenClass::Cable));
    EXPECT_FALSE(b.AppliesTo(SpecimenClass::Winding));
    EXPECT_EQ(*b.VoltageFrom, 35);
}

TEST(Library, ALabsFilesAddAndReplaceAndABrokenOneLeavesTheShippedInPlace) {
    TempDir lab;
    // A profile of its own, a stricter nameplate profile, a broken copy of the exponential
    // rule, defaults that name a method nobody has, and things that are no data files.
    WriteAll(lab.File("strict.profile"),
             "title = Our lab\nsource = our rules\n[rule df]\nmeasure = df20\ncritical = > 0.5\n");
    WriteAll(lab.File("nameplate.profile"),
             "source = our rules\n[rule capacitance]\nmeasure = abs(capacitance-vs-reference)\n"
             "investigate = >= 2\n");
    WriteAll(lab.File("exponential-1.3.method"), "kind = exponential\nbase = -1.3\nsource = x\n");
    WriteAll(lab.File("defaults.conf"), "profile = strict\nmethod.cable = lab-cable\n");
    WriteAll(lab.File("notes.txt"), "not read\n");
    std::filesystem::create_directory(lab.File("folder.method"));
    WriteAll(lab.File("big.profile"), std::string(2 << 20, '#'));
    WriteAll(lab.File("bad name!.method"), "kind = none\nsource = x\n");

    const Library lib = LoadLibrary(kShipped, lab.Home());
    ASSERT_NE(lib.ProfileNamed("strict"), nullptr);
    EXPECT_EQ(lib.ProfileNamed("nameplate")->Rules.size(), 1u);
    EXPECT_EQ(lib.ProfileNamed("nameplate")->Source, "our rules");
    // The broken lab method: named with its line, and the shipped one still corrects.
    EXPECT_DOUBLE_EQ(lib.MethodNamed("exponential-1.3")->Base, 1.3);
    EXPECT_EQ(lib.Settings.Profile, "strict");
    EXPECT_EQ(lib.Settings.MethodOf(SpecimenClass::Cable), "none");
    // Keys the lab's defaults leave out keep the program's defaults.
    EXPECT_EQ(lib.Settings.MethodOf(SpecimenClass::Winding), "exponential-1.3");
    std::string all;
    for (const std::string& p : lib.Problems) {
        all += p + "\n";
    }
    EXPECT_NE(all.find(lab.File("exponential-1.3.method") +
                       ":2: base is a number above 0, not \"-1.3\"; the shipped file is used "
                       "instead\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("the method lab-cable of class cable is not known"), std::string::npos)
        << all;
    EXPECT_NE(all.find(lab.File("folder.method") + ":0: "), std::string::npos) << all;
    EXPECT_NE(all.find(lab.File("big.profile") +
                       ":0: the file is larger than 1 MiB: not a data file; the file is left out"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find(lab.File("bad name!.method") + ":0: a name of letters"), std::string::npos)
        << all;
    EXPECT_EQ(all.find("notes.txt"), std::string::npos);
    EXPECT_EQ(lib.Problems.size(), 5u) << all;

    EXPECT_EQ(ShippedFolder("/usr/bin/"), "/usr/share/dielmon/assessment/");
    EXPECT_EQ(ShippedFolder("/opt/dielmon/build/ui"),
              "/opt/dielmon/build/share/dielmon/assessment/");
    dielmon::HomeFolders folders;
    folders.DataFolder = "/home/u/.local/share/dielmon/";
    EXPECT_EQ(LabFolder(folders), "/home/u/.local/share/dielmon/assessment/");
}

TEST(Library, ProfilesArePickedByNameByListOrAllAndAnUnknownOneChangesNothing) {
    const Library lib = LoadLibrary(kShipped, "");
    std::vector<const Profile*> chosen;
    std::string problem;
    // Empty: the default of defaults.conf.
    ASSERT_TRUE(PickProfiles(lib, "", chosen, problem));
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0]->Name, lib.Settings.Profile);
    // A list in its order, each once, empty parts skipped.
    ASSERT_TRUE(PickProfiles(lib, "dlt596,,nameplate,dlt596", chosen, problem));
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0]->Name, "dlt596");
    EXPECT_EQ(chosen[1]->Name, "nameplate");
    ASSERT_TRUE(PickProfiles(lib, "all", chosen, problem));
    EXPECT_EQ(chosen.size(), lib.Profiles.size());
    // An unknown name: the choice stays, and the message names the profiles there are.
    EXPECT_FALSE(PickProfiles(lib, "nameplate,iec", chosen, problem));
    EXPECT_EQ(chosen.size(), lib.Profiles.size());
    EXPECT_EQ(problem, "there is no profile iec (profiles: dlt596, gb50150, nameplate)");
}
