#include "serial/commreceive.h"

#include "core/log.h"
#include "support/log.h"
#include "support/tempdir.h"
#include "support/threads.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace dielmon;
using namespace dielmon::test;

TEST(FrameHandOver, WaitsForTheConsumerAndLetsTheReaderGoWhenCancelled) {
    const Bytes frame = BuildFrame(0x1A, Bytes{1, 2, 3});
    const int length = static_cast<int>(frame.size());
    std::atomic<int> handled{0};
    const auto count = [&](const std::uint8_t* f, int n) {
        EXPECT_EQ(Bytes(f, f + n), frame);
        ++handled;
    };

    { // the reader returns only once the window's thread has handled the frame
        EventLoop window;
        std::thread::id where;
        FrameHandOver handOver(window.Poster(), [&](const std::uint8_t* f, int n) {
            count(f, n);
            where = std::this_thread::get_id();
        });
        handOver.FrameReady(frame.data(), length);
        EXPECT_EQ(handled.load(), 1);
        EXPECT_EQ(where, window.ThreadId());
    }
    { // without a post function, or with one that runs the job at once, on the reader's thread
        handled = 0;
        FrameHandOver direct(nullptr, count);
        direct.FrameReady(frame.data(), length);
        FrameHandOver inlined([](FrameHandOver::Job job) { job(); }, count);
        inlined.FrameReady(frame.data(), length);
        EXPECT_EQ(handled.load(), 2);
        // nonsense is dropped
        direct.FrameReady(nullptr, 5);
        direct.FrameReady(frame.data(), 0);
        direct.FrameReady(frame.data(), -1);
        EXPECT_EQ(handled.load(), 2);
    }
    { // held by a busy window: cancelling lets the reader go; queued jobs never reach the
      // consumer, even when they run after the hand-over is gone
        handled = 0;
        EventLoop window(false);
        auto handOver = std::make_unique<FrameHandOver>(window.Poster(), count);
        std::atomic<bool> returned{false};
        std::thread reader([&] {
            handOver->FrameReady(frame.data(), length);
            returned = true;
        });
        ASSERT_TRUE(WaitUntil([&] { return window.Queued() == 1; }));
        EXPECT_FALSE(returned.load());
        handOver->Cancel();
        EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
        reader.join();
        handOver->FrameReady(frame.data(), length);
        EXPECT_EQ(window.Queued(), 1u) << "a frame was posted after the cancel";
        handOver.reset();
        window.RunQueuedHere();
        EXPECT_EQ(handled.load(), 0);
    }
    { // the consumer may cancel the hand-over that called it (the window closing)
        handled = 0;
        EventLoop window;
        FrameHandOver* self = nullptr;
        FrameHandOver handOver(window.Poster(), [&](const std::uint8_t* f, int n) {
            count(f, n);
            self->Cancel();
        });
        self = &handOver;
        handOver.FrameReady(frame.data(), length);
        EXPECT_EQ(handled.load(), 1);
        EXPECT_TRUE(handOver.Cancelled());
    }
}

TEST(CommReceive, ChunksOfAnySizeAreTracedAndFedWithoutHarm) {
    TempDir home;
    DebugLog log(home.Home());
    FrameCollector sink;
    TCommReceiver receiver(log, sink);
    const Bytes frame = BuildFrame(0x1A, Bytes{9, 8, 7});
    receiver.CommReceive(nullptr, 5);
    receiver.CommReceive(frame.data(), 0);
    receiver.CommReceive(frame.data(), -1);
    EXPECT_TRUE(LogTexts(log.LogFileName()).empty());
    EXPECT_TRUE(sink.Frames.empty());

    // larger than the receive buffer: traced whole, and the newest bytes still hold the frame
    const Bytes big = Cat({Bytes(3000, 0x55), frame});
    receiver.CommReceive(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(LoggedBytes(log.LogFileName()), big);
    ASSERT_EQ(sink.Frames.size(), 1u);
    EXPECT_EQ(sink.Frames[0], frame);
    receiver.CancelHandOver(); // nothing to cancel with a plain sink
    receiver.LineLost();       // nobody to tell
}
