// Working sessions over the line: connecting fills the panel with the instrument's settings,
// whole tests in every wiring mode arrive frame by frame and decode into the result page,
// results are saved in the instrument and stored records are listed, read, deleted, cleared.
#include "link.h"

#include "core/history.h"
#include "core/panel.h"
#include "core/responses.h"
#include "core/results.h"
#include "core/texts.h"
#include "sim/payloads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool HasOver(const std::string& text) {
    return text.find("over") != std::string::npos;
}

// The number printed right after `label` in `text`, scaled by its unit to `base` (for
// capacitance: pF, nF and uF to nF); nothing when the label or a number is missing.
std::optional<double> NumberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* begin = text.c_str() + at + label.size();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (end == begin) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> NanofaradsAfter(const std::string& text, const std::string& label) {
    const std::optional<double> v = NumberAfter(text, label);
    if (!v) {
        return std::nullopt;
    }
    const std::size_t at = text.find(label) + label.size();
    const std::size_t unit = text.find_first_of("pnu", at);
    if (unit == std::string::npos || text.compare(unit + 1, 1, "F") != 0) {
        return std::nullopt;
    }
    switch (text[unit]) {
    case 'p':
        return *v / 1000;
    case 'u':
        return *v * 1000;
    default:
        return *v;
    }
}

bool Near(std::optional<double> value, double nominal, double tolerance) {
    return value && std::fabs(*value - nominal) <= nominal * tolerance;
}

// A capacitance with its dissipation factor as a result line shows them.
struct Specimen {
    std::string Label; // "Cx：", "Ca：" ...
    double Nanofarads;
    double Dissipation; // %
};

void ExpectPairLine(const std::string& line, const Specimen& s) {
    SCOPED_TRACE(line);
    EXPECT_EQ(line.rfind(s.Label, 0), 0u);
    EXPECT_TRUE(Near(NanofaradsAfter(line, s.Label), s.Nanofarads, 0.1));
    EXPECT_TRUE(Near(NumberAfter(line, "DF："), s.Dissipation, 0.25));
}

const std::string kDateLabel = "  Date：";

// The date line of a result's details: the last line.
std::string DateOf(const std::string& details) {
    const std::vector<std::string> lines = Lines(details);
    return lines.empty() ? std::string() : lines.back();
}

void ExpectDetailsPlausible(const std::string& details, std::size_t lines) {
    SCOPED_TRACE(details);
    EXPECT_FALSE(HasOver(details));
    EXPECT_EQ(Lines(details).size(), lines);
    EXPECT_EQ(details.substr(details.size() - 2), "\r\n");
    const std::string date = DateOf(details);
    ASSERT_EQ(date.rfind(kDateLabel, 0), 0u);
    EXPECT_GE(std::atoi(date.c_str() + kDateLabel.size()), 2024) << "not dated today";
    // The test frequency of the panel, 50 Hz, measured back.
    EXPECT_TRUE(Near(NumberAfter(details, "F1　　　："), 50, 0.02));
    EXPECT_TRUE(Near(NumberAfter(details, "F2　　　："), 50, 0.02));
}

// ---------------------------------------------------------------------------------------------
// Connecting

struct Reported {
    int InstrumentType;
    bool DoubleSteps;
};

class Connecting : public testing::TestWithParam<Reported> {};

