// dielmon-archive as a process: its arguments and errors, importing result files, listing,
// trends and export, and downloading every record of the simulated instrument over a
// pseudo-terminal.
#include "results.h"

#include "core/gbk.h"
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

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// The texts of a reverse-connection result of `nf` nF as the result page showed them.
ResultTexts Shown(float nf, float df, const sim::DateStamp& date) {
    const Bytes f = LiveFrame(nf, df, date);
    return ShowFinalResult(f.data(), static_cast<int>(f.size()), PanelOf(2)).Texts;
}

} // namespace

TEST(ArchiveTool, HelpVersionAndWrongArguments) {
    TempDir home;
    Ran r = Tool({"--help"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("Usage: dielmon-archive [--home DIR] list [--json]", 0), 0u) << r.Out;
    r = Tool({"--version"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("dielmon-archive 1.0\narchive schema " +
                              std::to_string(archive::kSchemaVersion) + ", SQLite 3.",
                          0),
              0u)
        << r.Out;
    EXPECT_EQ(Tool({"--home", home.Home(), "list", "--help"}).Status, 0);

    const struct {
        std::vector<std::string> args;
        const char* message;
    } wrong[] = {
        {{}, "a command is needed"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--home"}, "--home needs a folder"},
        {{"--home", home.Home(), "frobnicate"}, "unknown command frobnicate"},
        {{"--home", home.Home(), "list", "--since", "2016-13-01"}, "not a date (YYYY-MM-DD)"},
        {{"--home", home.Home(), "list", "--until", "24.03.2016"}, "not a date (YYYY-MM-DD)"},
        {{"--home", home.Home(), "list", "--specimen"}, "--specimen needs a value"},
        {{"--home", home.Home(), "list", "--sort"}, "unknown option --sort"},
        {{"--home", home.Home(), "list", "extra"}, "list takes no argument extra"},
        {{"--home", home.Home(), "import"}, "import needs at least one FILE"},
        {{"--home", home.Home(), "download"}, "download needs --port PATH"},
        {{"--home", home.Home(), "trend"}, "trend needs one SPECIMEN"},
        {{"--home", home.Home(), "export", "--output"}, "--output needs a value"},
        {{"--home", home.File("none"), "list"}, "there is no folder"},
        {{"--home", home.Home(), "list"}, "there is no archive"},
        {{"--home", home.Home(), "trend", "T1"}, "there is no archive"},
        {{"--home", home.Home(), "export"}, "there is no archive"},
    };
    for (const auto& w : wrong) {
        r = Tool(w.args);
        SCOPED_TRACE(w.message);
        EXPECT_EQ(r.Status, 2);
        EXPECT_NE(r.Err.find(w.message), std::string::npos) << r.Err;
        EXPECT_TRUE(r.Out.empty()) << r.Out;
    }
    // Looking creates no archive.
    EXPECT_FALSE(std::filesystem::exists(home.File("Archive.db")));
}

TEST(ArchiveTool, WithoutHomeTheArchiveIsInTheDesktopsDataFolder) {
    TempDir user;
    const std::string file = user.File("one.txt");
    ASSERT_EQ(AppendResultRun(file, Shown(1.00f, 0.30f, Day(2016, 5, 1))), "");
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-u", "XDG_DATA_HOME", "-u", "XDG_CONFIG_HOME", "-u",
                                   "XDG_STATE_HOME", "HOME=" + user.Home(), DIELMON_ARCHIVE_EXE});
        return RunToEnd("/usr/bin/env", args);
    };
    Ran r = run({"list"});
    EXPECT_EQ(r.Status, 2); // nothing archived yet, and nothing created by looking
    EXPECT_FALSE(std::filesystem::exists(user.File(".local/share/dielmon")));
    r = run({"import", file});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(std::filesystem::exists(user.File(".local/share/dielmon/Archive.db")));
    r = run({"list"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).size(), 1u) << r.Out;
}

