// Result text files (GBK, CR LF): the run of eight lines that "保存" appends, the reading
// that "打开文件" does, and the texts and layout of the printed report.
#pragma once

#include "core/results.h"

#include <string>
#include <vector>

namespace dielmon {

// Heading, separator, title, empty, main result, empty, details, empty; each with CR LF.
std::string ResultFileRun(const ResultTexts& t);

// Appends the run in one write. On failure the file is left as it was (any part already
// written is cut off again) and the reason is returned; an empty text means success.
std::string AppendResultRun(const std::string& path, const ResultTexts& t);

struct ResultFileContent {
    enum Status { Ok, CannotRead, NotOurFile } State = Ok;
    ResultTexts Texts; // blocks that are missing stay empty
    std::string Error; // for CannotRead: why
};
// The reading steps of "打开文件" on the bytes of a file.
ResultFileContent ParseResultFile(const std::string& bytes);
ResultFileContent ReadResultFile(const std::string& path);

// Every run of a file that saving appended to more than once, in file order: the first run
// read as "打开文件" reads it, each further one wherever its separator stands. State and
// Error as for one result.
struct ResultFileRuns {
    ResultFileContent::Status State = ResultFileContent::Ok;
    std::vector<ResultTexts> Runs;
    std::string Error;
};
ResultFileRuns ParseResultRuns(const std::string& bytes);
ResultFileRuns ReadResultRuns(const std::string& path);

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
