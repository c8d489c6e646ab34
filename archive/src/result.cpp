// The results the program has, made ready to archive: their numbers decoded by the core, their
// texts as the pages show them, their configuration and the key that tells them apart.
#include "archive/archive.h"

#include "identity.h"

#include "core/gbk.h"
#include "core/helpers.h"
#include "core/measured.h"

#include <algorithm>

namespace dielmon::archive {

namespace {

std::optional<int> Known(int value) {
    return value != 0 ? std::optional<int>(value) : std::nullopt;
}

// The measured part: quantities in UTF-8, the stamp, the configuration the source knows.
Result FromMeasurement(const Measurement& m) {
    Result r;
    for (const MeasuredQuantity& q : m.Quantities) {
        const std::string name = GbkToUtf8(q.Name);
        // A text edited by hand may name a quantity twice; the first one counts.
        if (std::any_of(r.Quantities.begin(), r.Quantities.end(),
                        [&](const Quantity& k) { return k.Name == name; })) {
            continue;
        }
        r.Quantities.push_back({name, GbkToUtf8(UnitSymbol(q.Unit())), q.Value, q.Over});
    }
    if (m.Date) {
        r.Measured = DateStampIso(*m.Date);
    }
    r.Config.WiringMode = Known(m.WiringMode);
    r.Config.Channels = Known(m.Channels);
    r.Config.Standard = Known(m.Standard);
    r.Config.Frequency = Known(m.Frequency);
    r.Config.VoltageSource = Known(m.Voltage);
    return r;
}

// The code and the payload as far as the frame holds it: the check byte is left out, since
// it is never examined on receipt and says nothing of the record.
std::string RecordBytes(std::uint8_t code, const std::uint8_t* frame, int length) {
    std::string bytes(1, static_cast<char>(code));
    const PayloadReader r(frame, length);
    for (int k = 0; k < r.PayloadLength(); ++k) {
        bytes += static_cast<char>(r.Byte(k));
    }
    return bytes;
}

} // namespace

Result FromTest(const std::uint8_t* frame, int length, const PanelSelection& s,
                const TestParameters* p, int instrumentType) {
    Result r = FromMeasurement(MeasureFinalResult(frame, length, s));
    r.From = Source::Test;
    r.Texts = ShowFinalResult(frame, length, s).Texts;
    r.Frame.assign(frame, frame + std::max(length, 0));
    Configuration& c = r.Config;
    c.InstrumentType = Known(instrumentType);
    if (p != nullptr) {
        c.FrequencyCode = Known(p->FrequencyCode);
        c.TestVoltage = p->TestVoltage;
        c.ExtCapacitance = static_cast<double>(p->ExtCapacitance) * 1e-12; // sent in pF
        c.ExtDissipation = static_cast<double>(p->ExtDissipation);
        c.CvtVoltageLimit = p->CvtVoltageLimit;
        c.CvtCurrentCode = Known(p->CvtCurrentCode);
        c.ExcitationVoltageCode = Known(p->ExcitationVoltageCode);
        c.ExcitationCurrentCode = Known(p->ExcitationCurrentCode);
        c.Supply = p->Supply;
    }
    return r;
}

Result FromRecord(std::uint8_t code, const std::uint8_t* frame, int length,
                  std::optional<int> recordNumber, int instrumentType) {
    Result r = FromMeasurement(MeasureStoredRecord(code, frame, length));
    r.From = Source::Instrument;
    r.Record = recordNumber;
    const StoredRecordView v = ShowStoredRecord(code, frame, length);
    r.Texts = {v.Title, v.Main.value_or(std::string()), v.Details};
    r.Frame.assign(frame, frame + std::max(length, 0));
    r.Config.InstrumentType = Known(instrumentType);
    r.DedupKey = "record:" + detail::Sha256Hex(RecordBytes(code, frame, length));
    return r;
}

Result FromFile(const ResultTexts& t) {
    Result r = FromMeasurement(MeasureTexts(t));
    r.From = Source::File;
    r.Texts = t;
    r.DedupKey = "file:" + detail::Sha256Hex(t.Title + '\0' + t.Main + '\0' + t.Details);
    return r;
}

std::string WiringModeText(const std::optional<int>& mode) {
    return mode ? GbkToUtf8(IndexToWiringMode(*mode)) : std::string();
}

} // namespace dielmon::archive
