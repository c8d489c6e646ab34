#include "sim/simulator.h"

#include "sim/instrument.h"

#include "core/frame.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace dielmon::sim {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Pieces of a frame written with --split, and the pause between them at speed 1.
constexpr int kMaxSplitPiece = 7;
constexpr milliseconds kSplitPause{4};
constexpr int kMaxNoiseBytes = 6;
// Before hanging up, the program is given this long to read what was sent before: at least
// the settling time, for bytes still on their way into the far end's queue, and at most the
// drain time, for a far end that nobody reads.
constexpr milliseconds kHangupSettle{20};
constexpr milliseconds kHangupDrain{1000};
constexpr milliseconds kHangupRecheck{5};

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool SpeedOf(int baud, speed_t* out) {
    constexpr std::pair<int, speed_t> kSpeeds[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
        {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}};
    for (const auto& [rate, speed] : kSpeeds) {
        if (rate == baud) {
            *out = speed;
            return true;
        }
    }
    return false;
}

// Raw 8N1 without flow control, reads that never wait.
bool MakeRaw(int fd, int baud, std::string* error) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        *error = Errno("not a serial line");
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = B9600;
    if (!SpeedOf(baud, &speed)) {
        *error = "unsupported line speed " + std::to_string(baud);
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = Errno("cannot set the line");
        return false;
    }
    return true;
}

} // namespace

// The open line with what waits to be written on it. Used only by the simulator's thread
// once that has started.
struct Simulator::Line {
    struct Chunk {
        std::vector<std::uint8_t> Bytes;
        std::size_t Written = 0;
        SteadyTime NotBefore;
        int FrameCode = -1; // the frame this chunk ends, counted once written
        bool Noise = false;
        bool Hangup = false;
    };

    UniqueFd Fd;      // the pseudo-terminal's master, or the device
    UniqueFd SlaveFd; // our own hold on the far end, so that the program may close and reopen it
    std::deque<Chunk> Pending;
    SteadyTime LastNotBefore{};
    std::optional<SteadyTime> HangupSince;
    std::mt19937 Random{12345};
    Reassembler Commands;

    void Close() {
        Fd.Reset();
        SlaveFd.Reset();
    }

    // Bytes written to the far end that nobody has read yet; 0 when unknown. What was just
    // written may still be on its way into the far end's input queue, where the count does not
    // see it; polling the far end first moves it there.
    int UnreadAtFarEnd() const {
        if (!SlaveFd) {
            return 0;
        }
        pollfd p{SlaveFd.Get(), POLLIN, 0};
        ::poll(&p, 1, 0);
        int n = 0;
        if (ioctl(SlaveFd.Get(), TIOCINQ, &n) != 0) {
            return 0;
        }
        return n;
    }

    int RandomIn(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(Random);
    }
};

Simulator::Simulator(SimOptions options, const Clock& wallClock)
    : Options_(std::move(options)), WallClock_(wallClock) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    if (Thread_.joinable() || Line_) {
        *error = "already started";
        return false;
    }
    auto line = std::make_unique<Line>();
    if (Options_.Device.empty()) {
        line->Fd.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!line->Fd || grantpt(line->Fd.Get()) != 0 || unlockpt(line->Fd.Get()) != 0) {
            *error = Errno("cannot create a pseudo-terminal");
            return false;
        }
        char name[128] = {};
        if (ptsname_r(line->Fd.Get(), name, sizeof name) != 0) {
            *error = Errno("cannot name the pseudo-terminal");
            return false;
        }
        DevicePath_ = name;
        line->SlaveFd.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!line->SlaveFd) {
            *error = Errno("cannot open " + DevicePath_);
            return false;
        }
        // The far end's settings are those the program finds when it opens the port.
        if (!MakeRaw(line->SlaveFd.Get(), Options_.Baud, error)) {
            return false;
        }
    } else {
        DevicePath_ = Options_.Device;
        line->Fd.Reset(::open(DevicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!line->Fd) {
            *error = Errno("cannot open " + DevicePath_);
            return false;
        }
        if (!MakeRaw(line->Fd.Get(), Options_.Baud, error)) {
            return false;
        }
        tcflush(line->Fd.Get(), TCIOFLUSH);
    }
    const int flags = fcntl(line->Fd.Get(), F_GETFL);
    if (flags < 0 || fcntl(line->Fd.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = Errno("cannot make the line non-blocking");
        return false;
    }
    WakeFd_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!WakeFd_) {
        *error = Errno("cannot create an event descriptor");
        return false;
    }
    line->Random.seed(Options_.Seed);
    SplitPause_ = std::max<steady_clock::duration>(
        milliseconds{1}, std::chrono::duration_cast<steady_clock::duration>(
                             std::chrono::duration<double, std::milli>(
                                 static_cast<double>(kSplitPause.count()) / Options_.Speed)));
    Line_ = std::move(line);
    Instrument_ = std::make_unique<Instrument>(Options_, WallClock_);
    StopRequested_ = false;
    Running_ = true;
    Thread_ = std::thread([this] { Loop(); });
    return true;
}

void Simulator::Stop() {
    if (Thread_.joinable()) {
        StopRequested_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(WakeFd_.Get(), &one, sizeof one);
        Thread_.join();
    }
    Running_ = false;
    if (Line_) {
        Line_->Close();
    }
    WakeFd_.Reset();
}

