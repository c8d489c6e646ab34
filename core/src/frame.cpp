#include "core/frame.h"

#include <algorithm>
#include <cstring>

namespace dielmon {

std::uint8_t CalcCheckCode(const std::uint8_t* frame, int length) {
    unsigned sum = 0;
    for (int i = 1; i <= length - 3; ++i) {
        sum += frame[i];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t code, const std::uint8_t* payload, int n) {
    n = std::clamp(n, 0, 255);
    std::vector<std::uint8_t> f(static_cast<std::size_t>(n) + kFrameOverhead, 0);
    f[0] = kFrameStart;
    f[1] = code;
    f[2] = static_cast<std::uint8_t>(n);
    if (n > 0) {
        std::memcpy(f.data() + 3, payload, static_cast<std::size_t>(n));
    }
    f[static_cast<std::size_t>(n) + 3] = CalcCheckCode(f.data(), n + kFrameOverhead);
    f[static_cast<std::size_t>(n) + 4] = kFrameEnd;
    return f;
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t code, const std::vector<std::uint8_t>& payload) {
    return BuildFrame(code, payload.data(), static_cast<int>(payload.size()));
}

void Reassembler::Discard(int count) {
    // memmove is the overlapping-safe move of the bytes that stay.
    if (count >= RecvLen_) {
        RecvLen_ = 0;
        return;
    }
    std::memmove(RecvBuf_, RecvBuf_ + count, static_cast<std::size_t>(RecvLen_ - count));
    RecvLen_ -= count;
}

void Reassembler::Feed(const std::uint8_t* data, int count, FrameSink& sink) {
    // A chunk larger than the room left is taken in pieces, each scanned before the next is
    // appended: the scan hands over the frames a piece completes and frees their room, so a
    // full read never pushes out the start of a frame that it completes. A buffer still full
    // after a scan holds a "$" whose end marker did not match and no other "$": nothing in it
    // can start a frame, and its oldest bytes give way.
    while (count > 0) {
        int piece = std::min(count, kRecvBufSize - RecvLen_);
        if (piece == 0) {
            piece = std::min(count, kRecvBufSize);
            OverflowDropped_ += static_cast<std::uint64_t>(piece);
            Discard(piece);
        }
        std::memcpy(RecvBuf_ + RecvLen_, data, static_cast<std::size_t>(piece));
        RecvLen_ += piece;
        Scan(sink);
        data += piece;
        count -= piece;
    }
}

void Reassembler::Scan(FrameSink& sink) {
    int i = 0;
    int pending = -1; // the last "$" whose end marker did not match
    for (;;) {
        if (i >= RecvLen_) {
            break;
        }
        if (RecvBuf_[i] != kFrameStart) {
            ++i;
            continue;
        }
        pending = i;
        if (RecvLen_ - i < 3) {
            Discard(i); // incomplete: wait for the next chunk
            return;
        }
        const int n = RecvBuf_[i + 2];
        const int e = i + n + 4;
        if (e >= RecvLen_) {
            Discard(i);
            return;
        }
        if (RecvBuf_[e] != kFrameEnd) {
            ++i;
            continue;
        }
        FrameLen_ = n + kFrameOverhead;
        std::memcpy(FrameBuf_, RecvBuf_ + i, static_cast<std::size_t>(FrameLen_));
        sink.FrameReady(FrameBuf_, FrameLen_);
        Discard(e + 1);
        if (RecvLen_ == 0) {
            return;
        }
        i = 0;
        pending = -1;
    }
    if (pending < 0) {
        RecvLen_ = 0;
    } else {
        Discard(pending);
    }
}

namespace {
const char kHex[] = "0123456789ABCDEF";
}

std::string SentTraceText(const std::uint8_t* data, int count) {
    count = std::max(count, 0);
    std::string s = "发出：";
    s.reserve(s.size() + static_cast<std::size_t>(count) * 3);
    for (int k = 0; k < count; ++k) {
        s += kHex[data[k] >> 4];
        s += kHex[data[k] & 0xF];
        s += ' ';
    }
    return s;
}

std::string ReceivedTraceText(const std::uint8_t* data, int count) {
    count = std::max(count, 0);
    std::string s = "收到";
    s.reserve(s.size() + static_cast<std::size_t>(count) * 3);
    for (int k = 0; k < count; ++k) {
        s += ' ';
        s += kHex[data[k] >> 4];
        s += kHex[data[k] & 0xF];
    }
    return s;
}

std::string HexPairs(const std::uint8_t* data, int count) {
    count = std::max(count, 0);
    std::string s;
    s.reserve(static_cast<std::size_t>(count) * 3);
    for (int k = 0; k < count; ++k) {
        if (k > 0) {
            s += ' ';
        }
        s += kHex[data[k] >> 4];
        s += kHex[data[k] & 0xF];
    }
    return s;
}

} // namespace dielmon
