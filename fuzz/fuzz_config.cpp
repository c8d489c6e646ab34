// The settings file: reading any bytes, and writing the five keys and the lab's server into any
// existing file.
#include "check.h"
#include "core/config.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

using namespace dielmon;

namespace {

// A port name as the settings dialog can hold it and the file can carry it: one line, without
// blanks around it (reading trims them) and not enclosed in quotes (reading removes them).
std::string PortName(FuzzedDataProvider& in) {
    std::string name;
    for (const char c : in.ConsumeRandomLengthString(24)) {
        if (c != '\r' && c != '\n') {
            name += c;
        }
    }
    for (;;) {
        const auto first = name.find_first_not_of(" \t");
        if (first == std::string::npos) {
            return "COM1";
        }
        name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
        const bool quoted = name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                            name.back() == name.front();
        if (!quoted) {
            return name;
        }
        name.pop_back();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Settings written;
    written.ComName = PortName(in);
    written.DataNum = in.ConsumeIntegral<int>();
    written.StopNum = in.ConsumeIntegralInRange<int>(-1, 3);
    written.Mark = in.ConsumeIntegralInRange<int>(-1, 5);
    written.Baud = in.ConsumeIntegral<int>();
    const std::string server = in.ConsumeRandomLengthString(64);
    const std::string existing = in.ConsumeRemainingBytesAsString();

    const Settings before = ParseConfig(existing);
    const std::string updated = UpdateConfigText(existing, written);
    const Settings after = ParseConfig(updated);
    FUZZ_CHECK(after.ComName == written.ComName);
    FUZZ_CHECK(after.DataNum == written.DataNum);
    FUZZ_CHECK(after.StopNum == written.StopNum);
    FUZZ_CHECK(after.Mark == written.Mark);
    FUZZ_CHECK(after.Baud == written.Baud);
    // The key the program never writes keeps what the file said.
    FUZZ_CHECK(after.HelpFileName == before.HelpFileName);
    // Writing the same settings again changes nothing more.
    FUZZ_CHECK(UpdateConfigText(updated, written) == updated);

    // The server's key beside them: read back as written, the five keys untouched.
    if (server.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
        const std::string withServer = UpdateArchiveServerText(updated, server);
        FUZZ_CHECK(ParseArchiveServer(withServer) == server);
        FUZZ_CHECK(ParseConfig(withServer) == after);
    }
    ServerStringProblem(server);
    MaskServerSecrets(existing, server);

    DevicePath(written.ComName);
    return 0;
}
