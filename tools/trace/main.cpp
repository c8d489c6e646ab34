// dielmon-trace: shows what happened on the line, from the program's debug logs.
#include "trace_replay.h"

#include "core/tracelog.h"
#include "usage/dielmon_trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using dielmon::usage::kDielmonTrace;

namespace {

// The files a folder stands for: its log files, oldest first.
std::vector<std::string> LogFilesIn(const fs::path& folder) {
    std::vector<std::pair<fs::file_time_type, std::string>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file(ec) && name.rfind("LogFile", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".txt") == 0) {
            found.emplace_back(entry.last_write_time(ec), entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (const auto& f : found) {
        files.push_back(f.second);
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> inputs;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kDielmonTrace.Help;
            return 0;
        } else if (arg == "--version") {
            std::cout << kDielmonTrace.VersionLine() << "\n";
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "dielmon-trace: unknown option " << arg << "\n" << kDielmonTrace.Help;
            return 2;
        } else {
            inputs.push_back(arg);
        }
    }
    if (inputs.empty()) {
        std::cerr << kDielmonTrace.Help;
        return 2;
    }

    // 2 when something could not be read, else 1 when something held no traffic.
    int status = 0;
    auto nothingIn = [&status](const std::string& input, const char* what) {
        std::cerr << "dielmon-trace: " << input << ": " << what << "\n";
        status = std::max(status, 1);
    };
    std::vector<std::string> files;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            const auto inFolder = LogFilesIn(input);
            if (inFolder.empty()) {
                nothingIn(input, "no log file (LogFile*.txt) in this folder");
            }
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(input);
        }
    }

    dielmon::TraceReplay replay;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::cerr << "dielmon-trace: cannot read " << file << ": " << std::strerror(errno)
                      << "\n";
            status = 2;
            continue;
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const dielmon::TraceParse parsed = dielmon::ParseTraceLog(bytes.str());
        for (const std::string& error : parsed.Errors) {
            std::cerr << file << ": " << error << "\n";
        }
        if (parsed.Lines.empty()) {
            nothingIn(file, "no trace line in this file");
        }
        for (const dielmon::TraceLine& line : parsed.Lines) {
            for (const dielmon::TraceEvent& e : replay.Feed(line)) {
                std::cout << (json ? dielmon::RenderJson(e) + "\n" : dielmon::RenderText(e));
            }
        }
    }
    return status;
}
