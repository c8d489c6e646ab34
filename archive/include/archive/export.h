// What leaves the archive: one JSON object per result, and the filtered list as a CSV table for
// spreadsheets. Both UTF-8; the instrument's GBK texts are converted here, at the edge.
#pragma once

#include "archive/archive.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace dielmon::archive {

// "2016-03-24T15:34:00": a time point in local time, ISO 8601 without a zone.
std::string LocalIso(TimePoint t);

// One result as one JSON object without a line break: id, measured, archived (ISO 8601, local
// time), source ("test", "instrument", "file"), record (number or null), specimen,
// temperature, humidity, mode (the wiring mode's text or null), title, quantities (name →
// {value in SI units or null, unit, over}), texts ({title, main, details}, CR LF kept as
// "\r\n"), config (what the source knows of the test configuration), station and host.
// `more` is added as it is after these: further members ("\"name\":value,..."), or nothing.
std::string JsonLine(const Result& r, const std::string& more = {});

// One CSV field, quoted as RFC 4180 asks when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& utf8);

// The results the filter leaves, newest first, as CSV: UTF-8 behind a byte-order mark (without
// it a spreadsheet on a Chinese system reads the file as GBK), CR LF line ends, RFC 4180
// quoting, one column per quantity with its unit in the header ("Cx (F)"). Empty text: done.
// Columns of a caller's own may follow the table's: their headers, and the cells of each
// result (UTF-8; a number as JSON writes it goes in as it is, a text is quoted and never read
// as a formula).
struct CsvColumns {
    std::vector<std::string> Headers;
    std::function<std::vector<std::string>(const Result&)> Cells;
};
std::string ExportCsv(Archive& archive, const Filter& f, std::ostream& out,
                      const CsvColumns* more = nullptr);

} // namespace dielmon::archive
