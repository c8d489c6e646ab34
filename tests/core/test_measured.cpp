#include "core/measured.h"

#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "sim/payloads.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace dielmon;
using dielmon::test::Bytes;
using dielmon::test::Len;
using dielmon::test::Payload;

namespace {

PanelSelection Sel(const char* conn, int model = -1, const char* freq = "50Hz",
                   const char* u = "内标准", const char* volt = "内高压") {
    return PanelSelection{conn, u, freq, volt, model};
}

std::vector<std::string> Names(const Measurement& m) {
    std::vector<std::string> names;
    for (const MeasuredQuantity& q : m.Quantities) {
        names.push_back(q.Name);
    }
    return names;
}

// The value of a quantity, NaN when it has none or is missing.
double Value(const Measurement& m, const std::string& name) {
    const MeasuredQuantity* q = m.Find(name);
    return q != nullptr && q->Value ? *q->Value : std::nan("");
}

bool Over(const Measurement& m, const std::string& name) {
    const MeasuredQuantity* q = m.Find(name);
    return q != nullptr && q->Over;
}

::testing::AssertionResult Near(double actual, double expected, double relative = 1e-6) {
    if (std::fabs(actual - expected) <= std::fabs(expected) * relative) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actual << " is not " << expected;
}

Bytes SingleLive(int kind, float x, float y) {
    return Payload(46)
        .F(0, 10)
        .F(4, 0.0123f)
        .F(8, 500)
        .F(12, 3019)
        .B(16, static_cast<std::uint8_t>(kind))
        .F(17, x)
        .F(21, y)
        .F(25, -89.83f)
        .F(29, 0.0052f)
        .F(33, 0.0006f)
        .Date(40, 16, 3, 24, 15, 34, 0)
        .Frame(RspFinalResult);
}

} // namespace

TEST(Measured, SingleLiveResultInSiUnitsWithThePanelsConfiguration) {
    const Bytes f = SingleLive(1, 1.2345f, -0.0123f);
    const Measurement m =
        MeasureFinalResult(f.data(), Len(f), Sel("反接线", -1, "50±1Hz", "外标准", "外高压"));
    EXPECT_EQ(Names(m),
              (std::vector<std::string>{"Cx", "DF", "U", "I", "Φ", "PF", "P", "F1", "F2"}));
    EXPECT_TRUE(Near(Value(m, "Cx"), 1.2345e-9));
    EXPECT_TRUE(Near(Value(m, "DF"), -0.0123)); // the only quantity that keeps its sign
    EXPECT_TRUE(Near(Value(m, "U"), 10000));
    EXPECT_TRUE(Near(Value(m, "I"), 0.0123));
    EXPECT_TRUE(Near(Value(m, "Φ"), 89.83));
    EXPECT_TRUE(Near(Value(m, "PF"), 0.0052));
    EXPECT_TRUE(Near(Value(m, "P"), 0.6));
    EXPECT_TRUE(Near(Value(m, "F1"), 50));
    EXPECT_TRUE(Near(Value(m, "F2"), 301.9)); // the last frequency still shown
    EXPECT_EQ(m.Find("Cx")->Unit(), SiUnit::Farad);
    EXPECT_EQ(UnitSymbol(m.Find("Φ")->Unit()), "°");
    EXPECT_EQ(UnitSymbol(m.Find("PF")->Unit()), "");
    ASSERT_TRUE(m.Date.has_value());
    EXPECT_EQ(DateStampIso(*m.Date), "2016-03-24T15:34:00");
    EXPECT_EQ(m.WiringMode, 2);
    EXPECT_EQ(m.Channels, 1);
    EXPECT_EQ(m.Standard, 2);
    EXPECT_EQ(m.Frequency, 2);
    EXPECT_EQ(m.Voltage, 2);

    const Measurement none = MeasureFinalResult(f.data(), Len(f), Sel("", -1, "50Hz", "", ""));
    EXPECT_EQ(none.WiringMode, 0);
    EXPECT_EQ(none.Standard, 0);
    EXPECT_EQ(none.Frequency, 1);
    EXPECT_EQ(none.Voltage, 0);
}

