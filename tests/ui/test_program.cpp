// dielmon as a user starts it: its command line without a display, the folders it chooses,
// and a start with no --home in a fresh home folder.
#include "support/process.h"
#include "support/tempdir.h"
#include "support/wait.h"
#include "usage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <thread>

using namespace dielmon::test;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (const char c : text) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// Runs the program without a display and without the desktop's folder variables, with the
// given home folder and further variables.
Outcome Execute(const std::string& exe, const std::string& args, const std::string& home,
                const std::string& variables = "") {
    TempDir scratch;
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME "
        "-u XDG_STATE_HOME -u XDG_DATA_HOME HOME=" +
        Quoted(home) + " " + variables + " " + Quoted(exe) + " " + args + " 2>" +
        Quoted(scratch.File("err"));
    Outcome r;
    FILE* p = ::popen(command.c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int s = ::pclose(p);
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    r.err = ReadAll(scratch.File("err"));
    return r;
}

std::string Help() {
    const std::string folder = DIELMON_USAGE_DIR;
    dielmon::usage::Usage u;
    std::string error;
    EXPECT_TRUE(dielmon::usage::ParseUsage(
        ReadAll(folder + "/dielmon.usage"),
        [&folder](const std::string& name, std::string* text) {
            *text = ReadAll(folder + "/" + name);
            return !text->empty();
        },
        &u, &error))
        << error;
    return dielmon::usage::RenderHelp(u);
}

// A copy of the program as a package installs it: <root>/usr/bin/dielmon.
std::string InstalledCopy(const TempDir& root) {
    fs::create_directories(root.File("usr/bin"));
    fs::copy_file(DIELMON_EXE, root.File("usr/bin/dielmon"));
    return root.File("usr/bin/dielmon");
}

} // namespace

TEST(Program, AnswersVersionAndHelpWithoutADisplay) {
    TempDir home;
    const Outcome version = Execute(DIELMON_EXE, "--version", home.Home());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, version.out.find('\n')),
              std::string("dielmon ") + DIELMON_VERSION);
    EXPECT_NE(version.out.find("\nQt 6."), std::string::npos);

    const Outcome help = Execute(DIELMON_EXE, "--help", home.Home());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, Help());
    EXPECT_EQ(help.err, "");
    // Every option of the program, and every simulator option the README shows after
    // --simulate.
    for (const char* option :
         {"--home DIR", "--port PATH", "--trace", "--simulate", "--folders", "--version", "--help",
          "--speed FACTOR", "--type N", "--records N", "--error CODE@STEP", "--double-steps"}) {
        EXPECT_NE(help.out.find(std::string("\n  ") + option + " "), std::string::npos) << option;
    }
    EXPECT_TRUE(fs::is_empty(home.Home()));
}

TEST(Program, ABadOptionIsReportedAsSuchEvenWithoutADisplay) {
    TempDir home;
    struct Case {
        const char* Args;
        const char* Message;
    };
    for (const Case& c :
         {Case{"--bogus", "dielmon: unknown option --bogus\n"},
          Case{"--home", "dielmon: --home needs a folder\n"},
          Case{"--port", "dielmon: --port needs a device path\n"},
          Case{"--simulate --bogus", "dielmon: unknown option '--bogus'\n"},
          Case{"--simulate --type 9", "dielmon: invalid value '9' for option '--type'\n"}}) {
        SCOPED_TRACE(c.Args);
        const Outcome r = Execute(DIELMON_EXE, c.Args, home.Home());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.Message);
        EXPECT_EQ(r.err.find("no display is available"), std::string::npos);
    }
    // A good command line gets as far as the display.
    const Outcome r = Execute(DIELMON_EXE, "--simulate --speed 4", home.Home());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no display is available"), std::string::npos);
}

TEST(Program, TellsWhichFoldersItUses) {
    TempDir home;
    TempDir root;
    const std::string exe = InstalledCopy(root);
    const std::string h = home.Home();
    EXPECT_EQ(Execute(exe, "--folders", home.Home()).out,
              "settings  " + h + ".config/dielmon/Config.ini\nlog       " + h +
                  ".local/state/dielmon/Log/\ndata      " + h + ".local/share/dielmon/\n");
    EXPECT_EQ(Execute(exe, "--folders", home.Home(),
                      "XDG_CONFIG_HOME=/etc/lab XDG_STATE_HOME=/var/lab XDG_DATA_HOME=/srv/lab")
                  .out,
              "settings  /etc/lab/dielmon/Config.ini\nlog       /var/lab/dielmon/Log/\n"
              "data      /srv/lab/dielmon/\n");
    EXPECT_EQ(Execute(exe, "--home /lab/one --folders", home.Home()).out,
              "settings  /lab/one/Config.ini\nlog       /lab/one/Log/\ndata      /lab/one/\n");
    // A portable copy: a Config.ini it may write beside the executable.
    WriteAll(root.File("usr/bin/Config.ini"), "[Config]\r\n");
    EXPECT_EQ(Execute(exe, "--folders", home.Home()).out,
              "settings  " + root.File("usr/bin/Config.ini") + "\nlog       " +
                  root.File("usr/bin/Log/") + "\ndata      " + root.File("usr/bin/") + "\n");
    // Asking creates nothing.
    EXPECT_TRUE(fs::is_empty(home.Home()));
}

TEST(Program, StartedWithoutHomeItPreparesTheSettingsFolderOfTheUser) {
    TempDir home;
    TempDir root;
    const std::string exe = InstalledCopy(root);
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        ::unsetenv(variable);
    }
    Process program(exe, {"--simulate"});
    ASSERT_TRUE(program.Running());
    EXPECT_TRUE(WaitUntil([&] { return fs::is_directory(home.File(".config/dielmon")); }));
    // The window is up and stays up; nothing is written until there is something to keep.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(program.Signal(0));
    EXPECT_TRUE(program.Signal(SIGTERM));
    program.Wait();
    EXPECT_TRUE(fs::is_empty(home.File(".config/dielmon")));
    EXPECT_FALSE(fs::exists(home.File(".local/state/dielmon")));
    EXPECT_FALSE(fs::exists(home.File(".local/share/dielmon")));
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(root.File("usr/bin")), {}),
              std::vector<fs::path>{root.File("usr/bin/dielmon")});
}
