// The result archive: every result kept in one SQLite file, Archive.db, found again by specimen
// and date, followed over the years and exported. Uses the core and the SQLite C library only,
// no Qt, so that the window, the command-line tool and a synchronising thread share it.
//
// Texts: what the instrument's results show (title, main result, details) stays in GBK bytes,
// exactly as the window showed it; everything the archive names itself or takes from the
// operator (quantity names and units, specimen, station, host) is UTF-8.
//
// One Archive is one connection: use it from one thread at a time. Several Archives, in one
// process or in several, may work on one file at once; a write waits for another's to finish.
#pragma once

#include "archive/specimen.h"
#include "core/clock.h"
#include "core/panel.h"
#include "core/results.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace dielmon::archive {

namespace detail {
class Checkpointer;
}

// The schema this program writes; PRAGMA user_version of the file.
inline constexpr int kSchemaVersion = 3;
inline constexpr const char* kArchiveFileName = "Archive.db";

enum class Source { Test, Instrument, File };
// "test", "instrument", "file".
const char* SourceName(Source s);

// The test configuration, as far as the result's source knows it: a live test knows all of
// it, a stored record its header, a result file what its title says.
struct Configuration {
    std::optional<int> InstrumentType;        // as the instrument reports it on connecting
    std::optional<int> WiringMode;            // 1 "正接线" .. 5 "变比"
    std::optional<int> Channels;              // 1 to 4
    std::optional<int> Standard;              // 1 internal, 2 external
    std::optional<int> Frequency;             // 1 fixed, 2 variable
    std::optional<int> FrequencyCode;         // of the test-start command (1..21, 50..53)
    std::optional<int> VoltageSource;         // 1 internal, 2 external
    std::optional<int> TestVoltage;           // V
    std::optional<double> ExtCapacitance;     // F, the external standard
    std::optional<double> ExtDissipation;     // %, the external standard
    std::optional<int> CvtVoltageLimit;       // V
    std::optional<int> CvtCurrentCode;        // the CVT limits as the test-start command codes
    std::optional<int> ExcitationVoltageCode; // them (item + 1 of their lists)
    std::optional<int> ExcitationCurrentCode;
    std::optional<int> Supply; // the instrument supply (item of its list)
    bool operator==(const Configuration&) const = default;
};

struct Quantity {
    std::string Name; // UTF-8, as the page labels it: "Cx", "DF", "Φ", "DFg" ...
    std::string Unit; // UTF-8 SI symbol: "F", "%", "Ω", "°" ...; empty for none
    std::optional<double> Value;
    bool Over = false;
    bool operator==(const Quantity&) const = default;
};

struct Conditions {
    std::string Specimen;              // UTF-8, as typed
    std::optional<double> Temperature; // ambient, °C
    std::optional<double> Humidity;    // relative, %
    bool operator==(const Conditions&) const = default;
};

struct Result {
    std::int64_t Seq = 0; // the row in this archive; 0 before it is archived
    std::string Id;       // UUID v4, made where the result was born
    std::string Measured; // the measurement's own stamp "2016-03-24T15:34:00"; empty if unknown
    TimePoint Archived{};
    Source From = Source::Test;
    std::optional<int> Record; // the instrument's record number when it was read
    Configuration Config;
    std::vector<Quantity> Quantities;
    ResultTexts Texts;               // GBK, exactly as shown
    std::vector<std::uint8_t> Frame; // the frame it was decoded from; empty for a file
    Conditions Taken;                // specimen and conditions
    TimePoint Edited{};              // the last change of Taken; the later edit wins
    std::string Station;             // the station id of the archive it was born in
    std::string Host;                // that station's host name, for display
    std::string DedupKey;            // same key, same result; empty for a live test
};

// What a filter leaves of the archive. Empty fields filter nothing.
struct Filter {
    // Results whose specimen contains this text (ASCII letters in either case) ...
    std::string Specimen;
    bool ExactSpecimen = false; // ... or is exactly this text
    std::string Since;          // "YYYY-MM-DD": measured on this day or later
    std::string Until;          // "YYYY-MM-DD": measured on this day or earlier
    std::optional<int> WiringMode;
};

// One line of the list: what the window's list shows, without the details.
struct Row {
    std::int64_t Seq = 0;
    std::string Id;
    std::string Measured;
    Source From = Source::Test;
    std::optional<int> Record;
    std::string Specimen;
    std::optional<int> WiringMode;
    std::string Main; // GBK
    std::string Host; // the laptop it was born on
};

