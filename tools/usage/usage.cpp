#include "usage.h"

#include "core/gbk.h"
#include "core/responses.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace dielmon::usage {

namespace {

// Entries whose term is longer than this start their description on the next line.
constexpr std::size_t kTermColumn = 20;
// Nested includes deeper than this are a loop.
constexpr int kIncludeDepth = 4;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The instrument's error codes with their messages, as the window shows them.
std::vector<Block> ErrorCodeItems() {
    std::vector<Block> items;
    for (int code = 0; code < 256; ++code) {
        const std::string text = ErrorText(static_cast<std::uint8_t>(code));
        if (text.empty()) {
            continue;
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", code);
        items.push_back({Block::Kind::Item, hex, {GbkToUtf8(text)}});
    }
    return items;
}

class Parser {
public:
    Parser(const FileReader& read, int depth) : Read_(read), Depth_(depth) {}

    bool Parse(const std::string& text, Usage* usage, std::string* error) {
        Usage_ = usage;
        const std::vector<std::string> lines = SplitLines(text);
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (!Line(lines[k])) {
                *error = "line " + std::to_string(k + 1) + ": " + Error_;
                return false;
            }
        }
        if (Usage_->Name.empty() || Usage_->Summary.empty() || Usage_->Synopses.empty()) {
            *error = "@name, @summary and @synopsis are required";
            return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& message) {
        Error_ = message;
        return false;
    }

    Section* Current() { return Usage_->Sections.empty() ? nullptr : &Usage_->Sections.back(); }

    Block* Open() {
        Section* s = Current();
        return s != nullptr && Open_ && !s->Blocks.empty() ? &s->Blocks.back() : nullptr;
    }

    bool Line(const std::string& line) {
        if (StartsWith(line, "#")) {
            return true;
        }
        if (IsBlank(line)) {
            Open_ = false;
            return true;
        }
        if (StartsWith(line, "@")) {
            Open_ = false;
            return Directive(line);
        }
        Section* s = Current();
        if (s == nullptr) {
            return Fail("text before the first @section");
        }
        Block* open = Open();
        if (StartsWith(line, "  ") && open != nullptr && open->Type == Block::Kind::Item) {
            open->Lines.push_back(line.substr(2));
            return true;
        }
        if (StartsWith(line, "    ")) {
            if (open == nullptr || open->Type != Block::Kind::Literal) {
                s->Blocks.push_back({Block::Kind::Literal, {}, {}});
                Open_ = true;
            }
            s->Blocks.back().Lines.push_back(line.substr(4));
            return true;
        }
        if (StartsWith(line, " ")) {
            return Fail("an indented line belongs under an @item (two spaces) or is kept as "
                        "written (four spaces)");
        }
        if (open == nullptr || open->Type != Block::Kind::Paragraph) {
            s->Blocks.push_back({Block::Kind::Paragraph, {}, {}});
            Open_ = true;
        }
        s->Blocks.back().Lines.push_back(line);
        return true;
    }

    bool Directive(const std::string& line) {
        const auto space = line.find(' ');
        const std::string name = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : Trimmed(line.substr(space));
        if (name == "@name" || name == "@summary" || name == "@synopsis") {
            if (rest.empty()) {
                return Fail(name + " needs a text");
            }
            if (name == "@name") {
                Usage_->Name = rest;
            } else if (name == "@summary") {
                Usage_->Summary = rest;
            } else {
                Usage_->Synopses.push_back(rest);
            }
            return true;
        }
        if (name == "@section") {
            std::vector<std::string> words = Words(rest);
            Section s;
            if (!words.empty() && (words.back() == "help" || words.back() == "man")) {
                s.InHelp = words.back() == "help";
                s.InManual = words.back() == "man";
                words.pop_back();
            }
            if (words.empty()) {
                return Fail("@section needs a title");
            }
            for (const std::string& w : words) {
                s.Title += (s.Title.empty() ? "" : " ") + w;
            }
            Usage_->Sections.push_back(s);
            return true;
        }
        Section* s = Current();
        if (s == nullptr) {
            return Fail(name + " before the first @section");
        }
        if (name == "@item") {
            if (rest.empty()) {
                return Fail("@item needs a term");
            }
            s->Blocks.push_back({Block::Kind::Item, rest, {}});
            Open_ = true;
            return true;
        }
        if (name == "@error-codes") {
            for (Block& b : ErrorCodeItems()) {
                s->Blocks.push_back(std::move(b));
            }
            return true;
        }
        if (name == "@include-items") {
            return Include(Words(rest), s);
        }
        return Fail("unknown directive " + name);
    }

    // FILE SECTION [except TERM...]: the entries of that section, less those whose term
    // starts with one of the TERMs.
    bool Include(const std::vector<std::string>& words, Section* into) {
        if (words.size() < 2 || (words.size() > 2 && words[2] != "except")) {
            return Fail("@include-items FILE SECTION [except TERM...]");
        }
        if (Depth_ >= kIncludeDepth) {
            return Fail("@include-items nested too deeply");
        }
        std::string text;
        if (!Read_ || !Read_(words[0], &text)) {
            return Fail("cannot read " + words[0]);
        }
        Usage other;
        std::string error;
        if (!Parser(Read_, Depth_ + 1).Parse(text, &other, &error)) {
            return Fail(words[0] + ": " + error);
        }
        const std::vector<std::string> except(words.size() > 3 ? words.begin() + 3 : words.end(),
                                              words.end());
        for (const Section& s : other.Sections) {
            if (s.Title != words[1]) {
                continue;
            }
            for (const Block& b : s.Blocks) {
                const std::string first = Words(b.Term).empty() ? "" : Words(b.Term)[0];
                if (b.Type == Block::Kind::Item &&
                    std::find(except.begin(), except.end(), first) == except.end()) {
                    into->Blocks.push_back(b);
                }
            }
            return true;
        }
        return Fail(words[0] + " has no section " + words[1]);
    }

    const FileReader& Read_;
    const int Depth_;
    Usage* Usage_ = nullptr;
    bool Open_ = false; // the last block still takes lines
    std::string Error_;
};

// "EXIT STATUS" as a heading of the help: "Exit status:".
std::string HelpHeading(const std::string& title) {
    std::string h;
    for (std::size_t k = 0; k < title.size(); ++k) {
        h += k == 0 ? title[k]
                    : static_cast<char>(std::tolower(static_cast<unsigned char>(title[k])));
    }
    return h + ":";
}

// Text as roff input: backslashes escaped, and every hyphen a minus sign, so that an option
// copied from the page is typed as written.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

// An input line that roff does not take for a request.
std::string NoRequest(std::string line) {
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) {
        line.insert(0, "\\&");
    }
    return line;
}

std::string Roff(const std::string& text) {
    return NoRequest(Escaped(text));
}

// A term or synopsis in the manual: options in bold, placeholders (upper-case words) in
// italics, brackets and the rest plain.
std::string RoffTerm(const std::string& text) {
    std::string out;
    std::size_t k = 0;
    auto wordChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    };
    while (k < text.size()) {
        if (k > 0 && wordChar(text[k - 1])) {
            out += Escaped(std::string(1, text[k]));
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end < text.size() && wordChar(text[end])) {
            ++end;
        }
        const std::string word = text.substr(k, end - k);
        if (word.empty()) {
            out += Escaped(std::string(1, text[k]));
            ++k;
            continue;
        }
        const bool placeholder = std::all_of(word.begin(), word.end(), [](char c) {
            return std::isupper(static_cast<unsigned char>(c)) || c == '_';
        });
        if (word[0] == '-') {
            out += "\\fB" + Escaped(word) + "\\fR";
        } else if (placeholder) {
            out += "\\fI" + Escaped(word) + "\\fR";
        } else {
            out += Escaped(word);
        }
        k = end;
    }
    return NoRequest(out);
}

