#include "archive/archive.h"
#include "core/fd.h"

#include "checkpointer.h"
#include "identity.h"
#include "sqlite.h"

#include "core/json.h"
#include "core/measured.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dielmon::archive {

using detail::Statement;
using detail::WriteTransaction;

namespace {

// "DLMA" in the file's header: this file is a result archive of ours.
constexpr int kApplicationId = 0x444C4D41;

std::int64_t Milliseconds(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TimePoint FromMilliseconds(std::int64_t ms) {
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(ms)));
}

bool IsDamage(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// What an SQLite result code means for the operator.
std::string Reason(sqlite3* db, int rc) {
    const int primary = rc & 0xFF;
    const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
    switch (primary) {
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_READONLY:
        return "the archive cannot be written (a read-only file or folder)";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another program kept the archive busy for too long";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "the archive file is damaged";
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return "no permission to use the archive";
    case SQLITE_CANTOPEN:
        return std::string("the archive cannot be opened") +
               (system != 0 ? std::string(" (") + std::strerror(system) + ")" : std::string());
    case SQLITE_IOERR: {
        // The errno SQLite keeps is that of its last system call, which may be a later one.
        const std::string why =
            system == ENOSPC || system == EFBIG || system == EROFS || system == EACCES
                ? std::string(" (") + std::strerror(system) + ")"
                : std::string();
        switch (rc) {
        case SQLITE_IOERR_WRITE:
        case SQLITE_IOERR_TRUNCATE:
        case SQLITE_IOERR_FSYNC:
            return "writing to the disk failed: full, too large a file or a failing device" + why;
        case SQLITE_IOERR_READ:
        case SQLITE_IOERR_SHORT_READ:
            return "reading from the disk failed" + why;
        default:
            return "input/output error" + why;
        }
    }
    default:
        return std::string(sqlite3_errstr(rc)) +
               (db != nullptr ? std::string(": ") + sqlite3_errmsg(db) : std::string());
    }
}

// Looks at the file's first bytes before SQLite does: a file that is no SQLite database, or
// one cut short, is refused without SQLite ever writing to it. Empty text: nothing found.
std::string HeaderProblem(const std::string& path, off_t size) {
    static const char kMagic[16] = "SQLite format 3"; // with its terminating zero byte
    unsigned char header[100] = {};
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::strerror(errno);
    }
    const ssize_t got = ::pread(fd.Get(), header, sizeof header, 0);
    if (got < 0) {
        return std::strerror(errno);
    }
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(got), sizeof kMagic);
    if (std::memcmp(header, kMagic, n) != 0) {
        return "it is not an SQLite database";
    }
    if (got < static_cast<ssize_t>(sizeof header)) {
        return "it is cut short";
    }
    std::int64_t pageSize = header[16] << 8 | header[17];
    if (pageSize == 1) {
        pageSize = 65536;
    }
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
        return "its header is damaged";
    }
    // The page count in the header is valid when the change counter matches it; with a
    // write-ahead log beside the file the pages may still be there (a checkpoint cut short),
    // and SQLite's own checks judge it.
    const bool countValid = std::memcmp(header + 24, header + 92, 4) == 0;
    const std::int64_t pages = static_cast<std::int64_t>(header[28]) << 24 | header[29] << 16 |
                               header[30] << 8 | header[31];
    struct stat wal {};
    const bool walHolds = ::stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    if (countValid && pages > 0 && !walHolds && size < pages * pageSize) {
        return "it is cut short";
    }
    return {};
}

int ReadPragma(sqlite3* db, const char* sql, int& value) {
    Statement s(db, sql);
    if (s.Prepared() != SQLITE_OK) {
        return s.Prepared();
    }
    const int rc = s.Step();
    if (rc == SQLITE_ROW) {
        value = static_cast<int>(s.Int(0));
        return SQLITE_OK;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// A file name as an SQLite URI: "file:" and the path with the characters a URI reserves
// written as %XX.
std::string FileUri(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '%' || b == '?' || b == '#' || b < 0x21 || b >= 0x7F) {
            uri += '%';
            uri += kHex[b >> 4];
            uri += kHex[b & 0xF];
        } else {
            uri += c;
        }
    }
    return uri;
}

std::string SourceText(Source s) {
    return SourceName(s);
}

Source SourceOf(const std::string& text) {
    if (text == "instrument") {
        return Source::Instrument;
    }
    if (text == "file") {
        return Source::File;
    }
    return Source::Test;
}

// The order of the quantities across the pages, for columns of a table.
const char* const kQuantityOrder[] = {
    "Cx", "DF",  "Rx", "Lx",  "Q",  "Cg",  "DFg", "C1", "DF1", "C2", "DF2", "Ca", "DFa",
    "Cb", "DFb", "Cc", "DFc", "Cd", "DFd", "K",   "U",  "U1",  "U2", "Ua",  "Ub", "Uc",
    "Ud", "I",   "I1", "I2",  "Ix", "Ig",  "Φ",   "PF", "P",   "F1", "F2",
};

