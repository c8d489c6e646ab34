// JSON text for the command-line tools: a UTF-8 string quoted and escaped, and a number written
// the same way whatever the locale.
#pragma once

#include <optional>
#include <string>

namespace dielmon {

// `utf8` in double quotes with '"', '\' and the control characters escaped ("\r\n" stays
// visible as such). Bytes that are not well-formed UTF-8 become U+FFFD, so the result is
// always valid JSON.
std::string JsonString(const std::string& utf8);
// The shortest text with `digits` significant digits ("%.*g" in the C locale); "null" for a
// value that is not finite.
std::string JsonNumber(double value, int digits = 7);
std::string JsonNumber(const std::optional<double>& value, int digits = 7);

// Whether bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing past
// U+10FFFF.
bool IsUtf8(const std::string& s);

} // namespace dielmon
