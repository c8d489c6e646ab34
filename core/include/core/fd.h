// A file descriptor with one owner: closed when its owner goes, so that no way out of a
// function can leak it. Close() closes early and says whether close(2) succeeded, for writes
// whose last error shows only there.
#pragma once

#include <unistd.h>

namespace dielmon {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : Fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : Fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return Fd_; }
    bool Valid() const { return Fd_ >= 0; }
    explicit operator bool() const { return Valid(); }

    // Gives the descriptor up to the caller, who closes it.
    int Release() {
        const int fd = Fd_;
        Fd_ = -1;
        return fd;
    }
    // Closes the descriptor held, if any, and holds `fd` instead.
    void Reset(int fd = -1) {
        if (Fd_ >= 0) {
            ::close(Fd_);
        }
        Fd_ = fd;
    }
    // Closes now; true when there was nothing to close or close(2) succeeded.
    bool Close() {
        if (Fd_ < 0) {
            return true;
        }
        return ::close(Release()) == 0;
    }

private:
    int Fd_ = -1;
};

} // namespace dielmon
