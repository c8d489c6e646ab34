#include "core/results.h"

#include "core/helpers.h"
#include "core/responses.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace dielmon;
using dielmon::test::Len;
using dielmon::test::Payload;

namespace {

PanelSelection Sel(const char* conn, int model = -1, const char* freq = "50Hz",
                   const char* u = "内标准", const char* volt = "内高压") {
    return PanelSelection{conn, u, freq, volt, model};
}

// A line of `width` + 1 bytes: the text filled with spaces.
std::string Filled(const std::string& text, std::size_t bytes = 25) {
    EXPECT_LE(text.size(), bytes);
    return text + std::string(bytes - std::min(bytes, text.size()), ' ');
}

} // namespace

TEST(Quantities, UnitsAtTheirBoundaries) {
    const struct {
        Quantity q;
        double value;
        const char* text;
    } cases[] = {
        {Quantity::Capacitance, 0.5, "500.0pF"},     {Quantity::Capacitance, 999.99, "999.9nF"},
        {Quantity::Capacitance, 1000, "1.000uF"},    {Quantity::Capacitance, 1, "1.000nF"},
        {Quantity::Capacitance, 1234567, "1234uF"},  {Quantity::Capacitance, -2.5, "2.500nF"},
        {Quantity::Dissipation, -0.0123, "-0.012%"}, {Quantity::Voltage, 0.5, "500.0V "},
        {Quantity::Voltage, 10, "10.000kV"},         {Quantity::Current, 0.0005, "500.0uA"},
        {Quantity::Current, 0.001, "1.000mA"},       {Quantity::Current, 2.5, "2.500A "},
        {Quantity::Frequency, 500, "50.00Hz"},       {Quantity::Frequency, 3015, "301.5Hz"},
        {Quantity::Frequency, 3019, "301.8Hz"},      {Quantity::Resistance, 2000000, "2.000GΩ\r\n"},
        {Quantity::Resistance, 1500, "1.500MΩ"},     {Quantity::Resistance, 12, "12.00kΩ"},
        {Quantity::Phase, -45.5, "45.500°"},         {Quantity::Ratio, 1234.56, "1234.5"},
        {Quantity::Power, 0.25, "250.0W"},           {Quantity::Power, 1.5, "1.500kW"},
        {Quantity::Inductance, 0.25, "250.0mH"},     {Quantity::PowerFactor, -0.5, "0.5000"},
        {Quantity::Quality, 12.5, "12.50"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuantityText(c.q, c.value), c.text) << c.value;
    }
    EXPECT_EQ(QuantityText(Quantity::Resistance, 0.5, true), "500.0Ω ");
    EXPECT_EQ(QuantityText(Quantity::Resistance, 0.5, false), "500.0Ω");
    EXPECT_EQ(QuantityText(Quantity::Inductance, 2.5, true), "2.500H ");
    EXPECT_EQ(QuantityText(Quantity::Inductance, 2.5, false), "2.500H");
    EXPECT_EQ(std::string("Ω"), "\xA6\xB8");
    EXPECT_EQ(std::string("°"), "\xA1\xE3");
}

