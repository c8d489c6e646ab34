// Waiting on a condition with a deadline generous enough for a loaded machine. Not for the
// window's tests: their waits must run the event loop (tests/ui/fixture.h).
#pragma once

#include <chrono>
#include <functional>

namespace dielmon::test {

inline constexpr std::chrono::milliseconds kDeadline{20000};

// Checks `condition` every 2 ms until it holds or `limit` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kDeadline);

// Runs `work` on a thread of its own and waits for it within `limit`. A call that does not
// come back is reported and ends the run: a deadlock cannot be recovered from.
void FinishesWithin(const std::function<void()>& work, const char* what,
                    std::chrono::milliseconds limit = kDeadline);

} // namespace dielmon::test