TEST_P(Connecting, FillsThePanelWithTheInstrumentsSettings) {
    sim::SimOptions options = FastOptions();
    options.InstrumentType = GetParam().InstrumentType;
    options.DoubleSteps = GetParam().DoubleSteps;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));

    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    ASSERT_EQ(answer[1], RspParameters);
    const InstrumentParameters p = DecodeParameters(answer.data(), static_cast<int>(answer.size()));
    EXPECT_EQ(p.InstrumentType, GetParam().InstrumentType);
    EXPECT_EQ(p.DoubleSteps, GetParam().DoubleSteps ? 1 : 0);

    Operator op;
    op.Apply(answer);
    EXPECT_EQ(op.instrumentType, GetParam().InstrumentType);
    EXPECT_EQ(op.doubleSteps, GetParam().DoubleSteps ? 1 : 0);

    // The settings an instrument starts with, as the simulator keeps them.
    const sim::InstrumentSettings s;
    const Panel& panel = op.panel;
    EXPECT_EQ(panel.CBox_ConnType.ItemIndex, s.WiringMode - 1);
    EXPECT_EQ(panel.CBox_ConnType.Text(), "反接线");
    EXPECT_FALSE(panel.CBox_Model.Visible);
    EXPECT_EQ(panel.CBox_U.ItemIndex, s.Standard - 1);
    EXPECT_EQ(panel.CBox_Freq.Text(), FrequencyCodeText(s.FrequencyCode));
    EXPECT_EQ(panel.CBox_TestVolt.Text(), texts::kInternalHighVoltage);
    EXPECT_TRUE(panel.Edt_Volt.Visible);
    EXPECT_EQ(panel.Edt_Volt.Text, std::to_string(s.TestVoltage));
    EXPECT_EQ(panel.Edt_C.Text, "50");
    EXPECT_EQ(panel.Edt_JS.Text, "0.000");
    EXPECT_EQ(panel.CBox_VoltUp.Text, std::to_string(s.CvtVoltageLimit));
    EXPECT_EQ(panel.CBox_CurrentUp.ItemIndex, s.CvtCurrentCode - 1);
    EXPECT_EQ(panel.CBox_JLVoltUp.ItemIndex, s.ExcitationVoltageCode - 1);
    EXPECT_EQ(panel.CBox_JLCultUp.ItemIndex, s.ExcitationCurrentCode - 1);
    EXPECT_EQ(panel.CBox_EleType.ItemIndex, s.Supply);
    EXPECT_TRUE(panel.BBtn_StartTest);
    EXPECT_TRUE(panel.CBox_ConnType.Enabled);
}

INSTANTIATE_TEST_SUITE_P(Types, Connecting,
                         testing::Values(Reported{4, false}, Reported{5, false}, Reported{6, true},
                                         Reported{7, false}, Reported{5, true}));

TEST(ConnectingAgain, ReportsTheSettingsOfTheLastTestBackIntoAFreshPanel) {
    SimInstrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    Operator op;
    op.Apply(Connect(program));

    // The operator's choices: shielded wiring, external standard, a frequency range, generator.
    op.ChooseWiring(3);
    op.panel.CBox_U.SelectText(texts::kExternalStandard);
    op.panel.CBox_UChange();
    op.panel.CBox_Freq.SelectText("60±1Hz");
    op.panel.Edt_Volt.Text = "8000";
    op.panel.Edt_C.Text = "100";
    op.panel.Edt_JS.Text = "0.250";
    op.panel.CBox_VoltUp.Text = "3000";
    op.panel.CBox_CurrentUp.Select(4);
    op.panel.CBox_JLVoltUp.Select(7);
    op.panel.CBox_JLCultUp.Select(15);
    op.panel.CBox_EleType.Select(1);
    const TestParameters sent = op.panel.ReadTestParameters();
    ASSERT_EQ(sent.FrequencyCode, 52);
    ASSERT_EQ(sent.Supply, 1);

    const std::vector<Bytes> test = RunTest(program, op);
    ASSERT_EQ(Codes(test), TestFrames(op.Gauge()));

    Operator fresh;
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    ASSERT_EQ(answer[1], RspParameters);
    fresh.Apply(answer);
    EXPECT_EQ(fresh.panel.ReadTestParameters(), sent);
    EXPECT_EQ(fresh.panel.CBox_U.Text(), texts::kExternalStandard);
    EXPECT_TRUE(fresh.panel.Edt_C.Enabled);
}

// ---------------------------------------------------------------------------------------------
// Whole tests

struct WholeTest {
    int Mode;
    int Channels;
    bool DoubleSteps;
};

std::string TestName(const testing::TestParamInfo<WholeTest>& info) {
    return "Mode" + std::to_string(info.param.Mode) + "_" + std::to_string(info.param.Channels) +
           "ch" + (info.param.DoubleSteps ? "_Double" : "");
}

std::vector<WholeTest> EveryWiring() {
    std::vector<WholeTest> cases;
    for (const bool twice : {false, true}) {
        for (int channels = 1; channels <= 4; ++channels) {
            cases.push_back({1, channels, twice});
        }
        for (int mode = 2; mode <= 5; ++mode) {
            cases.push_back({mode, 1, twice});
        }
    }
    return cases;
}

// The main result the specimens of the simulator give, line by line, and the number of
// detail lines of the layout.
struct Expected {
    std::vector<Specimen> Pairs; // empty: checked by the layout's own rule
    std::size_t DetailLines;
    std::uint8_t RecordCode;
};