TEST(ArchiveTool, ImportListTrendAndExport) {
    TempDir home;
    const std::string two = home.File("two.txt");
    const std::string one = home.File("one.txt");
    ASSERT_EQ(AppendResultRun(two, Shown(1.00f, 0.30f, Day(2016, 5, 1))), "");
    ASSERT_EQ(AppendResultRun(two, Shown(1.05f, 0.40f, Day(2017, 5, 1))), "");
    ASSERT_EQ(AppendResultRun(one, Shown(1.10f, 0.60f, Day(2018, 5, 1))), "");
    WriteAll(home.File("notes.txt"), "shopping list\r\n");
    const std::string specimen = "B1 \"套管\"";

    Ran r = Tool({"--home", home.Home(), "import", "--specimen", specimen, two, one,
                  home.File("missing.txt"), home.File("notes.txt")});
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(Lines(r.Out),
              (std::vector<std::string>{two + ": 2 results, 2 new, 0 archived before",
                                        one + ": 1 result, 1 new, 0 archived before"}));
    EXPECT_NE(r.Err.find("cannot read " + home.File("missing.txt") + ": " +
                         "文件或文件夹不存在（No such file"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find(home.File("notes.txt") + ": not a result file saved by the program"),
              std::string::npos)
        << r.Err;
    r = Tool({"--home", home.Home(), "import", two});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, two + ": 2 results, 0 new, 2 archived before\n");

    r = Tool({"--home", home.Home(), "list"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::vector<std::string> rows = Lines(r.Out);
    ASSERT_EQ(rows.size(), 3u) << r.Out;
    const std::vector<std::string> newest = Fields(rows[0]);
    ASSERT_EQ(newest.size(), 7u);
    EXPECT_EQ(newest[0], "2018-05-01 10:00:00");
    EXPECT_EQ(newest[1], specimen);
    EXPECT_EQ(newest[2], "反接线");
    EXPECT_EQ(newest[3].rfind("Cx：1.1", 0), 0u) << newest[3];
    EXPECT_EQ(newest[4], "file");
    EXPECT_FALSE(newest[6].empty()) << "the laptop it came from";
    EXPECT_EQ(Fields(rows[2])[0], "2016-05-01 10:00:00");

    r = Tool({"--home", home.Home(), "list", "--json", "--since", "2017-01-01"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::vector<std::string> json = Lines(r.Out);
    ASSERT_EQ(json.size(), 2u);
    for (const std::string& line : json) {
        EXPECT_EQ(line.rfind("{\"id\":\"", 0), 0u);
        EXPECT_NE(line.find("\"source\":\"file\",\"record\":null,\"specimen\":\"B1 \\\"套管\\\"\""),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find("\"mode\":\"反接线\""), std::string::npos);
        EXPECT_NE(line.find("\"DF\":{\"value\":"), std::string::npos);
        EXPECT_NE(line.find("\"details\":\"　U 　　　：10.000kV     \\r\\n"), std::string::npos)
            << line;
    }
    EXPECT_NE(json[0].find("\"measured\":\"2018-05-01T10:00:00\""), std::string::npos);
    EXPECT_EQ(Lines(Tool({"--home", home.Home(), "list", "--until", "2016-05-01"}).Out).size(), 1u);
    EXPECT_EQ(Tool({"--home", home.Home(), "list", "--specimen", "nobody"}).Out, "");
    EXPECT_EQ(Lines(Tool({"--home", home.Home(), "list", "--specimen", "套管"}).Out).size(), 3u);

    r = Tool({"--home", home.Home(), "trend", specimen, "--json"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::vector<std::string> trend = Lines(r.Out);
    ASSERT_EQ(trend.size(), 3u);
    EXPECT_NE(trend[0].find("\"measured\":\"2016-05-01T10:00:00\",\"mode\":\"反接线\","
                            "\"capacitance\":{\"name\":\"Cx\",\"value\":1e-09,\"over\":false},"
                            "\"dissipation\":{\"name\":\"DF\",\"value\":0.3,\"over\":false},"
                            "\"change\":0,"),
              std::string::npos)
        << trend[0];
    // The texts show four digits, cut: 1.049 nF and 1.100 nF against 1.000 nF.
    EXPECT_NE(trend[1].find("\"change\":4.9,"), std::string::npos) << trend[1];
    EXPECT_NE(trend[2].find("\"change\":10,"), std::string::npos) << trend[2];
    r = Tool({"--home", home.Home(), "trend", specimen});
    EXPECT_EQ(Lines(r.Out).front(),
              "# 反接线: Cx (F), DF (%), change of Cx from the first result (%)");
    EXPECT_EQ(Lines(r.Out).size(), 4u);
    r = Tool({"--home", home.Home(), "trend", "nobody"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Out.empty());
    EXPECT_NE(r.Err.find("no result of specimen nobody"), std::string::npos);

    r = Tool({"--home", home.Home(), "export"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("\xEF\xBB\xBFid,measured,archived,source,record,specimen,", 0), 0u);
    const std::string table = home.File("table.csv");
    r = Tool({"--home", home.Home(), "export", "--output", table, "--since", "2018-01-01"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(r.Out.empty());
    const std::string csv = ReadAll(table);
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_NE(csv.find(",2018-05-01 10:00:00,"), std::string::npos);
    EXPECT_EQ(csv.find(",2017-05-01 10:00:00,"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(table + ".part"));
    r = Tool({"--home", home.Home(), "export", "--output", home.File("gone/table.csv")});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("cannot write"), std::string::npos) << r.Err;
}

TEST(ArchiveTool, DownloadsEveryRecordOfTheInstrumentOnce) {
    TempDir home;
    Process instrument(dielmon::test::SimProgram(), {"--speed", "50", "--records", "12"});
    const std::string port = instrument.ReadLine();
    ASSERT_EQ(port.rfind("/dev/", 0), 0u) << port;

    Ran r = Tool({"--home", home.Home(), "download", "--port", port});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 13u) << r.Out;
    EXPECT_EQ(lines[0], "record 1 of 12: new");
    EXPECT_EQ(lines.back(), "12 records read: 12 new, 0 archived before");
    r = Tool({"--home", home.Home(), "download", "--port", port});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "12 records read: 0 new, 12 archived before");

    r = Tool({"--home", home.Home(), "list"});
    lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 12u);
    // The sample records of the simulator: the first dated 2023-10-09 08:15:00.
    EXPECT_EQ(Fields(lines.back())[0], "2023-10-09 08:15:00");
    EXPECT_EQ(Fields(lines.back())[4], "instrument 1");
    EXPECT_EQ(Fields(lines.front())[4], "instrument 12");
    r = Tool({"--home", home.Home(), "list", "--json"});
    EXPECT_NE(r.Out.find("\"instrument_type\":5"), std::string::npos);
    // The traffic is in the debug log, as the program keeps it.
    EXPECT_TRUE(std::filesystem::exists(home.File("Log")));

    r = Tool({"--home", home.Home(), "download", "--port", home.File("ttyNone")});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("cannot open the port " + home.File("ttyNone")), std::string::npos);

    // An instrument that never answers: asked twice, then given up with a clear error.
    Process silent(dielmon::test::SimProgram(), {"--silent"});
    const std::string silentPort = silent.ReadLine();
    r = Tool({"--home", home.Home(), "download", "--port", silentPort});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(Lines(r.Out).back(), "0 records read: 0 new, 0 archived before");
    EXPECT_NE(r.Err.find("the instrument did not answer the connect request (asked twice)"),
              std::string::npos)
        << r.Err;
}
