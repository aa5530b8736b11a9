// The progress rule of extraction, evaluated for ranges of input bytes at a
// time but reporting exactly what an evaluation before every single byte
// would report.
#pragma once

#include <cstdint>
#include <functional>

namespace dvl::unzip {

class ProgressMeter {
public:
    using Reporter = std::function<void(uint8_t percent)>;

    // step: 5, 10, 15, 20 or 25 percent. The last percentage carries over
    // from entry to entry of a run.
    void Start(uint8_t step, Reporter reporter);

    // One evaluation: done of total compressed bytes consumed. Reports 100
    // each time done reaches total; otherwise the rounded-down percentage
    // when it differs from the last one and either reportOnChange is set or
    // it is a multiple of the step.
    void Evaluate(uint64_t done, uint64_t total, bool reportOnChange);

    // The evaluations (report-on-change off) of every done value in
    // [from, to), as made before each byte fetched from an entry's data.
    void Sweep(uint64_t from, uint64_t to, uint64_t total);

private:
    void Visit(uint8_t percent, bool reportOnChange);

    uint8_t step_ = 10;
    uint8_t last_ = 0;
    Reporter reporter_;
};

} // namespace dvl::unzip
