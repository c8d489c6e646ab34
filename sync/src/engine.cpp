#include "sync/engine.h"

#include "postgres.h"
#include "schema.h"

#include "core/json.h"

#include <cmath>
#include <map>

namespace dielmon::sync {

using archive::Merged;
using archive::PulledResult;
using archive::Result;
using archive::ServerMark;
using detail::Answer;
using detail::Connection;
using detail::Params;
using detail::Problem;

namespace {

// A result with its quantities, pushed in one statement: inserted when the server does not
// have it, its specimen and conditions updated when this edit is the later, and otherwise
// left as it is. The answer says which; when the server kept its own, it shows it.
const char* const kPush = R"sql(
    WITH pushed AS (
        INSERT INTO dielmon.results(id, measured, archived, source, record, dedup,
            instrument_type, wiring_mode, channels, standard, frequency, frequency_code,
            voltage_source, test_voltage, ext_capacitance, ext_dissipation, cvt_voltage_limit,
            cvt_current_code, excitation_voltage_code, excitation_current_code, supply,
            specimen, temperature, humidity, edited, edited_by, station, host,
            title, main, details, frame)
        VALUES ($1::text, $2::text, timestamptz 'epoch' + $3::bigint * interval '1 millisecond',
            $4::text, $5::integer, $6::text, $7::integer, $8::integer, $9::integer,
            $10::integer, $11::integer, $12::integer, $13::integer, $14::integer,
            $15::double precision, $16::double precision, $17::integer, $18::integer,
            $19::integer, $20::integer, $21::integer, $22::text, $23::double precision,
            $24::double precision, timestamptz 'epoch' + $25::bigint * interval '1 millisecond',
            $26::text, $27::text, $28::text, $29::bytea, $30::bytea, $31::bytea, $32::bytea)
        ON CONFLICT (id) DO UPDATE SET specimen = EXCLUDED.specimen,
            temperature = EXCLUDED.temperature, humidity = EXCLUDED.humidity,
            edited = EXCLUDED.edited, edited_by = EXCLUDED.edited_by
        WHERE (EXCLUDED.edited, EXCLUDED.edited_by COLLATE "C") >
              (dielmon.results.edited, dielmon.results.edited_by COLLATE "C")
        RETURNING id, xmax = 0 AS fresh
    ), quantities AS (
        INSERT INTO dielmon.quantities(result, position, name, unit, value, over)
        SELECT pushed.id, (q.n - 1)::integer, q.v->>0, q.v->>1, (q.v->>2)::double precision,
            (q.v->>3)::boolean
        FROM pushed, jsonb_array_elements($33::jsonb) WITH ORDINALITY AS q(v, n)
        WHERE pushed.fresh
        ON CONFLICT DO NOTHING
    )
    SELECT pushed.fresh, (extract(epoch FROM r.edited) * 1000)::bigint, r.edited_by,
        r.specimen, r.temperature, r.humidity
    FROM (SELECT 1) AS one
    LEFT JOIN pushed ON true
    LEFT JOIN dielmon.results r ON pushed.id IS NULL AND r.id = $1::text
)sql";

const char* const kPullResults = R"sql(
    SELECT id, change, measured, (extract(epoch FROM archived) * 1000)::bigint, source, record,
        dedup, instrument_type, wiring_mode, channels, standard, frequency, frequency_code,
        voltage_source, test_voltage, ext_capacitance, ext_dissipation, cvt_voltage_limit,
        cvt_current_code, excitation_voltage_code, excitation_current_code, supply, specimen,
        temperature, humidity, (extract(epoch FROM edited) * 1000)::bigint, edited_by, station,
        host, title, main, details, frame
    FROM dielmon.results WHERE change > $1::bigint ORDER BY change LIMIT $2::integer
)sql";

const char* const kPullQuantities = R"sql(
    SELECT q.result, q.name, q.unit, q.value, q.over
    FROM dielmon.quantities q JOIN dielmon.results r ON r.id = q.result
    WHERE r.change > $1::bigint AND r.change <= $2::bigint
    ORDER BY r.change, q.position
)sql";

std::int64_t Ms(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TimePoint FromMs(std::int64_t ms) {
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(ms)));
}

archive::Source SourceOf(const std::string& text) {
    if (text == "instrument") {
        return archive::Source::Instrument;
    }
    return text == "file" ? archive::Source::File : archive::Source::Test;
}

