// The daily debug log: every frame sent and every chunk received is traced into
// <log folder>/LogFile<day of month>.txt, the log folder being <home>/Log/ or the one the
// desktop's folders give. Entered from the window's thread and from the serial
// reader thread; the appends are serialised. Failures are swallowed: the program runs on
// without a log.
#pragma once

#include "core/clock.h"

#include <mutex>
#include <string>

namespace dielmon {

class DebugLog {
public:
    // appPath is the program's home folder and ends with "/". The log file of today is chosen
    // at construction, so a file of today's number is appended to as it is found.
    DebugLog(std::string appPath, const Clock& clock = DefaultClock());
    // A log folder of its own, ending with "/".
    struct Folder {
        std::string Path;
    };
    DebugLog(Folder logFolder, const Clock& clock = DefaultClock());

    // Appends "<time stamp>  <text>" and CR LF to the file of the current day. When the day
    // of the month changed since the last line, the file of the new day is started anew.
    void WriteLog(const std::string& text);

    std::string LogFileName() const;
    std::string LogFolder() const { return LogFolder_; }
    // Lines that could not be written (folder or file not writable, disk full).
    unsigned long FailedWrites() const;

private:
    std::string DayFileName(const LocalTime& t) const;

    const std::string LogFolder_;
    const Clock& Clock_;
    mutable std::mutex Lock_; // Protects LogFileName_ and the appends of both threads.
    std::string LogFileName_;
    unsigned long FailedWrites_ = 0;
};

} // namespace dielmon