// Where the next page starts: the last row of the page before.
struct Cursor {
    std::string Measured;
    std::int64_t Seq = 0;
};
Cursor CursorAfter(const Row& last);

// One capacitance of a wiring mode followed over time: Cx with DF, Cg with DFg, C1 with DF1,
// Ca with DFa ...
struct Series {
    std::optional<int> WiringMode;
    std::string Capacitance; // "Cx", "Ca" ...
    std::string Dissipation; // "DF", "DFa" ...
    bool operator==(const Series&) const = default;
};

struct TrendPoint {
    std::string Id;
    std::string Measured;
    std::optional<double> Capacitance; // F
    std::optional<double> Dissipation; // %
    bool CapacitanceOver = false;
    bool DissipationOver = false;
    std::optional<double> Change; // capacitance change from the first result, %
    std::optional<double> Temperature;
    std::optional<double> Humidity;
};

// A value, or why there is none.
template <typename T>
struct Outcome {
    T Value{};
    std::string Error; // empty on success
    bool Ok() const { return Error.empty(); }
};

struct Added {
    std::string Id;    // the result's id, or the id it was archived under before
    bool New = false;  // false: archived already (the same record or file run)
    std::string Error; // empty when the result is kept
    bool Ok() const { return Error.empty(); }
};

// The lab's server as this archive knows it (schema 2), for the synchronisation (sync/).
// What the server holds of one result: the edit of its specimen and conditions.
struct ServerMark {
    std::string Id;
    TimePoint Edited{};
    std::string EditedBy; // the station that made that edit
};
// The server this archive synchronises with, and the last of its changes read.
struct ServerPosition {
    std::string Lab; // the server's own id; empty before the first synchronisation
    std::int64_t Cursor = 0;
};
// A result as the server holds it.
struct PulledResult {
    Result Value; // its Edited is the server's edit
    std::string EditedBy;
};
struct Merged {
    int Added = 0;   // new here
    int Updated = 0; // took the server's later specimen and conditions
    int Known = 0;   // here already (or the same record or file run under another id)
};
// Of two edits of a result's specimen and conditions, whether (a, byA) wins over (b, byB): the
// later edit wins; of two at the same millisecond, the one of the greater station id (in byte
// order), so that every archive and the server choose the same.
bool LaterEdit(TimePoint a, const std::string& byA, TimePoint b, const std::string& byB);

class Archive;

// What opening an archive brought.
struct Opened {
    std::unique_ptr<Archive> Store; // nothing when it cannot be opened at all
    std::string Error;              // why not
    std::string Notice;             // opened, but read-only: why
};

// A step of the schema: from To - 1 to To. Each runs in the transaction that sets the version.
struct Migration {
    int To = 0;
    std::string (*Apply)(sqlite3* db) = nullptr; // empty text: done
};
// The steps of this program, 1 to kSchemaVersion.
const std::vector<Migration>& Migrations();

struct OpenOptions {
    bool Create = true;        // create the file when it is missing
    bool ReadOnly = false;     // never write
    int BusyTimeoutMs = 10000; // how long a write waits for another's
    // Every commit waits until the disk has it (PRAGMA synchronous = FULL), so that a power
    // cut loses nothing; a few milliseconds a result on a slow disk. Without it a result kept
    // survives the program being killed or crashing, and a power cut may take back the results
    // since the last checkpoint; the file stays whole either way.
    bool SyncEveryCommit = false;
    const Clock* Time = nullptr; // the archived and edit times; the system clock by default
    // The schema steps; tests give further ones to try a migration.
    const std::vector<Migration>* Steps = nullptr;
};

class Archive {
public:
    // Opens (or creates) the archive file. A file of a newer schema opens read-only with a
    // notice; a damaged file, or one that is not an archive, opens nothing and is left as it
    // was. The folder is not created.
    static Opened Open(const std::string& path, const OpenOptions& options = {});
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const std::string& Path() const { return Path_; }
    bool ReadOnly() const { return ReadOnly_; }
    int SchemaVersion() const { return Version_; }
    // This archive's station id and host name, given to every result born here.
    const std::string& Station() const { return Station_; }
    const std::string& Host() const { return Host_; }