int QuantityRank(const std::string& name) {
    const auto* end = std::end(kQuantityOrder);
    const auto* at = std::find(std::begin(kQuantityOrder), end, name);
    return static_cast<int>(at - std::begin(kQuantityOrder));
}

// The WHERE clause of a filter, made of fixed fragments, and the values to bind to them.
struct Where {
    std::string Sql;
    std::vector<std::string> Texts;
    std::optional<int> Mode;

    int Bind(Statement& s, int first = 1) const {
        int i = first;
        for (const std::string& t : Texts) {
            s.Bind(i++, t);
        }
        if (Mode) {
            s.Bind(i++, *Mode);
        }
        return i;
    }
};

// The text as a LIKE pattern that matches only itself: its wildcards and the escape
// character escaped.
std::string LikeLiteral(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

bool IsDate(const std::string& d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-') {
        return false;
    }
    for (std::size_t k : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (d[k] < '0' || d[k] > '9') {
            return false;
        }
    }
    return true;
}

Outcome<Where> WhereOf(const Filter& f) {
    Outcome<Where> w;
    w.Value.Sql = " WHERE 1";
    if (!f.Specimen.empty()) {
        if (f.ExactSpecimen) {
            w.Value.Sql += " AND r.specimen = ?";
            w.Value.Texts.push_back(f.Specimen);
        } else {
            w.Value.Sql += " AND r.specimen LIKE ? ESCAPE '\\'";
            w.Value.Texts.push_back("%" + LikeLiteral(f.Specimen) + "%");
        }
    }
    if (!f.Since.empty()) {
        if (!IsDate(f.Since)) {
            w.Error = "not a date (YYYY-MM-DD): " + f.Since;
            return w;
        }
        w.Value.Sql += " AND r.measured >= ?";
        w.Value.Texts.push_back(f.Since);
    }
    if (!f.Until.empty()) {
        if (!IsDate(f.Until)) {
            w.Error = "not a date (YYYY-MM-DD): " + f.Until;
            return w;
        }
        // Every stamp of that day ("2016-03-24T15:34:00") sorts before the day followed by
        // "U", the letter after the "T" that parts date from time.
        w.Value.Sql += " AND r.measured < ?";
        w.Value.Texts.push_back(f.Until + "U");
    }
    if (f.WiringMode) {
        w.Value.Sql += " AND r.wiring_mode = ?";
        w.Value.Mode = f.WiringMode;
    }
    return w;
}

const char* const kResultColumns =
    "r.seq, r.id, r.measured, r.archived, r.source, r.record, r.dedup, r.instrument_type, "
    "r.wiring_mode, r.channels, r.standard, r.frequency, r.frequency_code, r.voltage_source, "
    "r.test_voltage, r.ext_capacitance, r.ext_dissipation, r.cvt_voltage_limit, "
    "r.cvt_current_code, r.excitation_voltage_code, r.excitation_current_code, r.supply, "
    "r.specimen, r.temperature, r.humidity, r.edited, r.station, r.host, t.title, t.main, "
    "t.details, t.frame";

Result ResultOfRow(const Statement& s) {
    Result r;
    r.Seq = s.Int(0);
    r.Id = s.Text(1);
    r.Measured = s.Text(2);
    r.Archived = FromMilliseconds(s.Int(3));
    r.From = SourceOf(s.Text(4));
    r.Record = s.OptInt(5);
    r.DedupKey = s.Text(6);
    Configuration& c = r.Config;
    c.InstrumentType = s.OptInt(7);
    c.WiringMode = s.OptInt(8);
    c.Channels = s.OptInt(9);
    c.Standard = s.OptInt(10);
    c.Frequency = s.OptInt(11);
    c.FrequencyCode = s.OptInt(12);
    c.VoltageSource = s.OptInt(13);
    c.TestVoltage = s.OptInt(14);
    c.ExtCapacitance = s.OptReal(15);
    c.ExtDissipation = s.OptReal(16);
    c.CvtVoltageLimit = s.OptInt(17);
    c.CvtCurrentCode = s.OptInt(18);
    c.ExcitationVoltageCode = s.OptInt(19);
    c.ExcitationCurrentCode = s.OptInt(20);
    c.Supply = s.OptInt(21);
    r.Taken.Specimen = s.Text(22);
    r.Taken.Temperature = s.OptReal(23);
    r.Taken.Humidity = s.OptReal(24);
    r.Edited = FromMilliseconds(s.Int(25));
    r.Station = s.Text(26);
    r.Host = s.Text(27);
    r.Texts.Title = s.Blob(28);
    r.Texts.Main = s.Blob(29);
    r.Texts.Details = s.Blob(30);
    const std::string frame = s.Blob(31);
    r.Frame.assign(frame.begin(), frame.end());
    return r;
}

} // namespace

