#include "support/pty.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace dielmon::test {

PseudoTerminal::PseudoTerminal() {
    Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128] = {};
    if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0 ||
        ::ptsname_r(Master_, name, sizeof name) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    Path_ = name;
}

void PseudoTerminal::HangUp() {
    if (Master_ >= 0) {
        ::close(Master_);
        Master_ = -1;
    }
}

bool PseudoTerminal::Write(const std::uint8_t* data, std::size_t size, int limitMs) const {
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
        // Without anyone on the slave's side the line reports a hang-up and takes nothing more.
        pollfd p{Master_, POLLOUT, 0};
        if (::poll(&p, 1, limitMs) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) {
            return false;
        }
    }
    return true;
}

Bytes PseudoTerminal::Read(std::size_t count, std::chrono::milliseconds limit) const {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd p{Master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & POLLIN) == 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(Master_, chunk, std::min(sizeof chunk, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk, chunk + n);
        }
    }
    return got;
}

std::vector<Bytes> PseudoTerminal::ReadFrames() {
    FrameCollector sink;
    std::uint8_t buffer[kRecvBufSize];
    ssize_t n = 0;
    while ((n = ::read(Master_, buffer, sizeof buffer)) > 0) {
        Reassembly_.Feed(buffer, static_cast<int>(n), sink);
    }
    return sink.Frames;
}

int Waiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

} // namespace dielmon::test
