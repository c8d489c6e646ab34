#include "core/log.h"
#include "core/fd.h"

#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace dielmon {

namespace {

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path) {
    std::string partial;
    for (std::size_t pos = 0; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            if (!partial.empty()) {
                if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
                    return false;
                }
            }
        }
        if (pos < path.size()) {
            partial += path[pos];
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

DebugLog::DebugLog(std::string appPath, const Clock& clock)
    : DebugLog(Folder{std::move(appPath) + "Log/"}, clock) {}

DebugLog::DebugLog(Folder logFolder, const Clock& clock)
    : LogFolder_(std::move(logFolder.Path)), Clock_(clock) {
    LogFileName_ = DayFileName(ToLocal(Clock_.Now()));
}

std::string DebugLog::DayFileName(const LocalTime& t) const {
    return LogFolder() + "LogFile" + std::to_string(t.day) + ".txt";
}

std::string DebugLog::LogFileName() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return LogFileName_;
}

unsigned long DebugLog::FailedWrites() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return FailedWrites_;
}

void DebugLog::WriteLog(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock_);
    const LocalTime now = ToLocal(Clock_.Now());
    const std::string folder = LogFolder();
    if (!MakeFolders(folder)) {
        ++FailedWrites_;
        return;
    }
    const std::string path = DayFileName(now);
    if (path != LogFileName_) {
        // The file of this day number holds a month-old log: start it anew.
        ::unlink(path.c_str());
        LogFileName_ = path;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd) {
        ++FailedWrites_;
        return;
    }
    const bool ok = detail::WriteFully(fd.Get(), LogTimeText(now) + "  " + text + "\r\n") == 0;
    if (!fd.Close() || !ok) {
        ++FailedWrites_;
    }
}

} // namespace dielmon