const char* SourceName(Source s) {
    switch (s) {
    case Source::Test:
        return "test";
    case Source::Instrument:
        return "instrument";
    case Source::File:
        return "file";
    }
    return "test";
}

Cursor CursorAfter(const Row& last) {
    return {last.Measured, last.Seq};
}

// The statements of archiving, prepared once: a result is kept in a couple of milliseconds.
struct Archive::Statements {
    explicit Statements(sqlite3* db)
        : InsertResult(
              db, "INSERT INTO results(id, measured, archived, source, record, dedup, "
                  "instrument_type, wiring_mode, channels, standard, frequency, frequency_code, "
                  "voltage_source, test_voltage, ext_capacitance, ext_dissipation, "
                  "cvt_voltage_limit, cvt_current_code, excitation_voltage_code, "
                  "excitation_current_code, supply, specimen, temperature, humidity, edited, "
                  "station, host) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                  "?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
          InsertTexts(db, "INSERT INTO texts(result, title, main, details, frame) "
                          "VALUES (?, ?, ?, ?, ?)"),
          InsertQuantity(db, "INSERT INTO quantities(result, position, name, unit, value, over) "
                             "VALUES (?, ?, ?, ?, ?, ?)"),
          FindByDedup(db, "SELECT id FROM results WHERE dedup = ?"),
          FindById(db, "SELECT id FROM results WHERE id = ?"),
          Quantities(db, "SELECT name, unit, value, over FROM quantities WHERE result = ? "
                         "ORDER BY position") {}

    int Prepared() const {
        for (const Statement* s :
             {&InsertResult, &InsertTexts, &InsertQuantity, &FindByDedup, &FindById, &Quantities}) {
            if (s->Prepared() != SQLITE_OK) {
                return s->Prepared();
            }
        }
        return SQLITE_OK;
    }

    Statement InsertResult;
    Statement InsertTexts;
    Statement InsertQuantity;
    Statement FindByDedup;
    Statement FindById;
    Statement Quantities;
};

Archive::~Archive() {
    Checkpointer_.reset();
    Cache_.reset();
    sqlite3_close_v2(Db_);
}

std::string Archive::Fail(int rc, const std::string& what) {
    if (IsDamage(rc)) {
        Damaged_ = true;
    }
    return what + ": " + Reason(Db_, rc) + " (" + Path_ + ")";
}

std::string Archive::Writable() const {
    if (Damaged_) {
        return "the archive file is damaged; nothing more is written to it (" + Path_ + ")";
    }
    if (ReadOnly_) {
        return "the archive is open read-only: " + ReadOnlyReason_ + " (" + Path_ + ")";
    }
    return {};
}

Opened Archive::Open(const std::string& path, const OpenOptions& options) {
    Opened out;
    const std::string where = " (" + path + ")";
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        out.Error = "the archive is a folder, not a file" + where;
        return out;
    }
    if (!exists && (!options.Create || options.ReadOnly)) {
        out.Error = "there is no archive" + where;
        return out;
    }
    if (exists && st.st_size > 0) {
        const std::string problem = HeaderProblem(path, st.st_size);
        if (!problem.empty()) {
            out.Error = "the archive cannot be used: " + problem + "; it is left as it is" + where;
            return out;
        }
    }

    std::unique_ptr<Archive> a(new Archive());
    a->Path_ = path;
    a->Clock_ = options.Time != nullptr ? options.Time : &DefaultClock();
    const std::vector<Migration>& steps = options.Steps != nullptr ? *options.Steps : Migrations();
    const int target = steps.empty() ? 0 : steps.back().To;

