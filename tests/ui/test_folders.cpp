// The window in an installation: its settings, log and data in the desktop's folders, and 帮助
// opening the user's guide beside the executable.
#include "core/homefolders.h"
#include "core/texts.h"
#include "fixture.h"

#include <algorithm>
#include <filesystem>

using namespace dielmon;
using namespace dielmon::test;

namespace fs = std::filesystem;

namespace {

// The window as the installed program starts it: the folders chosen for a user whose home
// is `home`, and an executable in <root>/usr/bin/.
void OpenInstalled(Fixture& f, const HomeFolders& folders, const std::string& programFolder) {
    WindowSetup setup;
    setup.Folders = folders;
    setup.ProgramFolder = programFolder;
    setup.Port = f.Sim->DevicePath();
    setup.TimeSource = &f.Clock;
    setup.DialogSource = &f.Dialogs;
    f.Window = std::make_unique<TfrmDielmon>(setup);
    f.Window->show();
    QApplication::processEvents();
}

std::vector<std::string> FilesUnder(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            files.push_back(fs::relative(e.path(), root).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(InstalledWindow, KeepsItsSettingsAndLogInTheDesktopsFoldersAndNothingElse) {
    TempDir home;
    TempDir root;
    fs::create_directories(root.File("usr/bin"));
    const std::string homePath = home.Path().string();
    const auto env = [&homePath](const char* name) -> const char* {
        return std::string(name) == "HOME" ? homePath.c_str() : nullptr;
    };
    const HomeFolders folders = ResolveHomeFolders("", root.File("usr/bin/"), env);
    ASSERT_EQ(folders.Layout, HomeLayout::Desktop);
    // The program makes the settings folder at start, before the window.
    fs::create_directories(fs::path(folders.ConfigFile).parent_path());

    Fixture f({}, false);
    OpenInstalled(f, folders, root.File("usr/bin/"));
    EXPECT_EQ(f.Window->Folders().ConfigFile, home.File(".config/dielmon/Config.ini"));
    // Nothing is written at start: the settings file comes with the first save.
    EXPECT_TRUE(FilesUnder(home.Path()).empty());

    f.Connect();
    EXPECT_EQ(f.Window->Log().LogFileName(), home.File(".local/state/dielmon/Log/LogFile24.txt"));
    EXPECT_FALSE(f.SentFrames().empty());

    f.WithSettingsDialog([](TfrmSetComm& d) { d.BitBtn1->click(); });
    EXPECT_EQ(f.Dialogs.Messages.front().Text, Q(texts::kSaveSucceeded));
    EXPECT_EQ(FilesUnder(home.Path()),
              (std::vector<std::string>{".config/dielmon/Config.ini",
                                        ".local/state/dielmon/Log/LogFile24.txt"}));
    EXPECT_NE(ReadAll(folders.ConfigFile).find("Baud=9600\r\n"), std::string::npos);
    // And nothing beside the executable.
    EXPECT_TRUE(FilesUnder(root.Path()).empty());

    // The next start reads what was saved there.
    Fixture g({}, false);
    OpenInstalled(g, folders, root.File("usr/bin/"));
    EXPECT_EQ(g.Window->CurrentSettings(), f.Window->CurrentSettings());
}

TEST(InstalledWindow, HelpOpensTheUsersGuideWhenNoDocumentIsNamed) {
    TempDir root;
    fs::create_directories(root.File("usr/bin"));
    fs::create_directories(root.File("usr/share/dielmon/guide"));
    const std::string guide = root.File("usr/share/dielmon/guide/index.html");
    WriteAll(guide, "<!DOCTYPE html>");
    TempDir home;
    const HomeFolders folders = FoldersIn(home.Home());

    struct Case {
        std::string HelpFileName;
        std::string Opened;
    };
    WriteAll(home.File("local.pdf"), "%PDF-1.4");
    WriteAll(root.File("usr/bin/beside.pdf"), "%PDF-1.4");
    const std::vector<Case> cases = {
        {"", guide},
        {"/no/such/manual.pdf", guide},
        {home.File("local.pdf"), home.File("local.pdf")},
        {"local.pdf", home.File("local.pdf")},           // beside Config.ini
        {"beside.pdf", root.File("usr/bin/beside.pdf")}, // beside the executable
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.HelpFileName);
        WriteAll(folders.ConfigFile, "[Config]\r\nHelpFileName=" + c.HelpFileName + "\r\n");
        Fixture f({}, false);
        OpenInstalled(f, folders, root.File("usr/bin/"));
        f.Trigger("N5");
        ASSERT_EQ(f.Dialogs.Opened.size(), 1u);
        EXPECT_EQ(f.Dialogs.Opened[0].toStdString(), c.Opened);
    }

    // Without a guide and without a document there is nothing to open.
    fs::remove(guide);
    WriteAll(folders.ConfigFile, "[Config]\r\n");
    Fixture f({}, false);
    OpenInstalled(f, folders, root.File("usr/bin/"));
    f.Trigger("N5");
    EXPECT_TRUE(f.Dialogs.Opened.empty());
}

TEST(InstalledWindow, AHelpFileWithAChineseNameIsFound) {
    TempDir home;
    const HomeFolders folders = FoldersIn(home.Home());
    // Config.ini holds the name in GBK (as this source's literals are); the file system
    // names the file in UTF-8.
    const std::string name = "说明书.pdf";
    WriteAll(home.File(GbkToUtf8(name)), "%PDF-1.4");
    WriteAll(folders.ConfigFile, "[Config]\r\nHelpFileName=" + name + "\r\n");
    Fixture f({}, false);
    OpenInstalled(f, folders, home.Home());
    f.Trigger("N5");
    ASSERT_EQ(f.Dialogs.Opened.size(), 1u);
    EXPECT_EQ(f.Dialogs.Opened[0], QString::fromStdString(home.File(GbkToUtf8(name))));
}
