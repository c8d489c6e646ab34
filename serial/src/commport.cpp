#include "serial/commport.h"

#include "lineconfig.h"
#include "serial/portlock.h"

#include "core/fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dielmon {

namespace {

// Moves a descriptor to 3 or above: 0 must never be a port handle, and a process started with
// a standard stream closed must not have its port mistaken for that stream.
int AboveStandardStreams(int fd) {
    if (fd >= 3) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Gives the port back to others: a pseudo-terminal keeps its exclusive flag after our close
// for as long as its master side stays open.
void ReleaseExclusive(int fd) {
    ::ioctl(fd, TIOCNXCL);
}

} // namespace

CommHandle TCommPort::OpenComm(const std::string& portName, std::uint32_t baud,
                               std::uint8_t byteSize, std::uint8_t parity, std::uint8_t stopBits,
                               std::uint8_t flowKind, PortRefusal* refusal) const {
    PortRefusal ignored;
    PortRefusal& why = refusal != nullptr ? *refusal : ignored;
    why = {};
    auto fail = [&why](PortRefusal::Step step, int error) {
        why.Failed = step;
        why.Error = error;
        return CommHandle{0};
    };
    const LineSettings settings{baud, byteSize, parity, stopBits, flowKind};
    if (!LineSettingsValid(settings)) {
        return fail(PortRefusal::Step::Settings, EINVAL);
    }
    // Asked before the open: opening a terminal raises its control lines under the other user.
    if ((why = FindPortHolder(portName))) {
        why.Failed = PortRefusal::Step::Holder;
        return 0;
    }
    // Non-blocking so that the open does not wait for a carrier. The descriptor stays
    // non-blocking: reads ask only for bytes already waiting, and writes wait for room
    // themselves, within their limit.
    UniqueFd fd(::open(portName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            why.Why = PortRefusal::Reason::NoPermission;
        }
        return fail(PortRefusal::Step::Open, error);
    }
    fd.Reset(AboveStandardStreams(fd.Release()));
    if (!fd) {
        return fail(PortRefusal::Step::Descriptor, errno);
    }
    // The port is ours alone. The lock refuses a second open by this program or by any other
    // that locks its ports the same way, root included; TIOCEXCL makes the kernel refuse
    // later opens by other programs not running as root.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return fail(PortRefusal::Step::Lock, errno);
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        return fail(PortRefusal::Step::Exclusive, errno);
    }
    errno = 0;
    if (!ApplyLineSettings(fd.Get(), settings)) {
        const int error = errno != 0 ? errno : EINVAL;
        ReleaseExclusive(fd.Get());
        return fail(PortRefusal::Step::LineSettings, error);
    }
    if (!TakePortLock(portName, fd.Get(), why)) {
        ReleaseExclusive(fd.Get());
        why.Failed = PortRefusal::Step::LockFile;
        return 0;
    }
    return fd.Release();
}

bool TCommPort::ReadComm(CommHandle handle, std::span<std::uint8_t, kRecvBufSize> buffer,
                         int& count) const {
    return ReadCommStatus(handle, buffer, count) == ReadStatus::Data;
}

ReadStatus TCommPort::ReadCommStatus(CommHandle handle,
                                     std::span<std::uint8_t, kRecvBufSize> buffer,
                                     int& count) const {
    if (handle <= 0) {
        return ReadStatus::Nothing;
    }
    int waiting = 0;
    if (::ioctl(handle, FIONREAD, &waiting) != 0) {
        // A hung-up terminal (adapter unplugged, pseudo-terminal master closed) answers every
        // ioctl with EIO; nothing will ever be read from this handle again.
        return ReadStatus::Vanished;
    }
    if (waiting <= 0) {
        // The count misses bytes still on their way from the driver into the input queue, and
        // a line whose far end has gone may answer it with 0 and no error. Poll moves bytes on
        // their way into the queue and reports the end of a line; either is read at once.
        pollfd p{handle, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1) {
            return ReadStatus::Nothing;
        }
        if ((p.revents & POLLNVAL) != 0) {
            return ReadStatus::Vanished;
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            return ReadStatus::Nothing;
        }
        waiting = static_cast<int>(buffer.size());
    }
    // More than a buffer's worth stays in the driver's queue for the next pass; none of it is
    // thrown away.
    const std::size_t wanted = std::min(static_cast<std::size_t>(waiting), buffer.size());
    for (;;) {
        const ssize_t got = ::read(handle, buffer.data(), wanted);
        if (got > 0) {
            count = static_cast<int>(got);
            return ReadStatus::Data;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ReadStatus::Nothing;
        }
        // End of file (with VMIN 1 only a line that has ended reads 0 bytes), EIO, ENXIO and
        // the like.
        return ReadStatus::Vanished;
    }
}

bool TCommPort::WriteComm(CommHandle handle, const std::uint8_t* buffer, int count) const {
    if (handle <= 0) {
        return false;
    }
    if (buffer == nullptr || count <= 0) {
        return true;
    }
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(kWriteLimitMs);
    std::size_t done = 0;
    const std::size_t total = static_cast<std::size_t>(count);
    while (done < total) {
        const ssize_t n = ::write(handle, buffer + done, total - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            break; // the line is gone
        }
        // The output queue is full, or flow control holds it: wait for room within the limit.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now())
                .count();
        if (left <= 0) {
            break;
        }
        pollfd p{handle, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            break;
        }
    }
    return done == total;
}

int TCommPort::CloseComm(CommHandle handle) const {
    if (handle <= 0) {
        return -1;
    }
    ReleasePortLock(handle);
    ReleaseExclusive(handle);
    return ::close(handle); // also releases the lock taken at the open
}

} // namespace dielmon