    enum class Mode { Write, Read, AsItLies };
    auto open = [&](Mode mode) {
        sqlite3_close_v2(a->Db_);
        a->Db_ = nullptr;
        // One Archive is used by one thread at a time: SQLite's own locks are not needed.
        int flags = SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX;
        std::string name = path;
        switch (mode) {
        case Mode::Write:
            flags |= SQLITE_OPEN_READWRITE | (options.Create ? SQLITE_OPEN_CREATE : 0);
            break;
        case Mode::Read:
            flags |= SQLITE_OPEN_READONLY;
            break;
        case Mode::AsItLies:
            // Where not even the write-ahead log's index can be made beside the file (a
            // read-only folder or medium), the file is read as it lies.
            flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
            name = FileUri(path) + "?immutable=1";
            break;
        }
        const int rc = sqlite3_open_v2(name.c_str(), &a->Db_, flags, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(a->Db_, options.BusyTimeoutMs);
            sqlite3_extended_result_codes(a->Db_, 1);
        }
        return rc;
    };
    auto failed = [&](int rc, const std::string& what) {
        out.Error = what + ": " + Reason(a->Db_, rc) + where;
        if (IsDamage(rc)) {
            out.Error += "; it is left as it is";
        }
        return std::move(out);
    };
    int application = 0;
    int version = 0;
    int tables = 0;
    auto readIds = [&] {
        int rc;
        if ((rc = ReadPragma(a->Db_, "PRAGMA application_id", application)) != SQLITE_OK ||
            (rc = ReadPragma(a->Db_, "PRAGMA user_version", version)) != SQLITE_OK ||
            (rc = ReadPragma(a->Db_, "SELECT count(*) FROM sqlite_schema", tables)) != SQLITE_OK) {
            return rc;
        }
        return SQLITE_OK;
    };
    // Opens for reading only, as it lies when the log's index cannot be made.
    auto openForReading = [&](Mode first) {
        int rc = open(first);
        if (rc == SQLITE_OK && (rc = readIds()) == SQLITE_OK) {
            return rc;
        }
        const int primary = rc & 0xFF;
        if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN) {
            if ((rc = open(Mode::AsItLies)) == SQLITE_OK && (rc = readIds()) == SQLITE_OK) {
                a->ReadOnly_ = true;
                a->ReadOnlyReason_ = ::access(path.c_str(), W_OK) == 0
                                         ? "its folder cannot be written"
                                         : "neither the file nor its folder can be written";
            }
        }
        return rc;
    };

    if (!exists) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0) {
            out.Error = std::string("the archive cannot be created: ") +
                        (errno == ENOENT ? "there is no such folder" : std::strerror(errno)) +
                        where;
            return out;
        }
    }
    int rc = options.ReadOnly ? openForReading(Mode::Read) : open(Mode::Write);
    if (rc != SQLITE_OK) {
        return failed(rc, "the archive cannot be opened");
    }
    if (!options.ReadOnly && sqlite3_db_readonly(a->Db_, "main") == 1) {
        a->ReadOnly_ = true;
        a->ReadOnlyReason_ = "the file cannot be written";
    }
    if (options.ReadOnly) {
        a->ReadOnly_ = true;
        a->ReadOnlyReason_ = "it was opened for reading only";
    }
    if (!options.ReadOnly) {
        rc = readIds();
        if ((rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_CANTOPEN) {
            rc = openForReading(Mode::Read);
        }
    }
    if (rc != SQLITE_OK) {
        return failed(rc, "the archive cannot be read");
    }
    const bool fresh = application == 0 && version == 0 && tables == 0;
    if (!fresh && application != kApplicationId) {
        out.Error = "the file is not a result archive (another program's database); it is left "
                    "as it is" +
                    where;
        return out;
    }

    if (version > target) {
        // A newer program's archive: read what this one knows of it, write nothing.
        if (!a->ReadOnly_ && (rc = openForReading(Mode::Read)) != SQLITE_OK) {
            return failed(rc, "the archive cannot be opened");
        }
        a->ReadOnly_ = true;
        a->ReadOnlyReason_ = "it was written by a newer version of the program (schema " +
                             std::to_string(version) + ", this one knows " +
                             std::to_string(target) + ")";
        out.Notice = "The archive is opened read-only: " + a->ReadOnlyReason_ + where;
    } else if (version < target) {
        if (a->ReadOnly_) {
            out.Error = std::string(fresh ? "the archive cannot be created"
                                          : "the archive cannot be brought up to date") +
                        ": " + a->ReadOnlyReason_ + where;
            return out;
        }
        if (fresh) {
            // Set once, outside any transaction; the file keeps it.
            Statement wal(a->Db_, "PRAGMA journal_mode=WAL");
            if ((rc = wal.Prepared()) != SQLITE_OK ||
                ((rc = wal.Step()) != SQLITE_ROW && rc != SQLITE_DONE)) {
                return failed(rc, "the archive cannot be created");
            }
        }
        while (version < target) {
            WriteTransaction tx(a->Db_);
            if ((rc = tx.Began()) != SQLITE_OK) {
                return failed(rc, "the archive cannot be brought up to date");
            }
            // Another program may have taken the step while this one waited.
            if ((rc = ReadPragma(a->Db_, "PRAGMA user_version", version)) != SQLITE_OK) {
                return failed(rc, "the archive cannot be read");
            }
            if (version >= target) {
                break;
            }
            const auto step = std::find_if(steps.begin(), steps.end(),
                                           [&](const Migration& m) { return m.To == version + 1; });
            if (step == steps.end()) {
                out.Error = "the archive's schema " + std::to_string(version) +
                            " cannot be brought up to date" + where;
                return out;
            }
            std::string error = step->Apply(a->Db_);
            const std::string stamp = "PRAGMA user_version = " + std::to_string(step->To) +
                                      "; PRAGMA application_id = " + std::to_string(kApplicationId);
            if (error.empty() && (rc = detail::Execute(a->Db_, stamp.c_str())) != SQLITE_OK) {
                error = Reason(a->Db_, rc);
            }
            if (error.empty() && (rc = tx.Commit()) != SQLITE_OK) {
                error = Reason(a->Db_, rc);
            }
            if (!error.empty()) {
                out.Error = "the archive cannot be brought to schema " + std::to_string(step->To) +
                            ": " + error + where;
                return out;
            }
            version = step->To;
        }
    }
    a->Version_ = version;

    // NORMAL: a commit is in the log before Add returns and survives the program's death;
    // FULL also waits for the disk at every commit, and survives a power cut.
    detail::Execute(a->Db_, options.SyncEveryCommit ? "PRAGMA synchronous = FULL"
                                                    : "PRAGMA synchronous = NORMAL");

    Statement station(a->Db_, "SELECT value FROM meta WHERE key = 'station'");
    if ((rc = station.Prepared()) != SQLITE_OK ||
        ((rc = station.Step()) != SQLITE_ROW && rc != SQLITE_DONE)) {
        return failed(rc, "the archive cannot be read");
    }
    a->Station_ = rc == SQLITE_ROW ? station.Text(0) : std::string();
    // The log starts again from its beginning once it is copied back; beyond this it is
    // also cut back, so that it does not keep the size of the longest burst of writes.
    detail::Execute(a->Db_, "PRAGMA journal_size_limit = 8388608");
    // Reading through a memory map spares a copy and a system call for every page that long
    // walks (an export, a filter by part of a name) touch.
    detail::Execute(a->Db_, "PRAGMA mmap_size = 268435456");
    a->Host_ = detail::HostName();

    if (!a->ReadOnly_) {
        // The log is copied back on a thread of its own; where that thread's connection
        // cannot be had, the committing connection does it as SQLite does by default.
        Statement mode(a->Db_, "PRAGMA journal_mode");
        sqlite3* own = nullptr;
        // The connection finds the log on its first read; until then it cannot copy it back.
        if (mode.Step() == SQLITE_ROW && mode.Text(0) == "wal" &&
            sqlite3_open_v2(path.c_str(), &own, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) == SQLITE_OK &&
            detail::Execute(own, "SELECT count(*) FROM sqlite_schema") == SQLITE_OK) {
            a->Checkpointer_ = std::make_unique<detail::Checkpointer>(own, a->Db_);
        } else {
            sqlite3_close_v2(own);
        }
    }
    a->Cache_ = std::make_unique<Statements>(a->Db_);
    if ((rc = a->Cache_->Prepared()) != SQLITE_OK) {
        return failed(rc, "the archive cannot be read");
    }
    if (a->ReadOnly_ && out.Notice.empty() && !options.ReadOnly) {
        out.Notice = "The archive is opened read-only: " + a->ReadOnlyReason_ + where;
    }
    out.Store = std::move(a);
    return out;
}

