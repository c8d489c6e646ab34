#include "core/resultfile.h"
#include "core/fd.h"

#include "fileio.h"

#include "core/gbk.h"
#include "core/helpers.h"
#include "core/json.h"
#include "core/texts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace dielmon {

std::string ResultFileRun(const ResultTexts& t) {
    std::string run;
    const std::string lines[] = {
        texts::kFileHeading, texts::kFileSeparator, t.Title, "", t.Main, "", t.Details, ""};
    for (const std::string& line : lines) {
        run += line;
        run += "\r\n";
    }
    return run;
}

std::string FileErrorText(int error) {
    const char* reason = nullptr;
    switch (error) {
    case EACCES:
    case EPERM:
        reason = "没有权限";
        break;
    case ENOSPC:
    case EDQUOT:
        reason = "磁盘已满";
        break;
    case EROFS:
        reason = "文件系统是只读的";
        break;
    case ENOENT:
    case ENOTDIR:
        reason = "文件或文件夹不存在";
        break;
    case EISDIR:
        reason = "这是一个文件夹";
        break;
    default:
        break;
    }
    // The system's words in English whatever the locale: the GBK text cannot take another
    // locale's encoding, and the English words are what a search finds.
    const char* words = ::strerrordesc_np(error);
    const std::string system = words != nullptr ? words : Format("error %d", error);
    return reason != nullptr ? std::string(reason) + "（" + system + "）" : system;
}

std::string AppendResultRun(const std::string& path, const ResultTexts& t) {
    const std::string run = ResultFileRun(t);
    // Non-blocking, so that a FIFO without a reader fails at once instead of holding the
    // window; a file that is not there yet is created here and removed again on failure.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool created = false;
    UniqueFd fd(::open(path.c_str(), kFlags));
    if (!fd && errno == ENOENT) {
        fd.Reset(::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666));
        created = fd.Valid();
        if (!fd && errno == EEXIST) { // made meanwhile, or a link to a file not there yet
            fd.Reset(::open(path.c_str(), kFlags | O_CREAT, 0666));
        }
    }
    if (!fd) {
        return FileErrorText(errno);
    }
    struct stat st {};
    const bool regular = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode);
    const off_t before = regular ? st.st_size : -1;
    int error = detail::WriteFully(fd.Get(), run);
    if (error == 0 && ::fsync(fd.Get()) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (error != 0 && created) {
        // Never leave an empty file behind where there was none.
        ::unlink(path.c_str());
    } else if (error != 0 && before >= 0) {
        // Never leave half a result behind: the file goes back to what it held.
        // The write's error is the one reported, whatever this gives.
        const bool restored = ::ftruncate(fd.Get(), before) == 0;
        static_cast<void>(restored);
    }
    if (!fd.Close() && error == 0) {
        error = errno;
    }
    return error == 0 ? std::string() : FileErrorText(error);
}

