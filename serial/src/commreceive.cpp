#include "serial/commreceive.h"

#include "core/log.h"

#if defined(__SANITIZE_THREAD__)
#define DIELMON_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DIELMON_TSAN 1
#endif
#endif
#ifdef DIELMON_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace dielmon {

namespace {

// The post function's queue (the window's event loop) orders a job after everything the
// reader did before posting it, through locks inside a toolkit that ThreadSanitizer cannot
// see. These two calls state that order where it is relied on; they do nothing elsewhere.
#ifdef DIELMON_TSAN
char PostOrder;
#endif

void PostedAfterThis() {
#ifdef DIELMON_TSAN
    __tsan_release(&PostOrder);
#endif
}

void RunsAfterItsPost() {
#ifdef DIELMON_TSAN
    __tsan_acquire(&PostOrder);
#endif
}

} // namespace

FrameHandOver::FrameHandOver(Post post, Consumer consumer)
    : FShared(std::make_shared<Shared>()), FPost(std::move(post)) {
    FShared->consumer = std::move(consumer);
}

FrameHandOver::~FrameHandOver() {
    Cancel();
}

void FrameHandOver::FrameReady(const std::uint8_t* frame, int length) {
    if (frame == nullptr || length <= 0 || Cancelled()) {
        return;
    }
    if (FBatching) {
        FBatch.emplace_back(frame, frame + length);
        return;
    }
    HandOver({std::vector<std::uint8_t>(frame, frame + length)});
}

void FrameHandOver::BeginBatch() {
    FBatching = true;
    FBatch.clear();
}

void FrameHandOver::EndBatch() {
    FBatching = false;
    if (!FBatch.empty()) {
        HandOver(std::move(FBatch));
    }
    FBatch.clear();
}

void FrameHandOver::HandOver(std::vector<std::vector<std::uint8_t>> frames) {
    struct Pending {
        std::vector<std::vector<std::uint8_t>> frames;
        bool done = false; // guarded by Shared::lock
    };
    auto pending = std::make_shared<Pending>();
    pending->frames = std::move(frames);
    const std::shared_ptr<Shared> shared = FShared;

    Job job = [shared, pending] {
        RunsAfterItsPost();
        for (const auto& frame : pending->frames) {
            std::unique_lock<std::mutex> lock(shared->lock);
            if (shared->cancelled) {
                return;
            }
            // Unlocked while the consumer runs: it may cancel the hand-over itself.
            lock.unlock();
            if (shared->consumer) {
                shared->consumer(frame.data(), static_cast<int>(frame.size()));
            }
        }
        std::lock_guard<std::mutex> lock(shared->lock);
        pending->done = true;
        shared->handled.notify_all();
    };
    if (FPost) {
        PostedAfterThis();
        FPost(std::move(job));
    } else {
        job();
    }

    std::unique_lock<std::mutex> lock(shared->lock);
    shared->handled.wait(lock, [&] { return pending->done || shared->cancelled; });
}

void FrameHandOver::Cancel() {
    {
        std::lock_guard<std::mutex> guard(FShared->lock);
        FShared->cancelled = true;
    }
    FShared->handled.notify_all();
}

bool FrameHandOver::Cancelled() const {
    std::lock_guard<std::mutex> guard(FShared->lock);
    return FShared->cancelled;
}

TCommReceiver::TCommReceiver(DebugLog& log, FrameSink& sink) : FLog(log), FSink(sink) {}

TCommReceiver::TCommReceiver(DebugLog& log, FrameHandOver& handOver)
    : FLog(log), FSink(handOver), FHandOver(&handOver) {}

void TCommReceiver::CommReceive(const std::uint8_t* data, int count) {
    if (data == nullptr || count <= 0) {
        return;
    }
    const std::string text = ReceivedTraceText(data, count);
    if (FTrace) {
        FTrace(text);
    }
    FLog.WriteLog(text);
    if (FHandOver != nullptr) {
        FHandOver->BeginBatch();
        FReassembler.Feed(data, count, FSink);
        FHandOver->EndBatch();
    } else {
        FReassembler.Feed(data, count, FSink);
    }
}

void TCommReceiver::CancelHandOver() {
    if (FHandOver != nullptr) {
        FHandOver->Cancel();
    }
}

void TCommReceiver::LineLost() {
    if (FOnLineLost) {
        FOnLineLost();
    }
}

} // namespace dielmon
