#include "archive/unzip/progress_meter.h"

#include <gtest/gtest.h>

#include <vector>

namespace dvl::unzip {
namespace {

// A sweep over a range reports exactly what one evaluation per done value
// reports, however the ranges are cut.
TEST(ProgressMeter, SweepEqualsEvaluatingEveryByte) {
    uint32_t x = 99;
    auto next = [&] { return x = x * 1664525u + 1013904223u; };
    for (int round = 0; round < 300; ++round) {
        const uint64_t total = 1 + next() % (round < 150 ? 300 : 100000);
        const uint8_t step = uint8_t(5 * (1 + next() % 5));
        std::vector<int> bytewise, swept;
        ProgressMeter a, b;
        a.Start(step, [&](uint8_t p) { bytewise.push_back(p); });
        b.Start(step, [&](uint8_t p) { swept.push_back(p); });
        // A first entry ending at some percentage, so the carried value matters.
        const uint64_t end = next() % (total + 1);
        for (uint64_t d = 0; d < end; ++d)
            a.Evaluate(d, total, false);
        uint64_t at = 0;
        while (at < end) {
            uint64_t to = std::min<uint64_t>(end, at + 1 + next() % (total / 3 + 1));
            b.Sweep(at, to, total);
            at = to;
        }
        a.Evaluate(end, total, false);
        b.Evaluate(end, total, false);
        ASSERT_EQ(bytewise, swept) << "total " << total << " step " << int(step);
    }
}

TEST(ProgressMeter, RulesOfOneEvaluation) {
    std::vector<int> seen;
    ProgressMeter m;
    m.Start(25, [&](uint8_t p) { seen.push_back(p); });
    m.Evaluate(0, 100, true);   // nothing done: nothing
    m.Evaluate(5, 0, true);     // nothing to do: nothing
    m.Evaluate(10, 100, false); // not a multiple of the step
    m.Evaluate(25, 100, false);
    m.Evaluate(25, 100, false); // unchanged
    m.Evaluate(30, 100, true);  // any change when asked for
    m.Evaluate(100, 100, false);
    m.Evaluate(100, 100, false); // 100 each time it is reached
    EXPECT_EQ(seen, (std::vector<int>{25, 30, 100, 100}));
}

} // namespace
} // namespace dvl::unzip