bool IsBlankLine(const std::string& line) {
    for (const char c : line) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

namespace {

constexpr int kSeparatorLines = 6;
constexpr int kBlockLines = 51;
// More results than this are not listed; a real file holds a few dozen.
constexpr std::size_t kMaxResults = 10000;
const char* const kSeparatorMark = "============";
const char* const kUtf8Bom = "\xEF\xBB\xBF";
const char* const kDateMark = "Date：";

// Where a line of the text lies: [Begin, End), and where the line after it starts.
struct LineSpan {
    std::size_t Begin = 0;
    std::size_t End = 0;
    std::size_t Next = 0;
};

// CR LF, LF and CR end a line.
LineSpan LineAt(std::string_view text, std::size_t at) {
    LineSpan span{at, text.find_first_of("\r\n", at), 0};
    if (span.End == std::string_view::npos) {
        span.End = text.size();
        span.Next = text.size();
        return span;
    }
    span.Next = span.End + 1;
    if (text[span.End] == '\r' && span.Next < text.size() && text[span.Next] == '\n') {
        ++span.Next;
    }
    return span;
}

// The lines of one stretch of the text; past its end every line is empty.
class LineReader {
public:
    LineReader(std::string_view text, std::size_t from, std::size_t to)
        : Text_(text), At_(from), End_(to) {}

    std::string Next() {
        if (At_ >= End_) {
            return {};
        }
        const LineSpan span = LineAt(Text_, At_);
        At_ = span.Next;
        return std::string(Text_.substr(span.Begin, span.End - span.Begin));
    }

private:
    std::string_view Text_;
    std::size_t At_;
    std::size_t End_;
};

// Collects non-blank lines until the first blank one after at least one was collected.
// Returns false when the block did not end within its lines.
bool ReadBlock(LineReader& lines, std::string& text) {
    std::string collected;
    bool any = false;
    for (int k = 0; k < kBlockLines; ++k) {
        const std::string line = lines.Next();
        if (!IsBlankLine(line)) {
            collected += line + "\r\n";
            any = true;
        } else if (any) {
            text = collected;
            return true;
        }
    }
    return false;
}

// The reading steps after a separator: the title, the main result, the details.
ResultTexts ReadResult(LineReader& lines) {
    ResultTexts t;
    for (int k = 0; k < kBlockLines; ++k) {
        const std::string line = lines.Next();
        if (!IsBlankLine(line)) {
            t.Title = line;
            break;
        }
    }
    ReadBlock(lines, t.Main);
    ReadBlock(lines, t.Details);
    return t;
}

// The file's text as GBK. Files of this program are GBK, and their heading is no valid UTF-8;
// a file that a Linux editor saved is UTF-8, with or without a byte-order mark.
std::string AsGbk(const std::string& bytes) {
    if (bytes.rfind(kUtf8Bom, 0) == 0) {
        return Utf8ToGbk(bytes.substr(3));
    }
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && IsUtf8(bytes) ? Utf8ToGbk(bytes) : bytes;
}

ResultFileContent CannotRead(std::string why) {
    ResultFileContent c;
    c.State = ResultFileContent::CannotRead;
    c.Error = std::move(why);
    return c;
}

} // namespace

ResultFileContent ParseResultFile(const std::string& bytes) {
    const std::string gbk = AsGbk(bytes);
    const std::string_view text = gbk;
    const std::string heading = TrimBlanks(texts::kFileHeading);

    // One pass over every line: none may be too long, and the separators start the results:
    // the first as it always did, every later one only below a heading, as saving writes
    // them, so that a text that happens to hold a row of "=" starts no result.
    struct Separator {
        LineSpan Line;
        std::size_t HeadingBegin; // where the heading line above it starts
    };
    std::vector<Separator> separators;
    bool firstInTime = false;
    int lineNumber = 0;
    std::size_t previousBegin = 0;
    bool previousIsHeading = false;
    for (std::size_t at = 0; at < text.size();) {
        const LineSpan span = LineAt(text, at);
        if (span.End - span.Begin > kMaxResultLineBytes) {
            return CannotRead(Format("有一行超过%zu KiB", kMaxResultLineBytes >> 10));
        }
        const std::string_view line = text.substr(span.Begin, span.End - span.Begin);
        const bool mark = line.find(kSeparatorMark) != std::string_view::npos;
        if (mark && separators.empty()) {
            firstInTime = lineNumber < kSeparatorLines;
            separators.push_back({span, span.Begin});
        } else if (mark && previousIsHeading && separators.size() < kMaxResults) {
            separators.push_back({span, previousBegin});
        }
        previousBegin = span.Begin;
        previousIsHeading = line.find(heading) != std::string_view::npos;
        ++lineNumber;
        at = span.Next;
    }
    ResultFileContent content;
    if (separators.empty() || !firstInTime) {
        content.State = ResultFileContent::NotOurFile;
        return content;
    }
    for (std::size_t k = 0; k < separators.size(); ++k) {
        // The last result reads on to the end of the file, as a file of one result always did.
        const std::size_t end =
            k + 1 < separators.size() ? separators[k + 1].HeadingBegin : text.size();
        LineReader lines(text, separators[k].Line.Next, end);
        ResultTexts result = ReadResult(lines);
        // A heading and separator with nothing under them is no result; the first run always
        // counts, as "打开文件" always showed it.
        if (k == 0 || !(result == ResultTexts{})) {
            content.All.push_back(std::move(result));
        }
    }
    content.Texts = content.All.front();
    return content;
}

namespace {

ResultFileRuns RunsOf(ResultFileContent content) {
    ResultFileRuns runs;
    runs.State = content.State;
    runs.Error = std::move(content.Error);
    runs.Runs = std::move(content.All);
    return runs;
}

} // namespace

ResultFileRuns ParseResultRuns(const std::string& bytes) {
    return RunsOf(ParseResultFile(bytes));
}

ResultFileRuns ReadResultRuns(const std::string& path) {
    return RunsOf(ReadResultFile(path));
}

ResultFileContent ReadResultFile(const std::string& path) {
    std::string bytes;
    int error = 0;
    switch (detail::ReadRegularFile(path, kMaxResultFileBytes, bytes, error)) {
    case detail::ReadOutcome::Ok:
        return ParseResultFile(bytes);
    case detail::ReadOutcome::Failed:
        return CannotRead(FileErrorText(error));
    case detail::ReadOutcome::NotRegular:
        return CannotRead(error != 0 ? FileErrorText(error)
                                     : std::string("不是普通文件（可能是管道或设备）"));
    case detail::ReadOutcome::TooLarge:
        return CannotRead(Format("文件超过%zu MiB", kMaxResultFileBytes >> 20));
    }
    return CannotRead(FileErrorText(EIO));
}

std::string ResultDate(const ResultTexts& t) {
    for (const std::string* text : {&t.Details, &t.Main, &t.Title}) {
        const std::size_t at = text->find(kDateMark);
        if (at == std::string::npos) {
            continue;
        }
        const std::size_t from = at + std::strlen(kDateMark);
        const std::size_t end = text->find_first_of("\r\n", from);
        return TrimBlanks(text->substr(from, end == std::string::npos ? end : end - from));
    }
    return {};
}

std::vector<ResultChoice> ResultChoices(const std::vector<ResultTexts>& all) {
    std::vector<ResultChoice> choices;
    std::vector<std::string> dates;
    for (std::size_t k = all.size(); k-- > 0;) {
        const std::string date = ResultDate(all[k]);
        const std::string title = all[k].Title.empty() ? "（无标题）" : all[k].Title;
        choices.push_back({k, date.empty() ? title : title + "    " + date});
        dates.push_back(date);
    }
    std::vector<std::size_t> order(choices.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    // Dates read "2016-03-24 15:34:00", so their texts sort as the times do.
    std::stable_sort(order.begin(), order.end(), [&dates](std::size_t a, std::size_t b) {
        if (dates[a].empty() != dates[b].empty()) {
            return dates[b].empty();
        }
        return dates[a] > dates[b];
    });
    std::vector<ResultChoice> sorted;
    for (const std::size_t k : order) {
        sorted.push_back(choices[k]);
    }
    return sorted;
}

std::string ReportMainText(const std::string& body) {
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) {
        return body.substr(0, body.size() - 2);
    }
    return body;
}

std::vector<ReportElement> ReportLayout(const ResultTexts& t) {
    return {
        {"heading", 17.73, 0.00, 209.02, 5.82, 16, true, texts::kReportHeading},
        {"rule1", 25.40, 0.00, 209.02, 5.56, 15, false, texts::kReportRule},
        {"rule2", 28.84, 0.00, 209.02, 5.56, 15, false, texts::kReportRule},
        {"title", 36.25, 0.00, 209.02, 8.20, 12, true, t.Title},
        {"main", 45.24, 1.06, 206.90, 14.82, 12, true, ReportMainText(t.Main)},
        {"details", 60.85, 0.79, 207.17, 118.80, 12, true, t.Details},
    };
}

} // namespace dielmon