std::string Quoted(const std::string& title) {
    return title.find(' ') == std::string::npos ? title : "\"" + title + "\"";
}

// Bytes as the inside of a C++ string literal. Every byte outside printable ASCII is an octal
// escape, so the literal keeps its UTF-8 bytes whatever execution character set compiles it.
std::string CppLiteral(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n\"\n    \"";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F || c == '?') {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\%03o", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += "\"";
    return out;
}

} // namespace

bool ParseUsage(const std::string& text, const FileReader& read, Usage* usage, std::string* error) {
    *usage = Usage{};
    return Parser(read, 0).Parse(text, usage, error);
}

std::string RenderHelp(const Usage& usage) {
    std::string out;
    for (std::size_t k = 0; k < usage.Synopses.size(); ++k) {
        out += (k == 0 ? "Usage: " : "   or: ") + usage.Name + " " + usage.Synopses[k] + "\n";
    }
    for (const Section& s : usage.Sections) {
        if (!s.InHelp) {
            continue;
        }
        out += "\n";
        if (s.Title != "DESCRIPTION") {
            out += HelpHeading(s.Title) + "\n";
        }
        // The descriptions of a section's entries start in one column.
        std::size_t width = 0;
        for (const Block& b : s.Blocks) {
            if (b.Type == Block::Kind::Item && b.Term.size() <= kTermColumn) {
                width = std::max(width, b.Term.size());
            }
        }
        const std::string indent(2 + width + 2, ' ');
        const Block* previous = nullptr;
        for (const Block& b : s.Blocks) {
            const bool bothItems = previous != nullptr && previous->Type == Block::Kind::Item &&
                                   b.Type == Block::Kind::Item;
            if (previous != nullptr && !bothItems) {
                out += "\n";
            }
            previous = &b;
            switch (b.Type) {
            case Block::Kind::Paragraph:
                for (const std::string& l : b.Lines) {
                    out += l + "\n";
                }
                break;
            case Block::Kind::Literal:
                for (const std::string& l : b.Lines) {
                    out += "    " + l + "\n";
                }
                break;
            case Block::Kind::Item: {
                std::string head = "  " + b.Term;
                std::size_t first = 0;
                if (b.Term.size() <= kTermColumn && !b.Lines.empty()) {
                    head += std::string(indent.size() - head.size(), ' ') + b.Lines[0];
                    first = 1;
                }
                out += head + "\n";
                for (std::size_t k = first; k < b.Lines.size(); ++k) {
                    out += indent + b.Lines[k] + "\n";
                }
                break;
            }
            }
        }
    }
    return out;
}

