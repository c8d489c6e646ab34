#include "support/sim.h"

#include <gtest/gtest.h>

namespace dielmon::test {

SimInstrument::SimInstrument(const sim::SimOptions& options) : Simulator(options) {
    SetTraceSink([this](bool incoming, const std::uint8_t* data, int count) {
        std::lock_guard<std::mutex> guard(Lock_);
        Bytes& into = incoming ? Heard_ : Written_;
        into.insert(into.end(), data, data + count);
    });
    std::string error;
    Started_ = Start(&error);
    EXPECT_TRUE(Started_) << error;
}

SimInstrument::SimInstrument(const std::vector<std::string>& args)
    : SimInstrument(SimOptionsOf(args)) {}

Bytes SimInstrument::Written() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Written_;
}

Bytes SimInstrument::Heard() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Heard_;
}

sim::SimOptions SimOptionsOf(const std::vector<std::string>& args) {
    std::string error;
    const auto options = sim::ParseSimOptions(args, &error);
    EXPECT_TRUE(options.has_value()) << error;
    return options.value_or(sim::SimOptions{});
}

} // namespace dielmon::test