Expected ExpectedFor(const WholeTest& t) {
    switch (t.Mode) {
    case 1:
        if (t.Channels == 1) {
            return {{}, 8, RspRecord};
        } else {
            const std::vector<Specimen> all = {{"Ca：", 1.00, 0.30},
                                               {"Cb：", 1.20, 0.35},
                                               {"Cc：", 0.85, 0.28},
                                               {"Cd：", 1.10, 0.40}};
            return {std::vector<Specimen>(all.begin(), all.begin() + t.Channels),
                    static_cast<std::size_t>(t.Channels) + 3, RspRecordMulti};
        }
    case 2:
        return {{}, 8, RspRecord};
    case 3:
        return {{{"Cx：", 2.2, 0.35}, {"Cg：", 0.8, 0.50}}, 6, RspRecordShielded};
    case 4:
        return {{{"C1：", 10, 0.08}, {"C2：", 50, 0.10}}, 7, RspRecordCvt};
    default:
        return {{}, 9, RspRecordRatio};
    }
}

class AWholeTest : public testing::TestWithParam<WholeTest> {};

TEST_P(AWholeTest, ArrivesFrameByFrameAndDecodesIntoItsLayout) {
    const WholeTest param = GetParam();
    sim::SimOptions options = FastOptions();
    options.DoubleSteps = param.DoubleSteps;
    options.Records = 0;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    Operator op;
    op.Apply(Connect(program));
    ASSERT_EQ(op.doubleSteps, param.DoubleSteps ? 1 : 0);
    op.ChooseWiring(param.Mode, param.Channels);
    const PanelSelection selection = op.panel.Selection();
    const TestParameters parameters = op.panel.ReadTestParameters();
    ASSERT_EQ(parameters.WiringMode, param.Mode);
    ASSERT_EQ(parameters.Channels, param.Channels);

    const int gauge = op.Gauge();
    const int steps = (param.Mode == 1   ? 10 * param.Channels
                       : param.Mode == 4 ? 20
                                         : 10) *
                      (param.DoubleSteps ? 2 : 1);
    ASSERT_EQ(gauge, steps);
    const std::vector<Bytes> frames = RunTest(program, op);
    ASSERT_EQ(Codes(frames), TestFrames(gauge));
    EXPECT_TRUE(program.AllOnWindowThread());
    for (const Bytes& f : frames) {
        EXPECT_TRUE(WellFormed(f));
    }

    // The live values while the voltage rises and at each step.
    ExcitationTexts kept;
    for (const Bytes& f : frames) {
        const int n = static_cast<int>(f.size());
        if (f[1] == RspBoosting) {
            const std::optional<std::string> text = ShowBoosting(f.data(), n, selection, kept);
            ASSERT_TRUE(text);
            EXPECT_FALSE(HasOver(*text)) << *text;
        } else if (f[1] == RspStepResult) {
            const std::string text = ShowStep(f.data(), n, selection, kept);
            EXPECT_FALSE(text.empty());
            EXPECT_FALSE(HasOver(text)) << text;
        }
    }

    // The result page.
    const Bytes& last = frames.back();
    EXPECT_GE(last[2], LeastPayloadLength(RspFinalResult, selection));
    const FinalResultView view =
        ShowFinalResult(last.data(), static_cast<int>(last.size()), selection);
    const ResultTexts& texts = view.Texts;
    EXPECT_EQ(texts.Title, TestConfigurationLine(selection));
    EXPECT_FALSE(HasOver(texts.Main)) << texts.Main;
    const Expected expected = ExpectedFor(param);
    ExpectDetailsPlausible(texts.Details, expected.DetailLines);
    const std::vector<std::string> main = Lines(texts.Main);
    if (!expected.Pairs.empty()) {
        ASSERT_EQ(main.size(), expected.Pairs.size()) << texts.Main;
        EXPECT_EQ(texts.Main.substr(texts.Main.size() - 2), "\r\n");
        for (std::size_t k = 0; k < main.size(); ++k) {
            ExpectPairLine(main[k], expected.Pairs[k]);
        }
    } else if (param.Mode == 5) {
        ASSERT_EQ(main.size(), 1u) << texts.Main;
        EXPECT_TRUE(Near(NumberAfter(texts.Main, "："), 1100, 0.05)) << texts.Main;
        EXPECT_TRUE(Near(NanofaradsAfter(texts.Details, "Cx　　　："), 10, 0.1)) << texts.Details;
    } else {
        // One line without a line break: the capacitance and its dissipation factor.
        ASSERT_EQ(main.size(), 1u) << texts.Main;
        EXPECT_EQ(texts.Main.find("\r\n"), std::string::npos);
        ExpectPairLine(texts.Main,
                       param.Mode == 1 ? Specimen{"Cx：", 1.0, 0.30} : Specimen{"Cx：", 4.7, 0.45});
    }
    if ((param.Mode == 1 && param.Channels == 1) || param.Mode == 2 || param.Mode == 3) {
        // The panel's test voltage, 10 kV, measured back.
        EXPECT_TRUE(Near(NumberAfter(texts.Details, "　U 　　　："), 10, 0.05)) << texts.Details;
    }

    // Saved in the instrument and read back: a record of the layout of the result.
    std::vector<Bytes> answers = program.Exchange(CmdInstrumentSave, 1);
    ASSERT_EQ(Codes(answers), Sequence({{RspSaved, 1}}));
    answers = program.Exchange(CmdReadIndex, 1);
    ASSERT_EQ(Codes(answers), Sequence({{RspIndex, 1}}));
    const IndexUpdate entry =
        ShowIndexEntry(answers[0].data(), static_cast<int>(answers[0].size()));
    EXPECT_EQ(entry.CountText, HistoryCountText(1));
    ASSERT_TRUE(entry.Row);
    EXPECT_EQ(entry.Row->Number, "001");
    EXPECT_EQ(kDateLabel + entry.Row->Time, DateOf(texts.Details));

    answers = program.Exchange(CmdReadRecord, 1, RecordNumberOf(entry.Row->Number));
    ASSERT_EQ(Codes(answers), Sequence({{expected.RecordCode, 1}}));
    const Bytes& record = answers[0];
    EXPECT_GE(record[2], expected.RecordCode == RspRecordMulti   ? 67
                         : expected.RecordCode == RspRecordCvt   ? 50
                         : expected.RecordCode == RspRecordRatio ? 46
                                                                 : 47);
    const StoredRecordView stored =
        ShowStoredRecord(record[1], record.data(), static_cast<int>(record.size()));
    EXPECT_EQ(stored.Title, texts.Title);
    ASSERT_TRUE(stored.Main);
    EXPECT_FALSE(HasOver(*stored.Main)) << *stored.Main;
    EXPECT_EQ(stored.Details, texts.Details);
    if (param.Mode <= 3) {
        EXPECT_EQ(*stored.Main, texts.Main);
    }
    ASSERT_TRUE(stored.PanelHeight);
    EXPECT_EQ(*stored.PanelHeight, view.PanelHeight);
}

