#include "archive/keeper.h"

#include "core/gbk.h"
#include "core/helpers.h"
#include "core/json.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace dielmon::archive {

namespace {

// The texts joined, each appended (a literal before a temporary string trips a false alarm of
// GCC 12 at -O3).
std::string Join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) {
        out += p;
    }
    return out;
}

Reading ReadNumber(const std::string& text, double low, double high) {
    std::string t = TrimBlanks(text);
    Reading r;
    if (t.empty()) {
        return r;
    }
    for (char& c : t) {
        if (c == ',') {
            c = '.';
        }
    }
    const char* begin = t.data();
    if (*begin == '+') {
        ++begin;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size() || begin == t.data() + t.size() ||
        !std::isfinite(value) || value < low || value > high) {
        r.Valid = false;
        return r;
    }
    r.Value = value;
    return r;
}

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// What the archive's own words mean for the operator, in a few words of Chinese.
std::string WhyInChinese(const std::string& error) {
    if (Has(error, "disk is full") || Has(error, "writing to the disk failed") ||
        Has(error, "No space") || Has(error, "File too large")) {
        return "磁盘已满，或者磁盘无法写入";
    }
    if (Has(error, "neither the file nor its folder")) {
        return "档案文件和它所在的文件夹都是只读的";
    }
    if (Has(error, "its folder cannot be written")) {
        return "档案所在的文件夹是只读的";
    }
    if (Has(error, "read-only") || Has(error, "cannot be written")) {
        return "档案文件是只读的";
    }
    if (Has(error, "damaged") || Has(error, "cut short") || Has(error, "not an SQLite") ||
        Has(error, "not a result archive") || Has(error, "not a regular file") ||
        Has(error, "is a folder")) {
        return "档案文件已损坏，或者不是本程序的档案";
    }
    if (Has(error, "busy")) {
        return "另一个程序长时间占用着档案";
    }
    if (Has(error, "permission") || Has(error, "Permission")) {
        return "没有权限";
    }
    if (Has(error, "no such folder") || Has(error, "No such file")) {
        return "文件夹不存在";
    }
    return "无法写入";
}

const char* const kStillSavable = "结果仍显示在屏幕上，可以用菜单“保存”把它存成文本文件。";

// The conditions file: one "key=value" a line, UTF-8, the specimen's line breaks and
// backslashes escaped.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\\' && k + 1 < text.size()) {
            const char next = text[++k];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[k];
        }
    }
    return out;
}

} // namespace

Reading ReadTemperature(const std::string& text) {
    return ReadNumber(text, kLowestTemperature, kHighestTemperature);
}

Reading ReadHumidity(const std::string& text) {
    return ReadNumber(text, 0, 100);
}

const char* TemperatureHint() {
    return "温度应为-60～80之间的数字（°C），不填表示未测";
}

const char* HumidityHint() {
    return "湿度应为0～100之间的数字（%），不填表示未测";
}

std::string ReadingText(const std::optional<double>& value) {
    if (!value) {
        return {};
    }
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::string MainInOneLine(const std::string& gbkMain) {
    std::string line;
    for (std::string part : SplitLines(GbkToUtf8(gbkMain))) {
        while (!part.empty() && (part.back() == ' ' || part.back() == '\r')) {
            part.pop_back();
        }
        if (!part.empty()) {
            if (!line.empty()) {
                line += "  ";
            }
            line += part;
        }
    }
    return line;
}

ResultKeeper::ResultKeeper(Options options) : Options_(std::move(options)) {
    if (!Options_.DataFolder.empty() && Options_.DataFolder.back() != '/') {
        Options_.DataFolder += '/';
    }
}

ResultKeeper::~ResultKeeper() = default;

std::string ResultKeeper::ArchivePath() const {
    return Options_.DataFolder + kArchiveFileName;
}

std::string ResultKeeper::ConditionsPath() const {
    return Options_.DataFolder + "Conditions.txt";
}

bool ResultKeeper::Writable() const {
    return State_ == State::Open || State_ == State::NotYet;
}

void ResultKeeper::TellOnce(std::vector<std::string>& tell, const std::string& text) {
    if (!Told_) {
        tell.push_back(text);
        Told_ = true;
    }
}

std::vector<std::string> ResultKeeper::Start() {
    std::vector<std::string> tell;
    std::ifstream in(ConditionsPath(), std::ios::binary);
    if (in) {
        Saved_ = Conditions{};
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = Unescaped(line.substr(eq + 1));
        if (key == "specimen" && IsUtf8(value)) {
            Next_.Specimen = value;
        } else if (key == "temperature") {
            Next_.Temperature = ReadTemperature(value).Value;
        } else if (key == "humidity") {
            Next_.Humidity = ReadHumidity(value).Value;
        }
    }
    if (Saved_) {
        Saved_ = Next_;
    }
    struct stat st {};
    if (::stat(ArchivePath().c_str(), &st) == 0) {
        EnsureOpen(tell);
    }
    return tell;
}

void ResultKeeper::EnsureOpen(std::vector<std::string>& tell) {
    if (State_ != State::NotYet) {
        return;
    }
    const std::string path = ArchivePath();
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A folder, a device or a pipe in its place: nothing is opened or written there.
        State_ = State::Unusable;
        Reason_ = "the archive is not a regular file (" + path + ")";
    } else {
        if (!exists) {
            std::error_code ec;
            fs::create_directories(Options_.DataFolder, ec);
        }
        OpenOptions o;
        o.Create = true;
        o.Time = Options_.Time;
        o.BusyTimeoutMs = Options_.BusyTimeoutMs;
        Opened opened = Archive::Open(path, o);
        if (opened.Store) {
            Store_ = std::move(opened.Store);
            State_ = Store_->ReadOnly() ? State::ReadOnly : State::Open;
            Reason_ = opened.Notice;
        } else {
            Reason_ = opened.Error;
            // A file that is there and cannot be used is left alone for the whole run; a
            // missing one is tried again with the next result.
            if (::stat(path.c_str(), &st) == 0) {
                State_ = State::Unusable;
            }
        }
    }
    switch (State_) {
    case State::Open:
        break;
    case State::ReadOnly: {
        const int known = Migrations().empty() ? 0 : Migrations().back().To;
        if (Store_->SchemaVersion() > known) {
            TellOnce(tell, Join({"结果档案是较新版本的程序写的（档案格式第",
                                 std::to_string(Store_->SchemaVersion()), "版，本程序认识第",
                                 std::to_string(known),
                                 "版），现在只能查看，新的结果不会存入档案。\n\n档案：", path}));
        } else {
            TellOnce(tell, Join({"结果档案只能查看，不能写入（", WhyInChinese(Reason_),
                                 "），新的结果不会存入档案。\n\n", Reason_}));
        }
        break;
    }
    case State::Unusable:
        TellOnce(tell,
                 Join({"结果档案无法使用（", WhyInChinese(Reason_),
                       "），没有打开。档案文件保持原样，不会被改写；本次运行的结果不存入档案，"
                       "仍可以用菜单“保存”存成文本文件。\n\n",
                       Reason_}));
        break;
    case State::NotYet:
        TellOnce(tell, Join({"无法建立结果档案（", WhyInChinese(Reason_), "），结果没有存入档案。",
                             kStillSavable, "\n\n", Reason_}));
        break;
    }
}