Added Archive::Add(Result r) {
    Added added;
    added.Error = Writable();
    if (!added.Error.empty()) {
        return added;
    }
    if (!IsUtf8(r.Taken.Specimen)) {
        added.Error = "the specimen name is not UTF-8 text";
        return added;
    }
    const TimePoint now = Clock_->Now();
    if (r.Id.empty()) {
        r.Id = detail::NewUuid();
    }
    if (r.Station.empty()) {
        r.Station = Station_;
    }
    if (r.Host.empty()) {
        r.Host = Host_;
    }
    if (r.Archived == TimePoint{}) {
        r.Archived = now;
    }
    if (r.Edited == TimePoint{}) {
        r.Edited = r.Archived;
    }

    WriteTransaction tx(Db_);
    if (const int rc = tx.Began(); rc != SQLITE_OK) {
        added.Error = Fail(rc, "the result was not archived");
        return added;
    }
    Statement& in = Cache_->InsertResult;
    in.Reset();
    const Configuration& c = r.Config;
    in.Bind(1, r.Id)
        .Bind(2, r.Measured)
        .Bind(3, Milliseconds(r.Archived))
        .Bind(4, SourceText(r.From))
        .Bind(5, r.Record);
    if (r.DedupKey.empty()) {
        in.BindNull(6);
    } else {
        in.Bind(6, r.DedupKey);
    }
    in.Bind(7, c.InstrumentType)
        .Bind(8, c.WiringMode)
        .Bind(9, c.Channels)
        .Bind(10, c.Standard)
        .Bind(11, c.Frequency)
        .Bind(12, c.FrequencyCode)
        .Bind(13, c.VoltageSource)
        .Bind(14, c.TestVoltage)
        .Bind(15, c.ExtCapacitance)
        .Bind(16, c.ExtDissipation)
        .Bind(17, c.CvtVoltageLimit)
        .Bind(18, c.CvtCurrentCode)
        .Bind(19, c.ExcitationVoltageCode)
        .Bind(20, c.ExcitationCurrentCode)
        .Bind(21, c.Supply)
        .Bind(22, r.Taken.Specimen)
        .Bind(23, r.Taken.Temperature)
        .Bind(24, r.Taken.Humidity)
        .Bind(25, Milliseconds(r.Edited))
        .Bind(26, r.Station)
        .Bind(27, r.Host);
    int rc = in.Step();
    in.Reset();
    if (rc != SQLITE_DONE) {
        added.Error = Fail(rc, "the result was not archived");
        return added;
    }
    if (sqlite3_changes(Db_) == 0) {
        // The same record or file run, or the same result once more: it is there already.
        Statement& find = r.DedupKey.empty() ? Cache_->FindById : Cache_->FindByDedup;
        find.Reset();
        find.Bind(1, r.DedupKey.empty() ? r.Id : r.DedupKey);
        rc = find.Step();
        added.Id = rc == SQLITE_ROW ? find.Text(0) : r.Id;
        find.Reset();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            added.Error = Fail(rc, "the result was not archived");
        }
        return added;
    }
    const std::int64_t seq = sqlite3_last_insert_rowid(Db_);
    Statement& texts = Cache_->InsertTexts;
    texts.Reset();
    texts.Bind(1, seq)
        .BindBlob(2, r.Texts.Title.data(), r.Texts.Title.size())
        .BindBlob(3, r.Texts.Main.data(), r.Texts.Main.size())
        .BindBlob(4, r.Texts.Details.data(), r.Texts.Details.size());
    if (r.Frame.empty()) {
        texts.BindNull(5);
    } else {
        texts.BindBlob(5, r.Frame.data(), r.Frame.size());
    }
    rc = texts.Step();
    texts.Reset();
    if (rc != SQLITE_DONE) {
        added.Error = Fail(rc, "the result was not archived");
        return added;
    }
    Statement& q = Cache_->InsertQuantity;
    for (std::size_t k = 0; k < r.Quantities.size(); ++k) {
        const Quantity& v = r.Quantities[k];
        q.Reset();
        q.Bind(1, seq)
            .Bind(2, static_cast<std::int64_t>(k))
            .Bind(3, v.Name)
            .Bind(4, v.Unit)
            .Bind(5, v.Value)
            .Bind(6, v.Over ? 1 : 0);
        rc = q.Step();
        if (rc != SQLITE_DONE) {
            q.Reset();
            added.Error = Fail(rc, "the result was not archived");
            return added;
        }
    }
    q.Reset();
    if ((rc = tx.Commit()) != SQLITE_OK) {
        added.Error = Fail(rc, "the result was not archived");
        return added;
    }
    added.Id = r.Id;
    added.New = true;
    return added;
}

