#include "lineconfig.h"

#include "serial/commport.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace dielmon {

namespace {

// Rates with a classic Bxxx code are set through that code, which every driver understands;
// any other rate goes through BOTHER with the exact number.
struct CodedRate {
    std::uint32_t rate;
    unsigned code;
};

constexpr CodedRate kCodedRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

unsigned SpeedCode(std::uint32_t baud) {
    for (const CodedRate& r : kCodedRates) {
        if (r.rate == baud) {
            return r.code;
        }
    }
    return BOTHER;
}

// Drivers report the rate their divisor achieves, which for USB adapters can lie a fraction
// of a percent off the request. Within 2 % the request was taken (a UART frame tolerates
// more); further off, the driver kept its old rate or fell back to another one.
bool SpeedTaken(std::uint32_t wanted, std::uint32_t actual) {
    const std::uint64_t w = wanted;
    const std::uint64_t a = actual;
    return a * 50 >= w * 49 && a * 50 <= w * 51;
}

constexpr tcflag_t kRawInputOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL;
constexpr tcflag_t kRawLocalOff = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kFlowInput = IXON | IXOFF;
constexpr tcflag_t kCompared = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | CREAD;

tcflag_t CharacterSize(std::uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t ParityFlags(std::uint8_t parity) {
    switch (parity) {
    case kParityOdd:
        return PARENB | PARODD;
    case kParityEven:
        return PARENB;
    case kParityMark: // CMSPAR turns the odd/even choice into a constant 1 (odd) or 0 (even)
        return PARENB | CMSPAR | PARODD;
    case kParitySpace:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

// The flow-control kinds come from a driver model with separate CTS and DSR output handshake
// and separate RTS and DTR input handshake. Linux termios offers one hardware handshake,
// CRTSCTS (CTS gates output, RTS signals input room), and none on DSR/DTR, so each hardware
// kind becomes the nearest thing the kernel has:
//   0  no handshake at all: CRTSCTS, IXON and IXOFF off; DTR and RTS stay as they are.
//   1  RTS input handshake: CRTSCTS on (which adds CTS output handshake); XON/XOFF as it was.
//   2  CTS output handshake with DTR input handshake: CRTSCTS on, with RTS doing DTR's job;
//      XON/XOFF off.
//   3  DSR output handshake with RTS input handshake: CRTSCTS on, with CTS doing DSR's job;
//      XON/XOFF off.
//   4  DSR output handshake with DTR input handshake: CRTSCTS on, RTS/CTS doing DTR/DSR's
//      job; XON/XOFF off.
//   5  XON/XOFF both ways with 0x11 and 0x13, no hardware handshake. The thresholds at which
//      XOFF and XON are sent are fixed by the line discipline.
// Any other kind leaves every flow setting as it was.
void ApplyFlowKind(termios2& t, std::uint8_t flowKind) {
    switch (flowKind) {
    case 0:
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~kFlowInput;
        break;
    case 1:
        t.c_cflag |= CRTSCTS;
        break;
    case 2:
    case 3:
    case 4:
        t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~kFlowInput;
        break;
    case 5:
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag |= kFlowInput;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
        break;
    default:
        break;
    }
}

bool Taken(const termios2& wanted, const termios2& actual) {
    return (actual.c_cflag & kCompared) == (wanted.c_cflag & kCompared) &&
           (actual.c_iflag & (kRawInputOff | kFlowInput)) ==
               (wanted.c_iflag & (kRawInputOff | kFlowInput)) &&
           (actual.c_oflag & OPOST) == (wanted.c_oflag & OPOST) &&
           (actual.c_lflag & kRawLocalOff) == (wanted.c_lflag & kRawLocalOff) &&
           actual.c_cc[VMIN] == wanted.c_cc[VMIN] && actual.c_cc[VTIME] == wanted.c_cc[VTIME] &&
           actual.c_cc[VSTART] == wanted.c_cc[VSTART] && actual.c_cc[VSTOP] == wanted.c_cc[VSTOP] &&
           SpeedTaken(wanted.c_ospeed, actual.c_ospeed) &&
           SpeedTaken(wanted.c_ispeed, actual.c_ispeed);
}

} // namespace

bool LineSettingsValid(const LineSettings& s) {
    if (s.baud == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > kParitySpace) {
        return false;
    }
    switch (s.stopBits) {
    case kOneStopBit:
        return true;
    // A UART's second stop-bit setting means one and a half with 5 data bits and two with 6
    // to 8, so one and a half exists only with 5 data bits and two only with 6 to 8.
    case kOne5StopBits:
        return s.byteSize == 5;
    case kTwoStopBits:
        return s.byteSize != 5;
    default:
        return false;
    }
}

bool ApplyLineSettings(int fd, const LineSettings& s) {
    if (!LineSettingsValid(s)) {
        return false;
    }
    termios2 original{};
    if (::ioctl(fd, TCGETS2, &original) != 0) {
        return false;
    }
    termios2 wanted = original;

    // Raw bytes both ways. Reads only ever ask for bytes already waiting; VMIN 1 makes a read
    // of 0 bytes mean end of file (a hung-up line), never "nothing yet".
    wanted.c_iflag &= ~kRawInputOff;
    wanted.c_oflag &= ~OPOST;
    wanted.c_lflag &= ~kRawLocalOff;
    wanted.c_cc[VMIN] = 1;
    wanted.c_cc[VTIME] = 0;
    // The instrument's line carries no carrier: modem-status lines must neither block the open
    // nor hang the line up.
    wanted.c_cflag |= CREAD | CLOCAL;

    const unsigned code = SpeedCode(s.baud);
    wanted.c_cflag &= ~(CBAUD | CIBAUD);
    wanted.c_cflag |= code | (code << IBSHIFT);
    wanted.c_ospeed = s.baud;
    wanted.c_ispeed = s.baud;

    wanted.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    wanted.c_cflag |= CharacterSize(s.byteSize) | ParityFlags(s.parity);
    if (s.stopBits != kOneStopBit) {
        wanted.c_cflag |= CSTOPB;
    }
    ApplyFlowKind(wanted, s.flowKind);

    if (::ioctl(fd, TCSETS2, &wanted) != 0) {
        return false;
    }
    // TCSETS2 succeeds when any part of the request took effect; what the driver refused
    // shows only in what it reports back.
    termios2 actual{};
    if (::ioctl(fd, TCGETS2, &actual) != 0 || !Taken(wanted, actual)) {
        ::ioctl(fd, TCSETS2, &original);
        return false;
    }
    return true;
}

} // namespace dielmon