TEST(Quantities, EveryUnitSwitchesExactlyAtItsBoundary) {
    // Each boundary with the value on it and the largest single below it (1 - 2^-10 times
    // the boundary where a cut decimal shows it), as the instrument sends them.
    const double below = 1 - 1.0 / 1024;
    const struct {
        Quantity q;
        double value;
        const char* text;
    } cases[] = {
        {Quantity::Resistance, 1000000, "1.000GΩ\r\n"},
        {Quantity::Resistance, 1000000 * below, "999.0MΩ"},
        {Quantity::Resistance, 1000, "1.000MΩ"},
        {Quantity::Resistance, 1000 * below, "999.0kΩ"},
        {Quantity::Resistance, 1, "1.000kΩ"},
        {Quantity::Resistance, below, "999.0Ω "},
        {Quantity::Voltage, 1, "1.000kV"},
        {Quantity::Voltage, below, "999.0V "},
        {Quantity::Voltage, -1, "1.000kV"},
        {Quantity::Power, 1, "1.000kW"},
        {Quantity::Power, below, "999.0W"},
        {Quantity::Inductance, 1, "1.000H "},
        {Quantity::Inductance, below, "999.0mH"},
        {Quantity::Current, 1, "1.000A "},
        {Quantity::Current, below, "999.0mA"},
        {Quantity::Current, 0.0009765625, "976.5uA"},
        {Quantity::Capacitance, 1000, "1.000uF"},
        {Quantity::Capacitance, 1000 * below, "999.0nF"},
        {Quantity::Capacitance, below, "999.0pF"},
        {Quantity::Ratio, 10000, "10000.0"},
        {Quantity::Ratio, 10000.5, "10000"},
        {Quantity::Ratio, 9999.5, "9999.5"},
        {Quantity::Ratio, 1000, "1000.00"},
        {Quantity::Phase, 10, "10.0000°"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuantityText(c.q, c.value), c.text) << static_cast<int>(c.q) << " " << c.value;
    }
    // The ratio line of a result at exactly 10000: one decimal, and not over.
    const auto ratio = Payload(46).F(20, 10000).Frame(RspFinalResult);
    EXPECT_EQ(ShowFinalResult(ratio.data(), Len(ratio), Sel("变比")).Texts.Main,
              Filled("   K    　：10000.0") + "\r\n");
    const auto stored = Payload(46).F(24, 10000).Frame(RspRecordRatio);
    EXPECT_EQ(*ShowStoredRecord(RspRecordRatio, stored.data(), Len(stored)).Main,
              Filled("　K 　　　：10000.0"));
}

TEST(Quantities, OverRulesCompareTheValueAsSent) {
    const OverRule cap{1000, false, 999.9};
    EXPECT_FALSE(IsOver(cap, 999900));
    EXPECT_TRUE(IsOver(cap, 999901));
    const OverRule df{1, true, 100};
    EXPECT_TRUE(IsOver(df, 100));
    EXPECT_TRUE(IsOver(df, -100));
    EXPECT_FALSE(IsOver(df, 99.99));
    const OverRule freq{10, false, 301.9};
    EXPECT_FALSE(IsOver(freq, 3019));
    EXPECT_TRUE(IsOver(freq, 3020));
    for (double v : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(IsOver(freq, v));
    }
}

TEST(LineBuilders, PairValueDateAndTitle) {
    EXPECT_EQ(PairLine("Cx：", "Cx：over   ", 1.2345, 0.0567), "Cx：1.234nF  DF：0.056%  ");
    EXPECT_EQ(PairLine("Cx：", "Cx：over   ", 1.2345, 0.0567).size(), 25u);
    // Parts longer than their widths are not cut.
    EXPECT_EQ(PairLine("Cx：", "Cx：over   ", 123.456, 100), "Cx：123.4nF  DF：over    ");
    EXPECT_EQ(PairLine("Ca：", "Ca：over   ", 1e9, -12.5), "Ca：over     DF：-12.50% ");
    const std::string longCap = PairLine("C1　：", "C1　：over   ", 123.456, 10);
    EXPECT_EQ(longCap, "C1　：123.4nFDF：10.000% ");
    EXPECT_EQ(ValueLine("　U 　　　：", "　U 　　　：over   ", Quantity::Voltage, 10,
                        OverRule{1, true, 1000}),
              Filled("　U 　　　：10.000kV"));
    EXPECT_EQ(ValueLine("　U 　　　：", "　U 　　　：over   ", Quantity::Voltage, 1000,
                        OverRule{1, true, 1000}),
              Filled("　U 　　　：over   "));
    const std::uint8_t stamp[] = {0x10, 0x03, 0x18, 0x0F, 0x22, 0x00};
    EXPECT_EQ(DateLine(stamp), "  Date：2016-03-24 15:34:00");
    const std::uint8_t header[] = {0x05, 0x01, 0x02, 0x01};
    EXPECT_EQ(RecordTitle(IndexToWiringMode(header[0]), header), "变比\\内标准\\异频\\内高压");
    const std::uint8_t outside[] = {0x09, 0x02, 0x02, 0x02};
    EXPECT_EQ(RecordTitle(IndexToWiringMode(outside[0]), outside), "\\外标准\\异频\\外高压");
}

