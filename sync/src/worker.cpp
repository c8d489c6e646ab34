#include "sync/worker.h"

#include "postgres.h"

#include <condition_variable>
#include <mutex>
#include <random>
#include <sys/eventfd.h>
#include <unistd.h>

namespace dielmon::sync {

using SteadyClock = std::chrono::steady_clock;

// Everything the thread uses; it keeps its own reference, so that a thread left to end on its
// own touches nothing that went away.
struct SyncWorker::Shared {
    explicit Shared(Options o) : Opts(std::move(o)), StopFd(::eventfd(0, EFD_CLOEXEC)) {}
    ~Shared() {
        if (StopFd >= 0) {
            ::close(StopFd);
        }
    }

    const Options Opts;
    const int StopFd;

    mutable std::mutex Lock; // guards everything below, and is never held across work
    std::condition_variable Wake;
    bool Stop = false;
    bool Requested = false; // SyncNow, SetServer, or the first synchronisation
    bool Count = false;     // LocalChange: count the waiting results
    bool Finished = false;
    std::string Server;
    std::optional<SteadyPoint> Due;
    SyncStatus Status;

    std::mutex CallbackLock; // held while Changed runs
    bool CallbacksOff = false;

    void Notify() {
        std::lock_guard<std::mutex> guard(CallbackLock);
        if (!CallbacksOff && Opts.Changed) {
            Opts.Changed();
        }
    }

    void Run();
};

namespace {

// The wait after `failures` failed attempts in a row: FirstRetry doubled each time up to
// LongestRetry, then ±20 %.
std::chrono::milliseconds RetryAfter(const SyncWorker::Options& o, int failures,
                                     std::mt19937& random) {
    auto base = o.FirstRetry;
    for (int k = 1; k < failures && base < o.LongestRetry; ++k) {
        base *= 2;
    }
    base = std::min(base, o.LongestRetry);
    std::uniform_real_distribution<double> jitter(0.8, 1.2);
    return std::chrono::milliseconds(
        static_cast<std::int64_t>(static_cast<double>(base.count()) * jitter(random)));
}

} // namespace

void SyncWorker::Shared::Run() {
    std::mt19937 random(std::random_device{}());
    const Clock& clock = Opts.Time != nullptr ? *Opts.Time : DefaultClock();
    SyncOptions syncOptions = Opts.Sync;
    syncOptions.StopFd = StopFd;
    std::unique_ptr<archive::Archive> store;
    std::string storeError;
    auto open = [&] {
        if (!store) {
            archive::Opened opened = archive::Archive::Open(Opts.ArchivePath);
            store = std::move(opened.Store);
            storeError = opened.Error;
        }
        return store != nullptr;
    };

    std::unique_lock<std::mutex> lock(Lock);
    while (!Stop) {
        const bool due = Requested || (Due && SteadyClock::now() >= *Due);
        if (!due && !Count) {
            if (Due) {
                Wake.wait_until(lock, *Due);
            } else {
                Wake.wait(lock);
            }
            continue;
        }
        Requested = false;
        Count = false;
        const std::string server = Server;
        const bool syncing = due && !server.empty();
        Status.Configured = !server.empty();
        if (due && server.empty()) {
            Due.reset();
            Status.NextAttempt.reset();
            Status.LastFailure = Failure::NotConfigured;
            Status.LastError = detail::Describe(Failure::NotConfigured, "");
        }
        Status.Running = syncing;
        lock.unlock();
        Notify();

        SyncReport report;
        std::optional<std::int64_t> waiting;
        if (!open()) {
            report.Kind = Failure::Local;
            report.Error = detail::Describe(Failure::Local, storeError);
        } else {
            if (syncing) {
                report = SyncEngine(*store, server, syncOptions).Run();
            }
            const auto counted = store->CountUnpushed();
            if (counted.Ok()) {
                waiting = counted.Value;
            }
        }

        lock.lock();
        Status.Running = false;
        if (waiting) {
            Status.Waiting = *waiting;
        }
        if (syncing || (!report.Ok() && report.Kind == Failure::Local)) {
            if (syncing) {
                ++Status.Attempts;
                Status.Last = report;
            }
            if (report.Ok()) {
                Status.FailuresInARow = 0;
                Status.LastFailure = Failure::None;
                Status.LastError.clear();
                Status.LastSuccess = clock.Now();
                Due = SteadyClock::now() + Opts.Period;
            } else if (report.Kind != Failure::Stopped) {
                ++Status.FailuresInARow;
                Status.LastFailure = report.Kind;
                Status.LastError = report.Error;
                Due = SteadyClock::now() + RetryAfter(Opts, Status.FailuresInARow, random);
            }
            Status.NextAttempt = Due;
        }
        lock.unlock();
        Notify();
        lock.lock();
    }
    Finished = true;
    lock.unlock();
    Wake.notify_all();
}

SyncWorker::SyncWorker(Options options) : Shared_(std::make_shared<Shared>(std::move(options))) {
    Shared_->Server = Shared_->Opts.Server;
    Shared_->Status.Configured = !Shared_->Server.empty();
    Shared_->Requested = true;
    Thread_ = std::thread([shared = Shared_] { shared->Run(); });
}

SyncWorker::~SyncWorker() {
    {
        std::lock_guard<std::mutex> guard(Shared_->CallbackLock);
        Shared_->CallbacksOff = true;
    }
    {
        std::lock_guard<std::mutex> guard(Shared_->Lock);
        Shared_->Stop = true;
    }
    Shared_->Wake.notify_all();
    if (Shared_->StopFd >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(Shared_->StopFd, &one, sizeof one);
    }
    bool finished;
    {
        std::unique_lock<std::mutex> lock(Shared_->Lock);
        finished = Shared_->Wake.wait_for(lock, Shared_->Opts.StopWait,
                                          [this] { return Shared_->Finished; });
    }
    if (finished) {
        Thread_.join();
    } else {
        Thread_.detach();
    }
}

void SyncWorker::SyncNow() {
    {
        std::lock_guard<std::mutex> guard(Shared_->Lock);
        Shared_->Requested = true;
    }
    Shared_->Wake.notify_all();
}

void SyncWorker::LocalChange() {
    {
        std::lock_guard<std::mutex> guard(Shared_->Lock);
        Shared_->Count = true;
        if (!Shared_->Server.empty() && Shared_->Status.FailuresInARow == 0) {
            const SteadyPoint soon = SteadyClock::now() + Shared_->Opts.AfterChange;
            if (!Shared_->Due || soon < *Shared_->Due) {
                Shared_->Due = soon;
                Shared_->Status.NextAttempt = soon;
            }
        }
    }
    Shared_->Wake.notify_all();
}

void SyncWorker::SetServer(const std::string& server) {
    {
        std::lock_guard<std::mutex> guard(Shared_->Lock);
        Shared_->Server = server;
        Shared_->Status.Configured = !server.empty();
        Shared_->Status.FailuresInARow = 0;
        Shared_->Requested = true;
    }
    Shared_->Wake.notify_all();
}

SyncStatus SyncWorker::Status() const {
    std::lock_guard<std::mutex> guard(Shared_->Lock);
    return Shared_->Status;
}

} // namespace dielmon::sync
