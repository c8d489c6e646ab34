#include "sim/instrument.h"

#include "model.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/responses.h"

#include <algorithm>

namespace dielmon::sim {

// A test in progress. Its events are numbered: 0 RspTestStarted, 1..Boosts the boosting
// frames, then the Steps step frames, then the final result.
struct Instrument::Run {
    TestConditions Conditions;
    int Boosts = 0;
    int Steps = 0;
    int Next = 0;
    SteadyTime NextDue;

    int FinalEvent() const { return Boosts + Steps + 1; }
};

namespace {

// The highest internal test voltage by instrument type, and the highest CVT limit.
int MaxTestVolts(int instrumentType) {
    return instrumentType >= 6 ? 12000 : 10000;
}
constexpr int kMaxCvtVolts = 4000;

// Error codes with which the instrument refuses a test it cannot run.
constexpr std::uint8_t kWiringFault = 0xB3;
constexpr std::uint8_t kOverVoltage = 0xB1;

} // namespace

Instrument::Instrument(const SimOptions& options, const Clock& wallClock)
    : Options_(options), WallClock_(wallClock), Model_(std::make_unique<Model>(options.Seed)),
      Error_(options.Error), HangupAt_(options.HangupAt) {
    const int records = std::clamp(options.Records, 0, kMaxRecords);
    for (int i = 0; i < records; ++i) {
        Store_.push_back(Model_->SampleRecord(i));
    }
}

Instrument::~Instrument() = default;

SteadyTime::duration Instrument::Scaled(std::chrono::milliseconds d) const {
    const std::chrono::duration<double, std::milli> scaled(static_cast<double>(d.count()) /
                                                           Options_.Speed);
    return std::chrono::duration_cast<SteadyTime::duration>(scaled);
}

std::vector<std::uint8_t> Instrument::Frame(std::uint8_t code,
                                            const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> f = BuildFrame(code, payload);
    if (Options_.BadCheck) {
        f[f.size() - 2] ^= 0xFF;
    }
    return f;
}

void Instrument::Reply(std::uint8_t code, const std::vector<std::uint8_t>& payload, SteadyTime now,
                       std::chrono::milliseconds delay) {
    // One command at a time: an answer never overtakes the answer to an earlier command.
    const SteadyTime due = std::max(now, BusyUntil_) + Scaled(delay);
    BusyUntil_ = due;
    Output o{due, Frame(code, payload), false};
    const auto at = std::upper_bound(Replies_.begin(), Replies_.end(), due,
                                     [](SteadyTime t, const Output& x) { return t < x.Due; });
    Replies_.insert(at, std::move(o));
}

DateStamp Instrument::Now() const {
    const LocalTime t = ToLocal(WallClock_.Now());
    DateStamp d;
    d.Year = static_cast<std::uint8_t>(t.year - 2000);
    d.Month = static_cast<std::uint8_t>(t.month);
    d.Day = static_cast<std::uint8_t>(t.day);
    d.Hour = static_cast<std::uint8_t>(t.hour);
    d.Minute = static_cast<std::uint8_t>(t.minute);
    d.Second = static_cast<std::uint8_t>(t.second);
    return d;
}

void Instrument::Receive(const std::uint8_t* frame, int length, SteadyTime now) {
    if (LineClosed_ || length < kFrameOverhead) {
        return;
    }
    const std::uint8_t code = frame[1];
    ++Counters_.Commands[code];
    if (frame[length - 2] != CalcCheckCode(frame, length)) {
        // A frame damaged on the line is dropped; the program may send it again.
        ++Counters_.BadCheck;
        return;
    }
    if (Options_.Silent) {
        return;
    }
    const auto reply = InstrumentTiming::Reply;
    switch (code) {
    case CmdConnect:
        Reply(RspParameters,
              EncodeParameters(Options_.InstrumentType, Settings_, Options_.DoubleSteps), now,
              reply);
        break;
    case CmdDisconnect:
        Reply(RspDisconnected, EncodeAck(), now, reply);
        break;
    case CmdInstrumentSave:
        Save(now);
        break;
    case CmdInstrumentPrint:
        Reply(RspPrinted, EncodeAck(), now, InstrumentTiming::Print);
        break;
    case CmdReturn:
        Reply(RspReturned, EncodeAck(), now, reply);
        break;
    case CmdStartTest:
        StartTest(frame, length, now);
        break;
    case CmdStopTest:
        Run_.reset();
        Reply(RspStopped, EncodeAck(), now, reply);
        break;
    case CmdReadIndex:
        ListIndex(now);
        break;
    case CmdReadRecord:
        if (const auto index = RecordOf(frame, length)) {
            const StoredRecord& r = Store_[*index];
            Reply(StoredRecordCode(r.Data.Values), EncodeStoredRecord(r), now, reply);
        } else {
            ++Counters_.Unanswered;
        }
        break;
    case CmdDeleteRecord:
        if (const auto index = RecordOf(frame, length)) {
            // The records after it move up one number.
            Store_.erase(Store_.begin() + static_cast<std::ptrdiff_t>(*index));
            Reply(RspRecordDeleted, EncodeAck(), now, reply);
        } else {
            ++Counters_.Unanswered;
        }
        break;
    case CmdClearHistory:
        Store_.clear();
        Reply(RspHistoryCleared, EncodeAck(), now, InstrumentTiming::Clear);
        break;
    default:
        ++Counters_.Unknown;
        break;
    }
}

std::optional<std::size_t> Instrument::RecordOf(const std::uint8_t* frame, int length) const {
    const int number = length > kFrameOverhead ? frame[3] : 0;
    if (number < 1 || number > static_cast<int>(Store_.size())) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(number - 1);
}

void Instrument::Save(SteadyTime now) {
    const bool store =
        LastResult_ && !LastResultSaved_ && static_cast<int>(Store_.size()) < kMaxRecords;
    if (store) {
        Store_.push_back(*LastResult_);
        LastResultSaved_ = true;
    } else {
        ++Counters_.NothingSaved;
    }
    Reply(RspSaved, EncodeAck(), now, InstrumentTiming::Save);
    if (store && Options_.SaveDone) {
        Reply(RspSaveDone1, EncodeAck(), now, InstrumentTiming::SaveDone);
    }
}

void Instrument::ListIndex(SteadyTime now) {
    if (Store_.empty()) {
        Reply(RspIndex, EncodeIndexEntry(0, 1, DateStamp{0, 0, 0, 0, 0, 0}), now,
              InstrumentTiming::Reply);
        return;
    }
    const int used = static_cast<int>(Store_.size());
    for (int n = 1; n <= used; ++n) {
        Reply(RspIndex,
              EncodeIndexEntry(used, n, Store_[static_cast<std::size_t>(n - 1)].Data.Date), now,
              n == 1 ? InstrumentTiming::Reply : InstrumentTiming::IndexGap);
    }
}

void Instrument::StartTest(const std::uint8_t* frame, int length, SteadyTime now) {
    if (Run_) {
        ++Counters_.Unanswered;
        return;
    }
    const TestRequest request = DecodeTestStart(frame, length);
    const InstrumentSettings& s = request.Settings;
    if (s.WiringMode < 1 || s.WiringMode > 5) {
        Reply(RspError, EncodeError(kWiringFault), now, InstrumentTiming::Reply);
        return;
    }
    const bool tooHigh = s.WiringMode == 4 ? s.CvtVoltageLimit > kMaxCvtVolts
                                           : s.TestVoltage > MaxTestVolts(Options_.InstrumentType);
    if (tooHigh) {
        Reply(RspError, EncodeError(kOverVoltage), now, InstrumentTiming::Reply);
        return;
    }

    Settings_ = s;
    ++TestsStarted_;
    Run_ = std::make_unique<Run>();
    Run_->Conditions = ConditionsOf(request);
    Run_->Boosts = InstrumentTiming::BoostFrames;
    Run_->Steps = StepCount(s.WiringMode, Run_->Conditions.Channels, Options_.DoubleSteps);
    Run_->NextDue = std::max(now, BusyUntil_) + Scaled(InstrumentTiming::Reply);
}

int Instrument::FaultEvent(int step) const {
    if (step <= 0) {
        return 1;
    }
    return step <= Run_->Steps ? Run_->Boosts + step : Run_->FinalEvent();
}

std::optional<SteadyTime> Instrument::NextDue() const {
    std::optional<SteadyTime> due;
    if (!Replies_.empty()) {
        due = Replies_.front().Due;
    }
    if (Run_ && (!due || Run_->NextDue < *due)) {
        due = Run_->NextDue;
    }
    return due;
}

std::vector<Output> Instrument::Poll(SteadyTime now) {
    std::vector<Output> out;
    while (!LineClosed_) {
        const auto due = NextDue();
        if (!due || *due > now) {
            break;
        }
        const bool replyFirst = !Replies_.empty() && Replies_.front().Due == *due;
        if (replyFirst) {
            out.push_back(std::move(Replies_.front()));
            Replies_.erase(Replies_.begin());
        } else {
            EmitRunEvent(out);
        }
    }
    return out;
}

void Instrument::EmitRunEvent(std::vector<Output>& out) {
    Run& run = *Run_;
    const int event = run.Next;
    const SteadyTime due = run.NextDue;
    const TestConditions& c = run.Conditions;

    if (event > 0) {
        bool ended = false;
        if (Error_ && FaultEvent(Error_->Step) == event) {
            out.push_back({due, Frame(RspError, EncodeError(Error_->Code)), false});
            Error_.reset();
            ended = true;
        }
        if (HangupAt_ && FaultEvent(*HangupAt_) == event) {
            out.push_back({due, {}, true});
            HangupAt_.reset();
            LineClosed_ = true;
            Replies_.clear();
            ended = true;
        }
        if (ended) {
            Run_.reset();
            return;
        }
    }

    if (event == 0) {
        out.push_back({due, Frame(RspTestStarted, EncodeAck()), false});
    } else if (event <= run.Boosts) {
        out.push_back(
            {due, Frame(RspBoosting, EncodeBoost(Model_->Boost(c, event, run.Boosts))), false});
    } else if (event < run.FinalEvent()) {
        const int step = event - run.Boosts;
        out.push_back(
            {due, Frame(RspStepResult, EncodeStep(Model_->Step(c, step, run.Steps))), false});
    } else {
        StoredRecord result;
        result.Header = c.Header;
        result.Data.Values = Model_->Measure(c, TestsStarted_);
        result.Data.Date = Now();
        out.push_back({due, Frame(RspFinalResult, EncodeFinalResult(result.Data)), false});
        LastResult_ = std::move(result);
        LastResultSaved_ = false;
        Run_.reset();
        return;
    }

    ++run.Next;
    run.NextDue +=
        Scaled(run.Next <= run.Boosts ? InstrumentTiming::Boost : InstrumentTiming::Step);
}

} // namespace dielmon::sim