TEST(LiveDisplay, BoostingAndStepTexts) {
    ExcitationTexts kept;
    const auto mode1 = Payload(16).F(0, 10).F(4, 0.5f).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(mode1.data(), Len(mode1), Sel("正接线"), kept),
              "10.00kV\r\n\r\n500.0mA");
    const auto cvt =
        Payload(16).F(0, 1.5f).F(4, 0.0125f).F(8, 12.25f).F(12, 3.5f).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(cvt.data(), Len(cvt), Sel("CVT自激法"), kept),
              "1.50 kV\r\n\r\n[12mA] [12.2V] [3.5A] ");
    EXPECT_EQ(kept.ExcitationVoltageText, "[12.2V] ");
    EXPECT_EQ(kept.ExcitationCurrentText, "[3.5A] ");
    // A step frame in CVT mode repeats the excitation items of the last boosting frame.
    const auto step = Payload(12).F(0, 2).F(8, 0.02f).Frame(RspStepResult);
    EXPECT_EQ(ShowStep(step.data(), Len(step), Sel("CVT自激法"), kept),
              "2.00 kV\r\n\r\n[19mA] [12.2V] [3.5A] ");
    const auto negative =
        Payload(16).F(0, 1).F(4, 0.0125f).F(8, -5.25f).F(12, 99.95f).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(negative.data(), Len(negative), Sel("CVT自激法"), kept),
              "1.00 kV\r\n\r\n[12mA] [-5.2V] [over] ");
    EXPECT_EQ(kept.ExcitationCurrentText, "[over] ");
    const auto ratio = Payload(16).F(0, 999.95f).F(4, 1).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(ratio.data(), Len(ratio), Sel("变比"), kept), "over   \r\n\r\n");
    const auto rounding = Payload(8).F(0, 9.996f).F(4, 2.5f).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(rounding.data(), Len(rounding), Sel("反接线"), kept),
              "10.00kV\r\n\r\n2.500A ");
    EXPECT_FALSE(ShowBoosting(rounding.data(), Len(rounding), Sel(""), kept).has_value());
    const auto overCurrent = Payload(12).F(0, 1).F(8, 100).Frame(RspStepResult);
    EXPECT_EQ(ShowStep(overCurrent.data(), Len(overCurrent), Sel("反接线低压屏蔽"), kept),
              "1.00 kV\r\n\r\nover   ");
    const auto cvtOver =
        Payload(16).F(0, 1).F(4, 1.0f).F(8, NAN).F(12, -INFINITY).Frame(RspBoosting);
    EXPECT_EQ(*ShowBoosting(cvtOver.data(), Len(cvtOver), Sel("CVT自激法"), kept),
              "1.00 kV\r\n\r\n[over] [over] [over] ");
}

