#include "serial/portlist.h"

#include "support/pty.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace dielmon;
using namespace dielmon::test;

namespace fs = std::filesystem;

namespace {

void Put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A terminal class entry whose "device" link points into the device tree, as in sysfs.
void Tty(const fs::path& root, const std::string& name, const fs::path& deviceDir) {
    fs::create_directories(root / "class/tty" / name);
    fs::create_directories(root / deviceDir);
    fs::create_directory_symlink(root / deviceDir, root / "class/tty" / name / "device");
}

} // namespace

namespace dielmon {
void PrintTo(const SerialPortInfo& p, std::ostream* os) {
    *os << "{" << p.name << ", \"" << p.description << "\"}";
}
} // namespace dielmon

TEST(PortList, ListsDeviceBackedTerminalsWithTheirUsbNamesInNaturalOrder) {
    TempDir sys;
    const fs::path root = sys.Path();
    // legacy UART slots: a real 16550A, an empty slot, one without a readable type
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10"}) {
        Tty(root, name, std::string("devices/platform/serial8250/") + name);
    }
    Put(root / "class/tty/ttyS0/type", "4\n");
    Put(root / "class/tty/ttyS1/type", "0\n");
    Put(root / "class/tty/ttyS10/type", "4\n");
    // a USB converter: ttyUSB0's device is a child of the USB interface
    Tty(root, "ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0");
    Put(root / "devices/usb1/1-1/product", "FT232R USB UART\n");
    Put(root / "devices/usb1/1-1/manufacturer", "FTDI\n");
    // a second one that names only its product
    Tty(root, "ttyUSB9", "devices/usb1/1-3/1-3:1.0/ttyUSB9");
    Put(root / "devices/usb1/1-3/product", "  USB-Serial Controller  \n");
    // a modem-class device: its device is the USB interface, which names itself
    Tty(root, "ttyACM0", "devices/usb1/1-2/1-2:1.0");
    Put(root / "devices/usb1/1-2/1-2:1.0/interface", "CDC Abstract Control Model (ACM)\n");
    Put(root / "devices/usb1/1-2/product", "Pico\n");
    // an on-chip UART
    Tty(root, "ttyAMA0", "devices/platform/fe201000.serial");
    Put(root / "class/tty/ttyAMA0/type", "32\n");
    // terminals without a device, and a stray file
    fs::create_directories(root / "class/tty/tty0");
    fs::create_directories(root / "class/tty/ptmx");
    Put(root / "class/tty/console", "");

    const std::vector<SerialPortInfo> expected = {
        {"/dev/ttyACM0", "CDC Abstract Control Model (ACM)"},
        {"/dev/ttyAMA0", ""},
        {"/dev/ttyS0", ""},
        {"/dev/ttyS2", ""},
        {"/dev/ttyS10", ""},
        {"/dev/ttyUSB0", "FTDI FT232R USB UART"},
        {"/dev/ttyUSB9", "USB-Serial Controller"},
    };
    EXPECT_EQ(ListSerialPorts((root / "class/tty").string()), expected);
}

TEST(PortList, AMissingTreeListsNothingAndTheRealOneListsOnlyDevices) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/class/tty").empty());
    EXPECT_TRUE(ListSerialPorts("").empty());
    for (const SerialPortInfo& port : ListSerialPorts()) {
        EXPECT_EQ(port.name.rfind("/dev/", 0), 0u) << port.name;
        EXPECT_EQ(port.name.find("/dev/pts/"), std::string::npos) << port.name;
    }
}

TEST(PortList, DeviceExistsOnlyForACharacterDeviceThatIsThere) {
    TempDir dir;
    Put(dir.Path() / "plain", "x");
    auto pty = std::make_unique<PseudoTerminal>();
    const std::string path = pty->Path();
    EXPECT_TRUE(DeviceExists(path));
    EXPECT_FALSE(DeviceExists((dir.Path() / "plain").string()));
    EXPECT_FALSE(DeviceExists(dir.Path().string()));
    EXPECT_FALSE(DeviceExists("/dev/ttyDIELMON-missing"));
    EXPECT_FALSE(DeviceExists(""));
    // Held open, the slave side keeps the terminal's number from being handed to a pseudo-
    // terminal of a test running beside this one, which would bring the name back.
    const int held = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    pty.reset(); // the far end gone: the kernel removes the terminal's node
    EXPECT_FALSE(DeviceExists(path));
    if (held >= 0) {
        ::close(held);
    }
}
