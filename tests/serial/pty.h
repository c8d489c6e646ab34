// A pseudo-terminal standing in for a serial device: the test holds the master side, the code
// under test opens the slave by its path like any port. The slave carries real termios
// settings, except that the kernel forces 8 data bits without parity on it.
#pragma once

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dielmon::test {

using Bytes = std::vector<std::uint8_t>;

// Waits for a condition, checking it every few milliseconds, up to a deadline generous enough
// for a loaded machine. True when the condition came true.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        path_ = name;
    }
    ~PseudoTerminal() { CloseMaster(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }

    // The far end goes away: the kernel hangs the slave up.
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // Sends bytes to whoever holds the slave.
    void Write(const Bytes& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                throw std::runtime_error("write to the master failed");
            }
            done += static_cast<std::size_t>(n);
        }
    }

    // Reads what the slave side wrote, until `count` bytes came or the deadline passed.
    Bytes Read(std::size_t count,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                break;
            }
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & POLLIN) == 0) {
                continue;
            }
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), chunk, chunk + n);
            }
        }
        return got;
    }

    // The slave's settings as the kernel holds them (termios requests on the master act on
    // the slave).
    termios2 Settings() const {
        termios2 t{};
        if (::ioctl(master_, TCGETS2, &t) != 0) {
            throw std::runtime_error("TCGETS2 failed");
        }
        return t;
    }
    void SetSettings(const termios2& t) const {
        if (::ioctl(master_, TCSETS2, &t) != 0) {
            throw std::runtime_error("TCSETS2 failed");
        }
    }

private:
    int master_ = -1;
    std::string path_;
};

// Bytes waiting to be read on a descriptor, or -1 when it cannot tell.
inline int Waiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Bytes that tell their position apart, so that a lost or repeated byte shows.
inline Bytes Pattern(std::size_t count, std::uint8_t seed = 0) {
    Bytes b(count);
    for (std::size_t i = 0; i < count; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    }
    return b;
}

} // namespace dielmon::test
