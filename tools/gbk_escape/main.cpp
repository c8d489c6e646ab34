// dielmon-gbk-escape SOURCE COPY: writes COPY, the source with its non-ASCII characters as
// GB18030 octal escapes, headed by a #line directive so that diagnostics, __FILE__ and debug
// information still name SOURCE.
#include "gbk_escape.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// A path as the text of a string literal.
std::string Quoted(const std::string& path) {
    std::string q;
    for (const char c : path) {
        if (c == '"' || c == '\\') {
            q += '\\';
        }
        q += c;
    }
    return q;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: dielmon-gbk-escape SOURCE COPY\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::string escaped;
    std::string error;
    if (!dielmon::EscapeNonAscii(text.str(), escaped, error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    // Written beside the copy and renamed, so that an interrupted build leaves no half copy.
    const std::string temp = std::string(argv[2]) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << "#line 1 \"" << Quoted(argv[1]) << "\"\n" << escaped;
        if (!out.flush()) {
            std::cerr << temp << ": cannot be written\n";
            return 1;
        }
    }
    if (std::rename(temp.c_str(), argv[2]) != 0) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