ResultKeeper::Kept ResultKeeper::Keep(const CompletedResult& c) {
    Kept k;
    EnsureOpen(k.Tell);
    if (!Store_) {
        k.Error = Reason_.empty() ? std::string("there is no archive") : Reason_;
        return k;
    }
    const int length = static_cast<int>(c.Frame.size());
    Result r;
    switch (c.Source) {
    case ResultSource::Test:
        r = FromTest(c.Frame.data(), length, c.Selection, c.Parameters ? &*c.Parameters : nullptr,
                     c.InstrumentType);
        r.Taken = Next_;
        break;
    case ResultSource::Instrument:
        r = FromRecord(c.Code, c.Frame.data(), length,
                       c.RecordNumber > 0 ? std::optional<int>(c.RecordNumber) : std::nullopt,
                       c.InstrumentType);
        break;
    case ResultSource::File:
        r = FromFile(c.Texts);
        break;
    }
    const Added added = Store_->Add(std::move(r));
    if (added.Ok()) {
        Told_ = false;
        k.Archived = true;
        k.New = added.New;
        k.Id = added.Id;
        return k;
    }
    k.Error = added.Error;
    TellOnce(k.Tell,
             Join({"这个结果没有存入结果档案（", WhyInChinese(added.Error), "）。\n", kStillSavable,
                   "\n在档案重新写入成功之前，不再提示。\n\n", added.Error}));
    return k;
}

Archive* ResultKeeper::Store(std::vector<std::string>* tell) {
    std::vector<std::string> told;
    EnsureOpen(told);
    if (tell != nullptr) {
        tell->insert(tell->end(), told.begin(), told.end());
    }
    return Store_.get();
}

std::string ResultKeeper::StateText() const {
    const std::string path = ArchivePath();
    switch (State_) {
    case State::Open:
        return Join({"结果档案：", path});
    case State::ReadOnly: {
        const int known = Migrations().empty() ? 0 : Migrations().back().To;
        return Join({"结果档案：", path, "（只能查看：",
                     Store_->SchemaVersion() > known ? std::string("较新版本的程序写的档案")
                                                     : WhyInChinese(Reason_),
                     "）"});
    }
    case State::Unusable:
        return Join({"结果档案无法使用：", WhyInChinese(Reason_), "（", path, "）"});
    case State::NotYet:
        break;
    }
    return Join({"结果档案：", path, "（还没有结果）"});
}

std::string ResultKeeper::SetNext(const Conditions& c, bool remember) {
    if (!IsUtf8(c.Specimen)) {
        return "the specimen name is not UTF-8 text";
    }
    Next_ = c;
    if (!remember || (Saved_ && *Saved_ == c)) {
        return {};
    }
    std::error_code ec;
    fs::create_directories(Options_.DataFolder, ec);
    std::string text = "# 试品与环境: what the next results are archived with (UTF-8)\n";
    text += "specimen=";
    text += Escaped(c.Specimen);
    text += "\ntemperature=";
    text += ReadingText(c.Temperature);
    text += "\nhumidity=";
    text += ReadingText(c.Humidity);
    text += '\n';
    // Written beside and moved into place: a failed write leaves the last ones as they were.
    const std::string part = ConditionsPath() + ".new";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            const std::string why = std::strerror(errno);
            fs::remove(part, ec);
            return Join({"cannot write ", part, ": ", why});
        }
    }
    fs::rename(part, ConditionsPath(), ec);
    if (ec) {
        fs::remove(part, ec);
        return Join({"cannot write ", ConditionsPath(), ": ", ec.message()});
    }
    Saved_ = c;
    return {};
}

} // namespace dielmon::archive
