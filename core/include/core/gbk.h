// GBK (code page 936) to and from UTF-8, through iconv. Used at the edge of the window and of
// the trace tool; the rest of the core works on GBK bytes.
#pragma once

#include <string>

namespace dielmon {

// Bytes that are not valid GBK become U+FFFD; nothing fails.
std::string GbkToUtf8(const std::string& gbk);
// Characters that GBK cannot hold become "?".
std::string Utf8ToGbk(const std::string& utf8);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsUtf8(const std::string& bytes);

} // namespace dielmon
