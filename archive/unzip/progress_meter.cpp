#include "archive/unzip/progress_meter.h"

#include <algorithm>

namespace dvl::unzip {

namespace {

uint8_t Percent(uint64_t done, uint64_t total) {
    return uint8_t(done * 100 / total);
}

} // namespace

void ProgressMeter::Start(uint8_t step, Reporter reporter) {
    step_ = step;
    last_ = 0;
    reporter_ = std::move(reporter);
}

void ProgressMeter::Visit(uint8_t percent, bool reportOnChange) {
    bool changed = percent != last_;
    last_ = percent;
    if (changed && (reportOnChange || percent % step_ == 0) && reporter_) reporter_(percent);
}

void ProgressMeter::Evaluate(uint64_t done, uint64_t total, bool reportOnChange) {
    if (done == 0 || total == 0) return;
    if (done >= total) {
        last_ = 100;
        if (reporter_) reporter_(100);
        return;
    }
    Visit(Percent(done, total), reportOnChange);
}

void ProgressMeter::Sweep(uint64_t from, uint64_t to, uint64_t total) {
    if (total == 0) return;
    from = std::max<uint64_t>(from, 1); // done = 0 reports nothing
    to = std::min(to, total);           // done = total is not part of a sweep
    if (from >= to) return;
    // The percentage is monotonic in done, so each value it takes within the
    // range is visited once, in order; a value is taken when the first done
    // that reaches it still rounds down to it.
    const uint64_t last = to - 1;
    for (unsigned p = Percent(from, total); p <= Percent(last, total); ++p) {
        uint64_t first = std::max(from, (uint64_t(p) * total + 99) / 100);
        if (first <= last && Percent(first, total) == p) Visit(uint8_t(p), false);
    }
}

} // namespace dvl::unzip