void Simulator::Enqueue(Output& o, SteadyTime now) {
    Line& line = *Line_;
    const SteadyTime start = std::max(now, line.LastNotBefore);
    line.LastNotBefore = start;
    if (o.Hangup) {
        line.Pending.push_back({{}, 0, start, -1, false, true});
        return;
    }
    if (Options_.Noise) {
        std::vector<std::uint8_t> noise(static_cast<std::size_t>(line.RandomIn(1, kMaxNoiseBytes)));
        for (auto& b : noise) {
            do {
                b = static_cast<std::uint8_t>(line.RandomIn(0, 255));
            } while (b == kFrameStart);
        }
        line.Pending.push_back({std::move(noise), 0, start, -1, true, false});
    }
    const int code = o.Frame[1];
    if (!Options_.Split) {
        line.Pending.push_back({std::move(o.Frame), 0, start, code, false, false});
        return;
    }
    SteadyTime at = start;
    for (std::size_t pos = 0; pos < o.Frame.size();) {
        const std::size_t n = std::min<std::size_t>(
            static_cast<std::size_t>(line.RandomIn(1, kMaxSplitPiece)), o.Frame.size() - pos);
        const bool last = pos + n == o.Frame.size();
        line.Pending.push_back(
            {std::vector<std::uint8_t>(o.Frame.begin() + pos, o.Frame.begin() + pos + n), 0, at,
             last ? code : -1, false, false});
        line.LastNotBefore = at;
        pos += n;
        at += SplitPause_;
    }
}

Simulator::Flushed Simulator::Flush(SteadyTime now) {
    Line& line = *Line_;
    while (!line.Pending.empty() && line.Pending.front().NotBefore <= now) {
        Line::Chunk& c = line.Pending.front();
        if (c.Hangup) {
            if (!line.HangupSince) {
                line.HangupSince = now;
            }
            const auto waited = now - *line.HangupSince;
            if (waited < kHangupDrain && (waited < kHangupSettle || line.UnreadAtFarEnd() > 0)) {
                return Flushed::WaitingToHangUp;
            }
            line.Close();
            HungUp_ = true;
            return Flushed::Closed;
        }
        const ssize_t n =
            ::write(line.Fd.Get(), c.Bytes.data() + c.Written, c.Bytes.size() - c.Written);
        if (n < 0) {
            return (errno == EAGAIN || errno == EINTR) ? Flushed::Blocked : Flushed::Closed;
        }
        ++Writes_;
        if (Trace_) {
            Trace_(false, c.Bytes.data() + c.Written, static_cast<int>(n));
        }
        c.Written += static_cast<std::size_t>(n);
        if (c.Written < c.Bytes.size()) {
            return Flushed::Blocked;
        }
        if (c.Noise) {
            NoiseBytes_ += c.Bytes.size();
        }
        if (c.FrameCode >= 0) {
            ++Sent_[static_cast<std::size_t>(c.FrameCode)];
            ++SentTotal_;
        }
        line.Pending.pop_front();
    }
    return Flushed::Idle;
}

void Simulator::FrameReady(const std::uint8_t* frame, int length) {
    ++Received_[frame[1]];
    ++ReceivedTotal_;
    Instrument_->Receive(frame, length, steady_clock::now());
    BadCheck_ = Instrument_->Counters().BadCheck;
}

void Simulator::Loop() {
    Line& line = *Line_;
    Instrument& instrument = *Instrument_;
    std::uint8_t buffer[kRecvBufSize];
    while (!StopRequested_) {
        SteadyTime now = steady_clock::now();
        for (Output& o : instrument.Poll(now)) {
            Enqueue(o, now);
        }
        const Flushed flushed = Flush(now);
        if (flushed == Flushed::Closed) {
            break;
        }

        std::optional<SteadyTime> wake = instrument.NextDue();
        auto earlier = [&wake](SteadyTime t) {
            if (!wake || t < *wake) {
                wake = t;
            }
        };
        if (flushed == Flushed::WaitingToHangUp) {
            earlier(now + kHangupRecheck);
        } else if (flushed == Flushed::Idle && !line.Pending.empty()) {
            earlier(line.Pending.front().NotBefore);
        }
        int timeout = -1;
        if (wake) {
            const auto left = std::chrono::ceil<milliseconds>(*wake - steady_clock::now());
            timeout = static_cast<int>(std::max<milliseconds::rep>(0, left.count()));
        }

        pollfd fds[2] = {{line.Fd.Get(),
                          static_cast<short>(POLLIN | (flushed == Flushed::Blocked ? POLLOUT : 0)),
                          0},
                         {WakeFd_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(WakeFd_.Get(), &count, sizeof count);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(line.Fd.Get(), buffer, sizeof buffer);
            if (n > 0) {
                if (Trace_) {
                    Trace_(true, buffer, static_cast<int>(n));
                }
                line.Commands.Feed(buffer, static_cast<int>(n), *this);
            } else if (n < 0 ? (errno != EAGAIN && errno != EINTR)
                             : (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
                // The line failed, or it reports its end with nothing left to read.
                break;
            }
        } else if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            // The device went away.
            break;
        }
    }
    Running_ = false;
}

} // namespace dielmon::sim