INSTANTIATE_TEST_SUITE_P(EveryWiring, AWholeTest, testing::ValuesIn(EveryWiring()), TestName);

TEST(WholeTests, FiveInARowOnOneConnectionAndTheFifthReportsTheResistance) {
    SimInstrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    Operator op;
    op.Apply(Connect(program));
    op.ChooseWiring(1, 1);
    const PanelSelection selection = op.panel.Selection();
    for (int test = 1; test <= 5; ++test) {
        SCOPED_TRACE("test " + std::to_string(test));
        const std::vector<Bytes> frames = RunTest(program, op);
        ASSERT_EQ(Codes(frames), TestFrames(10));
        const Bytes& last = frames.back();
        const ResultTexts texts =
            ShowFinalResult(last.data(), static_cast<int>(last.size()), selection).Texts;
        EXPECT_FALSE(HasOver(texts.Main + texts.Details)) << texts.Main;
        EXPECT_TRUE(Near(NanofaradsAfter(texts.Main, "Cx："), 1.0, 0.1)) << texts.Main;
        if (test < 5) {
            EXPECT_TRUE(Near(NumberAfter(texts.Main, "DF："), 0.30, 0.25)) << texts.Main;
        } else {
            // The parallel resistance of 1 nF with 0.3 % at 50 Hz: about 1 GΩ.
            EXPECT_NE(texts.Main.find("Rx："), std::string::npos) << texts.Main;
            EXPECT_NE(texts.Main.find("GΩ\r\n"), std::string::npos) << texts.Main;
        }
    }
    EXPECT_EQ(instrument.CommandsReceived(CmdStartTest), 5u);
}

// ---------------------------------------------------------------------------------------------
// The instrument's store

struct SampleRecord {
    std::uint8_t Code;
    std::string Mode;
    std::size_t MainLines;
};

