// The settings of a terminal line as the kernel holds them, with any baud rate. Termios
// requests on a pseudo-terminal's master act on its slave. Not to be mixed with <termios.h>.
#pragma once

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <stdexcept>

namespace dielmon::test {

inline termios2 LineSettings(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        throw std::runtime_error("TCGETS2 failed");
    }
    return t;
}

inline void SetLineSettings(int fd, const termios2& t) {
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        throw std::runtime_error("TCSETS2 failed");
    }
}

} // namespace dielmon::test
