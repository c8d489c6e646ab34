// What the archive knows of the lab's server: which edit of each result the server holds, and
// how far the server's changes have been read. The network is the synchronisation's (sync/);
// here every write is one local transaction, short, so that a window keeping a result meanwhile
// waits for none of it.
#include "archive/archive.h"

#include "sqlite.h"

namespace dielmon::archive {

using detail::Statement;
using detail::WriteTransaction;

namespace {

std::int64_t Ms(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TimePoint FromMs(std::int64_t ms) {
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(ms)));
}

// The results whose edit the server does not hold: no mark, or a mark of another edit.
const char* const kUnpushed = " FROM results r LEFT JOIN sync_results s ON s.id = r.id "
                              "WHERE (s.id IS NULL OR s.edited <> r.edited)";

int SetMeta(sqlite3* db, const char* key, const std::string& value) {
    Statement s(db, "INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)");
    s.Bind(1, key).Bind(2, value);
    const int rc = s.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int SetMark(sqlite3* db, const std::string& id, TimePoint edited, const std::string& by) {
    // Only for a result that is here: one deleted meanwhile leaves no mark behind.
    Statement s(db, "INSERT OR REPLACE INTO sync_results(id, edited, edited_by) "
                    "SELECT ?1, ?2, ?3 WHERE EXISTS (SELECT 1 FROM results WHERE id = ?1)");
    s.Bind(1, id).Bind(2, Ms(edited)).Bind(3, by);
    const int rc = s.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} // namespace

bool LaterEdit(TimePoint a, const std::string& byA, TimePoint b, const std::string& byB) {
    return a != b ? a > b : byA > byB;
}

Outcome<std::vector<Result>> Archive::Unpushed(std::int64_t afterSeq, int limit) {
    Outcome<std::vector<Result>> out;
    std::vector<std::string> ids;
    {
        Statement s(
            Db_, (std::string("SELECT r.id") + kUnpushed + " AND r.seq > ? ORDER BY r.seq LIMIT ?")
                     .c_str());
        int rc = s.Prepared();
        if (rc == SQLITE_OK) {
            s.Bind(1, afterSeq).Bind(2, limit);
        }
        while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
            ids.push_back(s.Text(0));
            rc = SQLITE_OK;
        }
        if (rc != SQLITE_DONE) {
            out.Error = Fail(rc, "the archive cannot be read");
            return out;
        }
    }
    for (const std::string& id : ids) {
        auto got = Get(id);
        if (!got.Ok()) {
            out.Error = got.Error;
            return out;
        }
        if (got.Value) { // deleted meanwhile: nothing to push
            out.Value.push_back(std::move(*got.Value));
        }
    }
    return out;
}

Outcome<std::int64_t> Archive::CountUnpushed() {
    Outcome<std::int64_t> out;
    Statement s(Db_, (std::string("SELECT count(*)") + kUnpushed).c_str());
    int rc = s.Prepared();
    if (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        out.Value = s.Int(0);
        return out;
    }
    out.Error = Fail(rc, "the archive cannot be read");
    return out;
}

Outcome<ServerPosition> Archive::Position() {
    Outcome<ServerPosition> out;
    Statement s(Db_, "SELECT key, value FROM meta WHERE key IN ('sync_server', 'sync_cursor')");
    int rc = s.Prepared();
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        if (s.Text(0) == "sync_server") {
            out.Value.Lab = s.Text(1);
        } else {
            out.Value.Cursor = s.Int(1);
        }
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    return out;
}

std::string Archive::StartWithServer(const std::string& lab) {
    if (std::string why = Writable(); !why.empty()) {
        return why;
    }
    WriteTransaction tx(Db_);
    int rc = tx.Began();
    if (rc == SQLITE_OK) {
        rc = detail::Execute(Db_, "DELETE FROM sync_results");
    }
    if (rc == SQLITE_OK) {
        rc = SetMeta(Db_, "sync_server", lab);
    }
    if (rc == SQLITE_OK) {
        rc = SetMeta(Db_, "sync_cursor", "0");
    }
    if (rc == SQLITE_OK) {
        rc = tx.Commit();
    }
    return rc == SQLITE_OK ? std::string() : Fail(rc, "the synchronisation state was not kept");
}

std::string Archive::MarkPushed(const std::vector<ServerMark>& marks,
                                std::optional<std::int64_t> cursor) {
    if (std::string why = Writable(); !why.empty()) {
        return why;
    }
    WriteTransaction tx(Db_);
    int rc = tx.Began();
    for (std::size_t k = 0; rc == SQLITE_OK && k < marks.size(); ++k) {
        rc = SetMark(Db_, marks[k].Id, marks[k].Edited, marks[k].EditedBy);
    }
    if (rc == SQLITE_OK && cursor) {
        rc = SetMeta(Db_, "sync_cursor", std::to_string(*cursor));
    }
    if (rc == SQLITE_OK) {
        rc = tx.Commit();
    }
    return rc == SQLITE_OK ? std::string() : Fail(rc, "the synchronisation state was not kept");
}

Outcome<Merged> Archive::MergePulled(const std::vector<PulledResult>& pulled, std::int64_t cursor) {
    Outcome<Merged> out;
    if (std::string why = Writable(); !why.empty()) {
        out.Error = why;
        return out;
    }
    const std::string failed = "the results from the server were not archived";
    WriteTransaction tx(Db_);
    int rc = tx.Began();
    if (rc != SQLITE_OK) {
        out.Error = Fail(rc, failed);
        return out;
    }
    Statement find(Db_, "SELECT r.seq, r.edited, s.edited, s.edited_by FROM results r "
                        "LEFT JOIN sync_results s ON s.id = r.id WHERE r.id = ?");
    Statement take(Db_, "UPDATE results SET specimen = ?, temperature = ?, humidity = ?, "
                        "edited = ? WHERE seq = ?");
    Statement forget(Db_, "DELETE FROM sync_results WHERE id = ?");
    for (const Statement* s : {&find, &take, &forget}) {
        if ((rc = s->Prepared()) != SQLITE_OK) {
            out.Error = Fail(rc, failed);
            return out;
        }
    }
    for (const PulledResult& p : pulled) {
        const Result& r = p.Value;
        find.Reset();
        find.Bind(1, r.Id);
        rc = find.Step();
        if (rc == SQLITE_DONE) {
            const Added added = Add(r);
            if (!added.Ok()) {
                out.Error = added.Error;
                return out;
            }
            if (added.New && (rc = SetMark(Db_, r.Id, r.Edited, p.EditedBy)) != SQLITE_OK) {
                out.Error = Fail(rc, failed);
                return out;
            }
            ++(added.New ? out.Value.Added : out.Value.Known);
            continue;
        }
        if (rc != SQLITE_ROW) {
            out.Error = Fail(rc, failed);
            return out;
        }
        const std::int64_t seq = find.Int(0);
        const TimePoint local = FromMs(find.Int(1));
        const bool marked = !find.IsNull(2);
        const bool inStep = marked && find.Int(2) == find.Int(1);
        // An edit the server does not hold yet was made here.
        const std::string localBy = inStep ? find.Text(3) : Station_;
        find.Reset();
        rc = SQLITE_OK;
        if (r.Edited == local && p.EditedBy == localBy) {
            if (!inStep) {
                rc = SetMark(Db_, r.Id, r.Edited, p.EditedBy);
            }
            ++out.Value.Known;
        } else if (LaterEdit(r.Edited, p.EditedBy, local, localBy)) {
            take.Reset();
            take.Bind(1, r.Taken.Specimen)
                .Bind(2, r.Taken.Temperature)
                .Bind(3, r.Taken.Humidity)
                .Bind(4, Ms(r.Edited))
                .Bind(5, seq);
            rc = take.Step() == SQLITE_DONE ? SetMark(Db_, r.Id, r.Edited, p.EditedBy)
                                            : sqlite3_errcode(Db_);
            take.Reset();
            ++out.Value.Updated;
        } else {
            // Here is the later edit. When the server was thought to hold it, it holds an
            // older one after all (a server restored from a backup): pushed again.
            if (inStep) {
                forget.Reset();
                forget.Bind(1, r.Id);
                rc = forget.Step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(Db_);
                forget.Reset();
            }
            ++out.Value.Known;
        }
        if (rc != SQLITE_OK) {
            out.Error = Fail(rc, failed);
            return out;
        }
    }
    if ((rc = SetMeta(Db_, "sync_cursor", std::to_string(cursor))) != SQLITE_OK ||
        (rc = tx.Commit()) != SQLITE_OK) {
        out.Error = Fail(rc, failed);
        return out;
    }
    return out;
}

} // namespace dielmon::archive
