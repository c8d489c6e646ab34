#include "core/json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

using namespace dielmon;

namespace {
// This file is compiled to GBK; u8 literals stay UTF-8.
std::string Utf8(const char8_t* s) {
    return reinterpret_cast<const char*>(s);
}
} // namespace

TEST(Json, StringsAreQuotedEscapedAndAlwaysValidUtf8) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("L1\r\nL2\tx"), "\"L1\\r\\nL2\\tx\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1F\x7F", 3)), "\"\\u0001\\u001F\\u007F\"");
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    // UTF-8 passes; bytes that are no UTF-8 (GBK, a cut character, an overlong form, a
    // surrogate) become U+FFFD one byte at a time.
    EXPECT_EQ(JsonString(Utf8(u8"反接线 Φ 🔌")), "\"" + Utf8(u8"反接线 Φ 🔌") + "\"");
    EXPECT_EQ(JsonString("\xB7\xB4"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("\xE5\x8F"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_TRUE(IsUtf8(Utf8(u8"反接线 🔌")));
    EXPECT_FALSE(IsUtf8("\xB7\xB4"));
    EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_TRUE(IsUtf8(""));
}

TEST(Json, NumbersInTheCLocaleWhateverTheProgramsLocale) {
    EXPECT_EQ(JsonNumber(1.2345e-9), "1.2345e-09");
    EXPECT_EQ(JsonNumber(0.30000001192092896), "0.3");
    EXPECT_EQ(JsonNumber(10000.0), "10000");
    EXPECT_EQ(JsonNumber(-0.0), "0");
    EXPECT_EQ(JsonNumber(std::nan("")), "null");
    EXPECT_EQ(JsonNumber(INFINITY), "null");
    EXPECT_EQ(JsonNumber(std::optional<double>()), "null");
    EXPECT_EQ(JsonNumber(2.0 / 3, 3), "0.667");
    // A window sets the desktop's locale; a decimal comma must not reach the output.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
        EXPECT_EQ(JsonNumber(0.5), "0.5");
        std::setlocale(LC_NUMERIC, "C");
    }
}
