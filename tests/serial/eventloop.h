// Stands in for the window's event loop: runs posted jobs one at a time on its own thread, or
// holds them while paused, as a window busy elsewhere does.
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

    explicit EventLoop(bool running = true) : running_(running), thread_([this] { Run(); }) {}
    // Stops the loop; jobs still queued are dropped unrun.
    ~EventLoop() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopped_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void Post(Job job) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            queue_.push_back(std::move(job));
        }
        wake_.notify_all();
    }
    std::function<void(Job)> Poster() {
        return [this](Job job) { Post(std::move(job)); };
    }

    std::size_t Queued() {
        std::lock_guard<std::mutex> guard(lock_);
        return queue_.size();
    }
    std::thread::id ThreadId() const { return thread_.get_id(); }

    // Takes the queued jobs away from the loop and runs them on the calling thread.
    void RunQueuedHere() {
        std::deque<Job> jobs;
        {
            std::lock_guard<std::mutex> guard(lock_);
            jobs.swap(queue_);
        }
        for (Job& job : jobs) {
            job();
        }
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait(lock, [this] { return stopped_ || (running_ && !queue_.empty()); });
            if (stopped_) {
                return;
            }
            Job job = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool running_;
    bool stopped_ = false;
    std::thread thread_;
};

} // namespace dielmon::test
