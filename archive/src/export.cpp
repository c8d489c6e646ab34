#include "archive/export.h"

#include "core/gbk.h"
#include "core/helpers.h"
#include "core/json.h"

#include <map>

namespace dielmon::archive {

namespace {

std::string Iso(const LocalTime& t) {
    return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

std::string OptionalNumber(const std::optional<int>& v) {
    return v ? std::to_string(*v) : "null";
}

std::string TextOrNull(const std::string& utf8) {
    return utf8.empty() ? "null" : JsonString(utf8);
}

std::string ConfigJson(const Configuration& c) {
    std::string out = "{";
    auto field = [&out](const char* name, const std::string& value) {
        out += out.size() > 1 ? "," : "";
        out += JsonString(name);
        out += ':';
        out += value;
    };
    field("instrument_type", OptionalNumber(c.InstrumentType));
    field("wiring_mode", OptionalNumber(c.WiringMode));
    field("channels", OptionalNumber(c.Channels));
    field("standard", c.Standard ? JsonString(*c.Standard == 1 ? "internal" : "external") : "null");
    field("frequency",
          c.Frequency ? JsonString(*c.Frequency == 1 ? "fixed" : "variable") : std::string("null"));
    field("frequency_code", OptionalNumber(c.FrequencyCode));
    field("frequency_text",
          c.FrequencyCode ? TextOrNull(GbkToUtf8(FrequencyCodeText(*c.FrequencyCode))) : "null");
    field("voltage_source",
          c.VoltageSource ? JsonString(*c.VoltageSource == 1 ? "internal" : "external") : "null");
    field("test_voltage", OptionalNumber(c.TestVoltage));
    field("ext_capacitance", JsonNumber(c.ExtCapacitance));
    field("ext_dissipation", JsonNumber(c.ExtDissipation));
    field("cvt_voltage_limit", OptionalNumber(c.CvtVoltageLimit));
    field("cvt_current_code", OptionalNumber(c.CvtCurrentCode));
    field("excitation_voltage_code", OptionalNumber(c.ExcitationVoltageCode));
    field("excitation_current_code", OptionalNumber(c.ExcitationCurrentCode));
    field("supply", OptionalNumber(c.Supply));
    return out + "}";
}

// A spreadsheet takes a cell that starts with one of these for a formula and runs it.
bool LooksLikeFormula(const std::string& s) {
    return !s.empty() && (s[0] == '=' || s[0] == '+' || s[0] == '-' || s[0] == '@' ||
                          s[0] == '\t' || s[0] == '\r');
}

// An operator's or an instrument's text as a cell: never a formula, without the line break
// that ends a result block.
std::string TextCell(std::string utf8) {
    while (utf8.size() >= 2 && utf8.compare(utf8.size() - 2, 2, "\r\n") == 0) {
        utf8.resize(utf8.size() - 2);
    }
    return CsvField(LooksLikeFormula(utf8) ? "'" + utf8 : utf8);
}

// A number as JSON writes it ("-0.05", "1e-09"): a spreadsheet reads it as a number, never as
// a formula, so it goes into the cell as it is.
bool IsPlainNumber(const std::string& s) {
    std::size_t k = s.empty() || s[0] != '-' ? 0 : 1;
    const std::size_t digitsFrom = k;
    while (k < s.size() && ((s[k] >= '0' && s[k] <= '9') || s[k] == '.')) {
        ++k;
    }
    if (k == digitsFrom) {
        return false;
    }
    if (k < s.size() && s[k] == 'e') {
        ++k;
        if (k < s.size() && (s[k] == '-' || s[k] == '+')) {
            ++k;
        }
        const std::size_t exponentFrom = k;
        while (k < s.size() && s[k] >= '0' && s[k] <= '9') {
            ++k;
        }
        if (k == exponentFrom) {
            return false;
        }
    }
    return k == s.size();
}

std::string SpreadsheetTime(const std::string& iso) {
    // "2016-03-24 15:34:00" is what spreadsheets read as a date and time.
    std::string t = iso;
    if (t.size() > 10 && t[10] == 'T') {
        t[10] = ' ';
    }
    return t;
}

} // namespace

std::string LocalIso(TimePoint t) {
    return Iso(ToLocal(t));
}

std::string JsonLine(const Result& r, const std::string& more) {
    std::string out = "{\"id\":" + JsonString(r.Id);
    out += ",\"measured\":" + TextOrNull(r.Measured);
    out += ",\"archived\":" + JsonString(LocalIso(r.Archived));
    out += ",\"source\":" + JsonString(SourceName(r.From));
    out += ",\"record\":" + OptionalNumber(r.Record);
    out += ",\"specimen\":" + JsonString(r.Taken.Specimen);
    out += ",\"temperature\":" + JsonNumber(r.Taken.Temperature);
    out += ",\"humidity\":" + JsonNumber(r.Taken.Humidity);
    out += ",\"mode\":" + TextOrNull(WiringModeText(r.Config.WiringMode));
    const std::string title = GbkToUtf8(r.Texts.Title);
    out += ",\"title\":" + JsonString(title);
    out += ",\"quantities\":{";
    for (std::size_t k = 0; k < r.Quantities.size(); ++k) {
        const Quantity& q = r.Quantities[k];
        out += k > 0 ? "," : "";
        out += JsonString(q.Name);
        out += ":{\"value\":";
        out += JsonNumber(q.Value);
        out += ",\"unit\":";
        out += JsonString(q.Unit);
        out += ",\"over\":";
        out += q.Over ? "true" : "false";
        out += '}';
    }
    out += "},\"texts\":{\"title\":" + JsonString(title) +
           ",\"main\":" + JsonString(GbkToUtf8(r.Texts.Main)) +
           ",\"details\":" + JsonString(GbkToUtf8(r.Texts.Details)) + "}";
    out += ",\"config\":" + ConfigJson(r.Config);
    out += ",\"station\":" + JsonString(r.Station);
    out += ",\"host\":" + JsonString(r.Host);
    if (!more.empty()) {
        out += ',';
        out += more;
    }
    return out + "}";
}

std::string CsvField(const std::string& utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) {
        return utf8;
    }
    std::string out = "\"";
    for (const char c : utf8) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string ExportCsv(Archive& archive, const Filter& f, std::ostream& out,
                      const CsvColumns* more) {
    const auto columns = archive.QuantityColumns(f);
    if (!columns.Ok()) {
        return columns.Error;
    }
    std::map<std::string, std::size_t> columnOf;
    std::string header = "\xEF\xBB\xBF"
                         "id,measured,archived,source,record,specimen,temperature (°C),"
                         "humidity (%),mode,title";
    for (std::size_t k = 0; k < columns.Value.size(); ++k) {
        const auto& [name, unit] = columns.Value[k];
        columnOf[name] = k;
        header += ',';
        header += CsvField(unit.empty() ? name : name + " (" + unit + ")");
    }
    header += ",main,details";
    if (more != nullptr) {
        for (const std::string& h : more->Headers) {
            header += ',';
            header += CsvField(h);
        }
    }
    header += "\r\n";
    out << header;
    std::vector<std::string> cells(columns.Value.size());
    std::string line;
    // Titles and wiring modes repeat from result to result: each is converted once.
    std::map<std::string, std::string> titleCells;
    std::map<std::optional<int>, std::string> modeCells;
    auto cached = [](auto& cells, const auto& key, const auto& make) -> const std::string& {
        auto at = cells.find(key);
        if (at == cells.end()) {
            at = cells.emplace(key, make()).first;
        }
        return at->second;
    };
    const std::string error = archive.ForEach(f, [&](const Result& r) {
        // Each cell appended after its comma (a literal before a temporary string trips a
        // false alarm of GCC 12 at -O3).
        auto cell = [&line](const std::string& text) {
            line += ',';
            line += text;
        };
        line = r.Id;
        cell(SpreadsheetTime(r.Measured));
        cell(SpreadsheetTime(LocalIso(r.Archived)));
        cell(SourceName(r.From));
        cell(r.Record ? std::to_string(*r.Record) : std::string());
        cell(TextCell(r.Taken.Specimen));
        cell(r.Taken.Temperature ? JsonNumber(r.Taken.Temperature) : std::string());
        cell(r.Taken.Humidity ? JsonNumber(r.Taken.Humidity) : std::string());
        cell(cached(modeCells, r.Config.WiringMode,
                    [&] { return CsvField(WiringModeText(r.Config.WiringMode)); }));
        cell(cached(titleCells, r.Texts.Title, [&] { return TextCell(GbkToUtf8(r.Texts.Title)); }));
        for (std::string& c : cells) {
            c.clear();
        }
        for (const Quantity& q : r.Quantities) {
            const auto at = columnOf.find(q.Name);
            if (at != columnOf.end()) {
                cells[at->second] = q.Over ? "over" : (q.Value ? JsonNumber(q.Value) : "");
            }
        }
        for (const std::string& c : cells) {
            cell(c);
        }
        cell(TextCell(GbkToUtf8(r.Texts.Main)));
        cell(TextCell(GbkToUtf8(r.Texts.Details)));
        if (more != nullptr) {
            const std::vector<std::string> extra = more->Cells(r);
            for (std::size_t k = 0; k < more->Headers.size(); ++k) {
                const std::string text = k < extra.size() ? extra[k] : std::string();
                cell(IsPlainNumber(text) ? text : TextCell(text));
            }
        }
        line += "\r\n";
        out << line;
        return static_cast<bool>(out);
    });
    if (!error.empty()) {
        return error;
    }
    out.flush();
    return out ? std::string() : "the table could not be written";
}

} // namespace dielmon::archive
