// A program's command line, written once in a small text file (docs/man/<program>.usage) and
// turned at build time into the text its --help prints and into its manual page, so that the
// two never disagree.
//
// The file is read line by line:
//   # ...                      a comment (in the first column)
//   @name PROGRAM              the program's name
//   @summary TEXT              one line for the manual's NAME section
//   @synopsis ARGUMENTS        one way to call it (may repeat)
//   @section TITLE [help|man]  a section, in both texts unless one is named
//   @item TERM                 an entry (an option, a code), with its description below,
//     description              each line indented by two spaces
//   @include-items FILE SECTION [except TERM...]
//                              the entries of a section of another usage file, beside this one
//   @error-codes               an entry for every error code the instrument reports, with its
//                              message
//   text                       a paragraph; a blank line ends it
//       text                   (four spaces) kept as written: commands, examples
// Lines of text are kept as the author wrapped them; the manual page lets roff fill them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dielmon::usage {

struct Block {
    enum class Kind { Paragraph, Literal, Item };
    Kind Type = Kind::Paragraph;
    std::string Term;               // Item only
    std::vector<std::string> Lines; // the paragraph, the literal lines, or the description
};

struct Section {
    std::string Title;
    bool InHelp = true;
    bool InManual = true;
    std::vector<Block> Blocks;
};

struct Usage {
    std::string Name;
    std::string Summary;
    std::vector<std::string> Synopses;
    std::vector<Section> Sections;
};

// Reads another usage file named by @include-items; returns false when it cannot.
using FileReader = std::function<bool(const std::string& name, std::string* text)>;

// The usage of a file's text, or an error "line N: ..." in *error.
bool ParseUsage(const std::string& text, const FileReader& read, Usage* usage, std::string* error);

// What --help prints.
std::string RenderHelp(const Usage& usage);

// The manual page in roff (man macros), section 1.
std::string RenderManual(const Usage& usage, const std::string& version, const std::string& date,
                         const std::string& sourceName);

// The C++ of the generated text: a header declaring the program's ProgramText and the source
// defining it. The variable is k followed by the name in camel case: kDielmonSim.
std::string VariableName(const std::string& programName);
std::string RenderHeader(const Usage& usage, const std::string& sourceName);
std::string RenderSource(const Usage& usage, const std::string& version,
                         const std::string& headerName, const std::string& sourceName);

} // namespace dielmon::usage