TEST(LiveDisplay, SingleLayoutLabelsOfEveryResultKind) {
    auto frame = [](int kind, float x, float y) {
        return Payload(46)
            .F(0, 10)
            .F(4, 0.0123f)
            .F(8, 500)
            .F(12, 500)
            .B(16, static_cast<std::uint8_t>(kind))
            .F(17, x)
            .F(21, y)
            .F(25, 89.83f)
            .F(29, 0.0052f)
            .F(33, 0.0006f)
            .Date(40, 16, 3, 24, 15, 34, 0)
            .Frame(RspFinalResult);
    };
    const auto f1 = frame(1, 1.0f, 0.3f);
    const FinalResultView v = ShowFinalResult(f1.data(), Len(f1), Sel("反接线"));
    EXPECT_EQ(v.Texts.Title, "反接线\\内标准\\定频\\内高压");
    EXPECT_EQ(v.Texts.Main, "Cx：1.000nF      DF：0.300%");
    EXPECT_EQ(v.PanelHeight, 157);
    EXPECT_EQ(v.Texts.Details,
              Filled("　U 　　　：10.000kV") + "\r\n" + Filled("　I 　　　：12.29mA") + "\r\n" +
                  Filled("　Φ　　　：89.830°") + "\r\n" + Filled("　PF　　　：0.0052") + "\r\n" +
                  Filled("　P 　　　：0.600W") + "\r\n" + Filled("　F1　　　：50.00Hz") + "\r\n" +
                  Filled("　F2　　　：50.00Hz") + "\r\n" + "  Date：2016-03-24 15:34:00\r\n");

    const struct {
        int kind;
        float x, y;
        const char* main;
    } kinds[] = {
        {2, 1.0f, 2000000, "Cx：1.000nF      Rx：2.000GΩ\r\n"},
        {2, 999900, 0.5f, "Cx：over         Rx：500.0Ω"},
        {2, 1.0f, 2e9f, "Cx：1.000nF      Rx：over   \r\n"},
        {3, 2.5f, 12.5f, "Lx：2.500H       Q：12.50"},
        {3, 0.25f, 10000, "Lx：250.0mH      Q：over   "},
        {4, 999.9f, 0.5f, "Lx：over         Rx：500.0Ω "},
        {1, 1.0f, 100, "Cx：1.000nF      DF：over   "},
        {0, 1.0f, 1.0f, ""},
        {7, 1.0f, 1.0f, ""},
    };
    for (const auto& k : kinds) {
        const auto f = frame(k.kind, k.x, k.y);
        EXPECT_EQ(ShowFinalResult(f.data(), Len(f), Sel("正接线", 0)).Texts.Main, k.main) << k.kind;
    }
    // The details are filled whatever the kind.
    const auto f0 = frame(0, 1, 1);
    EXPECT_EQ(ShowFinalResult(f0.data(), Len(f0), Sel("正接线", 0)).Texts.Details, v.Texts.Details);
}

TEST(LiveDisplay, OverTextsOfTheSingleDetails) {
    const auto f = Payload(46)
                       .F(0, 1000)
                       .F(4, 100)
                       .F(8, 3020)
                       .F(12, NAN)
                       .F(25, 360)
                       .F(29, 1.5f)
                       .F(33, 1000)
                       .Frame(RspFinalResult);
    const std::string d = ShowFinalResult(f.data(), Len(f), Sel("反接线")).Texts.Details;
    EXPECT_EQ(d, Filled("　U 　　　：over   ") + "\r\n" + Filled("　I 　　　：over   ") + "\r\n" +
                     Filled("　Φ　　　：over   ") + "\r\n" + Filled("　PF  　　：over   ") +
                     "\r\n" + Filled("　P 　　　：over   ") + "\r\n" +
                     Filled("　F1　　　：over   ") + "\r\n" + Filled("　F2　　　：over   ") +
                     "\r\n" + "  Date：2000-00-00 00:00:00\r\n");
}

