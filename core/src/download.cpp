#include "core/download.h"

#include "core/commands.h"
#include "core/helpers.h"
#include "core/history.h"
#include "core/responses.h"

namespace dielmon {

namespace {

std::vector<std::uint8_t> Command(std::uint8_t code, int record = 0) {
    const auto frame = BuildShortCommand(code, static_cast<std::uint8_t>(record));
    return {frame.begin(), frame.end()};
}

} // namespace

RecordDownload::RecordDownload() : RecordDownload(Options{}) {}

RecordDownload::RecordDownload(Options options) : Options_(options) {}

bool RecordDownload::Finished() const {
    return State_ == State::Done || State_ == State::Failed || State_ == State::Cancelled;
}

std::optional<RecordDownload::SteadyTime> RecordDownload::Deadline() const {
    if (Finished() || State_ == State::Idle) {
        return std::nullopt;
    }
    return Due_;
}

RecordDownload::Step RecordDownload::Ask(std::vector<std::uint8_t> frame, SteadyTime now) {
    Asked_ = std::move(frame);
    AskedTwice_ = false;
    Due_ = now + Options_.AnswerTimeout;
    Step s;
    s.Send = Asked_;
    return s;
}

RecordDownload::Step RecordDownload::AskIndex(SteadyTime now) {
    State_ = State::ReadingIndex;
    Listed_.assign(256, false);
    return Ask(Command(CmdReadIndex), now);
}

RecordDownload::Step RecordDownload::AskRecord(SteadyTime now) {
    State_ = State::ReadingRecords;
    return Ask(Command(CmdReadRecord, Next_), now);
}

RecordDownload::Step RecordDownload::Finish(SteadyTime now) {
    if (Options_.Session) {
        State_ = State::Disconnecting;
        return Ask(Command(CmdDisconnect), now);
    }
    State_ = State::Done;
    return {};
}

RecordDownload::Step RecordDownload::Fail(Failure f, std::string error) {
    State_ = State::Failed;
    Failure_ = f;
    Error_ = std::move(error);
    Step s;
    if (Options_.Session) {
        s.Send = Command(CmdDisconnect);
    }
    return s;
}

bool RecordDownload::ListingWhole() const {
    if (Total_ < 0) {
        return false;
    }
    for (int n = 1; n <= Total_; ++n) {
        if (!Listed_[static_cast<std::size_t>(n)]) {
            return false;
        }
    }
    return true;
}

RecordDownload::Step RecordDownload::Start(SteadyTime now) {
    if (State_ != State::Idle) {
        return {};
    }
    if (Options_.Session) {
        State_ = State::Connecting;
        return Ask(Command(CmdConnect), now);
    }
    return AskIndex(now);
}

RecordDownload::Step RecordDownload::Frame(const std::uint8_t* frame, int length, SteadyTime now) {
    if (Finished() || State_ == State::Idle || length < 5) {
        return {};
    }
    const std::uint8_t code = frame[1];
    if (code == RspError) {
        if (State_ == State::Disconnecting) {
            State_ = State::Done;
            return {};
        }
        ErrorCode_ = ErrorCodeOf(frame, length);
        return Fail(Failure::InstrumentError,
                    Format("the instrument reported error 0x%02X", ErrorCode_));
    }
    switch (State_) {
    case State::Connecting:
        if (code == RspParameters) {
            InstrumentType_ = DecodeParameters(frame, length).InstrumentType;
            return AskIndex(now);
        }
        break;
    case State::ReadingIndex:
        if (code == RspIndex) {
            const IndexEntry e = DecodeIndexEntry(frame, length);
            if (e.Number == 1) {
                Listed_.assign(256, false);
            }
            Listed_[static_cast<std::size_t>(e.Number & 0xFF)] = true;
            Step s;
            s.Progressed = Total_ != e.Used;
            Total_ = e.Used;
            // The listing goes on: the time-out counts from its last entry.
            Due_ = now + Options_.AnswerTimeout;
            if (Total_ == 0) {
                Step f = Finish(now);
                f.Progressed = s.Progressed;
                return f;
            }
            if (ListingWhole()) {
                Next_ = 1;
                Step r = AskRecord(now);
                r.Progressed = s.Progressed;
                return r;
            }
            return s;
        }
        break;
    case State::ReadingRecords:
        if (IsStoredRecord(code)) {
            Step s;
            s.Completed = Record{Next_, code, std::vector<std::uint8_t>(frame, frame + length)};
            s.Progressed = true;
            ++Read_;
            if (AskedTwice_) {
                // A second answer to the same request may still be on its way.
                State_ = State::Settling;
                Due_ = now + Options_.AnswerTimeout;
                return s;
            }
            ++Next_;
            Step next = Next_ > Total_ ? Finish(now) : AskRecord(now);
            next.Completed = std::move(s.Completed);
            next.Progressed = true;
            return next;
        }
        break;
    case State::Disconnecting:
        if (code == RspDisconnected) {
            State_ = State::Done;
        }
        break;
    default:
        break;
    }
    return {};
}

RecordDownload::Step RecordDownload::Tick(SteadyTime now) {
    if (Finished() || State_ == State::Idle || now < Due_) {
        return {};
    }
    switch (State_) {
    case State::Settling:
        ++Next_;
        return Next_ > Total_ ? Finish(now) : AskRecord(now);
    case State::Disconnecting:
        // Saying goodbye needs no answer.
        State_ = State::Done;
        return {};
    default:
        break;
    }
    if (!AskedTwice_) {
        AskedTwice_ = true;
        Due_ = now + Options_.AnswerTimeout;
        if (State_ == State::ReadingIndex) {
            Listed_.assign(256, false);
        }
        Step s;
        s.Send = Asked_;
        return s;
    }
    if (State_ == State::ReadingIndex && Total_ > 0) {
        // Entries went missing twice, but the count says which numbers the records have.
        Next_ = 1;
        return AskRecord(now);
    }
    switch (State_) {
    case State::Connecting:
        return Fail(Failure::NoAnswer, "the instrument did not answer the connect request "
                                       "(asked twice)");
    case State::ReadingIndex:
        return Fail(Failure::NoAnswer, "the instrument did not send its index (asked twice)");
    default:
        return Fail(
            Failure::NoAnswer,
            Format("the instrument did not send record %d of %d (asked twice)", Next_, Total_));
    }
}

RecordDownload::Step RecordDownload::Cancel() {
    if (Finished()) {
        return {};
    }
    const bool started = State_ != State::Idle;
    State_ = State::Cancelled;
    Step s;
    if (Options_.Session && started) {
        s.Send = Command(CmdDisconnect);
    }
    return s;
}

} // namespace dielmon
