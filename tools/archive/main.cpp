// dielmon-archive: the result archive from the command line, without a display. Lists, imports
// result files, downloads the instrument's records, shows a specimen's trend, exports CSV,
// synchronises with the lab's server.
#include "archive/archive.h"
#include "archive/export.h"
#include "assessing.h"

#include "core/config.h"
#include "core/download.h"
#include "core/gbk.h"
#include "core/helpers.h"
#include "core/homefolders.h"
#include "core/json.h"
#include "core/log.h"
#include "core/resultfile.h"
#include "serial/commreceive.h"
#include "serial/serialcomm.h"
#include "sync/engine.h"
#include "usage/dielmon_archive.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace dielmon;
using namespace dielmon::archive;
using dielmon::usage::kDielmonArchive;

namespace {

int Usage(const std::string& problem) {
    std::cerr << "dielmon-archive: " << problem << "\n\n" << kDielmonArchive.Help;
    return 2;
}

int Error(const std::string& problem) {
    std::cerr << "dielmon-archive: " << problem << "\n";
    return 2;
}

// The command line after the command: options with values, flags, and the rest.
class Arguments {
public:
    Arguments(std::vector<std::string> args) : Args_(std::move(args)) {}

    // Takes "--name VALUE" or "--name=VALUE"; false with a message when the value is missing.
    bool Value(const std::string& name, std::optional<std::string>& out, std::string& problem) {
        for (std::size_t k = 0; k < Args_.size(); ++k) {
            const std::string& a = Args_[k];
            if (a == name) {
                if (k + 1 >= Args_.size()) {
                    problem = name + " needs a value";
                    return false;
                }
                out = Args_[k + 1];
                Args_.erase(Args_.begin() + static_cast<std::ptrdiff_t>(k),
                            Args_.begin() + static_cast<std::ptrdiff_t>(k) + 2);
                return Value(name, out, problem);
            }
            if (a.rfind(name + "=", 0) == 0) {
                out = a.substr(name.size() + 1);
                Args_.erase(Args_.begin() + static_cast<std::ptrdiff_t>(k));
                return Value(name, out, problem);
            }
            if (a == "--") {
                break;
            }
        }
        return true;
    }
    bool Flag(const std::string& name) {
        for (std::size_t k = 0; k < Args_.size() && Args_[k] != "--"; ++k) {
            if (Args_[k] == name) {
                Args_.erase(Args_.begin() + static_cast<std::ptrdiff_t>(k));
                return true;
            }
        }
        return false;
    }
    // What is left: no option may be among it ("--" ends the options).
    bool Rest(std::vector<std::string>& rest, std::string& problem) {
        bool options = true;
        for (const std::string& a : Args_) {
            if (options && a == "--") {
                options = false;
            } else if (options && a.size() > 1 && a[0] == '-') {
                problem = "unknown option " + a;
                return false;
            } else {
                rest.push_back(a);
            }
        }
        return true;
    }

private:
    std::vector<std::string> Args_;
};

bool IsDate(const std::string& d) {
    int y = 0, m = 0, day = 0;
    char tail = 0;
    return d.size() == 10 && std::sscanf(d.c_str(), "%4d-%2d-%2d%c", &y, &m, &day, &tail) == 3 &&
           d[4] == '-' && d[7] == '-' && m >= 1 && m <= 12 && day >= 1 && day <= 31;
}

// The filter options list and export share.
bool ReadFilter(Arguments& args, Filter& f, std::string& problem) {
    std::optional<std::string> specimen, since, until;
    if (!args.Value("--specimen", specimen, problem) || !args.Value("--since", since, problem) ||
        !args.Value("--until", until, problem)) {
        return false;
    }
    for (const auto* d : {&since, &until}) {
        if (*d && !IsDate(**d)) {
            problem = "not a date (YYYY-MM-DD): " + **d;
            return false;
        }
    }
    f.Specimen = specimen.value_or("");
    f.Since = since.value_or("");
    f.Until = until.value_or("");
    return true;
}

// Opens the archive; nothing and a message on standard error when it cannot be.
std::unique_ptr<Archive> OpenArchive(const std::string& path, bool create) {
    OpenOptions o;
    o.Create = create;
    Opened opened = Archive::Open(path, o);
    if (!opened.Store) {
        std::cerr << "dielmon-archive: " << opened.Error << "\n";
        return nullptr;
    }
    if (!opened.Notice.empty()) {
        std::cerr << "dielmon-archive: " << opened.Notice << "\n";
    }
    return std::move(opened.Store);
}

// The main result in one line: its lines without their padding, two spaces apart.
std::string MainInOneLine(const std::string& gbk) {
    std::string line;
    for (std::string part : SplitLines(GbkToUtf8(gbk))) {
        while (!part.empty() && (part.back() == ' ' || part.back() == '\r')) {
            part.pop_back();
        }
        if (!part.empty()) {
            line += (line.empty() ? "" : "  ") + part;
        }
    }
    return line;
}

std::string Spaced(std::string iso) {
    if (iso.size() > 10 && iso[10] == 'T') {
        iso[10] = ' ';
    }
    return iso.empty() ? "(no date)" : iso;
}

// A command's options, read before the archive is opened.
struct Command {
    std::string Name;
    Filter Selection;
    bool Json = false;
    std::optional<std::string> Specimen;
    std::optional<std::string> Port;
    std::optional<std::string> Output;
    std::vector<std::string> Files;
    std::string TrendSpecimen;
    // Conditions of imported results; the specimen's facts; the profiles to judge by.
    std::optional<double> Temperature;
    std::optional<double> Humidity;
    tool::SpecimenChange Change;
    std::optional<std::string> Profile;
};

// The command's options; a message when they are wrong.
std::string ReadCommand(Command& c, Arguments args) {
    std::string problem;
    std::vector<std::string> rest;
    if (c.Name == "list" || c.Name == "trend" || c.Name == "specimen" || c.Name == "assess") {
        c.Json = args.Flag("--json");
    }
    if (c.Name == "list" || c.Name == "export" || c.Name == "assess") {
        if (!ReadFilter(args, c.Selection, problem)) {
            return problem;
        }
    }
    if (c.Name == "import" && !args.Value("--specimen", c.Specimen, problem)) {
        return problem;
    }
    if (c.Name == "import") {
        std::optional<std::string> temperature, humidity;
        if (!args.Value("--temperature", temperature, problem) ||
            !args.Value("--humidity", humidity, problem)) {
            return problem;
        }
        if (temperature && !(c.Temperature = tool::TemperatureValue(*temperature))) {
            return "not a temperature in °C (-60 to 150): " + *temperature;
        }
        if (humidity && !(c.Humidity = tool::HumidityValue(*humidity))) {
            return "not a relative humidity in % (0 to 100): " + *humidity;
        }
    }
    if (c.Name == "specimen") {
        tool::SpecimenChange& ch = c.Change;
        const std::pair<const char*, std::optional<std::string>*> options[] = {
            {"--class", &ch.Class},
            {"--voltage-class", &ch.VoltageClass},
            {"--nameplate-c", &ch.NameplateC},
            {"--nameplate-df", &ch.NameplateDf},
            {"--reference", &ch.Reference},
            {"--method", &ch.Method},
            {"--temperature-of", &ch.TemperatureOf},
        };
        for (const auto& [name, value] : options) {
            if (!args.Value(name, *value, problem)) {
                return problem;
            }
        }
    }
    if ((c.Name == "assess" || c.Name == "list" || c.Name == "export") &&
        !args.Value("--profile", c.Profile, problem)) {
        return problem;
    }
    if (c.Name == "download" && !args.Value("--port", c.Port, problem)) {
        return problem;
    }
    if (c.Name == "export" && !args.Value("--output", c.Output, problem)) {
        return problem;
    }
    if (!args.Rest(rest, problem)) {
        return problem;
    }
    if (c.Name == "import") {
        if (rest.empty()) {
            return "import needs at least one FILE";
        }
        if (c.Specimen && !IsUtf8(*c.Specimen)) {
            return "the specimen is not UTF-8 text";
        }
        c.Files = rest;
        return {};
    }
    if (c.Name == "trend" || c.Name == "specimen") {
        if (rest.size() != 1) {
            return c.Name + " needs one SPECIMEN";
        }
        c.TrendSpecimen = rest.front();
        if (c.Name == "specimen" && (!IsUtf8(c.TrendSpecimen) || c.TrendSpecimen.empty())) {
            return "the specimen is not UTF-8 text";
        }
        return {};
    }
    if (!rest.empty()) {
        return c.Name + " takes no argument " + rest.front();
    }
    if (c.Name == "download" && !c.Port) {
        return "download needs --port PATH";
    }
    return {};
}

int List(Archive& a, const Command& c, const tool::Judging& judging) {
    const Filter& f = c.Selection;
    if (c.Json) {
        assess::ArchiveAssessor assessor(a, judging.Lib, judging.Profiles);
        const std::string error = a.ForEach(f, [&assessor](const Result& r) {
            std::cout << JsonLine(r, assess::JsonMembers(assessor.Of(r))) << "\n";
            return static_cast<bool>(std::cout);
        });
        return error.empty() ? 0 : Error(error);
    }
    // Page by page, as a window fills its list.
    std::optional<Cursor> after;
    for (;;) {
        const auto page = a.List(f, after, 500);
        if (!page.Ok()) {
            return Error(page.Error);
        }
        for (const Row& r : page.Value) {
            std::string source = SourceName(r.From);
            if (r.Record) {
                source += ' ';
                source += std::to_string(*r.Record);
            }
            std::cout << Spaced(r.Measured) << "\t" << r.Specimen << "\t"
                      << WiringModeText(r.WiringMode) << "\t" << MainInOneLine(r.Main) << "\t"
                      << source << "\t" << r.Id << "\t" << r.Host << "\n";
        }
        if (page.Value.size() < 500) {
            break;
        }
        after = CursorAfter(page.Value.back());
    }
    return 0;
}

int Import(Archive& a, const Command& c) {
    int status = 0;
    for (const std::string& file : c.Files) {
        const ResultFileRuns runs = ReadResultRuns(file);
        if (runs.State == ResultFileContent::CannotRead) {
            status = Error("cannot read " + file + ": " + GbkToUtf8(runs.Error));
            continue;
        }
        if (runs.State == ResultFileContent::NotOurFile || runs.Runs.empty()) {
            status = Error(file + ": not a result file saved by the program");
            continue;
        }
        int fresh = 0;
        int before = 0;
        for (const ResultTexts& t : runs.Runs) {
            Result r = FromFile(t);
            r.Taken.Specimen = c.Specimen.value_or("");
            r.Taken.Temperature = c.Temperature;
            r.Taken.Humidity = c.Humidity;
            const Added added = a.Add(r);
            if (!added.Ok()) {
                return Error(file + ": " + added.Error);
            }
            ++(added.New ? fresh : before);
        }
        std::cout << file << ": " << runs.Runs.size() << " result"
                  << (runs.Runs.size() == 1 ? "" : "s") << ", " << fresh << " new, " << before
                  << " archived before\n";
    }
    return status;
}

// Frames from the reader thread, in order, for the main thread's loop.
class FrameQueue : public FrameSink {
public:
    void FrameReady(const std::uint8_t* frame, int length) override {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Frames_.emplace_back(frame, frame + length);
        }
        Arrived_.notify_one();
    }
    void LineLost() {
        Lost_ = true;
        Arrived_.notify_one();
    }
    bool Lost() const { return Lost_; }
    // The frames that came, waiting until one comes or the time is up.
    std::deque<std::vector<std::uint8_t>> Take(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(Lock_);
        Arrived_.wait_for(lock, limit, [this] { return !Frames_.empty() || Lost_; });
        std::deque<std::vector<std::uint8_t>> taken;
        taken.swap(Frames_);
        return taken;
    }

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::deque<std::vector<std::uint8_t>> Frames_;
    std::atomic<bool> Lost_{false};
};

