#include "serial/portlock.h"
#include "core/fd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace dielmon {

namespace {

// The lock files this process keeps, by the handle of the port they stand for.
std::mutex& LocksGuard() {
    static std::mutex guard;
    return guard;
}
std::map<int, std::string>& Locks() {
    static std::map<int, std::string> locks;
    return locks;
}

// The device a path leads to, through any links ("/dev/serial/by-id/..." is "/dev/ttyUSB0").
std::string Canonical(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return path;
    }
    std::string resolved(real);
    std::free(real);
    return resolved;
}

// The process a lock file names: HDB UUCP files hold the number as text, older ones as a
// binary int. 0 when the file holds neither.
pid_t LockHolder(const std::string& lockPath) {
    const UniqueFd fd(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd) {
        return 0;
    }
    char text[64] = {};
    const ssize_t n = ::read(fd.Get(), text, sizeof text - 1);
    if (n <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != text && (*end == '\0' || *end == '\n' || *end == ' ')) {
        return value > 0 && value <= INT_MAX ? static_cast<pid_t>(value) : 0;
    }
    if (n == static_cast<ssize_t>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

bool Alive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// A lock file that stops others: it names a live process that is not this one.
pid_t LiveOtherHolder(const std::string& lockPath) {
    const pid_t holder = LockHolder(lockPath);
    return holder != ::getpid() && Alive(holder) ? holder : 0;
}

bool IsPseudoTerminalSlave(dev_t device) {
    return major(device) >= 136 && major(device) <= 143;
}

bool IsPseudoTerminalMaster(dev_t device) {
    return major(device) == 5 && minor(device) == 2;
}

int SlaveIndex(dev_t device) {
    return static_cast<int>((major(device) - 136) * 256 + minor(device));
}

// The pseudo-terminal a master descriptor of a process stands for ("tty-index:" in fdinfo).
int MasterIndex(const std::string& process, const char* fd) {
    FILE* info = std::fopen((process + "/fdinfo/" + fd).c_str(), "re");
    if (info == nullptr) {
        return -1;
    }
    char line[128];
    int index = -1;
    while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::sscanf(line, "tty-index: %d", &index) == 1) {
            break;
        }
    }
    std::fclose(info);
    return index;
}

// Whether the process has the device open as a second user of it.
bool HoldsOpen(const std::string& process, dev_t device) {
    DIR* fds = ::opendir((process + "/fd").c_str());
    if (fds == nullptr) {
        return false; // ended meanwhile, or another user's
    }
    bool holds = false;
    bool farEnd = false;
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        struct stat st {};
        if (::stat((process + "/fd/" + entry->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        if (st.st_rdev == device) {
            holds = true;
        } else if (IsPseudoTerminalSlave(device) && IsPseudoTerminalMaster(st.st_rdev) &&
                   MasterIndex(process, entry->d_name) == SlaveIndex(device)) {
            farEnd = true;
        }
    }
    ::closedir(fds);
    return holds && !farEnd;
}

pid_t ProcessHolding(dev_t device) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    const pid_t self = ::getpid();
    pid_t holder = 0;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) {
            continue;
        }
        if (HoldsOpen(std::string("/proc/") + entry->d_name, device)) {
            holder = static_cast<pid_t>(pid);
            break;
        }
    }
    ::closedir(proc);
    return holder;
}

// Creates the lock file under its final name only if no file has it: written under a name of
// its own first and linked into place, as UUCP does, so that nobody reads half a file.
enum class Created { Yes, Exists, NoFolder };
Created CreateLockFile(const std::string& lockPath) {
    const std::string folder = lockPath.substr(0, lockPath.rfind('/') + 1);
    const std::string temp = folder + "LTMP." + std::to_string(::getpid());
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) {
        return Created::NoFolder;
    }
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd.Get(), text, static_cast<std::size_t>(n)) == n && fd.Close();
    if (!written) {
        ::unlink(temp.c_str());
        return Created::NoFolder;
    }
    const int linked = ::link(temp.c_str(), lockPath.c_str());
    const int error = errno;
    ::unlink(temp.c_str());
    if (linked == 0) {
        return Created::Yes;
    }
    return error == EEXIST ? Created::Exists : Created::NoFolder;
}

} // namespace

