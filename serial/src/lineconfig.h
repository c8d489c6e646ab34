// Setting the line of an open terminal device. Kept apart from the rest of the port layer
// because the kernel's termios2 definitions (<asm/termbits.h>) clash with <termios.h>.
#pragma once

#include <cstdint>

namespace dielmon {

struct LineSettings {
    std::uint32_t baud = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    std::uint8_t flowKind = 0;
};

// Whether a UART can run with these settings at all; asks no device.
bool LineSettingsValid(const LineSettings& settings);

// Puts the device in raw mode with the given settings and reads them back. When the driver
// did not take all of them, the line is put back as it was and the result is false.
bool ApplyLineSettings(int fd, const LineSettings& settings);

} // namespace dielmon
