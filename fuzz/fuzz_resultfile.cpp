// Reading result files: any bytes as a file, and the files that saving writes.
#include "check.h"
#include "core/resultfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

using namespace dielmon;

namespace {

// Reading takes at most 51 lines for a block, the blank line that ends it included.
constexpr int kMaxBlockLines = 50;
// A saved block is also preceded by the empty line that saving writes before it, and reading
// counts that line too: a saved block of 50 lines would not end within its 51.
constexpr int kMaxSavedBlockLines = 49;

// A block as reading yields it: non-blank lines, each followed by CR LF.
void CheckBlock(const std::string& text) {
    int lines = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = text.substr(start, end - start);
        FUZZ_CHECK(!IsBlankLine(line));
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        ++lines;
        start = end + 2;
    }
    FUZZ_CHECK(lines <= kMaxBlockLines);
}

void CheckRead(const ResultFileContent& c, std::size_t size) {
    // Only a line longer than any of a result makes the bytes unreadable.
    FUZZ_CHECK(c.State != ResultFileContent::CannotRead || size > kMaxResultLineBytes);
    if (c.State != ResultFileContent::Ok) {
        FUZZ_CHECK(c.Texts == ResultTexts{});
        FUZZ_CHECK(c.All.empty());
        return;
    }
    FUZZ_CHECK(!c.All.empty() && c.All.front() == c.Texts);
    for (const ResultChoice& choice : ResultChoices(c.All)) {
        FUZZ_CHECK(choice.Index < c.All.size());
    }
    const std::string& title = c.Texts.Title;
    FUZZ_CHECK(title.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(title.empty() || !IsBlankLine(title));
    CheckBlock(c.Texts.Main);
    CheckBlock(c.Texts.Details);
    const std::string printed = ReportMainText(c.Texts.Main);
    FUZZ_CHECK(printed.size() + 2 == c.Texts.Main.size() || c.Texts.Main.empty());
    ReportLayout(c.Texts);
}

// A file that saving writes reads back as the texts it was written from, when the texts are
// what reading yields: a non-blank title line and two blocks.
void CheckRoundTrip(const ResultTexts& t) {
    const ResultFileContent back = ParseResultFile(ResultFileRun(t));
    FUZZ_CHECK(back.State == ResultFileContent::Ok);
    FUZZ_CHECK(back.Texts == t);
    // Saving twice into one file: opening it shows the first run.
    const ResultFileContent twice = ParseResultFile(ResultFileRun(t) + ResultFileRun({}));
    FUZZ_CHECK(twice.Texts == t);
}

int LineCount(const std::string& block) {
    int lines = 0;
    for (std::size_t at = 0; (at = block.find("\r\n", at)) != std::string::npos; at += 2) {
        ++lines;
    }
    return lines;
}

// Texts read from a file that saving them again must reproduce. A text with a row of "="
// under the heading would start a result of its own.
bool RoundTrips(const ResultTexts& t) {
    for (const std::string* text : {&t.Title, &t.Main, &t.Details}) {
        if (text->find("============") != std::string::npos) {
            return false;
        }
    }
    return !t.Title.empty() && !t.Main.empty() && !t.Details.empty() &&
           LineCount(t.Main) <= kMaxSavedBlockLines && LineCount(t.Details) <= kMaxSavedBlockLines;
}

std::string Line(FuzzedDataProvider& in) {
    std::string line = in.ConsumeRandomLengthString(40);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    // A row of "=" is left to the reading of foreign bytes below.
    if (line.find("============") != std::string::npos) {
        std::replace(line.begin(), line.end(), '=', '-');
    }
    return IsBlankLine(line) ? "x" + line : line;
}

std::string Block(FuzzedDataProvider& in) {
    std::string block;
    const int lines = in.ConsumeIntegralInRange<int>(1, kMaxSavedBlockLines);
    for (int k = 0; k < lines; ++k) {
        block += Line(in) + "\r\n";
    }
    return block;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 'G') {
        // Texts made from the input, written and read back.
        FuzzedDataProvider in(data + 1, size - 1);
        ResultTexts t;
        t.Title = Line(in);
        t.Main = Block(in);
        t.Details = Block(in);
        CheckRoundTrip(t);
        return 0;
    }
    const ResultFileContent c =
        ParseResultFile(std::string(reinterpret_cast<const char*>(data), size));
    CheckRead(c, size);
    if (c.State == ResultFileContent::Ok && RoundTrips(c.Texts)) {
        CheckRoundTrip(c.Texts);
    }
    return 0;
}
