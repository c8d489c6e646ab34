// The instrument's end of the line for the measuring programs: a pseudo-terminal whose master
// side the measurement writes frames into, while the program under test opens the slave by its
// path like any serial port. Also a scratch home folder for the program's settings and log.
#pragma once

#include "core/frame.h"
#include "core/responses.h"
#include "sim/payloads.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace dielmon::bench {

class PtyLine {
public:
    PtyLine() {
        Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0 ||
            ::ptsname_r(Master_, name, sizeof name) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        Path_ = name;
        // Our own descriptor of the slave keeps the line up while the program under test
        // opens and closes it, and makes it raw before the first byte goes in, so that
        // nothing is echoed or translated while the program has not set it up yet.
        Slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (Slave_ < 0 || ::tcgetattr(Slave_, &t) != 0) {
            throw std::runtime_error("cannot open " + Path_);
        }
        ::cfmakeraw(&t);
        ::tcsetattr(Slave_, TCSANOW, &t);
    }
    ~PtyLine() {
        ::close(Slave_);
        ::close(Master_);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& Path() const { return Path_; }
    int Master() const { return Master_; }

    // Blocks while the line's queue is full, as a device waits for the far end; false when
    // the line has gone.
    bool Write(const std::uint8_t* data, std::size_t count) const {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(Master_, data + done, count - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Write(const std::vector<std::uint8_t>& bytes) const {
        return Write(bytes.data(), bytes.size());
    }

private:
    int Master_ = -1;
    int Slave_ = -1;
    std::string Path_;
};

// A folder for Config.ini and Log/, removed with everything in it at the end.
class ScratchHome {
public:
    ScratchHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dielmon-bench-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder");
        }
        Path_ = pattern;
    }
    ~ScratchHome() {
        std::error_code ignored;
        std::filesystem::remove_all(Path_, ignored);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    // With the trailing "/" the window expects of its program folder.
    std::string Folder() const { return Path_ + "/"; }

private:
    std::string Path_;
};

// The instrument's settings report, as on connecting: reverse wiring, internal standard,
// 50 Hz, 10 kV. It fills and enables the window's panel.
inline std::vector<std::uint8_t> ParametersFrame() {
    return BuildFrame(RspParameters, sim::EncodeParameters(5, sim::InstrumentSettings{}, false));
}

// The k-th step frame of a test: 17 bytes whose high voltage differs from its neighbours', so
// that every frame changes the text on show.
inline std::vector<std::uint8_t> StepFrame(std::uint64_t k) {
    sim::StepValues v;
    v.HighVoltage = 10.0F + static_cast<float>(k % 100) * 0.01F;
    v.Frequency = 500;
    v.Current = 0.0147F;
    return BuildFrame(RspStepResult, sim::EncodeStep(v));
}

inline std::vector<std::uint8_t> BoostFrame(std::uint64_t k) {
    sim::BoostValues v;
    v.HighVoltage = static_cast<float>(k % 100) * 0.1F;
    v.Current = 0.0147F;
    return BuildFrame(RspBoosting, sim::EncodeBoost(v));
}

} // namespace dielmon::bench