TEST(LiveDisplay, ShieldedCvtRatioAndMultiLayouts) {
    const auto shielded = Payload(46)
                              .F(0, 10)
                              .F(4, 0.002f)
                              .F(8, 0.0005f)
                              .F(12, 500)
                              .F(16, 501)
                              .F(20, 1.5f)
                              .F(24, 0.25f)
                              .F(28, 2000)
                              .F(32, 100)
                              .Date(40, 16, 3, 24, 15, 34, 0)
                              .Frame(RspFinalResult);
    const FinalResultView s =
        ShowFinalResult(shielded.data(), Len(shielded), Sel("反接线低压屏蔽", -1, "50±1Hz"));
    EXPECT_EQ(s.Texts.Title, "反接线低压屏蔽\\内标准\\异频\\内高压");
    EXPECT_EQ(s.Texts.Main, "Cx：1.500nF  DF：0.250%  \r\nCg：2.000uF  DF：over    \r\n");
    EXPECT_EQ(s.Texts.Details,
              Filled("　U 　　　：10.000kV") + "\r\n" + Filled("　Ix　　　：2.000mA") + "\r\n" +
                  Filled("　Ig　　　：500.0uA") + "\r\n" + Filled("　F1　　　：50.00Hz") + "\r\n" +
                  Filled("　F2　　　：50.10Hz") + "\r\n" + "  Date：2016-03-24 15:34:00\r\n");

    const auto cvt = Payload(46)
                         .F(0, 5)
                         .F(4, 0.1f)
                         .F(8, 0.01f)
                         .F(12, 2)
                         .F(16, 500)
                         .F(20, 500)
                         .F(24, 10)
                         .F(28, 0.1f)
                         .F(32, 50)
                         .F(36, -0.2f)
                         .Date(40, 26, 12, 8, 9, 5, 7)
                         .Frame(RspFinalResult);
    const FinalResultView c = ShowFinalResult(cvt.data(), Len(cvt), Sel("CVT自激法"));
    EXPECT_EQ(c.Texts.Main, "C1：10.000nF DF：0.100%  \r\nC2：50.00nF  DF：-0.200% \r\n");
    EXPECT_EQ(c.Texts.Details,
              Filled("　U1　　　：5.000kV") + "\r\n" + Filled("　U2　　　：100.0V ") + "\r\n" +
                  Filled("　I1　　　：9.999mA") + "\r\n" + Filled("　I2　　　：2.000A ") + "\r\n" +
                  Filled("　F1　　　：50.00Hz") + "\r\n" + Filled("　F2　　　：50.00Hz") + "\r\n" +
                  "  Date：2026-12-08 09:05:07\r\n");

    const auto ratio = Payload(46)
                           .F(0, 10)
                           .F(4, 0.1f)
                           .F(8, 500)
                           .F(12, 500)
                           .F(16, -0.5f)
                           .F(20, 100.25f)
                           .F(24, 1)
                           .F(28, 0.3f)
                           .F(32, 0.0015f)
                           .Date(40, 16, 3, 24, 15, 34, 0)
                           .Frame(RspFinalResult);
    const FinalResultView r = ShowFinalResult(ratio.data(), Len(ratio), Sel("变比"));
    EXPECT_EQ(r.Texts.Main, Filled("   K    　：100.25") + "\r\n");
    EXPECT_EQ(r.Texts.Details.substr(0, 54),
              Filled("　Cx　　　：1.000nF") + "\r\n" + Filled("　DF　　　：0.300%") + "\r\n");
    EXPECT_NE(r.Texts.Details.find(Filled("　Φ　　　：0.5000°")), std::string::npos);
    EXPECT_NE(r.Texts.Details.find(Filled("　I 　　　：1.500mA")), std::string::npos);
    const auto ratioOver = Payload(46).F(20, 100000).Frame(RspFinalResult);
    EXPECT_EQ(ShowFinalResult(ratioOver.data(), Len(ratioOver), Sel("变比")).Texts.Main,
              Filled("   K    　：over   ") + "\r\n");

    Payload multi(62);
    for (int ch = 0; ch < 4; ++ch) {
        multi.F(ch * 8, 1.0f + static_cast<float>(ch)).F(ch * 8 + 4, 0.1f).F(32 + ch * 4, 10);
    }
    multi.F(48, 500).F(52, 500).Date(56, 16, 3, 24, 15, 34, 0);
    const auto m = multi.Frame(RspFinalResult);
    const FinalResultView three = ShowFinalResult(m.data(), Len(m), Sel("正接线", 2));
    EXPECT_EQ(three.PanelHeight, 220);
    EXPECT_EQ(three.Texts.Main, "Ca：1.000nF  DF：0.100%  \r\nCb：2.000nF  DF：0.100%  \r\n"
                                "Cc：3.000nF  DF：0.100%  \r\n");
    EXPECT_EQ(three.Texts.Details,
              Filled("　Ua　　　：10.000kV") + "\r\n" + Filled("　Ub　　　：10.000kV") + "\r\n" +
                  Filled("　Uc　　　：10.000kV") + "\r\n" + Filled("　F1　　　：50.00Hz") + "\r\n" +
                  Filled("　F2　　　：50.00Hz") + "\r\n" + "  Date：2016-03-24 15:34:00\r\n");
    const FinalResultView two = ShowFinalResult(m.data(), Len(m), Sel("正接线", 1));
    EXPECT_EQ(two.PanelHeight, 157);
    EXPECT_EQ(two.Texts.Main, "Ca：1.000nF  DF：0.100%  \r\nCb：2.000nF  DF：0.100%  \r\n");
    EXPECT_EQ(ShowFinalResult(m.data(), Len(m), Sel("正接线", 3)).Texts.Main.size(), 4u * 27);
}

