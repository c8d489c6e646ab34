#include "serial/commreceive.h"

#include "core/frame.h"
#include "core/log.h"
#include "eventloop.h"
#include "logfile.h"
#include "pty.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

using namespace dielmon;
using namespace dielmon::test;

namespace {

// The bytes a "received" trace text spells, or nothing when the text is not one.
std::optional<Bytes> ReceivedBytes(const std::string& text) {
    const std::string head = "收到";
    if (text.compare(0, head.size(), head) != 0) {
        return std::nullopt;
    }
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    Bytes bytes;
    for (std::size_t i = head.size(); i < text.size(); i += 3) {
        if (text.size() - i < 3 || text[i] != ' ' || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

// The bytes of all "received" lines of the log, in order.
Bytes LoggedBytes(const DebugLog& log) {
    Bytes all;
    for (const std::string& text : LogTexts(log.LogFileName())) {
        if (const auto bytes = ReceivedBytes(text)) {
            all.insert(all.end(), bytes->begin(), bytes->end());
        }
    }
    return all;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
}

struct Collect : FrameSink {
    void FrameReady(const std::uint8_t* frame, int length) override {
        frames.emplace_back(frame, frame + length);
    }
    std::vector<Bytes> frames;
};

// Counts the chunks the reader hands to the receiver behind it.
struct ChunkCounter : ReceiveHandler {
    explicit ChunkCounter(ReceiveHandler& inner) : inner(inner) {}
    void Receive(const std::uint8_t* data, int count) override {
        ++chunks;
        inner.Receive(data, count);
    }
    void CancelHandOver() override { inner.CancelHandOver(); }
    void LineLost() override { inner.LineLost(); }

    ReceiveHandler& inner;
    std::atomic<int> chunks{0};
};

// Streams numbered frames (payload: the number, big-endian) into the master side until
// stopped, waiting whenever the line is full.
class FrameStreamer {
public:
    explicit FrameStreamer(int master) : thread_([this, master] { Run(master); }) {}
    ~FrameStreamer() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void Run(int master) {
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        std::uint32_t number = 0;
        Bytes pending;
        while (!stop_) {
            if (pending.empty()) {
                pending = BuildFrame(0x2C, Bytes{static_cast<std::uint8_t>(number >> 24),
                                                 static_cast<std::uint8_t>(number >> 16),
                                                 static_cast<std::uint8_t>(number >> 8),
                                                 static_cast<std::uint8_t>(number)});
                ++number;
            }
            const ssize_t n = ::write(master, pending.data(), pending.size());
            if (n > 0) {
                pending.erase(pending.begin(), pending.begin() + n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::uint32_t FrameNumber(const Bytes& f) {
    return f.size() == 9 ? (std::uint32_t{f[3]} << 24 | std::uint32_t{f[4]} << 16 |
                            std::uint32_t{f[5]} << 8 | f[6])
                         : 0xFFFFFFFF;
}

} // namespace

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

TEST(CommReceive, FramesSplitAndMixedWithNoiseArriveWholeInOrderAfterTheirChunkIsTraced) {
    TempFolder home;
    DebugLog log(home.Home());
    EventLoop window;
    struct Handed {
        Bytes frame;
        std::size_t loggedBytes; // bytes in "received" lines when the frame was handed over
        std::thread::id thread;
    };
    std::mutex lock;
    std::vector<Handed> handed;
    std::vector<std::string> traced;
    FrameHandOver handOver(window.Poster(), [&](const std::uint8_t* f, int n) {
        const std::size_t logged = LoggedBytes(log).size();
        std::lock_guard<std::mutex> guard(lock);
        handed.push_back({Bytes(f, f + n), logged, std::this_thread::get_id()});
    });
    TCommReceiver receiver(log, handOver);
    receiver.SetTrace([&](const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        traced.push_back(text);
    });
    std::atomic<bool> lineLost{false};
    receiver.SetLineLost([&] { lineLost = true; });
    ChunkCounter counter(receiver);
    PseudoTerminal pty;
    TSerialComm comm(log);
    comm.SetReceiveCallback(&counter);
    ASSERT_TRUE(comm.Open(pty.Path(), 9600, 8, kParityNone, kOneStopBit, 0));

    const Bytes a = BuildFrame(0x1C, Pattern(17, 5));
    const Bytes b = BuildFrame(0x2C, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    const Bytes c = BuildFrame(0x3B, Bytes{});
    const Bytes d = BuildFrame(0x4D, Bytes(255, 0x2A));
    const Bytes falseStart{0x24, 0x07, 0x03, 0x99}; // its end marker would stand inside c
    const std::vector<Bytes> chunks = {
        Cat({Bytes{0x11, 0x22}, Slice(a, 0, 10)}),
        Cat({Slice(a, 10, a.size()), b, falseStart, Slice(c, 0, 2)}),
        Cat({Slice(c, 2, c.size()), Slice(d, 0, 1)}),
        Cat({Slice(d, 1, d.size()), Bytes{0x00, 0x2A}}),
    };
    Bytes stream;
    for (const Bytes& chunk : chunks) {
        pty.Write(chunk);
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        ASSERT_TRUE(WaitUntil([&] { return comm.Thread().BytesRead() == stream.size(); }));
    }
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(lock);
        return handed.size() == 4;
    }));

    std::lock_guard<std::mutex> guard(lock);
    std::size_t from = 0;
    const Bytes* expected[] = {&a, &b, &c, &d};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(handed[i].frame, *expected[i]);
        EXPECT_EQ(handed[i].thread, window.ThreadId());
        const auto at = std::search(stream.begin() + static_cast<std::ptrdiff_t>(from),
                                    stream.end(), expected[i]->begin(), expected[i]->end());
        from = static_cast<std::size_t>(at - stream.begin()) + expected[i]->size();
        EXPECT_GE(handed[i].loggedBytes, from) << "handed over before its chunk was traced";
    }
    const std::vector<std::string> texts = LogTexts(log.LogFileName());
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(counter.chunks.load()));
    EXPECT_GE(texts.size(), chunks.size());
    EXPECT_EQ(texts, traced);
    EXPECT_EQ(LoggedBytes(log), stream);

    pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return lineLost.load(); }));
}

TEST(CommReceive, DestroyingTheConnectionWhileAHandOverIsHeldNeitherHangsNorTouchesFreedMemory) {
    enum class Window { Busy, Slow };
    for (const Window mode : {Window::Busy, Window::Slow}) {
        SCOPED_TRACE(mode == Window::Busy ? "window busy elsewhere" : "window handling slowly");
        TempFolder home;
        DebugLog log(home.Home());
        std::mutex lock;
        std::vector<std::uint32_t> numbers;
        auto window = std::make_unique<EventLoop>(mode == Window::Slow);
        auto handOver =
            std::make_unique<FrameHandOver>(window->Poster(), [&](const std::uint8_t* f, int n) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::lock_guard<std::mutex> guard(lock);
                numbers.push_back(FrameNumber(Bytes(f, f + n)));
            });
        auto receiver = std::make_unique<TCommReceiver>(log, *handOver);
        PseudoTerminal pty;
        auto comm = std::make_unique<TSerialComm>(log);
        comm->SetReceiveCallback(receiver.get());
        ASSERT_TRUE(comm->Open(pty.Path(), 115200, 8, kParityNone, kOneStopBit, 0));
        FrameStreamer streamer(pty.Master());

        if (mode == Window::Busy) {
            ASSERT_TRUE(WaitUntil([&] { return window->Queued() >= 1; }));
        } else {
            ASSERT_TRUE(WaitUntil([&] {
                std::lock_guard<std::mutex> guard(lock);
                return numbers.size() >= 20;
            }));
        }
        comm.reset(); // returns, with the reader joined
        EXPECT_TRUE(handOver->Cancelled());
        streamer.Stop();
        receiver.reset();
        handOver.reset();
        window->RunQueuedHere(); // jobs left behind run after the hand-over is gone
        window.reset();

        std::lock_guard<std::mutex> guard(lock);
        if (mode == Window::Busy) {
            EXPECT_TRUE(numbers.empty()) << "a job reached the consumer after the cancel";
        }
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            ASSERT_EQ(numbers[i], i) << "frames lost, repeated or torn";
        }
    }
}

TEST(CommReceive, ChunksOfAnySizeAreTracedAndFedWithoutHarm) {
    TempFolder home;
    DebugLog log(home.Home());
    Collect sink;
    TCommReceiver receiver(log, sink);
    const Bytes frame = BuildFrame(0x1A, Bytes{9, 8, 7});
    receiver.CommReceive(nullptr, 5);
    receiver.CommReceive(frame.data(), 0);
    receiver.CommReceive(frame.data(), -1);
    EXPECT_TRUE(LogTexts(log.LogFileName()).empty());
    EXPECT_TRUE(sink.frames.empty());

    // larger than the receive buffer: traced whole, and the newest bytes still hold the frame
    const Bytes big = Cat({Bytes(3000, 0x55), frame});
    receiver.CommReceive(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(LoggedBytes(log), big);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], frame);
    receiver.CancelHandOver(); // nothing to cancel with a plain sink
    receiver.LineLost();       // nobody to tell
}
