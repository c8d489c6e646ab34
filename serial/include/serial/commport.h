// The serial port layer: opens a device with its line settings, reads the bytes that are
// waiting, writes a block and closes the port, over POSIX termios and Linux's termios2.
// Everything under serial/ uses only the core, the C++ standard library and POSIX/Linux; no Qt.
#pragma once

#include "core/frame.h"
#include "serial/portlock.h"

#include <cstdint>
#include <span>
#include <string>

namespace dielmon {

// A port handle is the file descriptor of the open device. 0 means "no port" throughout the
// serial link; OpenComm never returns a descriptor below 3, so a real port can never read as 0.
using CommHandle = int;

// Parity codes of the line settings.
inline constexpr std::uint8_t kParityNone = 0;
inline constexpr std::uint8_t kParityOdd = 1;
inline constexpr std::uint8_t kParityEven = 2;
inline constexpr std::uint8_t kParityMark = 3;
inline constexpr std::uint8_t kParitySpace = 4;

// Stop-bit codes of the line settings.
inline constexpr std::uint8_t kOneStopBit = 0;
inline constexpr std::uint8_t kOne5StopBits = 1;
inline constexpr std::uint8_t kTwoStopBits = 2;

// A write that cannot get rid of its bytes within this time (a line held by flow control,
// a far end that reads nothing) gives up on the rest.
inline constexpr int kWriteLimitMs = 2000;

// How one poll of the port ended.
enum class ReadStatus {
    Data,     // bytes were delivered into the buffer
    Nothing,  // no bytes waiting, or no port
    Vanished, // the device has gone: adapter unplugged, line hung up, pseudo-terminal closed
};

// Keeps no state: the open port is its handle, held by the caller. Failures are results
// (0 or false), never exceptions. Reading and writing may happen on two threads at once.
class TCommPort {
public:
    // Opens the device exclusively and sets the line: baud (any positive rate, set exactly),
    // byteSize 5 to 8, parity and stop-bit codes as above, flowKind 0 to 5 (other values
    // leave flow control as it was). Returns 0 when the device cannot be opened, is held by
    // someone else (another process has it open, or a lock file names a live process), or
    // refuses any part of the settings; `refusal`, when given, then says whether someone
    // else holds it or the user may not open it. While open, the port's lock file names us.
    CommHandle OpenComm(const std::string& portName, std::uint32_t baud, std::uint8_t byteSize,
                        std::uint8_t parity, std::uint8_t stopBits, std::uint8_t flowKind,
                        PortRefusal* refusal = nullptr) const;

    // Reads the bytes waiting, at most a buffer's worth; more stay queued for the next call.
    // True with count set when bytes were delivered; otherwise false and count is untouched.
    bool ReadComm(CommHandle handle, std::span<std::uint8_t, kRecvBufSize> buffer,
                  int& count) const;

    // ReadComm telling silence apart from a device that has gone.
    ReadStatus ReadCommStatus(CommHandle handle, std::span<std::uint8_t, kRecvBufSize> buffer,
                              int& count) const;

    // Writes the count bytes, waiting for room at most kWriteLimitMs. True only when every
    // byte went out: false for handle 0, a line that has gone, or one that took only part.
    bool WriteComm(CommHandle handle, const std::uint8_t* buffer, int count) const;

    // Closes the port; the result of close(2), or -1 for a handle that is no port.
    int CloseComm(CommHandle handle) const;
};

} // namespace dielmon
