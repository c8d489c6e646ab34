// fuzz_make_seeds FOLDER: writes the seed corpora (FOLDER/corpus/<target>/) and dictionaries
// (FOLDER/dict/<target>.dict) of the fuzz targets: frames of every layout with the values the
// instrument sends, result files and settings files as the program writes them, debug logs
// of whole sessions, and the system's texts. `make fuzz-seeds` runs it on fuzz/.
//
// The fuzz targets read their inputs with FuzzedDataProvider, which takes bytes for texts
// and payloads from the front of an input and numbers (choices, sizes) from its back; the
// seeds put their choices at the back in the order the targets take them.
#include "core/commands.h"
#include "core/config.h"
#include "core/frame.h"
#include "core/helpers.h"
#include "core/resultfile.h"
#include "core/results.h"
#include "core/texts.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace dielmon;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

fs::path Root;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path folder = Root / "corpus" / target;
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary | std::ios::trunc) << bytes;
}

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    Write(target, name, std::string(bytes.begin(), bytes.end()));
}

// A dictionary entry in libFuzzer's notation: printable ASCII as is, every other byte as \xNN.
std::string DictEntry(const std::string& bytes) {
    std::string e = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            e += ch;
        } else {
            e += Format("\\x%02X", c);
        }
    }
    return e + "\"";
}

void WriteDict(const std::string& target, const std::vector<std::string>& entries) {
    fs::create_directories(Root / "dict");
    std::ofstream out(Root / "dict" / (target + ".dict"), std::ios::binary | std::ios::trunc);
    out << "# Written by fuzz_make_seeds; the system's texts are GBK bytes.\n";
    for (const std::string& e : entries) {
        out << DictEntry(e) << "\n";
    }
}

