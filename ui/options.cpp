#include "options.h"

#include "usage/dielmon.h"

namespace dielmon {

const char* const kProgramUsage = usage::kDielmon.Help;

std::variant<ProgramOptions, std::string>
ParseProgramOptions(const std::vector<std::string>& args) {
    ProgramOptions o;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (k + 1 >= args.size()) {
                return std::nullopt;
            }
            (void)name;
            return args[++k];
        };
        if (a == "--home") {
            const auto v = value("--home");
            if (!v || v->empty()) {
                return std::string("--home needs a folder");
            }
            o.Home = *v;
        } else if (a == "--port") {
            const auto v = value("--port");
            if (!v || v->empty()) {
                return std::string("--port needs a device path");
            }
            o.Port = *v;
        } else if (a == "--trace") {
            o.Trace = true;
        } else if (a == "--help" || a == "-h") {
            o.Help = true;
        } else if (a == "--version") {
            o.Version = true;
        } else if (a == "--folders") {
            o.Folders = true;
        } else if (a == "--simulate") {
            o.Simulate = true;
        } else if (o.Simulate) {
            o.SimArgs.push_back(a);
        } else {
            return "unknown option " + a;
        }
    }
    if (!o.Home.empty() && o.Home.back() != '/') {
        o.Home += '/';
    }
    return o;
}

} // namespace dielmon
