#include "core/homefolders.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace dielmon {

namespace {

constexpr const char* kProgramFolder = "dielmon";
constexpr const char* kConfigName = "Config.ini";

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

// The base directory of one kind of the desktop's folders: the variable when it holds an
// absolute path (the desktop's rules say a relative one is to be ignored), else its default
// under the home folder.
std::string BaseFolder(const EnvironmentLookup& env, const char* variable, const std::string& home,
                       const char* fallback) {
    const char* value = env(variable);
    if (value != nullptr && value[0] == '/') {
        return WithSlash(value);
    }
    return home + fallback;
}

// The user's home folder: HOME, else the user database; empty when neither knows one.
std::string UserHome(const EnvironmentLookup& env) {
    const char* home = env("HOME");
    if (home != nullptr && home[0] == '/') {
        return WithSlash(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return WithSlash(found->pw_dir);
    }
    return {};
}

} // namespace

const char* ProcessEnvironment(const char* name) {
    return std::getenv(name);
}

HomeFolders FoldersIn(const std::string& folder, HomeLayout layout) {
    const std::string base = WithSlash(folder);
    return HomeFolders{layout, base + kConfigName, base + "Log/", base};
}

HomeFolders ResolveHomeFolders(const std::string& home, const std::string& exeFolder,
                               const EnvironmentLookup& env) {
    if (!home.empty()) {
        return FoldersIn(home, HomeLayout::Given);
    }
    const std::string beside = WithSlash(exeFolder) + kConfigName;
    if (IsFile(beside) && ::access(beside.c_str(), W_OK) == 0) {
        return FoldersIn(exeFolder, HomeLayout::Portable);
    }
    const std::string user = UserHome(env);
    if (user.empty()) {
        return FoldersIn(exeFolder, HomeLayout::Portable);
    }
    const std::string program = std::string(kProgramFolder) + "/";
    HomeFolders f;
    f.Layout = HomeLayout::Desktop;
    f.ConfigFile = BaseFolder(env, "XDG_CONFIG_HOME", user, ".config/") + program + kConfigName;
    f.LogFolder = BaseFolder(env, "XDG_STATE_HOME", user, ".local/state/") + program + "Log/";
    f.DataFolder = BaseFolder(env, "XDG_DATA_HOME", user, ".local/share/") + program;
    return f;
}

std::string ExecutableFolder(const char* argv0) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && self.is_absolute()) {
        return WithSlash(self.parent_path().string());
    }
    const fs::path given = argv0 != nullptr ? fs::path(argv0) : fs::path();
    const fs::path folder = fs::absolute(given, ec).parent_path();
    return ec ? std::string("./") : WithSlash(folder.lexically_normal().string());
}

std::string GuideFile(const std::string& exeFolder) {
    return (fs::path(WithSlash(exeFolder)) / "../share/dielmon/guide/index.html")
        .lexically_normal()
        .string();
}

std::string HelpDocument(const std::string& helpFileName, const HomeFolders& folders,
                         const std::string& exeFolder) {
    if (!helpFileName.empty()) {
        const fs::path named(helpFileName);
        if (named.is_absolute()) {
            if (IsFile(helpFileName)) {
                return helpFileName;
            }
        } else {
            const fs::path configFolder = fs::path(folders.ConfigFile).parent_path();
            for (const fs::path& folder : {configFolder, fs::path(WithSlash(exeFolder))}) {
                const std::string candidate = (folder / named).lexically_normal().string();
                if (!folder.empty() && IsFile(candidate)) {
                    return candidate;
                }
            }
        }
    }
    const std::string guide = GuideFile(exeFolder);
    return IsFile(guide) ? guide : std::string();
}

} // namespace dielmon
