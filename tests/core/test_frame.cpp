#include "core/frame.h"

#include "support/frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::test;

namespace {

void Feed(Reassembler& r, const Bytes& b, FrameCollector& sink) {
    r.Feed(b.data(), static_cast<int>(b.size()), sink);
}

} // namespace

TEST(Frame, ConnectCommandCarriesItsWorkedCheckByte) {
    const Bytes zeros(17, 0);
    const Bytes f = BuildFrame(0xA1, zeros);
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(f[0], 0x24);
    EXPECT_EQ(f[1], 0xA1);
    EXPECT_EQ(f[2], 0x11);
    EXPECT_EQ(f[20], 0xB2);
    EXPECT_EQ(f[21], 0x2A);
    EXPECT_EQ(CalcCheckCode(f.data(), 22), 0xB2);
}

TEST(Frame, CheckCodeSumsCodeLengthAndPayloadModulo256) {
    const Bytes f = BuildFrame(0xFF, Bytes{0xFF, 0xFF});
    EXPECT_EQ(f[5], (0xFF + 0x02 + 0xFF + 0xFF) & 0xFF);
    const std::uint8_t tiny[3] = {0x24, 0x10, 0x20};
    EXPECT_EQ(CalcCheckCode(tiny, 3), 0);
    EXPECT_EQ(CalcCheckCode(tiny, 0), 0);
    const Bytes empty = BuildFrame(0x3B, Bytes{});
    EXPECT_EQ(empty, (Bytes{0x24, 0x3B, 0x00, 0x3B, 0x2A}));
}

TEST(Frame, TraceTextsSpellEveryByteInUpperCaseHex) {
    const std::uint8_t b[] = {0x24, 0xA1, 0x0F};
    EXPECT_EQ(SentTraceText(b, 3), "发出：24 A1 0F ");
    EXPECT_EQ(ReceivedTraceText(b, 2), "收到 24 A1");
    EXPECT_EQ(HexPairs(b, 3), "24 A1 0F");
}

