// Every decoder of a received payload, with arbitrary frames, under panel selections of every
// kind: all wiring modes and unknown texts, channel indices -1 to 3, short and long frequency
// texts, the five stored-record codes; and the panel itself driven through a sequence of the
// operator's choices and instrument reports.
#include "check.h"
#include "core/commands.h"
#include "core/frame.h"
#include "core/helpers.h"
#include "core/history.h"
#include "core/panel.h"
#include "core/responses.h"
#include "core/results.h"
#include "core/texts.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace dielmon;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t kStoredCodes[] = {RspRecord, RspRecordMulti, RspRecordShielded, RspRecordCvt,
                                     RspRecordRatio};

std::string PickText(FuzzedDataProvider& in, const std::vector<std::string>& known) {
    const std::size_t k = in.ConsumeIntegralInRange<std::size_t>(0, known.size());
    return k < known.size() ? known[k] : in.ConsumeRandomLengthString(24);
}

PanelSelection MakeSelection(FuzzedDataProvider& in) {
    PanelSelection s;
    std::vector<std::string> modes = {""};
    for (int k = 1; k <= 5; ++k) {
        modes.push_back(IndexToWiringMode(k));
    }
    s.ConnType = PickText(in, modes);
    s.Standard = PickText(in, {texts::kInternalStandard, texts::kExternalStandard, ""});
    // Shorter than five bytes counts as a fixed frequency, longer as a variable one.
    s.Frequency = PickText(in, {"", "50Hz", "50±1Hz", texts::kAutoDetect});
    s.TestVolt = PickText(in, {texts::kInternalHighVoltage, texts::kExternalHighVoltage, ""});
    s.ModelIndex =
        in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-1, 3) : in.ConsumeIntegral<int>();
    return s;
}

// Everything a display shows for one frame under one selection, as one text.
std::string DecodeAll(const std::uint8_t* frame, int length, const PanelSelection& s,
                      ExcitationTexts& kept) {
    std::string all;
    if (const auto boost = ShowBoosting(frame, length, s, kept)) {
        all += *boost;
    }
    all += '|' + ShowStep(frame, length, s, kept);
    const FinalResultView final = ShowFinalResult(frame, length, s);
    all += '|' + final.Texts.Title + '|' + final.Texts.Main + '|' + final.Texts.Details + '|' +
           std::to_string(final.PanelHeight);
    std::vector<std::uint8_t> codes(std::begin(kStoredCodes), std::end(kStoredCodes));
    if (length > 1) {
        codes.push_back(frame[1]);
    }
    for (const std::uint8_t code : codes) {
        const StoredRecordView v = ShowStoredRecord(code, frame, length);
        all += '|' + v.Title + '|' + v.Main.value_or("(kept)") + '|' + v.Details + '|' +
               std::to_string(v.PanelHeight.value_or(-1));
        all += '|' + std::to_string(LeastPayloadLength(code, s));
    }
    const InstrumentParameters p = DecodeParameters(frame, length);
    all += '|' + std::to_string(p.InstrumentType) + ',' + std::to_string(p.TestVoltage) + ',' +
           FormatFixed(3, 0, p.ExtCapacitance) + ',' + FormatFixed(3, 0, p.ExtDissipation);
    const IndexUpdate u = ShowIndexEntry(frame, length);
    all += '|' + std::to_string(u.ClearRows) + u.CountText;
    if (u.Row) {
        all += '|' + u.Row->Number + '|' + u.Row->Time;
    }
    all += '|' + TestConfigurationLine(s) + '|' + std::to_string(GaugeMaximum(s, 1, 7)) +
           std::to_string(GaugeMaximum(s, 0, 7));
    return all;
}