std::string Archive::SetConditions(const std::string& id, const Conditions& c) {
    if (std::string why = Writable(); !why.empty()) {
        return why;
    }
    if (!IsUtf8(c.Specimen)) {
        return "the specimen name is not UTF-8 text";
    }
    Statement s(Db_, "UPDATE results SET specimen = ?, temperature = ?, humidity = ?, edited = ? "
                     "WHERE id = ?");
    if (const int rc = s.Prepared(); rc != SQLITE_OK) {
        return Fail(rc, "the conditions were not changed");
    }
    s.Bind(1, c.Specimen)
        .Bind(2, c.Temperature)
        .Bind(3, c.Humidity)
        .Bind(4, Milliseconds(Clock_->Now()))
        .Bind(5, id);
    if (const int rc = s.Step(); rc != SQLITE_DONE) {
        return Fail(rc, "the conditions were not changed");
    }
    return sqlite3_changes(Db_) == 0 ? "there is no result " + id : std::string();
}

std::string Archive::Delete(const std::string& id) {
    if (std::string why = Writable(); !why.empty()) {
        return why;
    }
    WriteTransaction tx(Db_);
    int rc = tx.Began();
    if (rc != SQLITE_OK) {
        return Fail(rc, "the result was not deleted");
    }
    Statement find(Db_, "SELECT seq FROM results WHERE id = ?");
    find.Bind(1, id);
    rc = find.Step();
    if (rc == SQLITE_DONE) {
        return "there is no result " + id;
    }
    if (rc != SQLITE_ROW) {
        return Fail(rc, "the result was not deleted");
    }
    const std::int64_t seq = find.Int(0);
    for (const char* sql :
         {"DELETE FROM quantities WHERE result = ?", "DELETE FROM texts WHERE result = ?",
          "DELETE FROM results WHERE seq = ?"}) {
        Statement s(Db_, sql);
        s.Bind(1, seq);
        if ((rc = s.Step()) != SQLITE_DONE) {
            return Fail(rc, "the result was not deleted");
        }
    }
    if ((rc = tx.Commit()) != SQLITE_OK) {
        return Fail(rc, "the result was not deleted");
    }
    return {};
}

