// Keeping every result the program shows, with nothing for the operator to do: the archive in
// the data folder, the specimen and conditions given for the results to come, and what the
// operator must be told when the archive cannot take a result. No Qt: the window shows the
// texts this returns and decides nothing of its own.
//
// What the operator is told, and how often:
// - an archive of a newer program opens read-only: told once, at start;
// - a file that is damaged or no archive of ours opens nothing, is never written to, and the
//   program runs on without an archive: told once;
// - a result that cannot be written (a full disk, a read-only file or folder): told once, and
//   told again only after a result has been kept in between.
#pragma once

#include "archive/archive.h"
#include "core/clock.h"
#include "core/controller.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dielmon::archive {

// A temperature or a humidity as the operator typed it: blank is "not given"; anything else
// must be a number within the range, with "." or "," before its decimals.
struct Reading {
    std::optional<double> Value;
    bool Valid = true;
};
inline constexpr double kLowestTemperature = -60; // °C
inline constexpr double kHighestTemperature = 80; // °C
Reading ReadTemperature(const std::string& text); // ambient, °C
Reading ReadHumidity(const std::string& text);    // relative, 0 to 100 %
// What an invalid entry is told (UTF-8).
const char* TemperatureHint();
const char* HumidityHint();
// A value as the fields show it again: "23.5", "-4", "" for none.
std::string ReadingText(const std::optional<double>& value);

// The main result in one line, as a list shows it (UTF-8): its lines without their padding,
// two spaces apart.
std::string MainInOneLine(const std::string& gbkMain);

class ResultKeeper {
public:
    struct Options {
        std::string DataFolder;      // where Archive.db lives; made on first use
        const Clock* Time = nullptr; // the archived and edit times; the system clock by default
        int BusyTimeoutMs = 10000;   // how long a write waits for another program's
    };

    explicit ResultKeeper(Options options);
    ~ResultKeeper();
    ResultKeeper(const ResultKeeper&) = delete;
    ResultKeeper& operator=(const ResultKeeper&) = delete;

    // At start: the conditions given last time, and the archive when its file is there (a
    // missing one is made with the first result). What the operator must be told (UTF-8).
    std::vector<std::string> Start();

    struct Kept {
        bool Archived = false; // in the archive now: kept by this call or before it
        bool New = false;      // kept by this call
        std::string Id;
        std::string Error;             // why it is not in the archive
        std::vector<std::string> Tell; // what the operator must be told (UTF-8)
    };
    // Archives a result the controller reports complete. A test's result takes the specimen
    // and conditions given for it; a record read from the instrument was measured at another
    // time and place and takes none (the operator gives them in the archive).
    Kept Keep(const CompletedResult& result);

    // The archive for browsing, made on first use; nullptr when there is none, with the reason
    // told once through `tell`.
    Archive* Store(std::vector<std::string>* tell = nullptr);
    // The archive's file and its state in one line for the archive page (UTF-8).
    std::string StateText() const;
    std::string ArchivePath() const;
    // Results can be written (the archive is open, or can still be made).
    bool Writable() const;

    // The specimen and conditions the following results take, remembered for the next run in
    // the data folder (unless `remember` is false: while the operator is still typing).
    // SetNext returns why they could not be remembered (empty: done).
    const Conditions& Next() const { return Next_; }
    std::string SetNext(const Conditions& c, bool remember = true);
    std::string ConditionsPath() const;

private:
    enum class State { NotYet, Open, ReadOnly, Unusable };
    // Opens (or makes) the archive when there is none yet; what to tell.
    void EnsureOpen(std::vector<std::string>& tell);
    void TellOnce(std::vector<std::string>& tell, const std::string& text);

    Options Options_;
    State State_ = State::NotYet;
    std::unique_ptr<Archive> Store_;
    std::string Reason_; // why the archive is read-only or unusable (its own words)
    bool Told_ = false;  // a failure has been told and no write has succeeded since
    Conditions Next_;
    std::optional<Conditions> Saved_; // what the conditions file holds
};

} // namespace dielmon::archive
