#include "core/homefolders.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dielmon;
using dielmon::test::PermissionsApply;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace fs = std::filesystem;

namespace {

// An environment of its own for each case: nothing of the test's own leaks in.
class Environment {
public:
    Environment(std::initializer_list<std::pair<const std::string, std::string>> values)
        : Values_(values) {}
    EnvironmentLookup Lookup() const {
        return [this](const char* name) -> const char* {
            const auto found = Values_.find(name);
            return found == Values_.end() ? nullptr : found->second.c_str();
        };
    }

private:
    std::map<std::string, std::string> Values_;
};

void ExpectFolders(const HomeFolders& f, HomeLayout layout, const std::string& config,
                   const std::string& log, const std::string& data) {
    EXPECT_EQ(f.Layout, layout);
    EXPECT_EQ(f.ConfigFile, config);
    EXPECT_EQ(f.LogFolder, log);
    EXPECT_EQ(f.DataFolder, data);
}

} // namespace

TEST(HomeFolders, AGivenHomeHoldsEverythingWhateverElseIsThere) {
    TempDir exe;
    WriteAll(exe.File("Config.ini"), "[Config]\r\n");
    const Environment env{{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "/xdg/config"}};
    ExpectFolders(ResolveHomeFolders("/lab/tester/", exe.Home(), env.Lookup()), HomeLayout::Given,
                  "/lab/tester/Config.ini", "/lab/tester/Log/", "/lab/tester/");
    // Without its slash, and relative as typed on the command line.
    ExpectFolders(ResolveHomeFolders("/lab/tester", exe.Home(), env.Lookup()), HomeLayout::Given,
                  "/lab/tester/Config.ini", "/lab/tester/Log/", "/lab/tester/");
    ExpectFolders(ResolveHomeFolders("second", exe.Home(), env.Lookup()), HomeLayout::Given,
                  "second/Config.ini", "second/Log/", "second/");
}

TEST(HomeFolders, AWritableConfigBesideTheExecutableKeepsAPortableCopyWhereItIs) {
    TempDir exe;
    const Environment env{{"HOME", "/home/op"}};
    // No Config.ini beside it: the desktop's folders, even though the folder is writable.
    EXPECT_EQ(ResolveHomeFolders("", exe.Home(), env.Lookup()).Layout, HomeLayout::Desktop);

    WriteAll(exe.File("Config.ini"), "");
    ExpectFolders(ResolveHomeFolders("", exe.Home(), env.Lookup()), HomeLayout::Portable,
                  exe.File("Config.ini"), exe.File("Log/"), exe.Home());
    // The executable's folder as the system gives it, without the slash.
    EXPECT_EQ(ResolveHomeFolders("", exe.Path().string(), env.Lookup()).ConfigFile,
              exe.File("Config.ini"));

    // A link to a settings file counts as the file; a dangling link or a folder does not.
    TempDir other;
    WriteAll(other.File("real.ini"), "");
    fs::remove(exe.File("Config.ini"));
    fs::create_symlink(other.File("real.ini"), exe.File("Config.ini"));
    EXPECT_EQ(ResolveHomeFolders("", exe.Home(), env.Lookup()).Layout, HomeLayout::Portable);
    fs::remove(other.File("real.ini"));
    EXPECT_EQ(ResolveHomeFolders("", exe.Home(), env.Lookup()).Layout, HomeLayout::Desktop);
    fs::remove(exe.File("Config.ini"));
    fs::create_directory(exe.File("Config.ini"));
    EXPECT_EQ(ResolveHomeFolders("", exe.Home(), env.Lookup()).Layout, HomeLayout::Desktop);
}

TEST(HomeFolders, AConfigBesideTheExecutableThatCannotBeWrittenIsLeftToTheInstallation) {
    if (!PermissionsApply()) {
        GTEST_SKIP() << "root may write every file";
    }
    TempDir exe;
    WriteAll(exe.File("Config.ini"), "[Config]\r\n");
    ::chmod(exe.File("Config.ini").c_str(), 0444);
    const Environment env{{"HOME", "/home/op"}};
    EXPECT_EQ(ResolveHomeFolders("", exe.Home(), env.Lookup()).ConfigFile,
              "/home/op/.config/dielmon/Config.ini");
}

