#include "gbk_escape.h"

#include <gtest/gtest.h>

#include <string>

using namespace dielmon;

namespace {

std::string Escaped(const std::string& utf8) {
    std::string out;
    std::string error;
    EXPECT_TRUE(EscapeNonAscii(utf8, out, error)) << error;
    return out;
}

// What a compiler makes of the escapes in a literal.
std::string Unescaped(const std::string& text) {
    std::string bytes;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\\' && k + 3 < text.size() && text[k + 1] >= '0' && text[k + 1] <= '3') {
            bytes += static_cast<char>(std::stoi(text.substr(k + 1, 3), nullptr, 8));
            k += 3;
        } else {
            bytes += text[k];
        }
    }
    return bytes;
}

} // namespace

TEST(GbkEscape, AsciiStaysAsItIs) {
    const std::string source = "const char* p = \"a\\\\b\\\"c\\n\"; // 100%\n";
    EXPECT_EQ(Escaped(source), source);
}

TEST(GbkEscape, EveryByteOfACharacterBecomesThreeOctalDigits) {
    // "Ω" (U+03A9) and "°" (U+00B0) in UTF-8.
    EXPECT_EQ(Escaped("\"\xCE\xA9\xC2\xB0\""), "\"\\246\\270\\241\\343\"");
    // A digit after a character cannot join its last escape.
    EXPECT_EQ(Escaped("\xCE\xA9"
                      "1"),
              "\\246\\2701");
    // "µ" needs four GB18030 bytes, two of them ASCII digits, which are escaped as well.
    EXPECT_EQ(Escaped("\xC2\xB5"), "\\201\\060\\205\\070");
}

TEST(GbkEscape, GivesTheBytesTheCompilerGivesTheSameTextInThisSource) {
    // "介质损耗：Ω°±　µ" in UTF-8; this source's own literal is compiled to GB18030.
    const std::string utf8 = "\xE4\xBB\x8B\xE8\xB4\xA8\xE6\x8D\x9F\xE8\x80\x97\xEF\xBC\x9A"
                             "\xCE\xA9\xC2\xB0\xC2\xB1\xE3\x80\x80\xC2\xB5";
    EXPECT_EQ(Unescaped(Escaped(utf8)), "介质损耗：Ω°±　µ");
}

TEST(GbkEscape, DropsALeadingByteOrderMark) {
    EXPECT_EQ(Escaped("\xEF\xBB\xBF#include <x>\n"), "#include <x>\n");
}

TEST(GbkEscape, RefusesBytesThatAreNotUtf8WithTheirLine) {
    for (const std::string bad : {"a\n\"\xFF\"", "a\n\xE4\xBB", "a\n\xC0\x80", "a\n\xED\xA0\x80"}) {
        std::string out;
        std::string error;
        EXPECT_FALSE(EscapeNonAscii(bad, out, error)) << bad;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
}