std::atomic<bool> Interrupted{false};

extern "C" void OnInterrupt(int) {
    Interrupted = true;
}

int Download(Archive& a, const Command& c, const HomeFolders& folders) {
    const Settings settings = LoadConfig(folders.ConfigFile);
    DebugLog log(DebugLog::Folder{folders.LogFolder});
    FrameQueue queue;
    TCommReceiver receiver(log, queue);
    receiver.SetLineLost([&queue] { queue.LineLost(); });
    TSerialComm comm(log);
    comm.SetReceiveCallback(&receiver);
    const std::string device = DevicePath(*c.Port);
    if (!comm.Open(device, static_cast<std::uint32_t>(settings.Baud),
                   static_cast<std::uint8_t>(settings.DataNum),
                   static_cast<std::uint8_t>(settings.Mark),
                   static_cast<std::uint8_t>(settings.StopNum), 0)) {
        return Error("cannot open the port " + device);
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    RecordDownload::Options options;
    options.Session = true;
    RecordDownload d(options);
    int fresh = 0;
    int before = 0;
    std::string failure;
    auto take = [&](RecordDownload::Step s) {
        if (!s.Send.empty()) {
            comm.Send(s.Send.data(), static_cast<int>(s.Send.size()));
        }
        if (s.Completed && failure.empty()) {
            const RecordDownload::Record& rec = *s.Completed;
            const Added added =
                a.Add(FromRecord(rec.Code, rec.Frame.data(), static_cast<int>(rec.Frame.size()),
                                 rec.Number, d.InstrumentType()));
            if (!added.Ok()) {
                // The archive cannot keep it: stop asking, the loop cancels.
                failure = added.Error;
                return;
            }
            ++(added.New ? fresh : before);
            std::cout << "record " << rec.Number << " of " << d.Total() << ": "
                      << (added.New ? "new" : "archived before") << "\n"
                      << std::flush;
        }
    };
    take(d.Start(std::chrono::steady_clock::now()));
    while (!d.Finished()) {
        for (const auto& frame : queue.Take(std::chrono::milliseconds(50))) {
            take(d.Frame(frame.data(), static_cast<int>(frame.size()),
                         std::chrono::steady_clock::now()));
        }
        if (Interrupted || !failure.empty()) {
            take(d.Cancel());
        } else if (queue.Lost()) {
            failure = "the port " + device + " has gone";
            take(d.Cancel());
        } else {
            take(d.Tick(std::chrono::steady_clock::now()));
        }
    }
    std::cout << d.Read() << " record" << (d.Read() == 1 ? "" : "s") << " read: " << fresh
              << " new, " << before << " archived before\n";
    if (!failure.empty()) {
        // The line went away (1), or the archive could not keep a record (2).
        std::cerr << "dielmon-archive: " << failure << "\n";
        return queue.Lost() ? 1 : 2;
    }
    if (d.Current() == RecordDownload::State::Cancelled) {
        std::cerr << "dielmon-archive: the download was cancelled\n";
        return 1;
    }
    if (d.Current() == RecordDownload::State::Failed) {
        std::string error = d.Error();
        if (d.Failed() == RecordDownload::Failure::InstrumentError) {
            const std::string text = GbkToUtf8(ErrorText(d.ErrorCode()));
            if (!text.empty()) {
                error += ": " + text;
            }
        }
        std::cerr << "dielmon-archive: " << error << "\n";
        return 1;
    }
    return 0;
}

int Trend(Archive& a, const Command& c) {
    const bool json = c.Json;
    const std::string& specimen = c.TrendSpecimen;
    const auto series = a.SeriesOf(specimen);
    if (!series.Ok()) {
        return Error(series.Error);
    }
    if (series.Value.empty()) {
        std::cerr << "dielmon-archive: no result of specimen " << specimen
                  << " holds a capacitance\n";
    }
    for (const Series& s : series.Value) {
        const auto points = a.Trend(specimen, s);
        if (!points.Ok()) {
            return Error(points.Error);
        }
        const std::string mode = WiringModeText(s.WiringMode);
        if (!json) {
            std::cout << "# " << (mode.empty() ? "(mode unknown)" : mode) << ": " << s.Capacitance
                      << " (F), " << s.Dissipation << " (%), change of " << s.Capacitance
                      << " from the first result (%)\n";
        }
        for (const TrendPoint& p : points.Value) {
            const std::string c = p.CapacitanceOver ? "over" : JsonNumber(p.Capacitance);
            const std::string df = p.DissipationOver ? "over" : JsonNumber(p.Dissipation);
            const std::string change = JsonNumber(p.Change, 4);
            if (json) {
                std::cout << "{\"id\":" << JsonString(p.Id) << ",\"measured\":"
                          << (p.Measured.empty() ? "null" : JsonString(p.Measured))
                          << ",\"mode\":" << (mode.empty() ? "null" : JsonString(mode))
                          << ",\"capacitance\":{\"name\":" << JsonString(s.Capacitance)
                          << ",\"value\":" << JsonNumber(p.Capacitance)
                          << ",\"over\":" << (p.CapacitanceOver ? "true" : "false")
                          << "},\"dissipation\":{\"name\":" << JsonString(s.Dissipation)
                          << ",\"value\":" << JsonNumber(p.Dissipation)
                          << ",\"over\":" << (p.DissipationOver ? "true" : "false")
                          << "},\"change\":" << change
                          << ",\"temperature\":" << JsonNumber(p.Temperature)
                          << ",\"humidity\":" << JsonNumber(p.Humidity) << "}\n";
            } else {
                std::cout << Spaced(p.Measured) << "\t" << (c == "null" ? "-" : c) << "\t"
                          << (df == "null" ? "-" : df) << "\t" << (change == "null" ? "-" : change)
                          << "\t" << p.Id << "\n";
            }
        }
    }
    return 0;
}

int Export(Archive& a, const Command& c, const tool::Judging& judging) {
    const Filter& f = c.Selection;
    const std::optional<std::string>& output = c.Output;
    assess::ArchiveAssessor assessor(a, judging.Lib, judging.Profiles);
    const CsvColumns verdicts =
        assess::CsvColumnsOf([&assessor](const Result& r) { return assessor.Of(r); });
    if (!output) {
        const std::string error = ExportCsv(a, f, std::cout, &verdicts);
        return error.empty() ? 0 : Error(error);
    }
    // Written beside and moved into place: a failed export leaves no half table behind.
    const std::string part = *output + ".part";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) {
        return Error("cannot write " + *output + ": " + std::strerror(errno));
    }
    std::string error = ExportCsv(a, f, out, &verdicts);
    out.close();
    if (error.empty() && !out) {
        error = "cannot write " + *output;
    }
    std::error_code ec;
    if (error.empty()) {
        fs::rename(part, *output, ec);
        if (ec) {
            error = "cannot write " + *output + ": " + ec.message();
        }
    }
    if (!error.empty()) {
        fs::remove(part, ec);
        return Error(error);
    }
    return 0;
}

