// The reassembly of received chunks. The input is the byte stream (taken from the front) and
// the size of each chunk (taken from the back), so that the same bytes reach the reassembly
// cut in many ways.
#include "check.h"
#include "core/frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

using namespace dielmon;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Collect : FrameSink {
    std::vector<Bytes> Frames;
    void FrameReady(const std::uint8_t* frame, int length) override {
        // A frame is a "$" with its end marker exactly N + 4 bytes further on.
        FUZZ_CHECK(length >= kFrameOverhead && length <= kMaxFrameLength);
        FUZZ_CHECK(frame[0] == kFrameStart);
        FUZZ_CHECK(frame[length - 1] == kFrameEnd);
        FUZZ_CHECK(length == frame[2] + kFrameOverhead);
        Frames.emplace_back(frame, frame + length);
    }
};

// After every call the buffer holds nothing, or the bytes from a "$" on that waits for more.
void CheckRest(const Reassembler& r) {
    FUZZ_CHECK(r.RecvLen() >= 0 && r.RecvLen() <= kRecvBufSize);
    FUZZ_CHECK(r.RecvLen() == 0 || r.RecvBuf()[0] == kFrameStart);
}

// Each chunk in a heap block of its own size, so that any read past it is caught.
void FeedChunk(Reassembler& r, const std::uint8_t* data, int count, Collect& sink) {
    std::vector<std::uint8_t> chunk(data, data + count);
    r.Feed(chunk.data(), count, sink);
    CheckRest(r);
}

struct Outcome {
    std::vector<Bytes> Frames;
    Bytes Rest;
    std::uint64_t Dropped = 0;
};

Outcome Finish(const Reassembler& r, Collect& sink) {
    return {std::move(sink.Frames), Bytes(r.RecvBuf(), r.RecvBuf() + r.RecvLen()),
            r.OverflowDropped()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Bytes stream;
    Reassembler chunked;
    Collect chunkedSink;
    while (in.remaining_bytes() > 0) {
        // Most chunks are as short as the reader thread sees them; a few are oversized.
        const int limit = in.ConsumeBool() ? 64 : kRecvBufSize + 64;
        const int want = in.ConsumeIntegralInRange<int>(1, limit);
        const Bytes chunk = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(want));
        if (chunk.empty()) {
            break;
        }
        FeedChunk(chunked, chunk.data(), static_cast<int>(chunk.size()), chunkedSink);
        stream.insert(stream.end(), chunk.begin(), chunk.end());
    }
    const Outcome split = Finish(chunked, chunkedSink);
    if (split.Dropped != 0) {
        // Dropping the oldest bytes depends on where the chunks were cut.
        return 0;
    }

    // Without an overflow the cuts must not matter: one byte at a time, the least the buffer
    // can hold at any moment, gives the same frames and keeps the same bytes.
    Reassembler single;
    Collect singleSink;
    for (std::size_t k = 0; k < stream.size(); ++k) {
        FeedChunk(single, stream.data() + k, 1, singleSink);
    }
    const Outcome bytewise = Finish(single, singleSink);
    FUZZ_CHECK(bytewise.Dropped == 0);
    FUZZ_CHECK(bytewise.Frames == split.Frames);
    FUZZ_CHECK(bytewise.Rest == split.Rest);

    if (!stream.empty() && stream.size() <= static_cast<std::size_t>(kRecvBufSize)) {
        Reassembler whole;
        Collect wholeSink;
        FeedChunk(whole, stream.data(), static_cast<int>(stream.size()), wholeSink);
        const Outcome once = Finish(whole, wholeSink);
        FUZZ_CHECK(once.Dropped == 0);
        FUZZ_CHECK(once.Frames == split.Frames);
        FUZZ_CHECK(once.Rest == split.Rest);
    }
    return 0;
}