// The payload is N bytes, N from the length byte, as far as the frame holds them; what
// follows it (check byte, end marker, stale bytes) must not change any text.
void CheckPayloadBound(const Bytes& frame, const PanelSelection& s) {
    const int length = static_cast<int>(frame.size());
    const int payload = length > 3 ? std::min<int>(frame[2], length - 3) : 0;
    Bytes other = frame;
    for (std::size_t k = static_cast<std::size_t>(3 + payload); k < other.size(); ++k) {
        other[k] = static_cast<std::uint8_t>(~other[k]);
    }
    if (other == frame) {
        return;
    }
    ExcitationTexts a;
    ExcitationTexts b;
    FUZZ_CHECK(DecodeAll(frame.data(), length, s, a) == DecodeAll(other.data(), length, s, b));
    FUZZ_CHECK(a.ExcitationVoltageText == b.ExcitationVoltageText);
    FUZZ_CHECK(a.ExcitationCurrentText == b.ExcitationCurrentText);
}

void DecodeFrame(const Bytes& bytes, const PanelSelection& s, ExcitationTexts& kept) {
    // A heap block of exactly the frame's size, so that any read past it is caught.
    const int length = static_cast<int>(bytes.size());
    std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), frame.get());
    DecodeAll(frame.get(), length, s, kept);
    const std::uint8_t error = ErrorCodeOf(frame.get(), length);
    FUZZ_CHECK(length < 3 || error == frame[static_cast<std::size_t>(length) - 3]);
    ErrorText(error);
    DecodeStartTest(frame.get(), length);
}

void CheckCombo(const ComboModel& c) {
    FUZZ_CHECK(c.ItemIndex >= -1 && c.ItemIndex < static_cast<int>(c.Items.size()));
}

void CheckPanel(Panel& panel) {
    for (const ComboModel* c : panel.Combos()) {
        CheckCombo(*c);
    }
    const auto& items = panel.CBox_Freq.Items;
    FUZZ_CHECK(std::count(items.begin(), items.end(), texts::kAutoDetect) <= 1);
}

// What the instrument's report must leave on the panel, whatever the panel held before.
void CheckReported(const Panel& panel, const InstrumentParameters& p) {
    const int mode = p.WiringMode >= 1 && p.WiringMode <= 5 ? p.WiringMode - 1 : -1;
    FUZZ_CHECK(panel.CBox_ConnType.ItemIndex == mode);
    FUZZ_CHECK(panel.BBtn_StartTest && panel.BBtn_UpHis && panel.BBtn_DelHis);
    const auto& freq = panel.CBox_Freq;
    if (p.TestVoltage == 0) {
        FUZZ_CHECK(panel.CBox_TestVolt.ItemIndex == 0);
        FUZZ_CHECK(!panel.Edt_Volt.Visible && !panel.Label2Visible);
        FUZZ_CHECK(freq.Text() == texts::kAutoDetect);
    } else {
        FUZZ_CHECK(panel.CBox_TestVolt.ItemIndex == 1);
        FUZZ_CHECK(panel.Edt_Volt.Visible && panel.Label2Visible);
        FUZZ_CHECK(panel.Edt_Volt.Text == std::to_string(p.TestVoltage));
        FUZZ_CHECK(freq.IndexOf(texts::kAutoDetect) < 0);
        const std::string reported = FrequencyCodeText(p.FrequencyCode);
        if (!reported.empty() && freq.IndexOf(reported) >= 0) {
            FUZZ_CHECK(freq.Text() == reported);
        }
    }
    // The external standard's values as the edit fields show them.
    FUZZ_CHECK(panel.Edt_C.Text.empty() == !std::isfinite(p.ExtCapacitance));
    FUZZ_CHECK(panel.Edt_C.Text.find_first_not_of("-0123456789") == std::string::npos);
    FUZZ_CHECK(panel.Edt_JS.Text.empty() == !std::isfinite(p.ExtDissipation));
}

