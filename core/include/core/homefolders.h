// Where the program keeps its settings, its log and its data, and where it finds the document
// that 帮助 opens. Paths are in the file system's encoding (UTF-8), not GBK.
#pragma once

#include <functional>
#include <string>

namespace dielmon {

enum class HomeLayout {
    Given,    // --home DIR: everything in DIR
    Portable, // a writable Config.ini beside the executable: everything beside it
    Desktop,  // the desktop's folders for settings, state and data
};

struct HomeFolders {
    HomeLayout Layout = HomeLayout::Given;
    std::string ConfigFile; // the settings file, Config.ini
    std::string LogFolder;  // the daily log files; ends with "/"
    std::string DataFolder; // what the program keeps of its own; ends with "/"
};

// The value of an environment variable, or nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;
const char* ProcessEnvironment(const char* name);

// Everything in one folder: folder/Config.ini, folder/Log/, and folder itself for the data.
HomeFolders FoldersIn(const std::string& folder, HomeLayout layout = HomeLayout::Given);

// The folders of this run, in this order of choice:
// - home (the --home value) when it is not empty;
// - the executable's folder when it holds a Config.ini the user may write (a portable copy);
// - the desktop's folders: $XDG_CONFIG_HOME/dielmon/Config.ini, $XDG_STATE_HOME/dielmon/Log/
//   and $XDG_DATA_HOME/dielmon/, each variable ignored when unset, empty or relative, with the
//   defaults ~/.config, ~/.local/state and ~/.local/share. Without a home folder in HOME or
//   in the user database the executable's folder is used after all.
// Nothing is created here: each folder is made when it is first written to.
HomeFolders ResolveHomeFolders(const std::string& home, const std::string& exeFolder,
                               const EnvironmentLookup& env = ProcessEnvironment);

// The folder of the running executable, ending with "/"; from argv0 when the system cannot
// say.
std::string ExecutableFolder(const char* argv0);

// The user's guide as installed beside the executable: <exe>/../share/dielmon/guide/.
std::string GuideFile(const std::string& exeFolder);

// The document 帮助 opens: the file helpFileName names when it exists (a relative name is
// looked up beside Config.ini, then beside the executable), otherwise the user's guide when it
// is there; empty when there is neither.
std::string HelpDocument(const std::string& helpFileName, const HomeFolders& folders,
                         const std::string& exeFolder);

} // namespace dielmon