TEST(LiveDisplay, ShortFramesReadTheMissingBytesAsZero) {
    // A final result cut after its first field: nothing past the payload is read.
    const auto shortFrame = Payload(4).F(0, 10).Frame(RspFinalResult);
    const FinalResultView v = ShowFinalResult(shortFrame.data(), Len(shortFrame), Sel("反接线"));
    EXPECT_EQ(v.Texts.Main, "");
    EXPECT_EQ(v.Texts.Details.substr(0, 25), Filled("　U 　　　：10.000kV"));
    EXPECT_NE(v.Texts.Details.find(Filled("　I 　　　：0.000uA")), std::string::npos);
    EXPECT_NE(v.Texts.Details.find("  Date：2000-00-00 00:00:00"), std::string::npos);
    const std::uint8_t envelope[] = {0x24, 0x4C, 0x00, 0x4C, 0x2A};
    EXPECT_EQ(ShowFinalResult(envelope, 5, Sel("正接线", 3)).Texts.Main.size(), 4u * 27);
    ExcitationTexts kept;
    EXPECT_EQ(*ShowBoosting(envelope, 5, Sel("反接线"), kept), "0.00 kV\r\n\r\n0.000mA");
}

TEST(StoredRecord, EveryLayoutWithItsOwnLabels) {
    const auto single = Payload(47)
                            .B(0, 2)
                            .B(1, 2)
                            .B(2, 2)
                            .B(3, 2)
                            .F(4, 10)
                            .F(8, 100)
                            .F(12, 500)
                            .F(16, 500)
                            .B(20, 3)
                            .F(21, 2.5f)
                            .F(25, 10000)
                            .Date(41, 16, 3, 24, 15, 34, 0)
                            .Frame(RspRecord);
    StoredRecordView v = ShowStoredRecord(RspRecord, single.data(), Len(single));
    EXPECT_EQ(v.Title, "反接线\\外标准\\异频\\外高压");
    EXPECT_EQ(*v.Main, "Lx：2.500H      Q：over ");
    EXPECT_EQ(*v.PanelHeight, 157);
    EXPECT_EQ(v.Details.substr(27, 25), Filled("　I 　　　：over   "));
    EXPECT_NE(v.Details.find("  Date：2016-03-24 15:34:00\r\n"), std::string::npos);
    // Current: stored records are out of range above 99.99 A, live ones at 100 A.
    const auto current = Payload(47).F(8, 99.995f).Frame(RspRecord);
    EXPECT_EQ(ShowStoredRecord(RspRecord, current.data(), Len(current)).Details.substr(27, 25),
              Filled("　I 　　　：over   "));
    const auto liveCurrent = Payload(46).F(4, 99.995f).Frame(RspFinalResult);
    EXPECT_EQ(ShowFinalResult(liveCurrent.data(), Len(liveCurrent), Sel("反接线"))
                  .Texts.Details.substr(27, 25),
              Filled("　I 　　　：99.99A "));

    const auto cvt =
        Payload(50).B(1, 1).B(2, 2).B(3, 1).F(28, 10).F(32, 0.1f).F(36, 1e7f).F(40, 0.2f).Frame(
            RspRecordCvt);
    v = ShowStoredRecord(RspRecordCvt, cvt.data(), Len(cvt));
    EXPECT_EQ(v.Title, "CVT自激法\\内标准\\异频\\内高压");
    EXPECT_EQ(*v.Main, "C1　：10.000nFDF：0.100% \r\nC2　：over   DF：0.200%  \r\n");

    const auto ratio = Payload(46).F(24, 150.25f).F(28, 1).F(32, 0.3f).Frame(RspRecordRatio);
    v = ShowStoredRecord(RspRecordRatio, ratio.data(), Len(ratio));
    EXPECT_EQ(v.Title, "变比\\外标准\\异频\\外高压");
    EXPECT_EQ(*v.Main, Filled("　K 　　　：150.25"));
    EXPECT_EQ(v.Details.substr(0, 54),
              Filled("　Cx　　　：1.000nF") + "\r\n" + Filled("　DF　　　：0.300%") + "\r\n");
    const auto ratioOver = Payload(46).F(24, 1e6f).Frame(RspRecordRatio);
    EXPECT_EQ(*ShowStoredRecord(RspRecordRatio, ratioOver.data(), Len(ratioOver)).Main,
              Filled("　K 　　　：over"));

    const auto shielded =
        Payload(47).F(24, 1.5f).F(28, 0.25f).F(32, 2000).F(36, 1).Frame(RspRecordShielded);
    v = ShowStoredRecord(RspRecordShielded, shielded.data(), Len(shielded));
    EXPECT_EQ(v.Title, "反接线低压屏蔽\\外标准\\异频\\外高压");
    EXPECT_EQ(*v.Main, "Cx：1.500nF  DF：0.250%  \r\nCg：2.000uF  DF：1.000%  \r\n");
}

