#include "support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace dielmon::test {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void FinishesWithin(const std::function<void()>& work, const char* what,
                    std::chrono::milliseconds limit) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([work, done] {
        work();
        done->store(true);
    });
    if (!WaitUntil([&] { return done->load(); }, limit)) {
        ADD_FAILURE() << what << " did not come back: deadlock";
        std::fprintf(stderr, "%s did not come back: deadlock\n", what);
        std::fflush(stderr);
        std::abort();
    }
    worker.join();
}

} // namespace dielmon::test