Outcome<std::optional<Result>> Archive::Get(const std::string& id) {
    Outcome<std::optional<Result>> out;
    Statement s(Db_, (std::string("SELECT ") + kResultColumns +
                      " FROM results r JOIN texts t ON t.result = r.seq WHERE r.id = ?")
                         .c_str());
    if (const int rc = s.Prepared(); rc != SQLITE_OK) {
        out.Error = Fail(rc, "the result cannot be read");
        return out;
    }
    s.Bind(1, id);
    const int rc = s.Step();
    if (rc == SQLITE_DONE) {
        return out;
    }
    if (rc != SQLITE_ROW) {
        out.Error = Fail(rc, "the result cannot be read");
        return out;
    }
    Result r = ResultOfRow(s);
    Statement& q = Cache_->Quantities;
    q.Reset();
    q.Bind(1, r.Seq);
    int qrc;
    while ((qrc = q.Step()) == SQLITE_ROW) {
        r.Quantities.push_back({q.Text(0), q.Text(1), q.OptReal(2), q.Int(3) != 0});
    }
    q.Reset();
    if (qrc != SQLITE_DONE) {
        out.Error = Fail(qrc, "the result cannot be read");
        return out;
    }
    out.Value = std::move(r);
    return out;
}

Outcome<std::vector<Row>> Archive::List(const Filter& f, const std::optional<Cursor>& after,
                                        int limit) {
    Outcome<std::vector<Row>> out;
    const Outcome<Where> w = WhereOf(f);
    if (!w.Ok()) {
        out.Error = w.Error;
        return out;
    }
    std::string sql =
        "SELECT r.seq, r.id, r.measured, r.source, r.record, r.specimen, "
        "r.wiring_mode, t.main, r.host FROM results r JOIN texts t ON t.result = r.seq" +
        w.Value.Sql;
    if (after) {
        sql += " AND (r.measured, r.seq) < (?, ?)";
    }
    sql += " ORDER BY r.measured DESC, r.seq DESC LIMIT ?";
    Statement s(Db_, sql.c_str());
    if (const int rc = s.Prepared(); rc != SQLITE_OK) {
        out.Error = Fail(rc, "the archive cannot be read");
        return out;
    }
    int i = w.Value.Bind(s);
    if (after) {
        s.Bind(i, after->Measured).Bind(i + 1, after->Seq);
        i += 2;
    }
    s.Bind(i, limit);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        Row row;
        row.Seq = s.Int(0);
        row.Id = s.Text(1);
        row.Measured = s.Text(2);
        row.From = SourceOf(s.Text(3));
        row.Record = s.OptInt(4);
        row.Specimen = s.Text(5);
        row.WiringMode = s.OptInt(6);
        row.Main = s.Blob(7);
        row.Host = s.Text(8);
        out.Value.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    return out;
}

Outcome<std::int64_t> Archive::Count(const Filter& f) {
    Outcome<std::int64_t> out;
    const Outcome<Where> w = WhereOf(f);
    if (!w.Ok()) {
        out.Error = w.Error;
        return out;
    }
    Statement s(Db_, ("SELECT count(*) FROM results r" + w.Value.Sql).c_str());
    if (const int rc = s.Prepared(); rc != SQLITE_OK) {
        out.Error = Fail(rc, "the archive cannot be read");
        return out;
    }
    w.Value.Bind(s);
    const int rc = s.Step();
    if (rc != SQLITE_ROW) {
        out.Error = Fail(rc, "the archive cannot be read");
        return out;
    }
    out.Value = s.Int(0);
    return out;
}

std::string Archive::ForEach(const Filter& f, const std::function<bool(const Result&)>& each) {
    const Outcome<Where> w = WhereOf(f);
    if (!w.Ok()) {
        return w.Error;
    }
    const char* const kOrder = " ORDER BY r.measured DESC, r.seq DESC";
    Statement s(Db_, (std::string("SELECT ") + kResultColumns +
                      " FROM results r JOIN texts t ON t.result = r.seq" + w.Value.Sql + kOrder)
                         .c_str());
    // The quantities of the same results in the same order, walked beside them: one statement
    // for all instead of one run per result.
    Statement q(Db_, ("SELECT r.seq, q.name, q.unit, q.value, q.over FROM results r "
                      "JOIN quantities q ON q.result = r.seq" +
                      w.Value.Sql + kOrder + ", q.position")
                         .c_str());
    for (const Statement* prepared : {&s, &q}) {
        if (const int rc = prepared->Prepared(); rc != SQLITE_OK) {
            return Fail(rc, "the archive cannot be read");
        }
    }
    w.Value.Bind(s);
    w.Value.Bind(q);
    // While the walk's statements run, the connection reads one snapshot: a result archived
    // meanwhile by another program is not half seen.
    int rc;
    int qrc = q.Step();
    while ((rc = s.Step()) == SQLITE_ROW) {
        Result r = ResultOfRow(s);
        while (qrc == SQLITE_ROW && q.Int(0) == r.Seq) {
            r.Quantities.push_back({q.Text(1), q.Text(2), q.OptReal(3), q.Int(4) != 0});
            qrc = q.Step();
        }
        if (qrc != SQLITE_ROW && qrc != SQLITE_DONE) {
            rc = qrc;
            break;
        }
        if (!each(r)) {
            rc = SQLITE_DONE;
            break;
        }
    }
    return rc == SQLITE_DONE ? std::string() : Fail(rc, "the archive cannot be read");
}