std::optional<int> OptInt(const Answer& a, int row, int col) {
    const auto v = a.Int(row, col);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

std::optional<std::int64_t> Wide(const std::optional<int>& v) {
    return v ? std::optional<std::int64_t>(*v) : std::nullopt;
}

// The quantities as a JSON array of [name, unit, value, over]; numbers exact.
std::string QuantitiesJson(const std::vector<archive::Quantity>& qs) {
    std::string out = "[";
    for (const archive::Quantity& q : qs) {
        if (out.size() > 1) {
            out += ',';
        }
        out += '[';
        out += JsonString(q.Name);
        out += ',';
        out += JsonString(q.Unit);
        out += ',';
        out += q.Value && std::isfinite(*q.Value) ? detail::RealText(*q.Value) : "null";
        out += q.Over ? ",true]" : ",false]";
    }
    return out + "]";
}

// Text the server's UTF8 database can hold: valid UTF-8 without zero bytes.
bool Storable(const std::string& s) {
    return s.find('\0') == std::string::npos && IsUtf8(s);
}

bool Storable(const Result& r) {
    for (const std::string* s :
         {&r.Id, &r.Measured, &r.DedupKey, &r.Taken.Specimen, &r.Station, &r.Host}) {
        if (!Storable(*s)) {
            return false;
        }
    }
    for (const archive::Quantity& q : r.Quantities) {
        if (!Storable(q.Name) || !Storable(q.Unit)) {
            return false;
        }
    }
    return true;
}

Params PushParams(const Result& r, const std::string& station) {
    const archive::Configuration& c = r.Config;
    Params p;
    p.Text(r.Id).Text(r.Measured).Int(Ms(r.Archived)).Text(archive::SourceName(r.From));
    p.Int(Wide(r.Record));
    if (r.DedupKey.empty()) {
        p.Null();
    } else {
        p.Text(r.DedupKey);
    }
    p.Int(Wide(c.InstrumentType))
        .Int(Wide(c.WiringMode))
        .Int(Wide(c.Channels))
        .Int(Wide(c.Standard))
        .Int(Wide(c.Frequency))
        .Int(Wide(c.FrequencyCode))
        .Int(Wide(c.VoltageSource))
        .Int(Wide(c.TestVoltage))
        .Real(c.ExtCapacitance)
        .Real(c.ExtDissipation)
        .Int(Wide(c.CvtVoltageLimit))
        .Int(Wide(c.CvtCurrentCode))
        .Int(Wide(c.ExcitationVoltageCode))
        .Int(Wide(c.ExcitationCurrentCode))
        .Int(Wide(c.Supply));
    p.Text(r.Taken.Specimen).Real(r.Taken.Temperature).Real(r.Taken.Humidity);
    // Every edit pushed from here is this archive's own: one made by another station and not
    // yet marked would have come in a pull.
    p.Int(Ms(r.Edited)).Text(station).Text(r.Station).Text(r.Host);
    p.Bytes(r.Texts.Title).Bytes(r.Texts.Main).Bytes(r.Texts.Details);
    if (r.Frame.empty()) {
        p.Null();
    } else {
        p.Bytes(std::string(r.Frame.begin(), r.Frame.end()));
    }
    p.Text(QuantitiesJson(r.Quantities));
    return p;
}

PulledResult PulledOf(const Answer& a, int row) {
    PulledResult p;
    Result& r = p.Value;
    r.Id = a.Text(row, 0);
    r.Measured = a.Text(row, 2);
    r.Archived = FromMs(a.Int(row, 3).value_or(0));
    r.From = SourceOf(a.Text(row, 4));
    r.Record = OptInt(a, row, 5);
    r.DedupKey = a.Text(row, 6);
    archive::Configuration& c = r.Config;
    c.InstrumentType = OptInt(a, row, 7);
    c.WiringMode = OptInt(a, row, 8);
    c.Channels = OptInt(a, row, 9);
    c.Standard = OptInt(a, row, 10);
    c.Frequency = OptInt(a, row, 11);
    c.FrequencyCode = OptInt(a, row, 12);
    c.VoltageSource = OptInt(a, row, 13);
    c.TestVoltage = OptInt(a, row, 14);
    c.ExtCapacitance = a.Real(row, 15);
    c.ExtDissipation = a.Real(row, 16);
    c.CvtVoltageLimit = OptInt(a, row, 17);
    c.CvtCurrentCode = OptInt(a, row, 18);
    c.ExcitationVoltageCode = OptInt(a, row, 19);
    c.ExcitationCurrentCode = OptInt(a, row, 20);
    c.Supply = OptInt(a, row, 21);
    r.Taken.Specimen = a.Text(row, 22);
    r.Taken.Temperature = a.Real(row, 23);
    r.Taken.Humidity = a.Real(row, 24);
    r.Edited = FromMs(a.Int(row, 25).value_or(0));
    p.EditedBy = a.Text(row, 26);
    r.Station = a.Text(row, 27);
    r.Host = a.Text(row, 28);
    r.Texts.Title = a.Bytes(row, 29);
    r.Texts.Main = a.Bytes(row, 30);
    r.Texts.Details = a.Bytes(row, 31);
    const std::string frame = a.Bytes(row, 32);
    r.Frame.assign(frame.begin(), frame.end());
    return p;
}

} // namespace