std::string PortLockFolder() {
    const char* folder = std::getenv("DIELMON_LOCK_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "/var/lock";
}

std::string PortLockPath(const std::string& devicePath) {
    std::string name = Canonical(devicePath);
    if (name.rfind("/dev/", 0) == 0) {
        name.erase(0, 5);
    } else {
        name.erase(0, name.rfind('/') + 1);
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    std::string folder = PortLockFolder();
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder + "LCK.." + name;
}

PortRefusal FindPortHolder(const std::string& devicePath) {
    PortRefusal refusal;
    if (const pid_t holder = LiveOtherHolder(PortLockPath(devicePath))) {
        refusal.Why = PortRefusal::Reason::LockFile;
        refusal.Holder = holder;
        return refusal;
    }
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return refusal; // nothing to share; the open tells what is wrong
    }
    if (const pid_t holder = ProcessHolding(st.st_rdev)) {
        refusal.Why = PortRefusal::Reason::OpenElsewhere;
        refusal.Holder = holder;
    }
    return refusal;
}

bool TakePortLock(const std::string& devicePath, int handle, PortRefusal& refusal) {
    const std::string lockPath = PortLockPath(devicePath);
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (CreateLockFile(lockPath)) {
        case Created::Yes: {
            const std::lock_guard<std::mutex> guard(LocksGuard());
            Locks()[handle] = lockPath;
            return true;
        }
        case Created::NoFolder:
            return true;
        case Created::Exists:
            if (const pid_t holder = LiveOtherHolder(lockPath)) {
                refusal.Why = PortRefusal::Reason::LockFile;
                refusal.Holder = holder;
                return false;
            }
            // Stale, unreadable or our own: it gives way.
            ::unlink(lockPath.c_str());
            break;
        }
    }
    return true; // someone keeps making it without a live holder; the port is ours anyway
}

void ReleasePortLock(int handle) {
    std::string lockPath;
    {
        const std::lock_guard<std::mutex> guard(LocksGuard());
        const auto it = Locks().find(handle);
        if (it == Locks().end()) {
            return;
        }
        lockPath = it->second;
        Locks().erase(it);
    }
    if (LockHolder(lockPath) == ::getpid()) {
        ::unlink(lockPath.c_str());
    }
}

std::string ProcessName(pid_t pid) {
    FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re");
    if (comm == nullptr) {
        return {};
    }
    char name[64] = {};
    const bool read = std::fgets(name, sizeof name, comm) != nullptr;
    std::fclose(comm);
    std::string text = read ? name : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::string DeviceGroup(const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) {
        return {};
    }
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return {};
    }
    return found->gr_name;
}

std::string DescribeOpenFailure(const PortRefusal& failure) {
    using Step = PortRefusal::Step;
    const char* step = nullptr;
    switch (failure.Failed) {
    case Step::None:
        return {};
    case Step::Settings:
        step = "line settings not supported";
        break;
    case Step::Holder:
        step = "held by another process";
        break;
    case Step::Open:
        step = "open";
        break;
    case Step::Descriptor:
        step = "descriptor above the standard streams";
        break;
    case Step::Lock:
        step = "flock (busy: held by a program that locks its ports)";
        break;
    case Step::Exclusive:
        step = "TIOCEXCL (not a terminal)";
        break;
    case Step::LineSettings:
        step = "line settings refused by the device";
        break;
    case Step::LockFile:
        step = "lock file taken by another process";
        break;
    }
    std::string text = step;
    if (failure.Error != 0) {
        text += ": ";
        text += std::strerror(failure.Error);
        text += " (errno " + std::to_string(failure.Error) + ")";
    }
    if (failure.Holder > 0) {
        text += ", process " + std::to_string(failure.Holder);
        const std::string name = ProcessName(failure.Holder);
        if (!name.empty()) {
            text += " (" + name + ")";
        }
    }
    return text;
}

} // namespace dielmon
