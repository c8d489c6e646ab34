// dielmon-usage: the build step that turns a program's usage file into its --help text (a C++
// header and source) and its manual page.
//   dielmon-usage --version V --date YYYY-MM-DD --header H --header-name usage/x.h
//                 --source S --manual M FILE
// Files named by @include-items are looked up beside FILE.
#include "usage.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace {

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return static_cast<bool>(in);
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

const char* const kUsage = "usage: dielmon-usage --version V --date YYYY-MM-DD --header H "
                           "--header-name NAME --source S --manual M FILE\n";

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> values;
    std::string input;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg.rfind("--", 0) == 0 && k + 1 < argc) {
            values[arg.substr(2)] = argv[++k];
        } else if (input.empty()) {
            input = arg;
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    for (const char* needed : {"version", "date", "header", "header-name", "source", "manual"}) {
        if (values[needed].empty() || input.empty()) {
            std::cerr << kUsage;
            return 2;
        }
    }

    std::string text;
    if (!ReadFile(input, &text)) {
        std::cerr << input << ": cannot be read\n";
        return 1;
    }
    const std::filesystem::path folder = std::filesystem::path(input).parent_path();
    const auto reader = [&folder](const std::string& name, std::string* content) {
        return ReadFile((folder / name).string(), content);
    };
    dielmon::usage::Usage usage;
    std::string error;
    if (!dielmon::usage::ParseUsage(text, reader, &usage, &error)) {
        std::cerr << input << ": " << error << "\n";
        return 1;
    }
    const std::string sourceName = std::filesystem::path(input).filename().string();
    const bool ok =
        WriteFile(values["header"], dielmon::usage::RenderHeader(usage, sourceName)) &&
        WriteFile(values["source"],
                  dielmon::usage::RenderSource(usage, values["version"], values["header-name"],
                                               sourceName)) &&
        WriteFile(values["manual"], dielmon::usage::RenderManual(usage, values["version"],
                                                                 values["date"], sourceName));
    if (!ok) {
        std::cerr << "dielmon-usage: cannot write the generated files\n";
        return 1;
    }
    return 0;
}
