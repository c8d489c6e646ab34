// The simulated instrument run in-process on a pseudo-terminal of its own, with every chunk it
// reads and writes kept.
#pragma once

#include "support/frames.h"

#include "sim/options.h"
#include "sim/simulator.h"

#include <mutex>
#include <string>
#include <vector>

namespace dielmon::test {

class SimInstrument : public sim::Simulator {
public:
    // Started at once; a failure to start is reported to the running test.
    explicit SimInstrument(const sim::SimOptions& options);
    // The options of dielmon-sim's command line.
    explicit SimInstrument(const std::vector<std::string>& args);
    // Stops the thread before the buffers it writes into go.
    ~SimInstrument() override { Stop(); }

    bool Started() const { return Started_; }
    // Everything written to the line so far, noise included.
    Bytes Written() const;
    // Everything read from the line so far.
    Bytes Heard() const;

private:
    mutable std::mutex Lock_;
    Bytes Written_;
    Bytes Heard_;
    bool Started_ = false;
};

// The options of dielmon-sim's command line; a line that does not parse fails the running test.
sim::SimOptions SimOptionsOf(const std::vector<std::string>& args);

} // namespace dielmon::test
