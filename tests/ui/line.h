// A line whose far end the test holds itself: the master of a pseudo-terminal, for the
// instruments the simulator does not play (one that falls silent after connecting, one that
// streams as fast as the line takes). The program opens the slave by its path like any port.
#pragma once

#include "core/frame.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace dielmon::test {

class TestLine {
public:
    TestLine() {
        Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128] = {};
        if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0 ||
            ::ptsname_r(Master_, name, sizeof name) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        Path_ = name;
    }
    ~TestLine() { HangUp(); }
    TestLine(const TestLine&) = delete;
    TestLine& operator=(const TestLine&) = delete;

    const std::string& Path() const { return Path_; }

    // Writes everything, waiting while the line is full; false when the far end has gone or
    // the line took nothing for `limitMs`.
    bool Write(const std::uint8_t* data, std::size_t size, int limitMs = 10000) const {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(Master_, data + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                return false;
            }
            // Without anyone on the program's side the line reports a hang-up and takes
            // nothing more.
            pollfd p{Master_, POLLOUT, 0};
            if (::poll(&p, 1, limitMs) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) {
                return false;
            }
        }
        return true;
    }
    bool Write(const std::vector<std::uint8_t>& bytes) const {
        return Write(bytes.data(), bytes.size());
    }

    // The frames the program has sent since the last call.
    std::vector<std::vector<std::uint8_t>> ReadFrames() {
        struct Collect : FrameSink {
            std::vector<std::vector<std::uint8_t>> frames;
            void FrameReady(const std::uint8_t* f, int n) override {
                frames.emplace_back(f, f + n);
            }
        } sink;
        std::uint8_t buffer[kRecvBufSize];
        for (;;) {
            const ssize_t n = ::read(Master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            Reassembly_.Feed(buffer, static_cast<int>(n), sink);
        }
        return sink.frames;
    }

    // The far end goes away: the kernel hangs the program's side up.
    void HangUp() {
        if (Master_ >= 0) {
            ::close(Master_);
            Master_ = -1;
        }
    }

private:
    int Master_ = -1;
    std::string Path_;
    Reassembler Reassembly_;
};

} // namespace dielmon::test
