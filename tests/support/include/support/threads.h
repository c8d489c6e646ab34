// Stands in for the window's event loop: runs the jobs posted to it one at a time, in order, on
// its own thread. While paused it holds them back, as a window busy elsewhere (a modal box) does.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace dielmon::test {

class EventLoop {
public:
    using Job = std::function<void()>;

    explicit EventLoop(bool running = true);
    // Stops the loop; jobs still queued are dropped unrun.
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void Post(Job job);
    std::function<void(Job)> Poster() {
        return [this](Job job) { Post(std::move(job)); };
    }
    void Pause();
    void Resume();
    std::size_t Queued();
    std::thread::id ThreadId() const { return Thread_.get_id(); }
    // Takes the queued jobs away from the loop and runs them on the calling thread.
    void RunQueuedHere();

private:
    void Run();

    std::mutex Lock_;
    std::condition_variable Wake_;
    std::deque<Job> Queue_;
    bool Running_;
    bool Stopped_ = false;
    std::thread Thread_;
};

} // namespace dielmon::test