// A payload built field by field, as the instrument fills it.
class Payload {
public:
    explicit Payload(int n) : Bytes_(static_cast<std::size_t>(n), 0) {}
    Payload& F(int offset, float value) {
        Bytes_.at(static_cast<std::size_t>(offset) + 3); // the whole float must fit
        FloatToBytes(value, &Bytes_[static_cast<std::size_t>(offset)]);
        return *this;
    }
    Payload& B(int offset, std::uint8_t value) {
        Bytes_.at(static_cast<std::size_t>(offset)) = value;
        return *this;
    }
    Payload& Date(int offset) {
        const std::uint8_t stamp[] = {16, 3, 24, 15, 34, 0};
        for (int k = 0; k < 6; ++k) {
            B(offset + k, stamp[k]);
        }
        return *this;
    }
    Bytes Frame(std::uint8_t code) const { return BuildFrame(code, Bytes_); }

private:
    Bytes Bytes_;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

struct NamedFrame {
    std::string Name;
    Bytes Frame;
    int Mode;       // wiring mode the frame belongs to, 1 to 5
    int ModelIndex; // channel index for the direct wiring mode
};

Bytes Single(std::uint8_t code, int kind, float x, float y, bool stored) {
    const int o = stored ? 4 : 0;
    Payload p(stored ? 47 : 46);
    if (stored) {
        p.B(0, 1).B(1, 1).B(2, 1).B(3, 1);
    }
    p.F(o + 0, 10)
        .F(o + 4, 0.0123f)
        .F(o + 8, 500)
        .F(o + 12, 500)
        .B(o + 16, static_cast<std::uint8_t>(kind))
        .F(o + 17, x)
        .F(o + 21, y)
        .F(o + 25, 89.83f)
        .F(o + 29, 0.0052f)
        .F(o + 33, 0.0006f)
        .Date(stored ? 41 : 40);
    return p.Frame(code);
}

std::vector<NamedFrame> Frames() {
    std::vector<NamedFrame> f;
    f.push_back({"final-single-cx-df", Single(RspFinalResult, 1, 1234.5f, 0.3f, false), 2, 0});
    f.push_back({"final-single-cx-rx", Single(RspFinalResult, 2, 1.0f, 2000000, false), 1, 0});
    f.push_back({"final-single-lx-q", Single(RspFinalResult, 3, 2.5f, 12.5f, false), 1, 0});
    f.push_back({"final-single-lx-rx", Single(RspFinalResult, 4, 0.25f, 0.5f, false), 1, 0});
    f.push_back({"final-single-over", Single(RspFinalResult, 2, 999900, 2e9f, false), 2, 0});
    f.push_back({"final-shielded",
                 Payload(46)
                     .F(0, 10)
                     .F(4, 0.0123f)
                     .F(8, 0.0004f)
                     .F(12, 500)
                     .F(16, 500)
                     .F(20, 1234.5f)
                     .F(24, 0.3f)
                     .F(28, 56.7f)
                     .F(32, -0.05f)
                     .Date(40)
                     .Frame(RspFinalResult),
                 3, 0});
    f.push_back({"final-cvt",
                 Payload(46)
                     .F(0, 2.5f)
                     .F(4, 0.1f)
                     .F(8, 0.005f)
                     .F(12, 1.2f)
                     .F(16, 499)
                     .F(20, 501)
                     .F(24, 20000)
                     .F(28, 0.1f)
                     .F(32, 80000)
                     .F(36, 0.12f)
                     .Date(40)
                     .Frame(RspFinalResult),
                 4, 0});
    f.push_back({"final-ratio",
                 Payload(46)
                     .F(0, 10)
                     .F(4, 0.1f)
                     .F(8, 500)
                     .F(12, 500)
                     .F(16, 0.25f)
                     .F(20, 1234.56f)
                     .F(24, 1000)
                     .F(28, 0.2f)
                     .F(32, 0.002f)
                     .Date(40)
                     .Frame(RspFinalResult),
                 5, 0});
    for (int channels = 2; channels <= 4; ++channels) {
        Payload p(62);
        for (int c = 0; c < 4; ++c) {
            p.F(8 * c, 1000.0f * static_cast<float>(c + 1)).F(8 * c + 4, 0.1f * (c + 1));
            p.F(32 + 4 * c, 10);
        }
        p.F(48, 500).F(52, 500).Date(56);
        f.push_back(
            {"final-multi-" + std::to_string(channels), p.Frame(RspFinalResult), 1, channels - 1});
    }
    f.push_back({"record-single", Single(RspRecord, 1, 1234.5f, 0.3f, true), 1, 0});
    f.push_back({"record-single-ratio-title",
                 Payload(47).B(0, 5).B(1, 1).B(2, 2).B(3, 1).Date(41).Frame(RspRecord), 1, 0});
    f.push_back({"record-shielded",
                 Payload(47)
                     .B(1, 2)
                     .B(2, 1)
                     .B(3, 2)
                     .F(4, 10)
                     .F(8, 0.01f)
                     .F(24, 1234.5f)
                     .F(28, 0.3f)
                     .F(32, 56.7f)
                     .F(36, 0.05f)
                     .Date(41)
                     .Frame(RspRecordShielded),
                 3, 0});
    f.push_back({"record-cvt",
                 Payload(50).F(4, 2.5f).F(28, 20000).F(36, 80000).Date(44).Frame(RspRecordCvt), 4,
                 0});
    f.push_back({"record-ratio",
                 Payload(46).F(4, 10).F(24, 99999.5f).F(28, 1000).Date(40).Frame(RspRecordRatio), 5,
                 0});
    for (const int channels : {2, 3, 4, 7}) {
        Payload p(67);
        p.B(0, 1).B(1, 1).B(2, 1).B(3, 1).B(4, static_cast<std::uint8_t>(channels));
        for (int c = 0; c < 4; ++c) {
            p.F(5 + 8 * c, 1500).F(9 + 8 * c, 0.2f).F(37 + 4 * c, 10);
        }
        p.F(53, 500).F(57, 500).Date(61);
        f.push_back({"record-multi-" + std::to_string(channels), p.Frame(RspRecordMulti), 1, 0});
    }
    f.push_back({"boost", Payload(16).F(0, 2.5f).F(4, 0.0123f).Frame(RspBoosting), 2, 0});
    f.push_back({"boost-cvt",
                 Payload(16).F(0, 1.5f).F(4, 0.2f).F(8, 12.3f).F(12, 99.95f).Frame(RspBoosting), 4,
                 0});
    f.push_back({"step", Payload(12).F(0, 10).F(8, 0.05f).Frame(RspStepResult), 1, 0});
    f.push_back({"step-ratio", Payload(12).F(0, 1000).Frame(RspStepResult), 5, 0});
    f.push_back({"parameters",
                 Payload(22)
                     .B(0, 5)
                     .B(2, 1)
                     .B(3, 2)
                     .B(4, 6)
                     .B(5, 0x27)
                     .B(6, 0x10)
                     .F(7, 50)
                     .F(11, 0.5f)
                     .B(15, 0x0F)
                     .B(16, 0xA0)
                     .B(17, 3)
                     .B(18, 4)
                     .B(19, 5)
                     .B(20, 1)
                     .B(21, 1)
                     .Frame(RspParameters),
                 1, 0});
    f.push_back({"index-first",
                 Payload(8).B(0, 9).B(1, 1).B(2, 16).B(3, 3).B(4, 24).B(5, 15).Frame(RspIndex), 1,
                 0});
    f.push_back({"index-empty", Payload(8).Frame(RspIndex), 1, 0});
    f.push_back({"error-ground", Payload(17).B(16, 0xB6).Frame(RspError), 1, 0});
    f.push_back({"short-final", Payload(5).F(0, 1).Frame(RspFinalResult), 1, 0});
    return f;
}

const Bytes& Find(const std::vector<NamedFrame>& frames, const std::string& name) {
    for (const NamedFrame& f : frames) {
        if (f.Name == name) {
            return f.Frame;
        }
    }
    throw std::runtime_error("no seed frame " + name);
}

// Choices at the back of a payloads input, in the order the target takes them from the end:
// decode mode, wiring mode pick, standard, frequency, high voltage, an in-range channel index.
std::string SelectionTail(int mode, int modelIndex, int frequency) {
    const std::uint8_t taken[] = {
        0, static_cast<std::uint8_t>(mode),          1, static_cast<std::uint8_t>(frequency), 0,
        1, static_cast<std::uint8_t>(modelIndex + 1)};
    return std::string(std::rbegin(taken), std::rend(taken));
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

void Reassembly(const std::vector<NamedFrame>& frames) {
    const Bytes connect = BuildFrame(CmdConnect, Bytes(17, 0));
    const Bytes empty = BuildFrame(0x2A, Bytes{});
    const Bytes longest = BuildFrame(0x77, Bytes(255, 0x24));
    const Bytes skipped = {0x24, 0x10, 0x03, 0x01, 0x02};
    Write("reassembly", "connect", connect);
    Write("reassembly", "two-frames",
          Cat({Find(frames, "final-single-cx-df"), Find(frames, "step")}));
    Write("reassembly", "noise-then-frame", Cat({Bytes{0x00, 0x2A, 0x13, 0x37}, empty}));
    Write("reassembly", "skipped-candidate-then-frame", Cat({skipped, connect, skipped}));
    Write("reassembly", "longest", longest);
    Write("reassembly", "markers-inside", Cat({longest, empty, Bytes{0x24, 0x24, 0x2A}}));
    Bytes session;
    for (const NamedFrame& f : frames) {
        session.insert(session.end(), f.Frame.begin(), f.Frame.end());
    }
    Write("reassembly", "session", session);
    WriteDict("reassembly",
              {"$", "*", "$\x1A", "$\x4C\x2E", "$\xEE\x11", std::string("\x00\x2A", 2), "$$"});
}

void Payloads(const std::vector<NamedFrame>& frames) {
    for (const NamedFrame& f : frames) {
        Write("payloads", f.Name, Text(f.Frame) + SelectionTail(f.Mode, f.ModelIndex, 1));
    }
    Write("payloads", "variable-frequency",
          Text(frames[0].Frame) + SelectionTail(frames[0].Mode, 0, 2));
    // The panel driven by choices: the back holds "drive the panel" and a few steps.
    Write("payloads", "panel-steps",
          Text(Find(frames, "parameters")) + std::string("\x01\x08\x00\x03\x05\x01", 6));
    std::vector<std::string> dict = {texts::kAutoDetect,
                                     texts::kInternalStandard,
                                     texts::kExternalStandard,
                                     texts::kInternalHighVoltage,
                                     texts::kExternalHighVoltage,
                                     "50Hz",
                                     "50±1Hz"};
    for (int k = 1; k <= 5; ++k) {
        dict.push_back(IndexToWiringMode(k));
    }
    WriteDict("payloads", dict);
}

void ResultFiles(const std::vector<NamedFrame>& frames) {
    for (const NamedFrame& f : frames) {
        if (f.Name.rfind("final-", 0) != 0) {
            continue;
        }
        PanelSelection s;
        s.ConnType = IndexToWiringMode(f.Mode);
        s.Standard = texts::kInternalStandard;
        s.Frequency = "50Hz";
        s.TestVolt = texts::kInternalHighVoltage;
        s.ModelIndex = f.ModelIndex;
        const ResultTexts t =
            ShowFinalResult(f.Frame.data(), static_cast<int>(f.Frame.size()), s).Texts;
        Write("resultfile", f.Name, ResultFileRun(t));
    }
    ResultTexts t{"T", "A\r\nB\r\n", "D\r\n"};
    Write("resultfile", "saved-twice", ResultFileRun(t) + ResultFileRun(t));
    Write("resultfile", "separator-on-line-6", "1\r\n2\r\n3\r\n4\r\n5\r\n============\r\nT\r\n");
    Write("resultfile", "separator-on-line-7",
          "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n============\r\nT\r\n\r\nA\r\n");
    Write("resultfile", "ends-after-separator", "=============================\r\n");
    Write("resultfile", "lone-cr-and-lf", "x\r============\nT\r\rA\n\x01\x20\r\nD");
    Write("resultfile", "generated", std::string("GT\x01") + "main\\\\" + "details");
    WriteDict("resultfile",
              {"============", "\r\n", texts::kFileHeading, texts::kFileSeparator, " \t"});
}

// Result files to import into the archive: runs of every layout one after the other, stored
// records with their own labels, values over their range.
void ArchiveImports(const std::vector<NamedFrame>& frames) {
    std::string all;
    for (const NamedFrame& f : frames) {
        PanelSelection s;
        s.ConnType = IndexToWiringMode(f.Mode);
        s.Standard = texts::kInternalStandard;
        s.Frequency = "50Hz";
        s.TestVolt = texts::kInternalHighVoltage;
        s.ModelIndex = f.ModelIndex;
        const int length = static_cast<int>(f.Frame.size());
        if (f.Name.rfind("final-", 0) == 0) {
            const ResultTexts t = ShowFinalResult(f.Frame.data(), length, s).Texts;
            all += ResultFileRun(t);
            Write("archiveimport", f.Name, ResultFileRun(t));
        } else if (f.Name.rfind("record-", 0) == 0) {
            const StoredRecordView v = ShowStoredRecord(f.Frame[1], f.Frame.data(), length);
            Write("archiveimport", f.Name,
                  ResultFileRun({v.Title, v.Main.value_or(""), v.Details}));
        }
    }
    Write("archiveimport", "every-final-layout", all);
    Write("archiveimport", "edited-by-hand",
          std::string(texts::kFileSeparator) + "\r\nnot a title\r\n\r\nCx：12.5nF  DF：abc\r\n" +
              "Q：over\r\n\r\n  Date：2016-13-40 25:61:99\r\n\r\n" + texts::kFileSeparator +
              "\r\nT\r\n\r\nCx：\r\n\r\n　I 　　　：5parsecs\r\n");
    WriteDict("archiveimport", {"：",
                                "　",
                                "over",
                                "Cx",
                                "DF",
                                "Ca",
                                "Cg",
                                "C1",
                                "U",
                                "I",
                                "Φ",
                                "PF",
                                "F1",
                                "K",
                                "Lx",
                                "Rx",
                                "Q",
                                "nF",
                                "pF",
                                "uF",
                                "kV",
                                "mA",
                                "GΩ",
                                "°",
                                "%",
                                "Hz",
                                "  Date：",
                                "2016-03-24 15:34:00",
                                texts::kFileSeparator,
                                "\r\n",
                                "\\"});
}

void SettingsFiles() {
    // Port name, then the file; the back holds DataNum, StopNum, Mark and Baud.
    const std::string numbers("\x00\x00\x25\x80\x02\x01\x00\x00\x00\x08", 10);
    const std::string written = UpdateConfigText("", dielmon::Settings{});
    Write("config", "as-written", "COM3\\n" + written + numbers);
    Write("config", "with-help-file",
          "/dev/ttyUSB0\\n[Config]\r\nComName=COM1\r\nHelpFileName=help.pdf\r\nBaud=19200\r\n" +
              numbers);
    Write("config", "other-sections",
          "COM2\\n; comment\n[Other]\nBaud=1\n[ config ]\n  baud = 300 \nDataNum='7'\n[Last]\nx=y" +
              numbers);
    Write("config", "bom-no-section", "COM4\\n\xEF\xBB\xBFHelpFileName=x\rComName=y" + numbers);
    Write("config", "two-config-sections",
          "COM5\\n[Config]\nMark=2\n\n[Config]\nStopNum=1\nHelpFileName=\"a b\"\n" + numbers);
    WriteDict("config", {"[Config]", "ComName=", "DataNum=", "StopNum=", "Mark=", "Baud=",
                         "HelpFileName=", "\r\n", "\xEF\xBB\xBF", "[", "]", "=", "\"", ";"});
}

std::string TraceLine(int second, const std::string& text) {
    return Format("2016-03-24 15:34:%.2d  ", second) + text + "\r\n";
}

void TraceLogs(const std::vector<NamedFrame>& frames) {
    auto sent = [](const Bytes& b) { return SentTraceText(b.data(), static_cast<int>(b.size())); };
    auto received = [](const Bytes& b) {
        return ReceivedTraceText(b.data(), static_cast<int>(b.size()));
    };
    const auto connect = BuildShortCommand(CmdConnect);
    TestParameters p;
    p.Channels = 1;
    p.WiringMode = 4;
    p.Standard = 1;
    p.FrequencyCode = 6;
    p.TestVoltage = 10000;
    p.ExtCapacitance = 50;
    p.CvtVoltageLimit = 4000;
    p.CvtCurrentCode = 1;
    const auto start = BuildStartTest(p);
    std::string log;
    int second = 0;
    log += TraceLine(second++, sent(Bytes(connect.begin(), connect.end())));
    log += TraceLine(second++, received(Find(frames, "parameters")));
    log += TraceLine(second++, sent(Bytes(start.begin(), start.end())));
    log += TraceLine(second++, received(BuildFrame(RspTestStarted, Bytes(17, 0))));
    for (const char* name : {"boost-cvt", "step", "final-cvt"}) {
        // Split in two chunks, as the reader thread may see them.
        const Bytes& f = Find(frames, name);
        const std::size_t half = f.size() / 2;
        log += TraceLine(second++, received(Bytes(f.begin(), f.begin() + half)));
        log += TraceLine(second++, received(Bytes(f.begin() + half, f.end())));
    }
    Write("tracelog", "cvt-session", log);

    std::string history;
    second = 0;
    const auto readIndex = BuildShortCommand(CmdReadIndex);
    history += TraceLine(second++, sent(Bytes(readIndex.begin(), readIndex.end())));
    for (const NamedFrame& f : frames) {
        if (f.Name.rfind("index-", 0) == 0 || f.Name.rfind("record-", 0) == 0 ||
            f.Name.rfind("error-", 0) == 0) {
            history += TraceLine(second++, received(f.Frame));
        }
    }
    history += TraceLine(second++, received(BuildFrame(RspHistoryCleared, Bytes(17, 0))));
    Write("tracelog", "history-session", history);
    Write("tracelog", "broken-pairs",
          TraceLine(1, "收到 24 1A G1") + TraceLine(2, "发出：24 A1 11 ") + "no trace here\n" +
              "  收到 2A\n");
    Write("tracelog", "round-trip", "R\x01\x24\x4C\x2E\x00\x2A");
    WriteDict("tracelog",
              {"  发出：", "  收到", " 24", " 2A", "24 ", "2A ", "\r\n", "2016-03-24 15:34:00"});
}

void GbkTexts() {
    const std::string texts[] = {texts::kCaption,    texts::kIdleText,   texts::kFileHeading,
                                 texts::kNotOurFile, texts::kAutoDetect, "Ω°±：　µ"};
    int k = 0;
    for (const std::string& t : texts) {
        Write("gbk", "text-" + std::to_string(k++), t);
    }
    Write("gbk", "invalid", std::string("\x80\xFF\xA1\x20\xB0", 5));
    Write("gbk", "utf8", "UTF-8: \xE4\xBB\x8B\xE8\xB4\xA8 \xF0\x9F\x98\x80 ?");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds FOLDER\n";
        return 2;
    }
    Root = argv[1];
    fs::remove_all(Root / "corpus");
    fs::remove_all(Root / "dict");
    const std::vector<NamedFrame> frames = Frames();
    Reassembly(frames);
    Payloads(frames);
    ResultFiles(frames);
    ArchiveImports(frames);
    SettingsFiles();
    TraceLogs(frames);
    GbkTexts();
    return 0;
}