void CheckStartTestRoundTrip(const TestParameters& p) {
    const auto frame = BuildStartTest(p);
    FUZZ_CHECK(CalcCheckCode(frame.data(), kStartTestLength) == frame[kStartTestLength - 2]);
    const TestParameters q = DecodeStartTest(frame.data(), kStartTestLength);
    FUZZ_CHECK(q.Channels == p.Channels && q.WiringMode == p.WiringMode);
    FUZZ_CHECK(q.Standard == p.Standard && q.FrequencyCode == p.FrequencyCode);
    FUZZ_CHECK(std::memcmp(&q.ExtCapacitance, &p.ExtCapacitance, sizeof(float)) == 0);
    FUZZ_CHECK(std::memcmp(&q.ExtDissipation, &p.ExtDissipation, sizeof(float)) == 0);
    // The two 16-bit words carry what the operator may enter: 0 to 65535.
    if (p.TestVoltage >= 0 && p.TestVoltage <= 0xFFFF) {
        FUZZ_CHECK(q.TestVoltage == p.TestVoltage);
    }
    if (p.CvtVoltageLimit >= 0 && p.CvtVoltageLimit <= 0xFFFF) {
        FUZZ_CHECK(q.CvtVoltageLimit == p.CvtVoltageLimit);
    }
    FUZZ_CHECK(q.CvtCurrentCode == p.CvtCurrentCode && q.Supply == p.Supply);
    FUZZ_CHECK(q.ExcitationVoltageCode == p.ExcitationVoltageCode);
    FUZZ_CHECK(q.ExcitationCurrentCode == p.ExcitationCurrentCode);
}

Bytes SomeFrame(FuzzedDataProvider& in) {
    return in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 80));
}

void DrivePanel(FuzzedDataProvider& in) {
    Panel panel;
    ExcitationTexts kept;
    if (in.ConsumeBool()) {
        // As the window is shown: empty, disabled, the frequency list filled.
        panel.ResetPanel(false);
        panel.FillFrequencyList();
    }
    for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 12)) {
        case 0:
            panel.ResetPanel(in.ConsumeBool());
            break;
        case 1:
            panel.SetPanelLocked(in.ConsumeBool());
            break;
        case 2:
            panel.FillFrequencyList();
            break;
        case 3:
            panel.CBox_ConnType.Select(in.ConsumeIntegralInRange<int>(-1, 5));
            panel.CBox_ConnTypeChange();
            break;
        case 4:
            panel.CBox_U.Select(in.ConsumeIntegralInRange<int>(-1, 2));
            panel.CBox_UChange();
            break;
        case 5:
            panel.CBox_TestVolt.Select(in.ConsumeIntegralInRange<int>(-1, 2));
            panel.CBox_TestVoltChange();
            break;
        case 6:
            panel.CBox_Freq.Select(in.ConsumeIntegralInRange<int>(-1, 26));
            break;
        case 7:
            panel.CBox_Model.Select(in.ConsumeIntegralInRange<int>(-1, 4));
            break;
        case 8: {
            // The payload length and the payload come from the input.
            Bytes frame = SomeFrame(in);
            frame.insert(frame.begin(), {kFrameStart, RspParameters});
            const InstrumentParameters p =
                panel.ApplyInstrumentParameters(frame.data(), static_cast<int>(frame.size()));
            CheckReported(panel, p);
            break;
        }
        case 9:
            panel.SetCvtMode(in.ConsumeBool());
            break;
        case 10:
            panel.SetExternalStandardEnabled(in.ConsumeBool());
            break;
        case 11: {
            EditModel* edits[] = {&panel.Edt_Volt, &panel.Edt_C, &panel.Edt_JS, &panel.CBox_VoltUp};
            edits[in.ConsumeIntegralInRange<int>(0, 3)]->Text = in.ConsumeRandomLengthString(16);
            break;
        }
        case 12:
            CheckStartTestRoundTrip(panel.ReadTestParameters());
            break;
        }
        CheckPanel(panel);
        // Whatever the panel holds, the live displays decode a frame under its selection.
        if (in.ConsumeBool()) {
            DecodeFrame(SomeFrame(in), panel.Selection(), kept);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        DrivePanel(in);
        return 0;
    }
    const PanelSelection s = MakeSelection(in);
    const Bytes frame = in.ConsumeRemainingBytes<std::uint8_t>();
    ExcitationTexts kept;
    DecodeFrame(frame, s, kept);
    CheckPayloadBound(frame, s);
    return 0;
}