TEST(Measured, ResultKindsAndTheirOverRulesLiveAndStored) {
    const struct {
        int kind;
        float x, y;
        const char* first;
        const char* second;
        bool firstOver, secondOver;
        double firstValue, secondValue;
    } cases[] = {
        {2, 1.0f, 2000000, "Cx", "Rx", false, false, 1e-9, 2e9},
        {2, 999900, 0.5f, "Cx", "Rx", true, false, 0, 500},
        {2, 1.0f, 2e9f, "Cx", "Rx", false, true, 1e-9, 0},
        {3, 0.25f, 12.5f, "Lx", "Q", false, false, 0.25, 12.5},
        {3, 2.5f, 10000, "Lx", "Q", false, true, 2.5, 0},
        {4, 999.9f, 0.5f, "Lx", "Rx", true, false, 0, 500},
        {1, 1000, 100, "Cx", "DF", false, true, 1e-6, 0},
        {1, 0.5f, -100, "Cx", "DF", false, true, 5e-10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const Measurement m =
            MeasureFinalResult(SingleLive(c.kind, c.x, c.y).data(), 46 + 5, Sel("正接线", 0));
        ASSERT_GE(m.Quantities.size(), 2u);
        EXPECT_EQ(m.Quantities[0].Name, c.first);
        EXPECT_EQ(m.Quantities[1].Name, c.second);
        EXPECT_EQ(m.Quantities[0].Over, c.firstOver);
        EXPECT_EQ(m.Quantities[1].Over, c.secondOver);
        EXPECT_EQ(m.Quantities[0].Value.has_value(), !c.firstOver);
        if (!c.firstOver) {
            EXPECT_TRUE(Near(*m.Quantities[0].Value, c.firstValue));
        }
        if (!c.secondOver) {
            EXPECT_TRUE(Near(*m.Quantities[1].Value, c.secondValue));
        }
    }
    // No main result: the details only.
    for (int kind : {0, 7}) {
        const Measurement m =
            MeasureFinalResult(SingleLive(kind, 1, 1).data(), 46 + 5, Sel("正接线", 0));
        EXPECT_EQ(Names(m), (std::vector<std::string>{"U", "I", "Φ", "PF", "P", "F1", "F2"}));
    }

    // The same values judged as a live result and as a stored record.
    const Bytes live = Payload(46)
                           .F(4, 99.995f)
                           .B(16, 2)
                           .F(17, 999900)
                           .F(21, 5e8f)
                           .F(29, 1.0f)
                           .F(33, 999.95f)
                           .F(8, 3020)
                           .F(0, 1000)
                           .Frame(RspFinalResult);
    const Measurement l = MeasureFinalResult(live.data(), Len(live), Sel("反接线"));
    EXPECT_FALSE(Over(l, "I"));
    EXPECT_TRUE(Near(Value(l, "I"), 99.995, 1e-6));
    EXPECT_TRUE(Over(l, "Cx")); // live Cx beside Rx: over at the limit
    EXPECT_TRUE(Near(Value(l, "Rx"), 5e11));
    EXPECT_FALSE(Over(l, "PF"));
    EXPECT_TRUE(Over(l, "P"));
    EXPECT_TRUE(Over(l, "F1"));
    EXPECT_TRUE(Over(l, "U"));
    const Bytes stored = Payload(47)
                             .B(0, 2)
                             .F(8, 99.995f)
                             .B(20, 2)
                             .F(21, 999900)
                             .Date(41, 23, 10, 9, 8, 15, 0)
                             .Frame(RspRecord);
    const Measurement s = MeasureStoredRecord(RspRecord, stored.data(), Len(stored));
    EXPECT_TRUE(Over(s, "I"));
    EXPECT_FALSE(Over(s, "Cx"));
    EXPECT_TRUE(Near(Value(s, "Cx"), 999.9e-6));
    EXPECT_EQ(DateStampIso(*s.Date), "2023-10-09T08:15:00");

    // Values that are no number are over and carry none.
    const Bytes nan = Payload(46).B(16, 1).F(17, NAN).F(21, INFINITY).Frame(RspFinalResult);
    const Measurement n = MeasureFinalResult(nan.data(), Len(nan), Sel("反接线"));
    EXPECT_TRUE(Over(n, "Cx"));
    EXPECT_TRUE(Over(n, "DF"));
    EXPECT_FALSE(n.Find("Cx")->Value.has_value());
}

TEST(Measured, EveryStoredLayoutWithItsHeader) {
    const Bytes shielded = Payload(47)
                               .B(0, 9)
                               .B(1, 1)
                               .B(2, 1)
                               .B(3, 7)
                               .F(4, 10)
                               .F(8, 0.002f)
                               .F(12, 0.0005f)
                               .F(24, 2.2f)
                               .F(28, 0.35f)
                               .F(32, 2000)
                               .F(36, 0.5f)
                               .Frame(RspRecordShielded);
    Measurement m = MeasureStoredRecord(RspRecordShielded, shielded.data(), Len(shielded));
    EXPECT_EQ(Names(m),
              (std::vector<std::string>{"Cx", "DF", "Cg", "DFg", "U", "Ix", "Ig", "F1", "F2"}));
    EXPECT_EQ(m.WiringMode, 3); // the code names the mode, whatever byte 0 says
    EXPECT_EQ(m.Standard, 1);
    EXPECT_EQ(m.Frequency, 1);
    EXPECT_EQ(m.Voltage, 2);
    EXPECT_TRUE(Near(Value(m, "Cg"), 2e-6));
    EXPECT_TRUE(Near(Value(m, "DFg"), 0.5));
    EXPECT_TRUE(Near(Value(m, "Ig"), 0.0005));

    const Bytes cvt = Payload(50).F(28, 10).F(32, 0.1f).F(36, 1e7f).F(40, 0.2f).Frame(RspRecordCvt);
    m = MeasureStoredRecord(RspRecordCvt, cvt.data(), Len(cvt));
    EXPECT_EQ(Names(m), (std::vector<std::string>{"C1", "DF1", "C2", "DF2", "U1", "U2", "I1", "I2",
                                                  "F1", "F2"}));
    EXPECT_EQ(m.WiringMode, 4);
    EXPECT_TRUE(Over(m, "C2"));
    EXPECT_TRUE(Near(Value(m, "DF2"), 0.2));

    const Bytes ratio = Payload(46).F(24, 150.25f).F(28, 1).F(32, 0.3f).Frame(RspRecordRatio);
    m = MeasureStoredRecord(RspRecordRatio, ratio.data(), Len(ratio));
    EXPECT_EQ(Names(m),
              (std::vector<std::string>{"K", "Cx", "DF", "U1", "U2", "I", "Φ", "F1", "F2"}));
    EXPECT_TRUE(Near(Value(m, "K"), 150.25));
    EXPECT_EQ(m.Find("K")->Unit(), SiUnit::None);

    Payload multi(67);
    multi.B(0, 1).B(1, 2).B(2, 2).B(3, 1);
    for (int ch = 0; ch < 4; ++ch) {
        multi.F(5 + ch * 8, 1.0f + static_cast<float>(ch)).F(9 + ch * 8, 0.1f).F(37 + ch * 4, 10);
    }
    for (int channels : {2, 3, 4}) {
        multi.B(4, static_cast<std::uint8_t>(channels));
        const Bytes f = multi.Frame(RspRecordMulti);
        m = MeasureStoredRecord(RspRecordMulti, f.data(), Len(f));
        EXPECT_EQ(m.Channels, channels);
        EXPECT_EQ(m.WiringMode, 1);
        EXPECT_EQ(m.Quantities.size(), static_cast<std::size_t>(3 * channels + 2));
        EXPECT_TRUE(Near(Value(m, "Cb"), 2e-9));
        EXPECT_TRUE(Near(Value(m, "Ub"), 10000));
        EXPECT_EQ(m.Find("Cd") != nullptr, channels == 4);
    }
    multi.B(4, 7);
    const Bytes odd = multi.Frame(RspRecordMulti);
    m = MeasureStoredRecord(RspRecordMulti, odd.data(), Len(odd));
    EXPECT_EQ(Names(m), (std::vector<std::string>{"Ca", "DFa", "Cb", "DFb", "F1", "F2"}));

    EXPECT_TRUE(MeasureStoredRecord(RspIndex, odd.data(), Len(odd)).Quantities.empty());
    // A frame cut short reads its missing bytes as zero and never past its end.
    const std::uint8_t envelope[] = {0x24, RspRecordMulti, 0x00, RspRecordMulti, 0x2A};
    m = MeasureStoredRecord(RspRecordMulti, envelope, 5);
    EXPECT_EQ(m.WiringMode, 0);
    EXPECT_EQ(DateStampIso(*m.Date), "2000-00-00T00:00:00");
}

// The numbers read back from the texts of every layout agree with the numbers of the frame, to
// the digits the texts show; names, order and over flags are the same.
TEST(Measured, TextsReadBackAsTheFrameDecodes) {
    sim::DateStamp date{26, 12, 8, 9, 5, 7};
    const sim::Measurement values[] = {
        sim::SingleResult{10, 0.0148f, 500, 500, 1, 4.7f, 0.45f, 89.74f, 0.0045f, 0.00066f},
        sim::SingleResult{0.5f, 0.0005f, 499, 501, 2, 1234.5f, 2000000, 90, 0.5f, 1.5f},
        sim::SingleResult{12, 150, 600, 600, 3, 0.25f, 12.5f, 45.5f, 0.7071f, 2.5f},
        sim::SingleResult{1, 0.002f, 3019, 3020, 4, 2.5f, 0.5f, 359.99f, 1, 999.9f},
        sim::ShieldedResult{10, 0.0069f, 0.0025f, 500, 500, 2.2f, 0.35f, 0.8f, -0.5f},
        sim::CvtResult{2, 0.4f, 0.0063f, 0.0315f, 500, 500, 10, 0.08f, 50, 0.1f},
        sim::RatioResult{10, 0.0091f, 500, 500, 0.05f, 1100, 10, 0.08f, 0.0314f},
        sim::MultiResult{
            3, {1, 1.2f, 0.85f, 1.1f}, {0.3f, 0.35f, 0.28f, 0.4f}, {10, 10, 10, 0}, 500, 500},
    };
    for (const sim::Measurement& v : values) {
        const Bytes f = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
        PanelSelection s = Sel("正接线", 0);
        if (const auto* m = std::get_if<sim::MultiResult>(&v)) {
            s.ModelIndex = m->Channels - 1;
        } else {
            const char* modes[] = {"反接线", "反接线低压屏蔽", "CVT自激法", "变比"};
            s.ConnType = modes[v.index()];
        }
        const Measurement frame = MeasureFinalResult(f.data(), Len(f), s);
        const FinalResultView view = ShowFinalResult(f.data(), Len(f), s);
        const Measurement texts = MeasureTexts(view.Texts);
        SCOPED_TRACE(view.Texts.Main + view.Texts.Details);
        EXPECT_EQ(Names(texts), Names(frame));
        ASSERT_EQ(texts.Quantities.size(), frame.Quantities.size());
        for (std::size_t k = 0; k < frame.Quantities.size(); ++k) {
            const MeasuredQuantity& a = texts.Quantities[k];
            const MeasuredQuantity& b = frame.Quantities[k];
            SCOPED_TRACE(b.Name);
            EXPECT_EQ(a.Kind, b.Kind);
            EXPECT_EQ(a.Over, b.Over);
            ASSERT_EQ(a.Value.has_value(), b.Value.has_value());
            if (b.Value) {
                // Four significant digits, cut rather than rounded; percentages, angles and
                // plain numbers to their third or fourth decimal.
                const bool decimals = b.Unit() == SiUnit::Percent || b.Unit() == SiUnit::None ||
                                      b.Unit() == SiUnit::Degree;
                EXPECT_LE(std::fabs(*a.Value - *b.Value),
                          std::fabs(*b.Value) * 2e-3 + (decimals ? 1.001e-3 : 1e-15));
            }
        }
        EXPECT_EQ(texts.Date, frame.Date);
        EXPECT_EQ(texts.WiringMode, frame.WiringMode);
        EXPECT_EQ(texts.Channels, frame.Channels);
        EXPECT_EQ(texts.Standard, frame.Standard);
        EXPECT_EQ(texts.Frequency, frame.Frequency);
        EXPECT_EQ(texts.Voltage, frame.Voltage);
    }
    // Stored records: their own labels ("C1　：", the ratio line without a break) read back too.
    const sim::StoredRecord records[] = {
        {{1, 2, 2, 2},
         {sim::SingleResult{10, 0.0148f, 500, 500, 3, 2.5f, 10000, 1, 0.5f, 1}, date}},
        {{4, 1, 2, 1},
         {sim::CvtResult{2, 0.4f, 0.0063f, 0.0315f, 500, 500, 123.456f, 10, 1e7f, 0.1f}, date}},
        {{5, 1, 1, 1},
         {sim::RatioResult{10, 0.0091f, 500, 500, 0.05f, 150.25f, 10, 0.08f, 0.0314f}, date}},
        {{1, 1, 1, 1},
         {sim::MultiResult{
              4, {1, 1.2f, 0.85f, 1.1f}, {0.3f, 0.35f, 0.28f, 0.4f}, {10, 10, 10, 9}, 500, 500},
          date}},
    };
    for (const sim::StoredRecord& r : records) {
        const std::uint8_t code = sim::StoredRecordCode(r.Data.Values);
        const Bytes f = BuildFrame(code, sim::EncodeStoredRecord(r));
        const Measurement frame = MeasureStoredRecord(code, f.data(), Len(f));
        const StoredRecordView view = ShowStoredRecord(code, f.data(), Len(f));
        const Measurement texts = MeasureTexts({view.Title, view.Main.value_or(""), view.Details});
        SCOPED_TRACE(view.Title + "\n" + view.Main.value_or("") + view.Details);
        EXPECT_EQ(Names(texts), Names(frame));
        for (std::size_t k = 0; k < frame.Quantities.size() && k < texts.Quantities.size(); ++k) {
            EXPECT_EQ(texts.Quantities[k].Over, frame.Quantities[k].Over)
                << frame.Quantities[k].Name;
        }
        EXPECT_EQ(texts.WiringMode, frame.WiringMode);
        EXPECT_EQ(texts.Standard, frame.Standard);
        EXPECT_EQ(texts.Frequency, frame.Frequency);
        EXPECT_EQ(texts.Voltage, frame.Voltage);
        EXPECT_EQ(texts.Channels, frame.Channels);
    }
}

TEST(Measured, TextsThatAreNotTheBuildersGiveWhatCanBeRead) {
    ResultTexts t;
    t.Title = "not a title";
    t.Main = "Cx：12.5nF  DF：abc  Zz：1.0nF\r\nQ：over\r\nCx：";
    t.Details = "　U 　　　：10kV\r\n  Date：2016-13-40 25:61:99\r\n　I 　　　：5parsecs";
    const Measurement m = MeasureTexts(t);
    EXPECT_EQ(m.WiringMode, 0);
    EXPECT_EQ(m.Channels, 0);
    EXPECT_EQ(Names(m), (std::vector<std::string>{"Cx", "DF", "Q", "Cx", "U", "I"}));
    EXPECT_TRUE(Near(m.Quantities[0].Value.value_or(0), 12.5e-9));
    EXPECT_FALSE(m.Quantities[1].Value.has_value());
    EXPECT_FALSE(m.Quantities[1].Over);
    EXPECT_TRUE(m.Quantities[2].Over);
    EXPECT_TRUE(Near(m.Quantities[4].Value.value_or(0), 10000));
    EXPECT_FALSE(m.Quantities[5].Value.has_value());
    // The date is taken as written: a later version may judge it.
    ASSERT_TRUE(m.Date.has_value());
    EXPECT_EQ(DateStampIso(*m.Date), "2016-13-40T25:61:99");

    t.Details = "  Date：1999-01-01 00:00:00";
    EXPECT_FALSE(MeasureTexts(t).Date.has_value());
    // A lone lead byte at the end, a colon split across characters: nothing read, no fault.
    t.Main = std::string("Cx\xA3", 3);
    t.Details = "\xA1\xA3\xBA";
    EXPECT_TRUE(MeasureTexts(t).Quantities.empty());
}
