// Small routines shared by the serial link, the window and the result displays: number
// formatting, filling texts with spaces, floats out of received frames, wiring-mode and
// weekday names, lines of a text, appending a line to a text file. All texts are GBK bytes; lengths
// count bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

// "%.<decimals>f" rounded half away from zero after taking the value to 18 significant
// digits, then filled with spaces to `width`. Never cut.
std::string FormatFixed(int decimals, int width, double value);

// A measured value with as many decimals as its magnitude allows, cut toward zero, never
// rounded. Values that are not finite give NonFiniteText().
std::string FormatValue3(double value);
std::string FormatValue4(double value);

// The text used for a value that is not a number or is infinite.
std::string NonFiniteText(double value);

// value × 10^k (k from 0 to 6) cut toward zero to a whole number. The product is not rounded
// first, so the result is exact wherever a double can hold it. The value must be finite.
double TruncScaled(double value, int k);

// A text of at most `width` bytes filled with spaces to width + 1 bytes; longer texts unchanged.
std::string PadRight(const std::string& text, int width);

// The IEEE 754 single at p (least significant byte first), as a double.
double BytesToFloat(const std::uint8_t* p);
void FloatToBytes(float value, std::uint8_t* p);

// 1 "正接线" .. 5 "变比"; an unknown name gives 1, an index outside 1..5 the empty text.
int WiringModeToIndex(const std::string& name);
std::string IndexToWiringMode(int index);

// Weekday names, Monday = 1 .. Sunday = 7; other numbers give the empty text.
std::string GetWeekName(int isoWeekday);

// Appends the line and CR LF to the file, creating it when missing. Returns whether every
// byte was written; callers that follow the program's silent rule ignore the result.
bool AppendLine(const std::string& line, const std::string& path);

// The lines of a text broken at LF, each without its LF and a CR before it; a final LF ends the
// last line rather than starting an empty one.
std::vector<std::string> SplitLines(const std::string& text);

// The text without the blanks (spaces, tabs, line breaks) before and after it.
std::string TrimBlanks(const std::string& text);

// Operator text to numbers, as every field, list and the settings file convert it: an
// optionally signed decimal integer that fits 32 bits, and a decimal number in the
// single-precision range ("." as separator, optional exponent; no hexadecimal, infinity or
// NaN). Blanks around the number are ignored, so a stray space never turns a value into 0;
// anything else around or inside it makes the text no number.
std::optional<int> ParseInt(const std::string& text);
std::optional<double> ParseDecimal(const std::string& text);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace dielmon
