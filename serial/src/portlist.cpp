#include "serial/portlist.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace dielmon {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute without surrounding blanks; empty when unreadable.
std::string Attribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
    line.erase(std::find_if_not(line.rbegin(), line.rend(), blank).base(), line.end());
    return line;
}

// The first readable, non-empty attribute among `paths`.
std::string FirstAttribute(std::initializer_list<fs::path> paths) {
    for (const fs::path& p : paths) {
        std::string value = Attribute(p);
        if (!value.empty()) {
            return value;
        }
    }
    return {};
}

// A USB serial port's device is its USB interface (ttyACM) or a child of it (ttyUSB); the
// strings of the interface and of the USB device stand one or two levels up. ".." is resolved
// by the kernel after the "device" link, so it walks the real device tree.
std::string Description(const fs::path& device) {
    const fs::path up = device / "..";
    const fs::path upUp = up / "..";
    const std::string usbInterface = FirstAttribute({device / "interface", up / "interface"});
    if (!usbInterface.empty()) {
        return usbInterface;
    }
    const std::string product = FirstAttribute({up / "product", upUp / "product"});
    const std::string manufacturer = FirstAttribute({up / "manufacturer", upUp / "manufacturer"});
    if (product.empty()) {
        return manufacturer;
    }
    return manufacturer.empty() ? product : manufacturer + " " + product;
}

// Natural order: runs of digits compare by their value, so ttyS2 comes before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ie = i;
            std::size_t je = j;
            while (ie < a.size() && digit(a[ie])) {
                ++ie;
            }
            while (je < b.size() && digit(b[je])) {
                ++je;
            }
            // compare by value without converting: skip leading zeros, then length, then digits
            std::size_t is = i;
            std::size_t js = j;
            while (is + 1 < ie && a[is] == '0') {
                ++is;
            }
            while (js + 1 < je && b[js] == '0') {
                ++js;
            }
            const std::string_view na(a.data() + is, ie - is);
            const std::string_view nb(b.data() + js, je - js);
            if (na.size() != nb.size()) {
                return na.size() < nb.size();
            }
            if (na != nb) {
                return na < nb;
            }
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysClassTty) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    fs::directory_iterator it(sysClassTty, ec);
    if (ec) {
        return ports;
    }
    // Stepped by hand: the range-for's increment would throw on a read error.
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path tty = it->path();
        const fs::path device = tty / "device";
        std::error_code ignored;
        if (!fs::is_directory(device, ignored)) {
            continue; // virtual consoles, pseudo-terminals and the like
        }
        // The 8250 driver keeps slots for legacy ports that may have no UART behind them; such
        // a slot reports type 0 (unknown) and cannot be opened usefully.
        if (Attribute(tty / "type") == "0") {
            continue;
        }
        ports.push_back({"/dev/" + tty.filename().string(), Description(device)});
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return NaturalLess(a.name, b.name);
    });
    return ports;
}

bool DeviceExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace dielmon
