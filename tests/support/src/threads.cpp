#include "support/threads.h"

namespace dielmon::test {

EventLoop::EventLoop(bool running) : Running_(running), Thread_([this] { Run(); }) {}

EventLoop::~EventLoop() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Stopped_ = true;
    }
    Wake_.notify_all();
    Thread_.join();
}

void EventLoop::Post(Job job) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Queue_.push_back(std::move(job));
    }
    Wake_.notify_all();
}

void EventLoop::Pause() {
    std::lock_guard<std::mutex> guard(Lock_);
    Running_ = false;
}

void EventLoop::Resume() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Running_ = true;
    }
    Wake_.notify_all();
}

std::size_t EventLoop::Queued() {
    std::lock_guard<std::mutex> guard(Lock_);
    return Queue_.size();
}

void EventLoop::RunQueuedHere() {
    std::deque<Job> jobs;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        jobs.swap(Queue_);
    }
    for (Job& job : jobs) {
        job();
    }
}

void EventLoop::Run() {
    std::unique_lock<std::mutex> lock(Lock_);
    for (;;) {
        Wake_.wait(lock, [this] { return Stopped_ || (Running_ && !Queue_.empty()); });
        if (Stopped_) {
            return;
        }
        Job job = std::move(Queue_.front());
        Queue_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

} // namespace dielmon::test
