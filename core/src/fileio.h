// Writing whole buffers to a file descriptor; shared by the log, the result files and the
// settings file. Internal to the core.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <unistd.h>

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

} // namespace dielmon::detail