TEST(Reassembly, SplitMergedNoisyAndSkippedInput) {
    const Bytes a = BuildFrame(0x1C, Bytes(17, 0));
    const Bytes b = BuildFrame(0x2C, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    const Bytes empty = BuildFrame(0x3B, Bytes{});

    { // split over three chunks: delivered once, in the call with its end marker
        Reassembler r;
        FrameCollector c;
        Feed(r, Bytes(a.begin(), a.begin() + 1), c);
        Feed(r, Bytes(a.begin() + 1, a.begin() + 2), c);
        EXPECT_EQ(r.RecvLen(), 2);
        Feed(r, Bytes(a.begin() + 2, a.end() - 1), c);
        EXPECT_TRUE(c.Frames.empty());
        Feed(r, Bytes(a.end() - 1, a.end()), c);
        ASSERT_EQ(c.Frames.size(), 1u);
        EXPECT_EQ(c.Frames[0], a);
        EXPECT_EQ(r.RecvLen(), 0);
    }
    { // merged, with noise before and between
        Reassembler r;
        FrameCollector c;
        Feed(r, Cat({Bytes{0x00, 0x11}, a, Bytes{0x55}, b, empty}), c);
        ASSERT_EQ(c.Frames.size(), 3u);
        EXPECT_EQ(c.Frames[0], a);
        EXPECT_EQ(c.Frames[1], b);
        EXPECT_EQ(c.Frames[2], empty);
        EXPECT_EQ(r.RecvLen(), 0);
    }
    { // noise without "$" is dropped entirely
        Reassembler r;
        FrameCollector c;
        Feed(r, Bytes{1, 2, 3, 0x2A}, c);
        EXPECT_EQ(r.RecvLen(), 0);
    }
    { // a "$" whose end marker does not match is skipped; a later frame is still found
        Reassembler r;
        FrameCollector c;
        Bytes bad = {0x24, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00};
        Feed(r, Cat({bad, b}), c);
        ASSERT_EQ(c.Frames.size(), 1u);
        EXPECT_EQ(c.Frames[0], b);
        EXPECT_EQ(r.RecvLen(), 0);
        // without a later frame the bytes from the last skipped "$" stay
        Feed(r, Cat({Bytes{9, 9}, bad, Bytes{0x24, 0x10, 0x00, 0x01, 0x00, 7}}), c);
        EXPECT_EQ(r.RecvLen(), 6);
        EXPECT_EQ(r.RecvBuf()[0], 0x24);
    }
    { // a wrong check byte is delivered; the longest frame is delivered whole
        Reassembler r;
        FrameCollector c;
        Bytes wrong = a;
        wrong[20] ^= 0xFF;
        const Bytes longest = BuildFrame(0x4C, Bytes(255, 0x24));
        Feed(r, Cat({wrong, longest}), c);
        ASSERT_EQ(c.Frames.size(), 2u);
        EXPECT_EQ(c.Frames[0], wrong);
        EXPECT_EQ(c.Frames[1].size(), 260u);
    }
    { // cut within frames: a "$" whose end marker would stand inside the next frame, and the
      // longest frame with its payload all end markers
        Reassembler r;
        FrameCollector c;
        const Bytes d = BuildFrame(0x4D, Bytes(255, 0x2A));
        const Bytes falseStart = {0x24, 0x07, 0x03, 0x99};
        const Bytes stream = Cat({Bytes{0x11, 0x22}, a, b, falseStart, empty, d, Bytes{0, 0x2A}});
        std::size_t from = 0;
        for (const std::size_t to :
             {std::size_t{12}, std::size_t{43}, std::size_t{47}, stream.size()}) {
            r.Feed(stream.data() + from, static_cast<int>(to - from), c);
            from = to;
        }
        EXPECT_EQ(c.Frames, (std::vector<Bytes>{a, b, empty, d}));
    }
}

TEST(Reassembly, NeverWritesPastItsBufferAndDropsTheOldestBytes) {
    Reassembler r;
    FrameCollector c;
    // "$" announcing 255 bytes followed by noise without "$": kept while it may still match
    Bytes chunk(2048, 0x11);
    chunk[0] = 0x24;
    chunk[2] = 0x00;
    Feed(r, chunk, c);
    EXPECT_EQ(r.RecvLen(), 2048);
    const Bytes frame = BuildFrame(0x1A, Bytes(22, 0));
    Feed(r, frame, c);
    ASSERT_EQ(c.Frames.size(), 1u);
    EXPECT_EQ(c.Frames[0], frame);
    EXPECT_EQ(r.OverflowDropped(), frame.size());
    EXPECT_EQ(r.RecvLen(), 0);
}

TEST(Reassembly, AFullChunkAfterAPartialFrameLosesNothing) {
    // 400 numbered frames of 13 bytes, as a long listing of the store arrives.
    Bytes stream;
    for (int k = 0; k < 400; ++k) {
        const Bytes f =
            BuildFrame(0x1D, Bytes{static_cast<std::uint8_t>(k >> 8),
                                   static_cast<std::uint8_t>(k & 0xFF), 0, 0, 0, 0, 0, 0});
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const auto expectAll = [&stream](const FrameCollector& c, const Reassembler& r) {
        ASSERT_EQ(c.Frames.size(), 400u);
        Bytes joined;
        for (const Bytes& f : c.Frames) {
            joined.insert(joined.end(), f.begin(), f.end());
        }
        EXPECT_EQ(joined, stream);
        EXPECT_EQ(r.OverflowDropped(), 0u);
        EXPECT_EQ(r.RecvLen(), 0);
    };
    { // full reads while a frame's start waits in the buffer
        Reassembler r;
        FrameCollector c;
        std::size_t at = 0;
        for (const std::size_t n : {std::size_t{7}, std::size_t{2048}, std::size_t{2048}}) {
            r.Feed(stream.data() + at, static_cast<int>(n), c);
            at += n;
            EXPECT_LT(r.RecvLen(), 13);
        }
        r.Feed(stream.data() + at, static_cast<int>(stream.size() - at), c);
        expectAll(c, r);
    }
    { // everything at once
        Reassembler r;
        FrameCollector c;
        Feed(r, stream, c);
        expectAll(c, r);
    }
}

TEST(Reassembly, StaleEndMarkersPastTheReceivedBytesAreNeverRead) {
    // After a delivered frame the buffer still holds its bytes beyond RecvLen; a frame of the
    // same length then lacks only its last byte, and a "*" of the old one lies just past it.
    const Bytes old = BuildFrame(0x1C, Bytes(17, 0x11));
    const Bytes next = BuildFrame(0x1C, Bytes(17, 0x22));
    {
        Reassembler r;
        FrameCollector c;
        Feed(r, old, c);
        ASSERT_EQ(c.Frames.size(), 1u);
        Feed(r, Bytes(next.begin(), next.end() - 1), c);
        ASSERT_EQ(r.RecvLen(), 21);
        ASSERT_EQ(r.RecvBuf()[r.RecvLen()], kFrameEnd) << "the stale marker is in place";
        EXPECT_EQ(c.Frames.size(), 1u) << "a frame without its last byte was delivered";
        Feed(r, Bytes(next.end() - 1, next.end()), c);
        ASSERT_EQ(c.Frames.size(), 2u);
        EXPECT_EQ(c.Frames[1], next);
        EXPECT_EQ(r.RecvLen(), 0);
    }
    { // A false "$" (noise) whose claimed end falls on such a stale "*", with a real frame
      // complete after it: no frame is made of the noise, and the real frame comes through
      // whole when the line goes on.
        Reassembler r;
        FrameCollector c;
        const Bytes real = BuildFrame(0x2C, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
        const Bytes noise = {0x24, 0x3C, static_cast<std::uint8_t>(real.size() - 1)};
        const Bytes chunk = Cat({noise, real});
        // A delivered frame one byte longer than the chunk leaves its "*" just past it.
        const Bytes longer = BuildFrame(0x1D, Bytes(chunk.size() + 1 - 5, 0x33));
        Feed(r, longer, c);
        ASSERT_EQ(c.Frames.size(), 1u);
        Feed(r, chunk, c);
        ASSERT_EQ(static_cast<std::size_t>(r.RecvLen()), chunk.size());
        ASSERT_EQ(r.RecvBuf()[r.RecvLen()], kFrameEnd) << "the stale marker is in place";
        ASSERT_EQ(noise.size() + noise[2] + 1, chunk.size()) << "the claimed end is on it";
        for (std::size_t k = 1; k < c.Frames.size(); ++k) {
            EXPECT_NE(c.Frames[k][1], 0x3C) << "a frame was made of the noise";
        }
        const Bytes after = BuildFrame(0x3C, Bytes(12, 0x44));
        Feed(r, after, c);
        EXPECT_EQ(c.Frames, (std::vector<Bytes>{longer, real, after}));
        EXPECT_EQ(r.RecvLen(), 0);
    }
}
