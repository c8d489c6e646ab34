#include "core/resultfile.h"

#include "fileio.h"

#include "core/texts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
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

std::string AppendResultRun(const std::string& path, const ResultTexts& t) {
    const std::string run = ResultFileRun(t);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    int error = detail::WriteFully(fd, run);
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (error != 0 && before >= 0) {
        // Never leave half a result behind: the file goes back to what it held.
        if (::ftruncate(fd, before) != 0) {
            error = errno;
        }
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error == 0 ? std::string() : std::string(std::strerror(error));
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
constexpr std::size_t kMaxLineBytes = 1 << 20; // the rest of a longer line is skipped

// Lines of a text file; CR LF, LF and CR end a line, and past the end every line is empty.
class LineReader {
public:
    explicit LineReader(std::istream& in) : In_(in) {}

    std::string Next() {
        std::string line;
        int c;
        while ((c = In_.get()) != std::char_traits<char>::eof()) {
            if (c == '\n') {
                return line;
            }
            if (c == '\r') {
                if (In_.peek() == '\n') {
                    In_.get();
                }
                return line;
            }
            if (line.size() < kMaxLineBytes) {
                line += static_cast<char>(c);
            }
        }
        return line;
    }
    bool AtEnd() { return In_.peek() == std::char_traits<char>::eof(); }

private:
    std::istream& In_;
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

// `separatorLines`: how many lines may come before the separator; -1 for any number.
ResultFileContent Parse(std::istream& in, int separatorLines = kSeparatorLines) {
    ResultFileContent content;
    LineReader lines(in);
    bool found = false;
    for (int k = 0; (separatorLines < 0 || k < separatorLines) && !found; ++k) {
        if (separatorLines < 0 && lines.AtEnd()) {
            break;
        }
        found = lines.Next().find("============") != std::string::npos;
    }
    if (!found) {
        content.State = ResultFileContent::NotOurFile;
        return content;
    }
    for (int k = 0; k < kBlockLines; ++k) {
        const std::string line = lines.Next();
        if (!IsBlankLine(line)) {
            content.Texts.Title = line;
            break;
        }
    }
    ReadBlock(lines, content.Texts.Main);
    ReadBlock(lines, content.Texts.Details);
    return content;
}

// Why a file cannot be read, empty when it can. open(2) says why, which an ifstream does not.
std::string WhyUnreadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? std::strerror(EISDIR) : std::string();
}

} // namespace

ResultFileContent ParseResultFile(const std::string& bytes) {
    std::istringstream in(bytes);
    return Parse(in);
}

ResultFileRuns ParseResultRuns(const std::string& bytes) {
    std::istringstream in(bytes);
    ResultFileRuns runs;
    const ResultFileContent first = Parse(in);
    runs.State = first.State;
    if (first.State != ResultFileContent::Ok) {
        return runs;
    }
    runs.Runs.push_back(first.Texts);
    // The runs that saving appended after the first, each found however far it stands.
    while (in.peek() != std::char_traits<char>::eof()) {
        const ResultFileContent next = Parse(in, -1);
        if (next.State != ResultFileContent::Ok) {
            break;
        }
        if (!(next.Texts == ResultTexts{})) {
            runs.Runs.push_back(next.Texts);
        }
    }
    return runs;
}

ResultFileRuns ReadResultRuns(const std::string& path) {
    ResultFileRuns failed;
    failed.State = ResultFileContent::CannotRead;
    failed.Error = WhyUnreadable(path);
    if (!failed.Error.empty()) {
        return failed;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in || in.bad()) {
        failed.Error = std::strerror(EIO);
        return failed;
    }
    return ParseResultRuns(bytes.str());
}

ResultFileContent ReadResultFile(const std::string& path) {
    ResultFileContent failed;
    failed.State = ResultFileContent::CannotRead;
    failed.Error = WhyUnreadable(path);
    if (!failed.Error.empty()) {
        return failed;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        failed.Error = std::strerror(EIO);
        return failed;
    }
    ResultFileContent content = Parse(in);
    if (in.bad()) {
        failed.Error = std::strerror(EIO);
        return failed;
    }
    return content;
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
