// The program's receive path on the reader thread: trace each chunk, cut the frames out of the
// stream, and hand each frame over to the window's thread, waiting until it has been handled.
#pragma once

#include "core/frame.h"
#include "serial/serialcomm.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dielmon {

class DebugLog;

// Hands each frame to a consumer on another thread and blocks the reader until the consumer
// has handled it, so that frames are handled one at a time and in order. `post` queues a job
// on the consumer's thread (the window posts a queued call into its event loop); without a
// post function the job runs at once. A job that is never run keeps the reader waiting until
// the hand-over is cancelled. Once cancelled, a waiting reader is let go, later frames are
// dropped, and jobs still queued do nothing; they hold nothing of the hand-over itself, so
// they may run after it is gone.
class FrameHandOver : public FrameSink {
public:
    using Job = std::function<void()>;
    using Post = std::function<void(Job)>;
    using Consumer = std::function<void(const std::uint8_t* frame, int length)>;

    FrameHandOver(Post post, Consumer consumer);
    ~FrameHandOver() override; // cancels

    // On the reader thread: copies the frame, posts it and waits for the consumer. Between
    // BeginBatch and EndBatch the frame is only kept; EndBatch posts the frames kept as one job
    // that hands them to the consumer one after the other, in order, and waits for it. The
    // frames of one read thus cost one trip through the consumer's event loop instead of one
    // each, while the consumer still sees one frame at a time.
    void FrameReady(const std::uint8_t* frame, int length) override;
    void BeginBatch();
    void EndBatch();

    // From any thread. A consumer already running is not waited for.
    void Cancel();
    bool Cancelled() const;

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable handled;
        bool cancelled = false;
        Consumer consumer;
    };

    // Posts the frames as one job and waits until it has run or the hand-over is cancelled.
    void HandOver(std::vector<std::vector<std::uint8_t>> frames);

    std::shared_ptr<Shared> FShared;
    Post FPost;
    bool FBatching = false; // reader thread only
    std::vector<std::vector<std::uint8_t>> FBatch;
};

// CommReceive as a receive callback: traces every chunk as a "received" line, then feeds the
// reassembly, which passes each complete frame to the sink before the next one is cut.
class TCommReceiver : public ReceiveHandler {
public:
    using Trace = std::function<void(const std::string& text)>;

    // `log` and `sink` must outlive the receiver.
    TCommReceiver(DebugLog& log, FrameSink& sink);
    // With a hand-over as the sink, CancelHandOver cancels it.
    TCommReceiver(DebugLog& log, FrameHandOver& handOver);

    // The developer's trace channel: gets each "received" text as the log does (none by
    // default). Set it, and OnLineLost, before the port is opened; the reader thread calls them.
    void SetTrace(Trace trace) { FTrace = std::move(trace); }
    // Called on the reader thread when the open port's device has gone.
    void SetLineLost(std::function<void()> onLineLost) { FOnLineLost = std::move(onLineLost); }

    // Traces the chunk (trace channel and log) before any frame of it is handed over, then
    // feeds it to the reassembly.
    void CommReceive(const std::uint8_t* data, int count);

    void Receive(const std::uint8_t* data, int count) override { CommReceive(data, count); }
    void CancelHandOver() override;
    void LineLost() override;

    // The reassembly state, for the reader thread or when the reader is stopped.
    const Reassembler& Reassembly() const { return FReassembler; }

private:
    DebugLog& FLog;
    FrameSink& FSink;
    FrameHandOver* FHandOver = nullptr;
    Reassembler FReassembler;
    Trace FTrace;
    std::function<void()> FOnLineLost;
};

} // namespace dielmon