TEST(HomeFolders, TheDesktopsFoldersFollowTheXdgVariablesAndTheirDefaults) {
    const std::string exe = "/usr/bin/";
    ExpectFolders(ResolveHomeFolders("", exe, Environment{{"HOME", "/home/op"}}.Lookup()),
                  HomeLayout::Desktop, "/home/op/.config/dielmon/Config.ini",
                  "/home/op/.local/state/dielmon/Log/", "/home/op/.local/share/dielmon/");
    ExpectFolders(ResolveHomeFolders("", exe, Environment{{"HOME", "/home/op/"}}.Lookup()),
                  HomeLayout::Desktop, "/home/op/.config/dielmon/Config.ini",
                  "/home/op/.local/state/dielmon/Log/", "/home/op/.local/share/dielmon/");
    ExpectFolders(ResolveHomeFolders("", exe,
                                     Environment{{"HOME", "/home/op"},
                                                 {"XDG_CONFIG_HOME", "/cfg"},
                                                 {"XDG_STATE_HOME", "/var/state/"},
                                                 {"XDG_DATA_HOME", "/data"}}
                                         .Lookup()),
                  HomeLayout::Desktop, "/cfg/dielmon/Config.ini", "/var/state/dielmon/Log/",
                  "/data/dielmon/");
    // Empty and relative values are not folders of the desktop: each falls back on its own.
    ExpectFolders(ResolveHomeFolders("", exe,
                                     Environment{{"HOME", "/home/op"},
                                                 {"XDG_CONFIG_HOME", ""},
                                                 {"XDG_STATE_HOME", "state"},
                                                 {"XDG_DATA_HOME", "/data"}}
                                         .Lookup()),
                  HomeLayout::Desktop, "/home/op/.config/dielmon/Config.ini",
                  "/home/op/.local/state/dielmon/Log/", "/data/dielmon/");
}

TEST(HomeFolders, WithoutHomeTheUserDatabaseSaysWhereHomeIs) {
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_NE(me, nullptr);
    const std::string home = std::string(me->pw_dir) + (me->pw_dir[1] == '\0' ? "" : "/");
    for (const Environment& env :
         {Environment{}, Environment{{"HOME", ""}}, Environment{{"HOME", "relative"}}}) {
        const HomeFolders f = ResolveHomeFolders("", "/usr/bin/", env.Lookup());
        EXPECT_EQ(f.Layout, HomeLayout::Desktop);
        EXPECT_EQ(f.ConfigFile, home + ".config/dielmon/Config.ini");
    }
}

TEST(HomeFolders, ChoosingCreatesNothing) {
    TempDir home;
    const Environment env{{"HOME", home.Path().string()}};
    const HomeFolders f = ResolveHomeFolders("", "/usr/bin/", env.Lookup());
    EXPECT_EQ(f.ConfigFile, home.File(".config/dielmon/Config.ini"));
    EXPECT_TRUE(fs::is_empty(home.Path()));
    ResolveHomeFolders(home.File("given"), "/usr/bin/", env.Lookup());
    EXPECT_TRUE(fs::is_empty(home.Path()));
}

TEST(HomeFolders, TheExecutablesFolderAndTheGuideBesideIt) {
    // This test program's own folder, whatever argv[0] claims.
    const std::string folder = ExecutableFolder("/nowhere/at/all");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::is_regular_file(folder + "core_homefolders"));

    EXPECT_EQ(GuideFile("/usr/bin/"), "/usr/share/dielmon/guide/index.html");
    EXPECT_EQ(GuideFile("/opt/dielmon/bin"), "/opt/dielmon/share/dielmon/guide/index.html");
}

TEST(HomeFolders, HelpOpensTheNamedDocumentOrElseTheGuide) {
    TempDir root;
    fs::create_directories(root.File("bin"));
    fs::create_directories(root.File("share/dielmon/guide"));
    fs::create_directories(root.File("config"));
    const std::string exe = root.File("bin/");
    const std::string guide = root.File("share/dielmon/guide/index.html");
    HomeFolders folders;
    folders.ConfigFile = root.File("config/Config.ini");

    // No guide installed and no document: nothing to open.
    EXPECT_EQ(HelpDocument("", folders, exe), "");
    EXPECT_EQ(HelpDocument("manual.pdf", folders, exe), "");

    WriteAll(guide, "<html></html>");
    EXPECT_EQ(HelpDocument("", folders, exe), guide);
    EXPECT_EQ(HelpDocument("manual.pdf", folders, exe), guide);
    EXPECT_EQ(HelpDocument(root.File("missing.pdf"), folders, exe), guide);

    // An absolute name is taken as it is.
    WriteAll(root.File("manual.pdf"), "%PDF-1.4");
    EXPECT_EQ(HelpDocument(root.File("manual.pdf"), folders, exe), root.File("manual.pdf"));
    // A relative one beside the executable, then beside Config.ini, which comes first.
    WriteAll(root.File("bin/manual.pdf"), "%PDF-1.4");
    EXPECT_EQ(HelpDocument("manual.pdf", folders, exe), root.File("bin/manual.pdf"));
    WriteAll(root.File("config/manual.pdf"), "%PDF-1.4");
    EXPECT_EQ(HelpDocument("manual.pdf", folders, exe), root.File("config/manual.pdf"));
    fs::create_directories(root.File("config/docs"));
    WriteAll(root.File("config/docs/manual.pdf"), "%PDF-1.4");
    EXPECT_EQ(HelpDocument("docs/manual.pdf", folders, exe), root.File("config/docs/manual.pdf"));
    // A folder is no document.
    EXPECT_EQ(HelpDocument("docs", folders, exe), guide);
}
