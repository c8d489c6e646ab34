// Copies the write-ahead log back into the archive file on a thread of its own, with its own
// connection, so that no Add waits for it: a commit is only appended to the log. Started for a
// writable archive in WAL mode; the commit hook says when the log has grown. Internal.
#pragma once

#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace dielmon::archive::detail {

class Checkpointer {
public:
    // Pages the log may hold before it is copied back: 16 MB, four times SQLite's default, so
    // that the copy-back, whose waits for the disk hold up a commit made meanwhile, comes
    // seldom (once every few hundred results).
    static constexpr int kLogPages = 4000;

    // Takes the connection it works with; watches the commits of `writer`.
    Checkpointer(sqlite3* own, sqlite3* writer)
        : Own_(own), Writer_(writer), Thread_([this] { Run(); }) {
        sqlite3_wal_hook(writer, &Checkpointer::Committed, this);
    }
    ~Checkpointer() {
        sqlite3_wal_hook(Writer_, nullptr, nullptr);
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Stop_ = true;
        }
        Wake_.notify_one();
        Thread_.join();
        sqlite3_close_v2(Own_);
    }
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

private:
    static int Committed(void* self, sqlite3*, const char*, int pages) {
        if (pages >= kLogPages) {
            auto* c = static_cast<Checkpointer*>(self);
            {
                std::lock_guard<std::mutex> guard(c->Lock_);
                c->Due_ = true;
            }
            c->Wake_.notify_one();
        }
        return SQLITE_OK;
    }

    void Run() {
        std::unique_lock<std::mutex> lock(Lock_);
        for (;;) {
            Wake_.wait(lock, [this] { return Stop_ || Due_; });
            if (Stop_) {
                return;
            }
            Due_ = false;
            lock.unlock();
            // PASSIVE: copies what no reader still needs and never holds up a writer.
            sqlite3_wal_checkpoint_v2(Own_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            lock.lock();
        }
    }

    sqlite3* Own_;
    sqlite3* Writer_;
    std::mutex Lock_;
    std::condition_variable Wake_;
    bool Due_ = false;
    bool Stop_ = false;
    std::thread Thread_; // last: it starts at once and uses the members above
};

} // namespace dielmon::archive::detail
