// Result text files (GBK, CR LF): the run of eight lines that "保存" appends, the reading
// that "打开文件" does, and the texts and layout of the printed report.
#pragma once

#include "core/results.h"

#include <cstddef>
#include <string>
#include <vector>

namespace dielmon {

// Heading, separator, title, empty, main result, empty, details, empty; each with CR LF.
std::string ResultFileRun(const ResultTexts& t);

// Appends the run in one write. On failure the file is left as it was (any part already
// written is cut off again, a file that the save created is removed) and the reason is
// returned (FileErrorText); an empty text means success.
std::string AppendResultRun(const std::string& path, const ResultTexts& t);

// Why a file could not be read or written, for the operator: Chinese for the common causes
// (no permission, disk full, read-only, not found), then the system's own words.
std::string FileErrorText(int error);

// Larger result files are not read: a file of this program holds a few hundred bytes a result.
inline constexpr std::size_t kMaxResultFileBytes = 16u << 20;
// A longer line makes the file unreadable: no line of a result comes near it.
inline constexpr std::size_t kMaxResultLineBytes = 64u << 10;

struct ResultFileContent {
    enum Status { Ok, CannotRead, NotOurFile } State = Ok;
    ResultTexts Texts; // the first result; blocks that are missing stay empty
    // Every result of the file, in the order they were saved; the first is Texts. A file
    // holds as many results as it has separator lines under a heading (saving appends a run
    // each time); a further run with nothing in it is left out.
    std::vector<ResultTexts> All;
    std::string Error; // for CannotRead: why (GBK)
};
// The reading steps of "打开文件" on the bytes of a file. A file with one separator is read
// in one go; with several, each result is read by the same steps from its own separator up
// to the heading of the next. Files in UTF-8 (with or without a byte-order mark) are read as
// such and their texts turned into GBK.
ResultFileContent ParseResultFile(const std::string& bytes);
// The same on a file: only a regular file of at most kMaxResultFileBytes is read.
ResultFileContent ReadResultFile(const std::string& path);

// Every result of a file that saving appended to more than once, in file order (the All of
// ResultFileContent), for callers that take them all. State and Error as for one result.
struct ResultFileRuns {
    ResultFileContent::Status State = ResultFileContent::Ok;
    std::vector<ResultTexts> Runs;
    std::string Error;
};
ResultFileRuns ParseResultRuns(const std::string& bytes);
ResultFileRuns ReadResultRuns(const std::string& path);
// The date of a result as its date line gives it ("2016-03-24 15:34:00"), empty without one.
std::string ResultDate(const ResultTexts& t);
// One line of the list from which the operator picks a result of a file.
struct ResultChoice {
    std::size_t Index = 0; // into ResultFileContent::All
    std::string Text;      // title and date (GBK)
};
// The results of a file, newest first: by their dates, results without a date after those
// with one, and among equal dates the one saved last first.
std::vector<ResultChoice> ResultChoices(const std::vector<ResultTexts>& all);

// A line is blank when it is empty or holds only bytes 0 to 32.
bool IsBlankLine(const std::string& line);

// The main result as printed: without one trailing CR LF.
std::string ReportMainText(const std::string& body);

// One positioned element of the A4 report, in millimetres from the top of the page and the
// left margin. Texts are centred across the printable width and wrap at the element's width.
struct ReportElement {
    std::string Name;
    double Top = 0, Left = 0, Width = 0, Height = 0;
    int PointSize = 0;
    bool Grows = true; // grows downward when the text needs more lines
    std::string Text;
};
inline constexpr double kReportPageWidth = 210.0;
inline constexpr double kReportPageHeight = 297.0;
inline constexpr double kReportLeftMargin = 1.0;
inline constexpr double kReportPrintableWidth = 209.0;
inline constexpr double kReportFooterHeight = 10.58;
std::vector<ReportElement> ReportLayout(const ResultTexts& t);

} // namespace dielmon
