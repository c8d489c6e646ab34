// The serial ports present, as the kernel knows them, for the settings dialog's port list and
// for noticing that a lost port has come back.
#pragma once

#include <string>
#include <vector>

namespace dielmon {

struct SerialPortInfo {
    std::string name;        // device path, e.g. "/dev/ttyUSB0"
    std::string description; // USB interface or manufacturer and product; may be empty

    bool operator==(const SerialPortInfo&) const = default;
};

// Terminals backed by a device (ttyS, ttyUSB, ttyACM, ttyAMA, rfcomm ...), found under
// `sysClassTty`, in natural order of their names (ttyS2 before ttyS10). Virtual consoles and
// pseudo-terminals have no device and are left out, as are legacy UART slots that report no
// UART (type 0). A folder that cannot be read gives an empty list.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysClassTty = "/sys/class/tty");

// Whether `path` names a character device, e.g. a USB adapter plugged in again.
bool DeviceExists(const std::string& path);

} // namespace dielmon
