// The second line of the "打开串口失败" box: why the port was refused, when someone else holds
// it or the user may not open it.
#pragma once

#include "serial/portlock.h"

#include <string>

namespace dielmon {

// "\n" and the reason (GBK), or the empty text when the refusal says nothing more.
std::string PortRefusalSecondLine(const PortRefusal& refusal, const std::string& devicePath);

} // namespace dielmon
