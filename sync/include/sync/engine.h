// One synchronisation of a result archive with the lab's server.
//
// What travels: every result is pushed whole once (its id, times, source, configuration,
// quantities, texts, frame, specimen and conditions, and the station and host it was born on);
// afterwards only a later edit of its specimen and conditions. Everything the server holds is
// pulled by its change number, after the last one this archive has read, results of other
// laptops and edits of its own results made elsewhere alike. Both are upserts by the result's
// id; a batch is committed on the server before it is marked here, and the pulled results are
// archived here together with the cursor after them, so that a synchronisation cut off
// anywhere is taken up again by the next without a result lost or doubled.
//
// An edit of one result's specimen and conditions on two laptops: the later edit wins by its
// edit time, and of two at the same millisecond the one of the greater station id
// (archive::LaterEdit); the server and every archive decide alike. Results are never deleted
// on the server: a result deleted on one laptop stays in the lab's archive.
#pragma once

#include "sync/server.h"

#include "archive/archive.h"

#include <cstdint>
#include <functional>
#include <string>

namespace dielmon::sync {

struct SyncOptions {
    Limits Wait;
    int Batch = 250; // results per transaction
    int StopFd = -1; // when readable, the synchronisation stops at the next wait
    // Called after each batch is committed, "pushed" on the server or "pulled" here; for tests
    // that cut the connection at a chosen point.
    std::function<void(const char* stage, int batch)> AfterBatch;
};

struct SyncReport {
    Failure Kind = Failure::None;
    std::string Error;             // Chinese; empty when everything went through
    bool Reached = false;          // the server answered and took the login
    std::int64_t PushedNew = 0;    // results the server did not have
    std::int64_t PushedEdited = 0; // later edits of specimen and conditions
    std::int64_t Pulled = 0;       // results read from the server
    std::int64_t PulledNew = 0;    // of them, archived here as new
    std::int64_t PulledEdited = 0; // of them, a later edit taken here
    std::int64_t Refused = 0;      // results the server cannot hold (still waiting)
    bool Ok() const { return Kind == Failure::None; }
    std::int64_t Pushed() const { return PushedNew + PushedEdited; }
};

class SyncEngine {
public:
    // The archive is used on the caller's thread only while Run runs.
    SyncEngine(archive::Archive& archive, std::string server, SyncOptions options = {});
    // One synchronisation: pull, then push. It holds no transaction of the archive open while
    // it waits on the network.
    SyncReport Run();

private:
    archive::Archive& Archive_;
    std::string Server_;
    SyncOptions Options_;
};

} // namespace dielmon::sync