    // Keeps a result in one transaction, committed before this returns. An empty id, station,
    // host or archived time is filled in. A result whose dedup key or id is archived already
    // is not added again: the answer names the earlier one.
    Added Add(Result result);
    // Specimen and conditions of a result, with the time of the edit. Empty text: done.
    std::string SetConditions(const std::string& id, const Conditions& c);
    std::string Delete(const std::string& id);

    Outcome<std::optional<Result>> Get(const std::string& id);
    // Newest first (by the measurement's stamp), at most `limit` rows after the cursor.
    Outcome<std::vector<Row>> List(const Filter& f, const std::optional<Cursor>& after, int limit);
    Outcome<std::int64_t> Count(const Filter& f);
    // Every result the filter leaves, whole, newest first; `each` returns false to stop.
    std::string ForEach(const Filter& f, const std::function<bool(const Result&)>& each);
    // The specimens named in the archive, in order.
    Outcome<std::vector<std::string>> Specimens();
    // The series one specimen has results in, by wiring mode.
    Outcome<std::vector<Series>> SeriesOf(const std::string& specimen);
    // One specimen's results of one series, oldest first, with the capacitance change from the
    // first result that has a capacitance.
    Outcome<std::vector<TrendPoint>> Trend(const std::string& specimen, const Series& s);
    // The quantity names and units that the filtered results hold, in the order of the pages.
    Outcome<std::vector<std::pair<std::string, std::string>>> QuantityColumns(const Filter& f);

    // A specimen's facts: its row, or the defaults (Stored false) when it has none yet.
    Outcome<Specimen> SpecimenNamed(const std::string& name);
    // Keeps a specimen's facts, making its row when it has none; the edit time is set here.
    // Empty text: done.
    std::string SetSpecimen(Specimen s);

    // PRAGMA integrity_check: "ok" or what it found.
    std::string IntegrityCheck();

    // The lab's server. Results the server does not hold as they are here (never pushed, or
    // their specimen or conditions edited here since), whole, after `afterSeq` in the order
    // they were archived; and how many there are.
    Outcome<std::vector<Result>> Unpushed(std::int64_t afterSeq, int limit);
    Outcome<std::int64_t> CountUnpushed();
    Outcome<ServerPosition> Position();
    // Another server than before (or the first): every mark and the cursor are forgotten, so
    // that everything is pushed to it and read from it.
    std::string StartWithServer(const std::string& lab);
    // The server holds these edits now; the cursor moves too when given. One transaction.
    std::string MarkPushed(const std::vector<ServerMark>& marks,
                           std::optional<std::int64_t> cursor);
    // Results read from the server and the cursor after them, in one transaction: a result
    // new here is archived as it is; one here already takes the server's specimen and
    // conditions when the server's edit wins (LaterEdit) and keeps its own otherwise, to be
    // pushed.
    Outcome<Merged> MergePulled(const std::vector<PulledResult>& pulled, std::int64_t cursor);

private:
    Archive() = default;
    struct Statements;
    std::string Fail(int rc, const std::string& what);
    std::string Writable() const;

    sqlite3* Db_ = nullptr;
    std::string Path_;
    bool ReadOnly_ = false;
    std::string ReadOnlyReason_;
    bool Damaged_ = false;
    int Version_ = 0;
    std::string Station_;
    std::string Host_;
    const Clock* Clock_ = nullptr;
    std::unique_ptr<Statements> Cache_;
    std::unique_ptr<detail::Checkpointer> Checkpointer_;
};

// The results the program has, ready to archive (the id, station and times are filled in by
// Add). A live final result with the panel selection it was taken with, the test-start values
// when known, and the instrument type (0 when not known).
Result FromTest(const std::uint8_t* frame, int length, const PanelSelection& s,
                const TestParameters* p, int instrumentType);
// A stored record; its number when the caller knows it. Keyed by its bytes: the same record
// read twice is one result, whatever number it had then.
Result FromRecord(std::uint8_t code, const std::uint8_t* frame, int length,
                  std::optional<int> recordNumber, int instrumentType);
// One run of a result file, its numbers read back from its texts. Keyed by its texts.
Result FromFile(const ResultTexts& t);

// The text of a wiring mode as the panel shows it, UTF-8 ("反接线"); empty for none.
std::string WiringModeText(const std::optional<int>& mode);

} // namespace dielmon::archive