Outcome<std::vector<std::string>> Archive::Specimens() {
    Outcome<std::vector<std::string>> out;
    Statement s(Db_,
                "SELECT DISTINCT specimen FROM results WHERE specimen <> '' ORDER BY specimen");
    int rc = s.Prepared();
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        out.Value.push_back(s.Text(0));
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    return out;
}

Outcome<std::vector<Series>> Archive::SeriesOf(const std::string& specimen) {
    Outcome<std::vector<Series>> out;
    Statement s(Db_, "SELECT DISTINCT r.wiring_mode, q.name FROM results r "
                     "JOIN quantities q ON q.result = r.seq "
                     "WHERE r.specimen = ? AND q.unit = 'F' ORDER BY r.wiring_mode, q.name");
    int rc = s.Prepared();
    if (rc == SQLITE_OK) {
        s.Bind(1, specimen);
    }
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        const std::string cap = s.Text(1);
        out.Value.push_back({s.OptInt(0), cap, DissipationNameOf(cap)});
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    std::sort(out.Value.begin(), out.Value.end(), [](const Series& a, const Series& b) {
        if (a.WiringMode != b.WiringMode) {
            return a.WiringMode < b.WiringMode;
        }
        return QuantityRank(a.Capacitance) < QuantityRank(b.Capacitance);
    });
    return out;
}

Outcome<std::vector<TrendPoint>> Archive::Trend(const std::string& specimen, const Series& series) {
    Outcome<std::vector<TrendPoint>> out;
    Statement s(Db_, "SELECT r.id, r.measured, c.value, c.over, d.value, d.over, r.temperature, "
                     "r.humidity FROM results r "
                     "JOIN quantities c ON c.result = r.seq AND c.name = ? "
                     "LEFT JOIN quantities d ON d.result = r.seq AND d.name = ? "
                     "WHERE r.specimen = ? AND r.wiring_mode IS ? "
                     "ORDER BY r.measured, r.seq");
    int rc = s.Prepared();
    if (rc == SQLITE_OK) {
        s.Bind(1, series.Capacitance)
            .Bind(2, series.Dissipation)
            .Bind(3, specimen)
            .Bind(4, series.WiringMode);
    }
    std::optional<double> first;
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        TrendPoint p;
        p.Id = s.Text(0);
        p.Measured = s.Text(1);
        p.Capacitance = s.OptReal(2);
        p.CapacitanceOver = s.Int(3) != 0;
        p.Dissipation = s.OptReal(4);
        p.DissipationOver = s.Int(5) != 0;
        p.Temperature = s.OptReal(6);
        p.Humidity = s.OptReal(7);
        if (p.Capacitance) {
            if (!first && *p.Capacitance != 0) {
                first = p.Capacitance;
            }
            if (first) {
                p.Change = (*p.Capacitance - *first) / *first * 100;
            }
        }
        out.Value.push_back(std::move(p));
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    return out;
}

Outcome<std::vector<std::pair<std::string, std::string>>>
Archive::QuantityColumns(const Filter& f) {
    Outcome<std::vector<std::pair<std::string, std::string>>> out;
    const Outcome<Where> w = WhereOf(f);
    if (!w.Ok()) {
        out.Error = w.Error;
        return out;
    }
    Statement s(Db_, ("SELECT DISTINCT q.name, q.unit FROM results r "
                      "JOIN quantities q ON q.result = r.seq" +
                      w.Value.Sql)
                         .c_str());
    int rc = s.Prepared();
    if (rc == SQLITE_OK) {
        w.Value.Bind(s);
    }
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        out.Value.emplace_back(s.Text(0), s.Text(1));
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        out.Error = Fail(rc, "the archive cannot be read");
    }
    std::sort(out.Value.begin(), out.Value.end(), [](const auto& a, const auto& b) {
        const int ra = QuantityRank(a.first);
        const int rb = QuantityRank(b.first);
        return ra != rb ? ra < rb : a < b;
    });
    return out;
}

std::string Archive::IntegrityCheck() {
    Statement s(Db_, "PRAGMA integrity_check");
    int rc = s.Prepared();
    std::string found;
    while (rc == SQLITE_OK && (rc = s.Step()) == SQLITE_ROW) {
        found += (found.empty() ? "" : "\n") + s.Text(0);
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) {
        return Reason(Db_, rc);
    }
    return found;
}

} // namespace dielmon::archive
