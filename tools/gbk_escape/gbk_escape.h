// Sources that hold the system's texts as UTF-8 are compiled by GCC with a GB18030 execution
// character set. Compilers without that option (clang) compile a copy instead in which every
// character outside ASCII is written as the octal escapes of its GB18030 bytes, so that the
// literals come out as the same bytes. Uses the C++ standard library and iconv only.
#pragma once

#include <string>

namespace dielmon {

// `utf8` with every non-ASCII character replaced by "\ooo" for each of its GB18030 bytes
// (always three octal digits, so that a following digit cannot join the escape). Returns
// false, with the reason in `error`, for bytes that are not UTF-8. A leading byte-order mark is
// dropped. Literals with a u8 prefix would get the GB18030 bytes too: such sources write their
// UTF-8 as \x escapes.
bool EscapeNonAscii(const std::string& utf8, std::string& out, std::string& error);

} // namespace dielmon
