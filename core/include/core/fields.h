// The values a frame carries, by name, for a person reading the line: the trace tool lists
// them beside the texts the window showed.
#pragma once

#include "core/panel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dielmon {

struct DecodedField {
    std::string Name;
    enum Kind { Integer, Number, Text } Type = Integer;
    long long IntegerValue = 0;
    double NumberValue = 0;
    std::string TextValue; // GBK

    static DecodedField Int(std::string name, long long value);
    static DecodedField Num(std::string name, double value);
    static DecodedField Str(std::string name, std::string value);
};

// A frame the program sent: the start command's values, the record a command names.
std::vector<DecodedField> SentFrameFields(const std::uint8_t* frame, int length);
// A received frame, decoded with the panel selections it was received under.
std::vector<DecodedField> ReceivedFrameFields(const std::uint8_t* frame, int length,
                                              const PanelSelection& s);

} // namespace dielmon
