// A program run as a child process with its standard output and error on pipes; killed and
// reaped if still running at the end.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace dielmon::test {

class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& args);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Running() const { return Pid_ > 0; }
    pid_t Pid() const { return Pid_; }
    bool Signal(int signal) const;
    // A line of its standard output without the line break; empty after the deadline.
    std::string ReadLine();
    // What is left of its standard output or error, up to the end of the stream.
    std::string ReadOut() { return ReadToEnd(Out_); }
    std::string ReadErr() { return ReadToEnd(Err_); }
    // Its exit status, or -1 when it did not exit normally within the deadline.
    int Wait();

private:
    static std::string ReadToEnd(int fd);

    pid_t Pid_ = -1;
    int Out_ = -1;
    int Err_ = -1;
};

// What a program run to its end printed, and how it ended.
struct Ran {
    int Status = -1; // the exit status, -1 when it did not exit normally in time
    std::string Out;
    std::string Err;
};
Ran RunToEnd(const std::string& program, const std::vector<std::string>& args);

// The lines of a text, without their line breaks.
std::vector<std::string> Lines(const std::string& text);

// dielmon-sim, the program named by the environment variable DIELMON_SIM.
std::string SimProgram();

// Another process that holds a device open (and nothing else of ours) until it is destroyed.
class DeviceHolder {
public:
    explicit DeviceHolder(const std::string& path);
    ~DeviceHolder();
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;
    pid_t Pid() const { return Process_.Pid(); }
    // Waits until it runs as "sleep" with the device among its open files; false after the
    // deadline.
    bool Holding() const;

private:
    std::string Path_;
    Process Process_;
};

// The user id a privileged test drops to: nobody.
inline constexpr uid_t kUnprivilegedUser = 65534;

// Runs `body` in a forked child as a user to whom file permissions apply (nobody, when the
// test runs as root) and returns its result (0 to 255), or -1 when the child could not drop
// its privileges or did not end normally. Call it while the test runs no other threads.
int AsUnprivilegedUser(const std::function<int()>& body);

} // namespace dielmon::test