SyncEngine::SyncEngine(archive::Archive& archive, std::string server, SyncOptions options)
    : Archive_(archive), Server_(std::move(server)), Options_(std::move(options)) {
    if (Options_.Batch < 1) {
        Options_.Batch = 1;
    }
}

SyncReport SyncEngine::Run() {
    SyncReport report;
    Problem problem;
    auto failed = [&](const Problem& p) {
        report.Kind = p.Kind;
        report.Error = p.Message;
        return report;
    };
    auto local = [&](const std::string& error) {
        report.Kind = Failure::Local;
        report.Error = detail::Describe(Failure::Local, error);
        return report;
    };
    auto server = [&](const std::string& message) {
        report.Kind = Failure::Server;
        report.Error = message;
        return report;
    };
    if (Archive_.ReadOnly()) {
        return local("the archive is open read-only");
    }
    std::unique_ptr<Connection> c =
        Connection::Open(Server_, Options_.Wait, Options_.StopFd, problem);
    if (!c) {
        return failed(problem);
    }
    report.Reached = true;
    if (c->ServerVersion() < 130000) {
        return server("档案服务器的 PostgreSQL 版本是 " + c->ServerVersionText() +
                      "，需要 13 或更新的版本。");
    }
    if (const std::string encoding = c->Parameter("server_encoding"); encoding != "UTF8") {
        return server("档案服务器上数据库的编码是 " + encoding +
                      "，需要 UTF8（建立数据库时写 ENCODING 'UTF8'）。");
    }
    // Numbers exact and bytes in hexadecimal, whatever the role's or database's settings.
    if (!c->Execute("SET extra_float_digits = 3; SET bytea_output = 'hex'", problem) ||
        !detail::EnsureServerSchema(*c, problem)) {
        return failed(problem);
    }
    auto lab = c->Run("SELECT value FROM dielmon.lab WHERE key = 'id'", problem);
    if (!lab) {
        return failed(problem);
    }
    if (lab->Rows() != 1) {
        return server("档案服务器上的 dielmon.lab 表缺少 id。");
    }
    auto position = Archive_.Position();
    if (!position.Ok()) {
        return local(position.Error);
    }
    std::int64_t cursor = position.Value.Cursor;
    if (position.Value.Lab != lab->Text(0, 0)) {
        if (const std::string e = Archive_.StartWithServer(lab->Text(0, 0)); !e.empty()) {
            return local(e);
        }
        cursor = 0;
    }

    const int batchSize = Options_.Batch;
    // Pulled first: a later edit made elsewhere is here before this archive's own edits go.
    for (int batch = 0;; ++batch) {
        if (!c->Execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", problem)) {
            return failed(problem);
        }
        auto rows = c->Run(kPullResults, Params().Int(cursor).Int(batchSize), problem);
        if (!rows) {
            return failed(problem);
        }
        const int n = rows->Rows();
        if (n == 0) {
            if (!c->Execute("COMMIT", problem)) {
                return failed(problem);
            }
            break;
        }
        const std::int64_t last = rows->Int(n - 1, 1).value_or(cursor);
        auto quantities = c->Run(kPullQuantities, Params().Int(cursor).Int(last), problem);
        if (!quantities || !c->Execute("COMMIT", problem)) {
            return failed(problem);
        }
        std::vector<PulledResult> pulled;
        std::map<std::string, std::size_t> at;
        for (int row = 0; row < n; ++row) {
            pulled.push_back(PulledOf(*rows, row));
            at[pulled.back().Value.Id] = pulled.size() - 1;
        }
        for (int row = 0; row < quantities->Rows(); ++row) {
            const auto found = at.find(quantities->Text(row, 0));
            if (found != at.end()) {
                pulled[found->second].Value.Quantities.push_back(
                    {quantities->Text(row, 1), quantities->Text(row, 2), quantities->Real(row, 3),
                     quantities->Bool(row, 4)});
            }
        }
        const auto merged = Archive_.MergePulled(pulled, last);
        if (!merged.Ok()) {
            return local(merged.Error);
        }
        report.Pulled += n;
        report.PulledNew += merged.Value.Added;
        report.PulledEdited += merged.Value.Updated;
        cursor = last;
        if (Options_.AfterBatch) {
            Options_.AfterBatch("pulled", batch);
        }
        if (n < batchSize) {
            break;
        }
    }

    if (!c->Prepare("push", kPush, problem)) {
        return failed(problem);
    }
    const std::string& station = Archive_.Station();
    std::int64_t afterSeq = 0;
    std::string firstRefused;
    for (int batch = 0;; ++batch) {
        auto pending = Archive_.Unpushed(afterSeq, batchSize);
        if (!pending.Ok()) {
            return local(pending.Error);
        }
        if (pending.Value.empty()) {
            break;
        }
        afterSeq = pending.Value.back().Seq;
        std::vector<const Result*> sendable;
        for (const Result& r : pending.Value) {
            if (Storable(r)) {
                sendable.push_back(&r);
            } else {
                ++report.Refused;
                if (firstRefused.empty()) {
                    firstRefused = r.Id;
                }
            }
        }
        if (sendable.empty()) {
            continue;
        }
        // Under the lock of the change numbers: when nothing changed on the server since this
        // archive last read it, the numbers this batch takes are all its own, and the cursor
        // moves past them without reading them back.
        std::optional<Answer> a;
        if (!c->Execute("BEGIN", problem) ||
            !(a = c->Run("SELECT pg_advisory_xact_lock($1::integer, 2)",
                         Params().Int(detail::kLockClass), problem)) ||
            !(a = c->Run("SELECT coalesce(max(change), 0) FROM dielmon.results", problem))) {
            return failed(problem);
        }
        const std::int64_t before = a->Int(0, 0).value_or(-1);
        std::vector<ServerMark> marks;
        std::vector<PulledResult> kept;
        std::int64_t fresh = 0;
        std::int64_t edited = 0;
        for (const Result* r : sendable) {
            a = c->RunPrepared("push", PushParams(*r, station), problem);
            if (!a) {
                return failed(problem);
            }
            if (a->Rows() != 1) {
                return server("档案服务器对上传的回答不对。");
            }
            if (!a->IsNull(0, 0)) {
                ++(a->Bool(0, 0) ? fresh : edited);
                marks.push_back({r->Id, r->Edited, station});
            } else if (!a->IsNull(0, 1)) {
                // The server holds a later edit: taken here instead.
                PulledResult p;
                p.Value = *r;
                p.Value.Edited = FromMs(*a->Int(0, 1));
                p.EditedBy = a->Text(0, 2);
                p.Value.Taken = {a->Text(0, 3), a->Real(0, 4), a->Real(0, 5)};
                kept.push_back(std::move(p));
            }
        }
        if (!(a = c->Run("SELECT coalesce(max(change), 0) FROM dielmon.results", problem)) ||
            !c->Execute("COMMIT", problem)) {
            return failed(problem);
        }
        const std::int64_t after = a->Int(0, 0).value_or(-1);
        std::optional<std::int64_t> moved;
        if (before == cursor) {
            moved = after;
        }
        if (const std::string e = Archive_.MarkPushed(marks, moved); !e.empty()) {
            return local(e);
        }
        cursor = moved.value_or(cursor);
        report.PushedNew += fresh;
        report.PushedEdited += edited;
        if (!kept.empty()) {
            const auto merged = Archive_.MergePulled(kept, cursor);
            if (!merged.Ok()) {
                return local(merged.Error);
            }
            report.PulledEdited += merged.Value.Updated;
        }
        if (Options_.AfterBatch) {
            Options_.AfterBatch("pushed", batch);
        }
    }
    if (report.Refused > 0) {
        report.Kind = Failure::Refused;
        report.Error = detail::Describe(
            Failure::Refused, std::to_string(report.Refused) +
                                  " 个结果含有数据库不能保存的文字（空字符或不是 UTF-8 的字节），"
                                  "留在本机，例如 " +
                                  firstRefused);
    }
    return report;
}

} // namespace dielmon::sync
