// The few pieces of the SQLite C interface the archive uses, owned: prepared statements with
// bound values, and a write transaction that rolls back unless committed. Internal.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon::archive::detail {

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const char* sql) { Rc_ = sqlite3_prepare_v2(db, sql, -1, &S_, nullptr); }
    ~Statement() { sqlite3_finalize(S_); }
    Statement(Statement&& o) noexcept : S_(o.S_), Rc_(o.Rc_) { o.S_ = nullptr; }
    Statement& operator=(Statement&& o) noexcept {
        if (this != &o) {
            sqlite3_finalize(S_);
            S_ = o.S_;
            Rc_ = o.Rc_;
            o.S_ = nullptr;
        }
        return *this;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // The result of preparing: SQLITE_OK, or why the statement does not exist.
    int Prepared() const {
        return S_ != nullptr ? SQLITE_OK : (Rc_ != SQLITE_OK ? Rc_ : SQLITE_MISUSE);
    }

    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(S_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, const char* text) { return Bind(i, std::string(text)); }
    Statement& BindBlob(int i, const void* data, std::size_t size) {
        // A zero-length blob, not NULL: the texts are never missing, only empty.
        sqlite3_bind_blob(S_, i, size > 0 ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, std::int64_t v) {
        sqlite3_bind_int64(S_, i, v);
        return *this;
    }
    Statement& Bind(int i, int v) { return Bind(i, static_cast<std::int64_t>(v)); }
    Statement& Bind(int i, double v) {
        sqlite3_bind_double(S_, i, v);
        return *this;
    }
    Statement& BindNull(int i) {
        sqlite3_bind_null(S_, i);
        return *this;
    }
    template <typename T>
    Statement& Bind(int i, const std::optional<T>& v) {
        return v ? Bind(i, *v) : BindNull(i);
    }

    // SQLITE_ROW, SQLITE_DONE or the error.
    int Step() { return sqlite3_step(S_); }
    // Ready for the next run, its values unbound.
    void Reset() {
        sqlite3_reset(S_);
        sqlite3_clear_bindings(S_);
    }

    bool IsNull(int c) const { return sqlite3_column_type(S_, c) == SQLITE_NULL; }
    std::int64_t Int(int c) const { return sqlite3_column_int64(S_, c); }
    double Real(int c) const { return sqlite3_column_double(S_, c); }
    std::string Text(int c) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(S_, c));
        return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(S_, c)))
                            : std::string();
    }
    std::string Blob(int c) const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(S_, c));
        return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(S_, c)))
                            : std::string();
    }
    std::optional<int> OptInt(int c) const {
        return IsNull(c) ? std::nullopt : std::optional<int>(static_cast<int>(Int(c)));
    }
    std::optional<double> OptReal(int c) const {
        return IsNull(c) ? std::nullopt : std::optional<double>(Real(c));
    }

private:
    sqlite3_stmt* S_ = nullptr;
    int Rc_ = SQLITE_OK;
};

// Runs SQL without results (several statements allowed); SQLITE_OK or the error.
inline int Execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// A write transaction, taken at once (BEGIN IMMEDIATE) so that two writers queue on the busy
// time-out instead of one of them failing half-way; rolled back unless committed. Inside a
// transaction already open it is a savepoint of it, so that a write made of several (a batch
// from the lab's server) commits whole or not at all.
class WriteTransaction {
public:
    explicit WriteTransaction(sqlite3* db)
        : Db_(db), Nested_(sqlite3_get_autocommit(db) == 0),
          Rc_(Execute(db, Nested_ ? "SAVEPOINT nested" : "BEGIN IMMEDIATE")) {}
    ~WriteTransaction() {
        if (Rc_ == SQLITE_OK && !Done_) {
            Execute(Db_, Nested_ ? "ROLLBACK TO nested; RELEASE nested" : "ROLLBACK");
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    int Began() const { return Rc_; }
    int Commit() {
        const int rc = Execute(Db_, Nested_ ? "RELEASE nested" : "COMMIT");
        if (rc == SQLITE_OK) {
            Done_ = true;
        }
        return rc;
    }

private:
    sqlite3* Db_;
    bool Nested_;
    int Rc_;
    bool Done_ = false;
};

} // namespace dielmon::archive::detail