std::string Results(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " result" : " results");
}

// One synchronisation with the lab's server: 0 when everything went through, 1 when the
// server could not be reached or did not take everything, 2 when the archive here failed.
int Sync(Archive& a, const std::string& server) {
    const sync::SyncReport r = sync::SyncEngine(a, server).Run();
    if (r.Reached) {
        std::cout << "pulled " << Results(r.Pulled) << ": " << r.PulledNew << " new, "
                  << r.PulledEdited << " with a later edit of specimen or conditions\n"
                  << "pushed " << Results(r.Pushed()) << ": " << r.PushedNew << " new, "
                  << r.PushedEdited << " with a later edit of specimen or conditions\n";
    }
    if (r.Ok()) {
        return 0;
    }
    std::cerr << "dielmon-archive: " << r.Error << "\n";
    return r.Kind == sync::Failure::Local ? 2 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> home;
    std::string command;
    std::vector<std::string> rest;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (!command.empty()) {
            rest.push_back(a);
        } else if (a == "--help" || a == "-h") {
            std::cout << kDielmonArchive.Help;
            return 0;
        } else if (a == "--version") {
            std::cout << kDielmonArchive.VersionLine() << "\narchive schema " << kSchemaVersion
                      << ", SQLite " << sqlite3_libversion() << ", libpq " << sync::LibpqVersion()
                      << "\n";
            return 0;
        } else if (a == "--home") {
            if (k + 1 >= args.size()) {
                return Usage("--home needs a folder");
            }
            home = args[++k];
        } else if (a.rfind("--home=", 0) == 0) {
            home = a.substr(7);
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else {
            command = a;
        }
    }
    if (command.empty()) {
        return Usage("a command is needed");
    }
    for (const std::string& a : rest) {
        if (a == "--help" || a == "-h") {
            std::cout << kDielmonArchive.Help;
            return 0;
        }
    }
    // The folders the window of this installation uses.
    std::string given = home.value_or("");
    if (home && (given.empty() || given.back() != '/')) {
        given += '/';
    }
    const std::string exeFolder = ExecutableFolder(argv[0]);
    const HomeFolders folders = ResolveHomeFolders(given, exeFolder);
    const std::string& folder = folders.DataFolder;
    const bool judges = command == "specimen" || command == "assess" || command == "rules";
    if (command != "list" && command != "trend" && command != "export" && command != "import" &&
        command != "download" && command != "sync" && !judges) {
        return Usage("unknown command " + command);
    }
    Command c;
    c.Name = command;
    if (const std::string problem = ReadCommand(c, Arguments(rest)); !problem.empty()) {
        return Usage(problem);
    }
    const bool writes = command == "import" || command == "download" || command == "sync" ||
                        (command == "specimen" && c.Change.Any());
    // The correction methods and profiles: the shipped files, then the lab's.
    tool::Judging judging;
    if (judges || command == "list" || command == "export") {
        std::string problem;
        if (!tool::LoadJudging(assess::ShippedFolder(exeFolder), assess::LabFolder(folders),
                               c.Profile.value_or(""), judging, problem)) {
            return Error(problem);
        }
        if (command == "rules") {
            return tool::RulesCommand(judging.Lib);
        }
        if (command == "specimen") {
            archive::Specimen check;
            if (!tool::ApplyChange(check, c.Change, judging.Lib, problem)) {
                return Error(problem);
            }
        }
    }
    std::error_code ec;
    if (home && !fs::is_directory(folder, ec)) {
        return Error("there is no folder " + folder);
    }
    std::string server;
    if (command == "sync") {
        server = LoadArchiveServer(folders.ConfigFile);
        if (server.empty()) {
            return Error("no lab server is set: put Server=<libpq connection string> into "
                         "section [Archive] of " +
                         folders.ConfigFile);
        }
        if (const std::string problem = ServerStringProblem(server); !problem.empty()) {
            return Error(GbkToUtf8(problem) + " (" + folders.ConfigFile + ")");
        }
    }
    if (writes && !home) {
        fs::create_directories(folder, ec); // the desktop's data folder, on first use
    }
    std::unique_ptr<Archive> archive = OpenArchive(folder + kArchiveFileName, writes);
    if (!archive) {
        return 2;
    }
    if (command == "list") {
        return List(*archive, c, judging);
    }
    if (command == "specimen") {
        return tool::SpecimenCommand(*archive, c.TrendSpecimen, c.Change, c.Json, judging.Lib);
    }
    if (command == "assess") {
        return tool::AssessCommand(*archive, c.Selection, c.Json, judging);
    }
    if (command == "import") {
        return Import(*archive, c);
    }
    if (command == "download") {
        return Download(*archive, c, folders);
    }
    if (command == "trend") {
        return Trend(*archive, c);
    }
    if (command == "sync") {
        return Sync(*archive, server);
    }
    return Export(*archive, c, judging);
}
