// Who else holds a serial port, and the lock file that tells others that we hold it. A port is
// never shared silently: another process that has the device open (as far as /proc shows) or
// a UUCP lock file /var/lock/LCK..<name> naming a live process makes the open fail, and while
// this program holds a port it keeps such a lock file itself where the folder is writable.
// Linux and POSIX only; no Qt.
#pragma once

#include <string>
#include <sys/types.h>

namespace dielmon {

// Why a port was refused beyond "it cannot be opened"; the window turns it into a line of text.
struct PortRefusal {
    enum class Reason {
        None,
        OpenElsewhere, // another process has the device open
        LockFile,      // a lock file names another live process
        NoPermission,  // the user may not open the device
    };
    // Which step of opening the port failed, for the debug log.
    enum class Step {
        None,
        Settings,     // the line settings asked for are none the port layer knows
        Holder,       // another process holds the device (Why says how)
        Open,         // open(2): no such device, permission, busy ...
        Descriptor,   // moving the descriptor above the standard streams
        Lock,         // flock(2): this or another program that locks its ports holds it
        Exclusive,    // TIOCEXCL: the device is not a terminal
        LineSettings, // the device refused the line settings
        LockFile,     // a lock file of another live process appeared meanwhile
    };
    Reason Why = Reason::None;
    int Error = 0;    // the errno of the failed step
    pid_t Holder = 0; // the other process (OpenElsewhere, LockFile)
    Step Failed = Step::None;

    explicit operator bool() const { return Why != Reason::None; }
};

// The failed step and its errno in a line for the debug log ("open: No such file or
// directory (errno 2)"); empty when nothing failed.
std::string DescribeOpenFailure(const PortRefusal& failure);

// The folder of the lock files: $DIELMON_LOCK_DIR when set, else /var/lock.
std::string PortLockFolder();
// The lock file of a device: its name under /dev with "/" as "_" ("LCK..ttyUSB0",
// "LCK..pts_3"), for the device a link leads to.
std::string PortLockPath(const std::string& devicePath);

// Another process that holds the device: by a lock file that names a live process, or by
// having it open. A process that holds the master side of a pseudo-terminal is its far end,
// not a second user of it. Processes of other users are seen only by root.
PortRefusal FindPortHolder(const std::string& devicePath);

// Writes the lock file of the device for this process, replacing a stale one (of a process
// that has ended, or unreadable). False, with the refusal, when a live process took it first.
// True without a file where the folder takes none: the lock is a courtesy to other programs.
bool TakePortLock(const std::string& devicePath, int handle, PortRefusal& refusal);
// Removes the lock file taken for the handle, if it still names this process.
void ReleasePortLock(int handle);

// The command name of a process ("minicom"); empty when it cannot be seen.
std::string ProcessName(pid_t pid);
// The group that owns the device ("dialout"); empty when unknown.
std::string DeviceGroup(const std::string& devicePath);

} // namespace dielmon
