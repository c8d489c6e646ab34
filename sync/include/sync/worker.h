// The lab synchronisation on a thread of its own: one synchronisation at start, then one every
// period, one soon after results are archived or edited here, and one at once on request. A
// server that cannot be reached, or that refuses the login, is tried again after 5 s, then
// after twice as long each time up to 10 minutes (each wait ±20 %, so that the laptops of a
// lab do not all come back at once); nothing is reported per attempt, the status holds the
// last error until a synchronisation goes through.
//
// The window's thread only sets flags and reads the status under a lock that the worker holds
// for a copy at most: the worker's network and archive work happen outside it, on the
// worker's own connection to the archive.
#pragma once

#include "sync/engine.h"

#include "core/clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace dielmon::sync {

struct SyncStatus {
    bool Configured = false;              // a server is set
    bool Running = false;                 // a synchronisation is under way
    std::optional<TimePoint> LastSuccess; // wall time of the last one that went through
    std::int64_t Waiting = -1;            // results waiting to be pushed; -1: not known yet
    Failure LastFailure = Failure::None;
    std::string LastError;                  // Chinese; empty once a synchronisation went through
    int FailuresInARow = 0;                 // attempts failed since the last that went through
    std::int64_t Attempts = 0;              // synchronisations tried since the start
    std::optional<SteadyPoint> NextAttempt; // when the worker tries by itself next
    SyncReport Last;                        // what the last synchronisation did
};

class SyncWorker {
public:
    struct Options {
        std::string ArchivePath; // Archive.db; the worker opens its own connection to it
        std::string Server;      // the connection string; empty: none yet
        std::chrono::milliseconds Period{std::chrono::minutes(5)};
        // After LocalChange, the results go this much later (changes close together, one push).
        std::chrono::milliseconds AfterChange{std::chrono::seconds(10)};
        std::chrono::milliseconds FirstRetry{std::chrono::seconds(5)};
        std::chrono::milliseconds LongestRetry{std::chrono::minutes(10)};
        // How long the destructor waits for the thread; a thread still inside a call that no
        // stop interrupts (a host name being looked up) is left to end on its own.
        std::chrono::milliseconds StopWait{std::chrono::seconds(2)};
        SyncOptions Sync;
        // Called on the worker's thread whenever the status changed; it must not block or
        // call back into the worker (a window posts an event to its own thread). Never called
        // once the destructor has begun.
        std::function<void()> Changed;
        const Clock* Time = nullptr; // wall time for LastSuccess; the system clock by default
    };

    // Starts the thread; the first synchronisation follows at once.
    explicit SyncWorker(Options options);
    ~SyncWorker();
    SyncWorker(const SyncWorker&) = delete;
    SyncWorker& operator=(const SyncWorker&) = delete;

    // Synchronises as soon as possible, also while waiting to retry (立即同步).
    void SyncNow();
    // Results were archived or edited here: counted, and pushed AfterChange later unless the
    // server is being retried.
    void LocalChange();
    // Another connection string (or none): tried at once, the retries begun anew.
    void SetServer(const std::string& server);
    SyncStatus Status() const;

    struct Shared;

private:
    std::shared_ptr<Shared> Shared_;
    std::thread Thread_;
};

} // namespace dielmon::sync
