// Frame format of the instrument's line protocol and the reassembly of received frames.
// The core library needs neither a window nor a port: nothing under core/ may include Qt
// or platform headers beyond POSIX.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dielmon {

inline constexpr std::uint8_t kFrameStart = 0x24; // "$"
inline constexpr std::uint8_t kFrameEnd = 0x2A;   // "*"
inline constexpr int kFrameOverhead = 5;          // "$", code, length, check byte, "*"
inline constexpr int kMaxFrameLength = 255 + kFrameOverhead;
inline constexpr int kRecvBufSize = 2048;
inline constexpr int kOutFrameBufSize = 256;

// The check byte of a frame of total length `length` (N + 5): the sum of frame[1] through
// frame[length - 3], modulo 256. Nothing is summed for a length below 4.
std::uint8_t CalcCheckCode(const std::uint8_t* frame, int length);

// A complete frame with its markers, length byte and correct check byte.
std::vector<std::uint8_t> BuildFrame(std::uint8_t code, const std::uint8_t* payload, int n);
std::vector<std::uint8_t> BuildFrame(std::uint8_t code, const std::vector<std::uint8_t>& payload);

// Receives each complete frame cut out of the stream. The frame is valid only during the call.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void FrameReady(const std::uint8_t* frame, int length) = 0;
};

// The reassembly of received chunks into frames. A frame is a "$" whose end marker stands
// exactly N + 4 bytes further on; check bytes are not examined. Buffers are fixed; nothing is
// allocated. A chunk that does not fit into the room left is taken in pieces, each scanned
// before the next, so that no byte of a frame is lost however much arrives at once; only when
// the buffer is full of bytes that can start no frame do the oldest of them give way.
class Reassembler {
public:
    // Appends a chunk (any number of bytes) and hands every frame it completes to the sink,
    // one at a time and in order.
    void Feed(const std::uint8_t* data, int count, FrameSink& sink);

    int RecvLen() const { return RecvLen_; }
    const std::uint8_t* RecvBuf() const { return RecvBuf_; }
    // Bytes dropped so far because the buffer was full of bytes that could start no frame.
    std::uint64_t OverflowDropped() const { return OverflowDropped_; }
    void Clear() { RecvLen_ = 0; }

private:
    // Hands over every complete frame in the buffer and drops what can start none.
    void Scan(FrameSink& sink);
    void Discard(int count);

    std::uint8_t RecvBuf_[kRecvBufSize] = {};
    int RecvLen_ = 0;
    std::uint8_t FrameBuf_[kRecvBufSize] = {};
    int FrameLen_ = 0;
    std::uint64_t OverflowDropped_ = 0;
};

// Trace texts of the debug log: "发出：" followed by "XX " for each byte (ends with a space),
// and "收到" followed by " XX" for each byte.
std::string SentTraceText(const std::uint8_t* data, int count);
std::string ReceivedTraceText(const std::uint8_t* data, int count);

// Upper-case hexadecimal pairs separated by single spaces, without a trailing space.
std::string HexPairs(const std::uint8_t* data, int count);

} // namespace dielmon
