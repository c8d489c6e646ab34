#include "trace_replay.h"

#include "core/commands.h"
#include "core/gbk.h"
#include "core/log.h"
#include "core/responses.h"
#include "support/frames.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace dielmon;
using dielmon::test::Payload;
using dielmon::test::ReadAll;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace {

// Writes a session into a log the way the program does: one "发出：" line per frame sent and
// one "收到" line per chunk received.
class Session {
public:
    explicit Session(const std::string& home)
        : Clock_(FromLocal(2016, 3, 24, 15, 34, 0)), Log_(home, Clock_) {}

    template <typename Frame>
    void Send(const Frame& f) {
        Log_.WriteLog(SentTraceText(f.data(), static_cast<int>(f.size())));
        Clock_.Advance(std::chrono::seconds(1));
    }
    void Receive(const std::vector<std::uint8_t>& chunk) {
        Log_.WriteLog(ReceivedTraceText(chunk.data(), static_cast<int>(chunk.size())));
        Clock_.Advance(std::chrono::seconds(1));
    }
    void Raw(const std::string& text) { Log_.WriteLog(text); }
    std::string File() const { return Log_.LogFileName(); }

private:
    ManualClock Clock_;
    DebugLog Log_;
};

std::vector<std::uint8_t> Cat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome Execute(const std::string& args) {
    Outcome r;
    FILE* p = ::popen((std::string(DIELMON_TRACE_EXE) + " " + args + " 2>&1").c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int s = ::pclose(p);
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return r;
}

std::string U(const std::string& gbk) {
    return GbkToUtf8(gbk);
}

} // namespace

TEST(TraceReplay, ASessionDecodedAsTheWindowShowsIt) {
    TempDir dir;
    Session s(dir.Home());
    s.Send(BuildShortCommand(CmdConnect));
    const auto params = Payload(22)
                            .B(0, 5)
                            .B(2, 1)
                            .B(3, 1)
                            .B(4, 6)
                            .B(5, 0x27)
                            .B(6, 0x10)
                            .F(7, 50.5f)
                            .F(11, 0.1f)
                            .B(16, 200)
                            .B(17, 1)
                            .B(18, 1)
                            .B(19, 1)
                            .Frame(RspParameters);
    s.Receive({params.begin(), params.begin() + 10}); // split across two reads
    s.Receive({params.begin() + 10, params.end()});

    TestParameters t;
    t.Channels = 1;
    t.WiringMode = 4;
    t.Standard = 1;
    t.FrequencyCode = 6;
    t.TestVoltage = 5000;
    s.Send(BuildStartTest(t));
    s.Receive(
        Cat(Cat({0x00, 0x7F}, BuildFrame(RspTestStarted, std::vector<std::uint8_t>(17))),
            Payload(16).F(0, 1.5f).F(4, 0.0125f).F(8, 12.25f).F(12, 3.5f).Frame(RspBoosting)));
    s.Receive(Payload(12).F(0, 2).F(8, 0.0125f).Frame(RspStepResult));
    s.Receive(Payload(46).F(24, 10).F(28, 0.1f).F(32, 50).F(36, 0.2f).Frame(RspFinalResult));
    s.Send(BuildShortCommand(CmdReadRecord, 7));
    s.Receive(Payload(46).F(24, 150.25f).Frame(RspRecordRatio));
    s.Receive(Payload(8).B(0, 9).B(1, 7).Date(2, 16, 3, 24, 15, 34, 0).Frame(RspIndex));
    s.Receive(Payload(17).B(16, 0xB6).Frame(RspError));
    s.Receive(BuildFrame(0x99, std::vector<std::uint8_t>{}));
    s.Raw("收到 24 ZZ");

    const Outcome r = Execute("--json " + s.File());
    EXPECT_EQ(r.status, 0);
    const std::string& o = r.out;
    EXPECT_NE(o.find("line 13: broken byte pair 'ZZ'"), std::string::npos) << o;
    EXPECT_NE(o.find("{\"dir\":\"sent\",\"time\":\"2016-03-24 15:34:00\",\"code\":\"0xA1\","
                     "\"name\":\"CmdConnect\",\"frame\":\"24 A1 11 00 00 00 00 00 00 00 00 00 00 "
                     "00 00 00 00 00 00 00 B2 2A\",\"fields\":{},\"texts\":{},\"rows\":[]}"),
              std::string::npos);
    // The parameters: received in the call that brought their last byte.
    EXPECT_NE(
        o.find("\"time\":\"2016-03-24 15:34:02\",\"code\":\"0x1A\",\"name\":\"RspParameters\""),
        std::string::npos);
    EXPECT_NE(o.find(U("\"CBox_ConnType\":\"正接线\",\"CBox_Model\":\"CH-A\"")), std::string::npos);
    EXPECT_NE(o.find(U("\"Edt_Volt\":\"10000\",\"Edt_C\":\"50\",\"Edt_JS\":\"0.100\","
                       "\"CBox_VoltUp\":\"200\"")),
              std::string::npos);
    EXPECT_NE(o.find("\"InstrumentType\":5"), std::string::npos);
    // The start command replaces the panel's choices: CVT from here on.
    EXPECT_NE(o.find("\"WiringMode\":4,\"Standard\":1,\"FrequencyCode\":6,\"TestVoltage\":5000"),
              std::string::npos);
    EXPECT_NE(o.find("\"ProgBar_Step.Max\":20"), std::string::npos);
    EXPECT_NE(o.find(U("\"Lbl_Guding\":\"CVT自激法\\\\内标准\\\\定频\\\\内高压\"")),
              std::string::npos);
    EXPECT_NE(o.find("\"Lbl_UpInfo\":\"1.50 kV\\r\\n\\r\\n[12mA] [12.2V] [3.5A] \""),
              std::string::npos);
    // The step frame carries the excitation items over from the boosting frame.
    EXPECT_NE(o.find("\"Lbl_UpInfo\":\"2.00 kV\\r\\n\\r\\n[12mA] [12.2V] [3.5A] \""),
              std::string::npos);
    EXPECT_NE(o.find("\"ProgBar_Step\":1"), std::string::npos);
    EXPECT_NE(o.find(U("\"LblCxRx\":\"C1：10.000nF DF：0.100%  \\r\\nC2：50.00nF  DF：0.200%  "
                       "\\r\\n\"")),
              std::string::npos);
    EXPECT_NE(o.find("\"layout\":\"CvtLayout\""), std::string::npos);
    EXPECT_NE(o.find("\"name\":\"CmdReadRecord\",\"frame\":\"24 D2 11 07"), std::string::npos);
    EXPECT_NE(o.find("\"fields\":{\"record\":7}"), std::string::npos);
    EXPECT_NE(o.find(U("\"Label22\":\"变比\\\\外标准\\\\异频\\\\外高压\",\"Label23\":\"　K "
                       "　　　：150.25       \"")),
              std::string::npos);
    EXPECT_NE(
        o.find(
            U("\"Lbl_Num\":\"可用数据91条，已用9条\"},\"rows\":[\"007\",\"2016-03-24 15:34:00\"]")),
        std::string::npos);
    EXPECT_NE(
        o.find(U("\"fields\":{\"error\":\"0xB6\"},\"texts\":{\"Lbl_Error\":\"请检查接地！\"}")),
        std::string::npos);
    EXPECT_NE(o.find("\"code\":\"0x99\",\"name\":\"unknown\""), std::string::npos);

    // The readable form names the same things.
    const Outcome text = Execute(dir.Home() + "Log");
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("received  RspFinalResult (0x4C)"), std::string::npos);
    EXPECT_NE(text.out.find(U("      |C1：10.000nF DF：0.100%  ")), std::string::npos);
}

