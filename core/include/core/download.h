// Reading every record the instrument keeps, in one go, as a plain state machine: the caller
// writes the frames it asks for, feeds it every frame received and the steady time, and takes
// each record it completes. Used by dielmon-archive's download and by "下载全部记录".
//
// It speaks the instrument's commands only: CmdReadIndex, then CmdReadRecord for every number
// the index lists (a listing is a run of RspIndex entries that starts with number 1, each
// carrying the count of records kept, so the listing is whole when entries 1 to that count
// have come); in a session of its own also CmdConnect first and CmdDisconnect last.
//
// A stored record carries no number, so an answer is taken for the record last asked for. An
// instrument that does not answer within the time-out is asked once more; when that answer is
// late too the download fails. After a record that needed asking twice, the download waits one
// time-out before asking for the next, and drops any second answer that arrives meanwhile, so
// that a late answer is never taken for the next record.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

class RecordDownload {
public:
    using SteadyTime = std::chrono::steady_clock::time_point;

    struct Options {
        // How long an answer may take: from the command, or from the last index entry.
        std::chrono::milliseconds AnswerTimeout{3000};
        // Connect first (its answer gives the instrument type) and disconnect at the end: for a
        // program that is not connected already.
        bool Session = false;
    };

    enum class State {
        Idle,
        Connecting,
        ReadingIndex,
        ReadingRecords,
        Settling,
        Disconnecting,
        Done,
        Failed,
        Cancelled,
    };

    enum class Failure {
        None,
        NoAnswer,        // the instrument stopped answering (asked twice)
        InstrumentError, // the instrument reported an error (RspError)
    };

    struct Record {
        int Number = 0;
        std::uint8_t Code = 0;
        std::vector<std::uint8_t> Frame;
    };

    // What the caller does after a call.
    struct Step {
        std::vector<std::uint8_t> Send;  // write this frame now; empty: nothing
        std::optional<Record> Completed; // a record read whole, to be archived
        bool Progressed = false;         // Total() or Read() changed
    };

    RecordDownload();
    explicit RecordDownload(Options options);

    Step Start(SteadyTime now);
    Step Frame(const std::uint8_t* frame, int length, SteadyTime now);
    Step Tick(SteadyTime now);
    // Stops at once; in a session of its own the instrument is told goodbye.
    Step Cancel();

    State Current() const { return State_; }
    bool Finished() const;
    // The records the instrument keeps (-1 until the index has said), and those read so far.
    int Total() const { return Total_; }
    int Read() const { return Read_; }
    Failure Failed() const { return Failure_; }
    // The instrument's error code after InstrumentError.
    std::uint8_t ErrorCode() const { return ErrorCode_; }
    // What went wrong, for a log or a terminal; empty unless Failed.
    const std::string& Error() const { return Error_; }
    // The instrument type its answer to CmdConnect reported; 0 without a session.
    int InstrumentType() const { return InstrumentType_; }
    // When Tick has something to do next, if anything.
    std::optional<SteadyTime> Deadline() const;

private:
    Step Ask(std::vector<std::uint8_t> frame, SteadyTime now);
    Step AskIndex(SteadyTime now);
    Step AskRecord(SteadyTime now);
    Step Finish(SteadyTime now);
    Step Fail(Failure f, std::string error);
    bool ListingWhole() const;

    Options Options_;
    State State_ = State::Idle;
    std::vector<std::uint8_t> Asked_; // the last command, to ask once more
    bool AskedTwice_ = false;
    SteadyTime Due_{};
    int Total_ = -1;
    int Read_ = 0;
    int Next_ = 1;             // the record to ask for next
    std::vector<bool> Listed_; // index numbers seen in this listing
    Failure Failure_ = Failure::None;
    std::uint8_t ErrorCode_ = 0;
    std::string Error_;
    int InstrumentType_ = 0;
};

} // namespace dielmon
