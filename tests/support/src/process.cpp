#include "support/process.h"

#include <sstream>

#include "support/wait.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace dielmon::test {

Process::Process(const std::string& program, const std::vector<std::string>& args) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&Pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    Out_ = out[0];
    Err_ = err[0];
    if (rc != 0) {
        Pid_ = -1;
        ADD_FAILURE() << "cannot run " << program;
    }
}

Process::~Process() {
    for (const int fd : {Out_, Err_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (Pid_ > 0) {
        ::kill(Pid_, SIGKILL);
        ::waitpid(Pid_, nullptr, 0);
    }
}

bool Process::Signal(int signal) const {
    return Pid_ > 0 && ::kill(Pid_, signal) == 0;
}

std::string Process::ReadLine() {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{Out_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) {
            continue;
        }
        char c = 0;
        if (::read(Out_, &c, 1) != 1 || c == '\n') {
            break;
        }
        line += c;
    }
    return line;
}

std::string Process::ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

int Process::Wait() {
    int status = 0;
    if (Pid_ <= 0) {
        return -1;
    }
    if (!WaitUntil([&] { return ::waitpid(Pid_, &status, WNOHANG) == Pid_; })) {
        return -1;
    }
    Pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SimProgram() {
    const char* program = std::getenv("DIELMON_SIM");
    if (program == nullptr) {
        ADD_FAILURE() << "DIELMON_SIM names no program";
        return "/nonexistent/dielmon-sim";
    }
    return program;
}

DeviceHolder::DeviceHolder(const std::string& path)
    : Path_(path), Process_("/bin/sh", {"-c", "exec sleep 600 0<>\"$0\"", path}) {}

DeviceHolder::~DeviceHolder() {
    Process_.Signal(SIGKILL);
}

bool DeviceHolder::Holding() const {
    struct stat device {};
    if (::stat(Path_.c_str(), &device) != 0) {
        return false;
    }
    // The shell opens the device, then becomes sleep: both must have happened.
    const std::string process = "/proc/" + std::to_string(Pid());
    return WaitUntil([&] {
        struct stat held {};
        std::ifstream comm(process + "/comm");
        std::string name;
        return std::getline(comm, name) && name == "sleep" &&
               ::stat((process + "/fd/0").c_str(), &held) == 0 && held.st_rdev == device.st_rdev;
    });
}

int AsUnprivilegedUser(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedUser) != 0 ||
                                 ::setuid(kUnprivilegedUser) != 0)) {
            ::_exit(255);
        }
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

Ran RunToEnd(const std::string& program, const std::vector<std::string>& args) {
    Process p(program, args);
    Ran r;
    r.Out = p.ReadOut();
    r.Err = p.ReadErr();
    r.Status = p.Wait();
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace dielmon::test