TEST(StoredRecord, EveryLineOfASingleChannelRecord) {
    // Every field with a value of its own, so that a field read from a neighbour's offset shows.
    const auto record = Payload(47)
                            .B(0, 1)
                            .B(1, 1)
                            .B(2, 1)
                            .B(3, 1)
                            .F(4, 12.5f)
                            .F(8, 0.0625f)
                            .F(12, 475)
                            .F(16, 525)
                            .B(20, 1)
                            .F(21, 2.5f)
                            .F(25, 0.125f)
                            .F(29, 12.5f)
                            .F(33, 0.25f)
                            .F(37, 0.75f)
                            .Date(41, 17, 11, 5, 8, 9, 10)
                            .Frame(RspRecord);
    const StoredRecordView v = ShowStoredRecord(RspRecord, record.data(), Len(record));
    EXPECT_EQ(v.Title, "正接线\\内标准\\定频\\内高压");
    EXPECT_EQ(*v.Main, "Cx：2.500nF      DF：0.125%");
    EXPECT_EQ(v.Details,
              Filled("　U 　　　：12.50kV") + "\r\n" + Filled("　I 　　　：62.50mA") + "\r\n" +
                  Filled("　Φ　　　：12.500°") + "\r\n" + Filled("　PF　　　：0.2500") + "\r\n" +
                  Filled("　P 　　　：750.0W") + "\r\n" + Filled("　F1　　　：47.50Hz") + "\r\n" +
                  Filled("　F2　　　：52.50Hz") + "\r\n" + "  Date：2017-11-05 08:09:10\r\n");
    EXPECT_EQ(*v.PanelHeight, 157);
}

TEST(StoredRecord, MultiChannelCountFromThePayload) {
    Payload p(67);
    p.B(0, 1).B(1, 1).B(2, 1).B(3, 1);
    for (int ch = 0; ch < 4; ++ch) {
        p.F(5 + ch * 8, 1.0f + static_cast<float>(ch)).F(9 + ch * 8, 0.1f).F(37 + ch * 4, 10);
    }
    p.F(53, 500).F(57, 500).Date(61, 16, 3, 24, 15, 34, 0);
    for (int channels : {2, 3, 4}) {
        p.B(4, static_cast<std::uint8_t>(channels));
        const auto f = p.Frame(RspRecordMulti);
        const StoredRecordView v = ShowStoredRecord(RspRecordMulti, f.data(), Len(f));
        EXPECT_EQ(v.Title, "正接线\\内标准\\定频\\内高压");
        EXPECT_EQ(*v.PanelHeight, channels == 2 ? 157 : 220);
        EXPECT_EQ(v.Main->size(), static_cast<std::size_t>(channels) * 27);
        EXPECT_EQ(v.Details.size(), static_cast<std::size_t>(channels + 2) * 27 + 29);
    }
    p.B(4, 7);
    const auto odd = p.Frame(RspRecordMulti);
    const StoredRecordView v = ShowStoredRecord(RspRecordMulti, odd.data(), Len(odd));
    EXPECT_FALSE(v.Main.has_value());
    EXPECT_FALSE(v.PanelHeight.has_value());
    EXPECT_EQ(v.Details, "Ca：1.000nF  DF：0.100%  \r\nCb：2.000nF  DF：0.100%  \r\n" +
                             Filled("　F1　　　：50.00Hz") + "\r\n" +
                             Filled("　F2　　　：50.00Hz") + "\r\n" +
                             "  Date：2016-03-24 15:34:00\r\n");
}