// The ten kinds of sample record the simulator's store starts with, in order.
const std::vector<SampleRecord> kSamples = {
    {RspRecord, "正接线", 1},
    {RspRecordMulti, "正接线", 2},
    {RspRecordShielded, "反接线低压屏蔽", 2},
    {RspRecordCvt, "CVT自激法", 2},
    {RspRecordRatio, "变比", 1},
    {RspRecord, "反接线", 1},
    {RspRecordMulti, "正接线", 3},
    {RspRecord, "反接线", 1},
    {RspRecord, "正接线", 1},
    {RspRecordMulti, "正接线", 4},
};

TEST(Store, EveryLayoutIsListedReadAndDecodedThenDeletedAndCleared) {
    sim::SimOptions options = FastOptions();
    options.Records = static_cast<int>(kSamples.size());
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));

    std::vector<Bytes> index = program.Exchange(CmdReadIndex, kSamples.size());
    ASSERT_EQ(Codes(index), Sequence({{RspIndex, static_cast<int>(kSamples.size())}}));
    std::vector<IndexRow> rows;
    for (const Bytes& f : index) {
        const IndexUpdate u = ShowIndexEntry(f.data(), static_cast<int>(f.size()));
        EXPECT_EQ(u.CountText, HistoryCountText(static_cast<int>(kSamples.size())));
        ASSERT_TRUE(u.Row);
        EXPECT_EQ(u.ClearRows, rows.empty());
        rows.push_back(*u.Row);
        EXPECT_EQ(RecordNumberOf(u.Row->Number), static_cast<int>(rows.size()));
    }
    EXPECT_EQ(rows.front().Time, "2023-10-09 08:15:00");

    for (std::size_t k = 0; k < kSamples.size(); ++k) {
        SCOPED_TRACE("record " + rows[k].Number);
        const auto number = static_cast<std::uint8_t>(RecordNumberOf(rows[k].Number));
        const std::vector<Bytes> answer = program.Exchange(CmdReadRecord, 1, number);
        ASSERT_EQ(Codes(answer), Sequence({{kSamples[k].Code, 1}}));
        const Bytes& f = answer[0];
        const StoredRecordView v = ShowStoredRecord(f[1], f.data(), static_cast<int>(f.size()));
        EXPECT_EQ(v.Title.rfind(kSamples[k].Mode + "\\", 0), 0u) << v.Title;
        ASSERT_TRUE(v.Main);
        EXPECT_FALSE(HasOver(*v.Main)) << *v.Main;
        EXPECT_FALSE(HasOver(v.Details)) << v.Details;
        EXPECT_EQ(Lines(*v.Main).size(), kSamples[k].MainLines) << *v.Main;
        EXPECT_EQ(DateOf(v.Details), kDateLabel + rows[k].Time);
    }

    // Deleting record 3 moves the later ones up a number.
    std::vector<Bytes> answer = program.Exchange(CmdDeleteRecord, 1, 3);
    ASSERT_EQ(Codes(answer), Sequence({{RspRecordDeleted, 1}}));
    index = program.Exchange(CmdReadIndex, kSamples.size() - 1);
    ASSERT_EQ(Codes(index), Sequence({{RspIndex, static_cast<int>(kSamples.size()) - 1}}));
    for (std::size_t k = 0; k < index.size(); ++k) {
        const IndexUpdate u = ShowIndexEntry(index[k].data(), static_cast<int>(index[k].size()));
        EXPECT_EQ(u.CountText, HistoryCountText(static_cast<int>(kSamples.size()) - 1));
        ASSERT_TRUE(u.Row);
        EXPECT_EQ(u.Row->Time, rows[k < 2 ? k : k + 1].Time);
    }
    answer = program.Exchange(CmdReadRecord, 1, 3);
    ASSERT_EQ(Codes(answer), Sequence({{RspRecordCvt, 1}}));

    // Clearing leaves one entry that lists nothing.
    answer = program.Exchange(CmdClearHistory, 1);
    ASSERT_EQ(Codes(answer), Sequence({{RspHistoryCleared, 1}}));
    index = program.Exchange(CmdReadIndex, 1);
    ASSERT_EQ(Codes(index), Sequence({{RspIndex, 1}}));
    const IndexUpdate empty = ShowIndexEntry(index[0].data(), static_cast<int>(index[0].size()));
    EXPECT_TRUE(empty.ClearRows);
    EXPECT_FALSE(empty.Row);
    EXPECT_EQ(empty.CountText, HistoryCountText(0));
    EXPECT_TRUE(program.AllOnWindowThread());
}

} // namespace
