// A pseudo-terminal standing in for a serial device or its cable: the test holds the master
// side, the code under test opens the slave by its path like any port. The slave carries real
// termios settings, except that the kernel forces 8 data bits without parity on it.
#pragma once

#include "support/frames.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace dielmon::test {

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal() { HangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& Path() const { return Path_; }
    int Master() const { return Master_; }

    // Writes everything, waiting while the line is full; false when the far end has gone or
    // the line took nothing for `limitMs`.
    bool Write(const std::uint8_t* data, std::size_t size, int limitMs = 10000) const;
    bool Write(const Bytes& bytes) const { return Write(bytes.data(), bytes.size()); }

    // Reads what the slave side wrote, until `count` bytes came or the deadline passed.
    Bytes Read(std::size_t count,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;
    // The frames the slave side has written since the last call, without waiting.
    std::vector<Bytes> ReadFrames();

    // The far end goes away: the kernel hangs the slave up.
    void HangUp();

private:
    int Master_ = -1;
    std::string Path_;
    Reassembler Reassembly_;
};

// Bytes waiting to be read on a descriptor, or -1 when it cannot tell.
int Waiting(int fd);

} // namespace dielmon::test
