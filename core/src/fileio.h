// Whole files in and out through file descriptors; shared by the log, the result files and the
// settings file. Internal to the core.
#pragma once

#include "core/fd.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dielmon::detail {

// Writes every byte, retrying after interruptions. Returns 0 or the errno of the failure
// (ENOSPC when the device took nothing without saying why).
inline int WriteFully(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

enum class ReadOutcome {
    Ok,
    Failed,     // see the error number
    NotRegular, // a folder, a FIFO, a device or a socket: nothing was read from it
    TooLarge,   // larger than the limit
};

// Reads a whole regular file of at most `limit` bytes. It never waits: the open does not
// block on a FIFO without a writer, and nothing but a regular file is read, so /dev/zero or
// a FIFO cannot hold the caller up or fill its memory.
inline ReadOutcome ReadRegularFile(const std::string& path, std::size_t limit, std::string& bytes,
                                   int& error) {
    error = 0;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        error = errno;
        return ReadOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        error = errno;
        return ReadOutcome::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : 0;
        return ReadOutcome::NotRegular;
    }
    if (static_cast<std::size_t>(st.st_size) > limit) {
        return ReadOutcome::TooLarge;
    }
    std::string all;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errno;
            return ReadOutcome::Failed;
        }
        if (n == 0) {
            break;
        }
        // A file that grows while it is read is held to the same limit.
        if (all.size() + static_cast<std::size_t>(n) > limit) {
            return ReadOutcome::TooLarge;
        }
        all.append(chunk, static_cast<std::size_t>(n));
    }
    bytes = std::move(all);
    return ReadOutcome::Ok;
}

} // namespace dielmon::detail