std::string RenderManual(const Usage& usage, const std::string& version, const std::string& date,
                         const std::string& sourceName) {
    std::string upper = usage.Name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::string out =
        ".\\\" Generated by dielmon-usage from " + sourceName + "; edit that file instead.\n";
    out += ".TH " + Roff(upper) + " 1 \"" + date + "\" \"dielmon " + version +
           "\" \"User Commands\"\n";
    out += ".SH NAME\n" + Roff(usage.Name) + " \\- " + Roff(usage.Summary) + "\n";
    out += ".SH SYNOPSIS\n";
    for (std::size_t k = 0; k < usage.Synopses.size(); ++k) {
        if (k > 0) {
            out += ".br\n";
        }
        out += "\\fB" + Roff(usage.Name) + "\\fR " + RoffTerm(usage.Synopses[k]) + "\n";
    }
    for (const Section& s : usage.Sections) {
        if (!s.InManual) {
            continue;
        }
        out += ".SH " + Quoted(s.Title) + "\n";
        const Block* previous = nullptr;
        for (const Block& b : s.Blocks) {
            switch (b.Type) {
            case Block::Kind::Paragraph:
                if (previous != nullptr) {
                    out += ".PP\n";
                }
                for (const std::string& l : b.Lines) {
                    out += Roff(l) + "\n";
                }
                break;
            case Block::Kind::Literal:
                out += ".PP\n.RS 4\n.nf\n";
                for (const std::string& l : b.Lines) {
                    out += Roff(l) + "\n";
                }
                out += ".fi\n.RE\n";
                break;
            case Block::Kind::Item:
                out += ".TP\n" + RoffTerm(b.Term) + "\n";
                for (const std::string& l : b.Lines) {
                    out += (IsBlank(l) ? ".sp" : Roff(Trimmed(l))) + "\n";
                }
                break;
            }
            previous = &b;
        }
    }
    return out;
}

std::string VariableName(const std::string& programName) {
    std::string name = "k";
    bool upper = true;
    for (const char c : programName) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return name;
}

std::string RenderHeader(const Usage& usage, const std::string& sourceName) {
    return "// Generated by dielmon-usage from " + sourceName +
           "; edit that file instead.\n"
           "#pragma once\n\n"
           "#include \"usage/programtext.h\"\n\n"
           "namespace dielmon::usage {\n\n"
           "extern const ProgramText " +
           VariableName(usage.Name) +
           ";\n\n"
           "} // namespace dielmon::usage\n";
}

std::string RenderSource(const Usage& usage, const std::string& version,
                         const std::string& headerName, const std::string& sourceName) {
    return "// Generated by dielmon-usage from " + sourceName +
           "; edit that file instead.\n"
           "#include \"" +
           headerName +
           "\"\n\n"
           "namespace dielmon::usage {\n\n"
           "const ProgramText " +
           VariableName(usage.Name) + " = {\n    " + CppLiteral(usage.Name) + ",\n    " +
           CppLiteral(version) + ",\n    " + CppLiteral(RenderHelp(usage)) +
           ",\n};\n\n"
           "} // namespace dielmon::usage\n";
}

} // namespace dielmon::usage
