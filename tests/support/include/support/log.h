// Reading back the debug log the program writes: each line a time stamp, two spaces, a text
// and CR LF.
#pragma once

#include "support/frames.h"

#include <optional>
#include <string>
#include <vector>

namespace dielmon::test {

// "2016-03-24 15:34:00"
bool IsTimeStamp(const std::string& s);

// The texts of the lines of a log file, each checked to start with a time stamp and two
// spaces and to end with CR LF; a line that does not is returned whole, marked "malformed: ".
std::vector<std::string> LogTexts(const std::string& path);

// The bytes a "received" text spells, or nothing when the text is not exactly one: the
// prefix, then a space and two upper-case hexadecimal digits for each byte.
std::optional<Bytes> ReceivedBytes(const std::string& text);
bool IsSentText(const std::string& text);

// The bytes of all "received" lines of the log so far, in order.
Bytes LoggedBytes(const std::string& path);

} // namespace dielmon::test
