// Specimens in the archive: the schema step that adds them to an archive of the first version,
// their facts kept and changed, and the faults of their input.
#include "results.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::TempDir;

TEST(Specimens, AnArchiveOfTheFirstVersionGainsThemAndKeepsItsResults) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    static const std::vector<Migration> first = {Migrations().front()};
    OpenOptions old;
    old.Steps = &first;
    std::string id;
    {
        auto a = OpenOk(path, old);
        EXPECT_EQ(a->SchemaVersion(), 1);
        id = a->Add(Live(1, 0.3f, Day(2016, 1, 1), "T1")).Id;
    }
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM sqlite_schema WHERE name = 'specimens'"), 0);
    auto a = OpenOk(path);
    EXPECT_EQ(a->SchemaVersion(), kSchemaVersion);
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM sqlite_schema WHERE name = 'specimens'"), 1);
    EXPECT_EQ(a->Get(id).Value->Taken.Specimen, "T1");
    // Until something is said of it, a specimen has the defaults and no row.
    const auto t1 = a->SpecimenNamed("T1");
    ASSERT_TRUE(t1.Ok()) << t1.Error;
    EXPECT_FALSE(t1.Value.Stored);
    EXPECT_EQ(t1.Value.Class, SpecimenClass::Other);
    EXPECT_EQ(t1.Value.ComparedWith, Reference::Nameplate);
    EXPECT_TRUE(t1.Value.Method.empty());
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM specimens"), 0);
    EXPECT_EQ(a->IntegrityCheck(), "ok");
}

TEST(Specimens, TheirFactsAreKeptChangedAndReadBackAsTyped) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    ManualClock clock(FromLocal(2024, 5, 6, 7, 8, 9));
    OpenOptions o;
    o.Time = &clock;
    auto a = OpenOk(path, o);
    Specimen s;
    s.Name = "1#主变 \"A\"相'; DROP TABLE specimens; --";
    s.Class = SpecimenClass::BushingOip;
    s.VoltageClass = 110;
    s.NameplateC = 412.5e-12;
    s.NameplateDf = 0.28;
    s.Method = "exponential-1.3";
    s.TemperatureOf = "air at the bushing";
    ASSERT_EQ(a->SetSpecimen(s), "");
    auto back = a->SpecimenNamed(s.Name);
    ASSERT_TRUE(back.Ok()) << back.Error;
    s.Stored = true;
    s.Edited = clock.Now();
    EXPECT_EQ(back.Value, s);

    // A later change replaces every fact, the cleared ones too.
    clock.Advance(std::chrono::hours(1));
    s.NameplateC.reset();
    s.ComparedWith = Reference::First;
    s.Method.clear();
    ASSERT_EQ(a->SetSpecimen(s), "");
    back = a->SpecimenNamed(s.Name);
    s.Edited = clock.Now();
    EXPECT_EQ(back.Value, s);
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM specimens"), 1);
    EXPECT_EQ(ScalarText(path, "SELECT reference FROM specimens"), "first");

    // Every class by its name, and back.
    for (SpecimenClass c : AllClasses()) {
        EXPECT_EQ(ClassNamed(ClassName(c)), c);
    }
    EXPECT_EQ(AllClasses().size(), 9u);
    EXPECT_FALSE(ClassNamed("Bushing-OIP"));
    // A class a newer program wrote reads as "other", not as a failure.
    RunSql(path, "UPDATE specimens SET class = 'gis-spacer', reference = 'median'");
    back = a->SpecimenNamed(s.Name);
    ASSERT_TRUE(back.Ok()) << back.Error;
    EXPECT_EQ(back.Value.Class, SpecimenClass::Other);
    EXPECT_EQ(back.Value.ComparedWith, Reference::Nameplate);
}

TEST(Specimens, WrongInputAndAReadOnlyArchiveChangeNothing) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    {
        auto a = OpenOk(path);
        Specimen s;
        s.Name = "T1";
        s.NameplateC = std::nan("");
        EXPECT_NE(a->SetSpecimen(s).find("not a finite number"), std::string::npos);
        s.NameplateC = 4e-10;
        s.TemperatureOf = "\xFF\xFE";
        EXPECT_NE(a->SetSpecimen(s).find("not UTF-8"), std::string::npos);
        s.TemperatureOf.clear();
        s.Name = std::string("T\xC0", 2);
        EXPECT_NE(a->SetSpecimen(s).find("not UTF-8"), std::string::npos);
        s.Name.clear();
        EXPECT_EQ(a->SetSpecimen(s), "a specimen needs a name");
    }
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM specimens"), 0);
    OpenOptions ro;
    ro.ReadOnly = true;
    auto a = OpenOk(path, ro);
    Specimen s;
    s.Name = "T1";
    EXPECT_NE(a->SetSpecimen(s).find("read-only"), std::string::npos);
    EXPECT_TRUE(a->SpecimenNamed("T1").Ok());
}
