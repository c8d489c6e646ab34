// Importing result files into the archive: any bytes as a file; every run read back into
// numbers, archived once, and read back from the archive whole.
#include "archive/archive.h"
#include "archive/export.h"
#include "check.h"
#include "core/json.h"
#include "core/resultfile.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

using namespace dielmon;
using namespace dielmon::archive;

namespace {

// One archive in memory for the whole run; each input takes out what it put in.
Archive& Memory() {
    static const std::unique_ptr<Archive> archive = [] {
        Opened opened = Archive::Open(":memory:");
        FUZZ_CHECK(opened.Store != nullptr);
        return std::move(opened.Store);
    }();
    return *archive;
}

void CheckImported(const Result& r) {
    std::set<std::string> names;
    for (const archive::Quantity& q : r.Quantities) {
        FUZZ_CHECK(names.insert(q.Name).second);
        FUZZ_CHECK(!(q.Over && q.Value));
        FUZZ_CHECK(!q.Value || std::isfinite(*q.Value));
        FUZZ_CHECK(IsUtf8(q.Name) && IsUtf8(q.Unit));
    }
    FUZZ_CHECK(r.Frame.empty());
    FUZZ_CHECK(r.DedupKey.size() == 5 + 64);
    const std::string json = JsonLine(r);
    FUZZ_CHECK(IsUtf8(json));
    FUZZ_CHECK(json.find_first_of("\r\n") == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ResultFileRuns runs = ParseResultRuns(bytes);
    FUZZ_CHECK(runs.State != ResultFileContent::CannotRead);
    if (runs.State != ResultFileContent::Ok) {
        FUZZ_CHECK(runs.Runs.empty());
        return 0;
    }
    // The first run is the one "打开文件" shows.
    FUZZ_CHECK(!runs.Runs.empty() && runs.Runs.front() == ParseResultFile(bytes).Texts);

    Archive& a = Memory();
    std::vector<std::string> added;
    for (const ResultTexts& t : runs.Runs) {
        const Result r = FromFile(t);
        CheckImported(r);
        const Added first = a.Add(r);
        FUZZ_CHECK(first.Ok());
        const Added again = a.Add(FromFile(t));
        FUZZ_CHECK(again.Ok() && !again.New && again.Id == first.Id);
        if (!first.New) {
            continue; // the same run twice in one file
        }
        added.push_back(first.Id);
        const auto back = a.Get(first.Id);
        FUZZ_CHECK(back.Ok() && back.Value.has_value());
        FUZZ_CHECK(back.Value->Texts == t);
        FUZZ_CHECK(back.Value->Quantities == r.Quantities);
        FUZZ_CHECK(back.Value->Config == r.Config);
        FUZZ_CHECK(back.Value->Measured == r.Measured);
    }
    for (const std::string& id : added) {
        FUZZ_CHECK(a.Delete(id).empty());
    }
    return 0;
}
