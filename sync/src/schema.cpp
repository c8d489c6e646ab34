#include "schema.h"

namespace dielmon::sync::detail {

namespace {

// Version 1: the lab's id (a laptop that meets another server starts afresh); every result of
// every laptop with its texts as GBK bytes, exactly as they were shown, and its quantities; a
// change number that every insert and update takes anew, under the lock that makes numbers
// follow the order of commits, so that "everything after change N" is a cursor that misses
// nothing and repeats nothing.
const char* const kVersion1 = R"sql(
    CREATE TABLE dielmon.lab(
        key text PRIMARY KEY,
        value text NOT NULL
    );
    INSERT INTO dielmon.lab(key, value) VALUES ('id', gen_random_uuid()::text);

    CREATE SEQUENCE dielmon.changes;

    CREATE TABLE dielmon.results(
        id text PRIMARY KEY,
        change bigint NOT NULL UNIQUE,
        changed timestamptz NOT NULL,
        measured text NOT NULL,
        archived timestamptz NOT NULL,
        source text NOT NULL CHECK (source IN ('test', 'instrument', 'file')),
        record integer,
        dedup text,
        instrument_type integer,
        wiring_mode integer,
        channels integer,
        standard integer,
        frequency integer,
        frequency_code integer,
        voltage_source integer,
        test_voltage integer,
        ext_capacitance double precision,
        ext_dissipation double precision,
        cvt_voltage_limit integer,
        cvt_current_code integer,
        excitation_voltage_code integer,
        excitation_current_code integer,
        supply integer,
        specimen text NOT NULL,
        temperature double precision,
        humidity double precision,
        edited timestamptz NOT NULL,
        edited_by text NOT NULL,
        station text NOT NULL,
        host text NOT NULL,
        title bytea NOT NULL,
        main bytea NOT NULL,
        details bytea NOT NULL,
        frame bytea
    );
    -- A hash index: a B-tree refuses a specimen name of more than a few kilobytes.
    CREATE INDEX results_by_specimen ON dielmon.results USING hash (specimen);
    CREATE INDEX results_by_measured ON dielmon.results(measured);

    CREATE TABLE dielmon.quantities(
        result text NOT NULL REFERENCES dielmon.results(id) ON DELETE CASCADE,
        position integer NOT NULL,
        name text NOT NULL,
        unit text NOT NULL,
        value double precision,
        over boolean NOT NULL,
        PRIMARY KEY (result, position)
    );

    CREATE FUNCTION dielmon.next_change() RETURNS trigger LANGUAGE plpgsql AS $$
    BEGIN
        PERFORM pg_advisory_xact_lock(1145851201, 2);
        NEW.change := nextval('dielmon.changes');
        NEW.changed := now();
        RETURN NEW;
    END
    $$;
    CREATE TRIGGER results_change BEFORE INSERT OR UPDATE ON dielmon.results
        FOR EACH ROW EXECUTE FUNCTION dielmon.next_change();
)sql";

static_assert(kLockClass == 1145851201, "the lock of dielmon.next_change()");

bool Ask(Connection& c, const char* sql, const Params& p, Problem& problem,
         std::optional<Answer>& answer) {
    answer = c.Run(sql, p, problem);
    return answer.has_value();
}

} // namespace

const std::vector<ServerStep>& ServerSteps() {
    static const std::vector<ServerStep> steps = {
        {1, kVersion1},
    };
    return steps;
}

int ServerSchemaVersion(const std::vector<ServerStep>& steps) {
    return steps.empty() ? 0 : steps.back().To;
}

bool EnsureServerSchema(Connection& c, Problem& problem, const std::vector<ServerStep>& steps) {
    const int target = ServerSchemaVersion(steps);
    std::optional<Answer> a;
    auto newer = [&](std::int64_t found) {
        problem.Kind = Failure::Server;
        problem.Message = "档案服务器上的表由更新版本的程序建立（版本 " + std::to_string(found) +
                          "，本程序只认识到版本 " + std::to_string(target) +
                          "）：请升级本程序后再同步。";
        return false;
    };
    // Usually there is nothing to do, and nothing is locked to find that out.
    if (!Ask(c, "SELECT to_regclass('dielmon.version') IS NOT NULL", {}, problem, a)) {
        return false;
    }
    std::int64_t version = -1;
    if (a->Bool(0, 0)) {
        // A version table that cannot be read: no right to the schema.
        if (!Ask(c, "SELECT coalesce(max(version), 0) FROM dielmon.version", {}, problem, a)) {
            return false;
        }
        version = a->Int(0, 0).value_or(0);
    }
    if (version == target) {
        return true;
    }
    if (version > target) {
        return newer(version);
    }
    if (!c.Execute("BEGIN", problem) ||
        !Ask(c, "SELECT pg_advisory_xact_lock($1, 1)", Params().Int(kLockClass), problem, a) ||
        !Ask(c, "SELECT count(*) FROM pg_namespace WHERE nspname = 'dielmon'", {}, problem, a)) {
        return false;
    }
    if (a->Int(0, 0).value_or(0) == 0 && !c.Execute("CREATE SCHEMA dielmon", problem)) {
        if (problem.Kind == Failure::Permission) {
            problem.Message = "档案服务器上还没有 dielmon 模式，这个用户也无权建立它：请管理员按 "
                              "docs/archive-server.md 建立。（" +
                              problem.Message + "）";
        }
        return false;
    }
    if (!c.Execute("CREATE TABLE IF NOT EXISTS dielmon.version("
                   "version integer PRIMARY KEY, "
                   "applied timestamptz NOT NULL DEFAULT now(), "
                   "applied_by text NOT NULL DEFAULT current_user)",
                   problem) ||
        !Ask(c, "SELECT coalesce(max(version), 0) FROM dielmon.version", {}, problem, a)) {
        return false;
    }
    // Another program may have made the steps while this one waited.
    version = a->Int(0, 0).value_or(0);
    if (version > target) {
        return newer(version);
    }
    for (const ServerStep& step : steps) {
        if (step.To <= version) {
            continue;
        }
        if (!c.Execute(step.Sql, problem) ||
            !Ask(c, "INSERT INTO dielmon.version(version) VALUES ($1)", Params().Int(step.To),
                 problem, a)) {
            problem.Message = "档案服务器上的表不能升级到版本 " + std::to_string(step.To) + "：" +
                              problem.Message;
            return false;
        }
    }
    return c.Execute("COMMIT", problem);
}

} // namespace dielmon::sync::detail
