// The archive's schema, one step per version. A step only ever adds to what the steps before it
// made, so that an older program can still read a newer archive (it opens it read-only).
#include "archive/archive.h"

#include "identity.h"
#include "sqlite.h"

#include <chrono>

namespace dielmon::archive {

namespace {

using detail::Statement;

// Version 1: results with their configuration, conditions and origin; their quantities; the
// texts and frames they were shown from, apart so that searching the results reads less; and
// the archive's own facts (its station id).
std::string CreateVersion1(sqlite3* db) {
    const char* const kTables = R"sql(
        CREATE TABLE meta(
            key TEXT PRIMARY KEY NOT NULL,
            value TEXT NOT NULL
        ) WITHOUT ROWID;

        CREATE TABLE results(
            seq INTEGER PRIMARY KEY,
            id TEXT NOT NULL UNIQUE,
            measured TEXT NOT NULL,
            archived INTEGER NOT NULL,
            source TEXT NOT NULL CHECK (source IN ('test', 'instrument', 'file')),
            record INTEGER,
            dedup TEXT UNIQUE,
            instrument_type INTEGER,
            wiring_mode INTEGER,
            channels INTEGER,
            standard INTEGER,
            frequency INTEGER,
            frequency_code INTEGER,
            voltage_source INTEGER,
            test_voltage INTEGER,
            ext_capacitance REAL,
            ext_dissipation REAL,
            cvt_voltage_limit INTEGER,
            cvt_current_code INTEGER,
            excitation_voltage_code INTEGER,
            excitation_current_code INTEGER,
            supply INTEGER,
            specimen TEXT NOT NULL DEFAULT '',
            temperature REAL,
            humidity REAL,
            edited INTEGER NOT NULL,
            station TEXT NOT NULL,
            host TEXT NOT NULL
        );
        CREATE INDEX results_by_measured ON results(measured, seq, specimen, wiring_mode);
        CREATE INDEX results_by_specimen ON results(specimen, wiring_mode, measured);

        CREATE TABLE texts(
            result INTEGER PRIMARY KEY REFERENCES results(seq) ON DELETE CASCADE,
            title BLOB NOT NULL,
            main BLOB NOT NULL,
            details BLOB NOT NULL,
            frame BLOB
        );

        CREATE TABLE quantities(
            result INTEGER NOT NULL REFERENCES results(seq) ON DELETE CASCADE,
            position INTEGER NOT NULL,
            name TEXT NOT NULL,
            unit TEXT NOT NULL,
            value REAL,
            over INTEGER NOT NULL,
            PRIMARY KEY (result, position)
        ) WITHOUT ROWID;
    )sql";
    if (detail::Execute(db, kTables) != SQLITE_OK) {
        return sqlite3_errmsg(db);
    }
    Statement meta(db, "INSERT INTO meta(key, value) VALUES (?, ?)");
    const auto created = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const std::pair<const char*, std::string> facts[] = {
        {"station", detail::NewUuid()},
        {"host", detail::HostName()},
        {"created", std::to_string(created)},
    };
    for (const auto& [key, value] : facts) {
        meta.Reset();
        if (meta.Bind(1, key).Bind(2, value).Step() != SQLITE_DONE) {
            return sqlite3_errmsg(db);
        }
    }
    return {};
}

// Version 2: what the lab's server holds of each result (the edit of specimen and conditions
// and the station that made it), so that a result is pushed again only when it was edited
// here since; the server's id and how far its changes have been read stay in meta
// ("sync_server", "sync_cursor"). A result deleted here takes its mark along.
std::string CreateVersion2(sqlite3* db) {
    const char* const kTables = R"sql(
        CREATE TABLE sync_results(
            id TEXT PRIMARY KEY NOT NULL,
            edited INTEGER NOT NULL,
            edited_by TEXT NOT NULL
        ) WITHOUT ROWID;
        CREATE TRIGGER sync_results_forget AFTER DELETE ON results BEGIN
            DELETE FROM sync_results WHERE id = old.id;
        END;
    )sql";
    return detail::Execute(db, kTables) == SQLITE_OK ? std::string() : sqlite3_errmsg(db);
}

// Version 3, specimens: what the operator tells of a specimen beyond its name, keyed by the name
// the results carry. Classes and references are kept as their names and checked by the program, so
// that a later class needs no new table.
std::string AddSpecimens(sqlite3* db) {
    const char* const kTable = R"sql(
        CREATE TABLE specimens(
            name TEXT PRIMARY KEY NOT NULL,
            class TEXT NOT NULL,
            voltage_class REAL,
            nameplate_c REAL,
            nameplate_df REAL,
            reference TEXT NOT NULL,
            method TEXT NOT NULL,
            temperature_of TEXT NOT NULL,
            edited INTEGER NOT NULL
        ) WITHOUT ROWID;
    )sql";
    return detail::Execute(db, kTable) == SQLITE_OK ? std::string() : sqlite3_errmsg(db);
}

} // namespace

const std::vector<Migration>& Migrations() {
    static const std::vector<Migration> steps = {
        {1, CreateVersion1},
        {2, CreateVersion2},
        {3, AddSpecimens},
    };
    return steps;
}

} // namespace dielmon::archive
