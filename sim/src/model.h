// The specimens the simulated instrument measures: plausible values for every wiring mode,
// consistent with one another (I = ωCU, φ = 90° − δ, P = U·I·cos φ) and varied a little from
// one test to the next.
#pragma once

#include "sim/payloads.h"

#include <cstdint>
#include <random>

namespace dielmon::sim {

// What a test runs with, derived from its request.
struct TestConditions {
    int WiringMode = 1;
    int Channels = 1;          // 1..4, only with wiring mode 1
    float TargetKv = 10.0F;    // high voltage reached after boosting
    float F1 = 500.0F;         // 0.1 Hz
    float F2 = 500.0F;         // 0.1 Hz
    float ExcitationVolts = 0; // CVT method: excitation reached after boosting
    float ExcitationAmperes = 0;
    RecordHeader Header;
};

TestConditions ConditionsOf(const TestRequest& request);

// RspStepResult frames a test sends: 10 per channel with wiring mode 1, 20 for the CVT method,
// 10 otherwise; twice that with DoubleSteps.
int StepCount(int wiringMode, int channels, bool doubleSteps);

class Model {
public:
    explicit Model(std::uint32_t seed) : Random_(seed) {}

    // Boosting frame k of count (1-based): the voltage rises to its target.
    BoostValues Boost(const TestConditions& c, int k, int count);
    // Step frame k of count (1-based).
    StepValues Step(const TestConditions& c, int k, int count);
    // The final result of test number testNumber (1 for the first test since start).
    Measurement Measure(const TestConditions& c, int testNumber);
    // Sample record number index (0-based) of the store at start.
    StoredRecord SampleRecord(int index);

private:
    // nominal × (1 + u) with u uniform in [−spread, spread].
    float Vary(double nominal, double spread);

    std::mt19937 Random_;
};

} // namespace dielmon::sim