TEST(TraceReplay, UnreadableFilesAndWrongArguments) {
    TempDir dir;
    Outcome r = Execute(dir.File("missing.txt"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("cannot read " + dir.File("missing.txt")), std::string::npos);
    EXPECT_EQ(Execute("--bogus x").status, 2);
    EXPECT_EQ(Execute("").status, 2);
    r = Execute("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--json"), std::string::npos);
}

TEST(TraceReplay, AFileOrFolderWithoutTrafficIsReportedWithStatusOne) {
    TempDir dir;
    WriteAll(dir.File("notes.txt"), "2016-03-24 15:34:00  the program started\r\n");
    WriteAll(dir.File("empty.txt"), "");
    for (const char* name : {"notes.txt", "empty.txt"}) {
        const Outcome r = Execute(dir.File(name));
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, "dielmon-trace: " + dir.File(name) + ": no trace line in this file\n");
    }
    ::mkdir(dir.File("Log").c_str(), 0777);
    Outcome r = Execute(dir.File("Log"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "dielmon-trace: " + dir.File("Log") +
                         ": no log file (LogFile*.txt) in this folder\n");

    // A log with traffic beside one without: the traffic is shown, the status still says 1.
    Session s(dir.Home());
    s.Send(BuildShortCommand(CmdConnect));
    r = Execute(s.File() + " " + dir.File("notes.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("CmdConnect (0xA1)"), std::string::npos);
    // A file that cannot be read weighs more.
    EXPECT_EQ(Execute(dir.File("notes.txt") + " " + dir.File("missing.txt")).status, 2);
}
