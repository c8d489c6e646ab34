// The results of the measuring programs' large archive: 1,000 specimens measured about once a
// year over ten years, in three wiring modes (a live test, a record read from the instrument, a
// CVT test), 100,000 results in all, each with its specimen and conditions.
#pragma once

#include "archive/archive.h"
#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"
#include "sim/payloads.h"

#include <random>
#include <string>

namespace dielmon::bench {

using archive::FromRecord;
using archive::FromTest;
using archive::Result;

inline constexpr int kResults = 100000;
inline constexpr int kSpecimens = 1000;

inline std::string SpecimenName(int k) {
    return Format("主变%03d 套管 %c相", k / 3, "ABC"[k % 3]);
}

inline PanelSelection PanelOf(int mode, int channels) {
    PanelSelection s;
    s.ConnType = IndexToWiringMode(mode);
    s.Standard = texts::kInternalStandard;
    s.Frequency = "50Hz";
    s.TestVolt = texts::kInternalHighVoltage;
    s.ModelIndex = channels - 1;
    return s;
}

// Result k of the large archive: its specimen measured once a year or so, in its own mode.
inline Result Made(int k, std::mt19937& random) {
    const int specimen = k % kSpecimens;
    const int round = k / kSpecimens;
    std::uniform_real_distribution<float> drift(0.99f, 1.01f);
    const sim::DateStamp date{
        static_cast<std::uint8_t>(14 + round / 10),   static_cast<std::uint8_t>(1 + round % 12),
        static_cast<std::uint8_t>(1 + specimen % 28), static_cast<std::uint8_t>(8 + specimen % 10),
        static_cast<std::uint8_t>(specimen % 60),     0};
    Result r;
    if (specimen % 10 < 7) {
        const sim::SingleResult v{
            10,    0.0148f, 500,    500, 1, 4.7f * drift(random), 0.45f * drift(random),
            89.7f, 0.0045f, 0.0007f};
        const auto f = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
        TestParameters p;
        p.WiringMode = 2;
        p.TestVoltage = 10000;
        r = FromTest(f.data(), static_cast<int>(f.size()), PanelOf(2, 1), &p, 5);
    } else if (specimen % 10 < 9) {
        const sim::StoredRecord rec{
            {1, 1, 1, 1},
            {sim::MultiResult{2,
                              {1.0f * drift(random), 1.2f * drift(random), 0, 0},
                              {0.3f, 0.35f, 0, 0},
                              {10, 10, 0, 0},
                              500,
                              500},
             date}};
        const auto f =
            BuildFrame(sim::StoredRecordCode(rec.Data.Values), sim::EncodeStoredRecord(rec));
        r = FromRecord(f[1], f.data(), static_cast<int>(f.size()), 1 + round % 100, 5);
    } else {
        const sim::CvtResult v{2,     0.4f, 0.0063f, 0.0315f, 500, 500, 10 * drift(random),
                               0.08f, 50,   0.1f};
        const auto f = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
        r = FromTest(f.data(), static_cast<int>(f.size()), PanelOf(4, 1), nullptr, 5);
    }
    r.Taken.Specimen = SpecimenName(specimen);
    r.Taken.Temperature = 15 + specimen % 20;
    r.Taken.Humidity = 40 + specimen % 30;
    return r;
}

} // namespace dielmon::bench
