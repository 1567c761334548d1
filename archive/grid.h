// The time grid of a bottle as every job outside the C interface sees it:
// the time of sample i, the sample of a time, the end time, and whether
// two bottles share one grid.
//
// The header holds the interval as a float32, which for most rates is not
// the interval the recorder meant: float32(0.01) is 0.0099999998 s, and a
// grid stepped by it drifts 1.93 ms a day from the recorder's clock.  The
// grid therefore steps by the nominal interval, recovered from the float:
//  - where 1 / interval rounds to a whole number of hertz whose period
//    rounds back to the stored float, the interval is exactly 1 / rate
//    (100 Hz: 0.01 s; 3 Hz: 1/3 s);
//  - otherwise it is the shortest decimal that rounds to the stored float
//    (60 s, 2.5 s, 0.3 s).
// An interval of 0 steps 1 s, as the C interface maps times to samples.
//
// One tolerance serves every lookup: a time t names the sample whose time
// lies in [t - h, t + h), with h half a millisecond, or a quarter of the
// interval where that is less.  Times printed to the millisecond (rounded,
// halves upward) thus find the sample they label, and so does any time
// nearer to a sample than that.  A start time selects the first sample at
// or after it, an end time the last at or before it, within the same
// tolerance; and two bottles share a grid when their intervals are one and
// their begin times a whole number of intervals apart, within it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "bot.h"

namespace zulu::archive {

// The interval the recorder meant, from the float the header holds; 1 for
// an interval of 0.  Not finite or negative intervals are kept as they are.
double nominal_interval(float stored);

// The whole rate in hertz whose period the stored float holds, or 0.
std::int64_t whole_rate(float stored);

class Grid {
public:
    // Half a millisecond: half the smallest step of the printed times.
    static constexpr double kLabelTolerance = 0.5e-3;

    Grid() = default;
    Grid(double beg, float stored_interval, std::int64_t count);
    static Grid of(const bottle_hdr *b);

    double begin() const { return beg_; }
    double step() const { return step_; }
    float stored_interval() const { return stored_; }
    std::int64_t count() const { return count_; }
    // Whether the begin time and interval are finite and the interval not
    // 0: only then do times and samples correspond.  A negative interval
    // makes a backward grid, whose times fall as the samples go on.
    bool usable() const;
    bool forward() const { return usable() && stored_ > 0; }
    // What keeps the grid from being forward, as a sentence ("the interval
    // is 0"), or empty.
    std::string problem() const;

    // The time of sample i: beg + i / rate, or beg + i * step.
    double time(std::int64_t i) const;
    // The time of the last sample (beg - step for no samples).
    double end_time() const { return time(count_ - 1); }
    // The lookup tolerance h.
    double tolerance() const;

    // The lookups of single times are for forward grids (nothing on others).
    // The sample that the time t names, if t lies within the tolerance of
    // one (of any index, stored or not).
    std::optional<std::int64_t> index_at(double t) const;
    // The first index whose time is at or after t, and the last at or
    // before t, within the tolerance (any index, stored or not); clamped
    // to about +-2^62 for times far off the grid.  Nothing for a NaN.
    std::optional<std::int64_t> first_at_or_after(double t) const;
    std::optional<std::int64_t> last_at_or_before(double t) const;
    // The stored samples [first, end) from `from` to `to`, both included (a
    // missing bound does not limit); with `to_included` false, the samples
    // before `to`.  An empty range lies at the place where such samples
    // would be.
    std::pair<std::int64_t, std::int64_t> select(std::optional<double> from, std::optional<double> to,
                                                 bool to_included = true) const;

    // The number of steps from this grid's sample 0 to `other`'s, when the
    // two share a forward grid: the same nominal interval, and begin times a
    // whole number of steps apart within the tolerance.
    std::optional<std::int64_t> offset_of(const Grid &other) const;
    // How far `other`'s begin time lies off this grid, in steps (0 to 0.5).
    double misalignment(const Grid &other) const;

    // (t - beg) in steps, as a double.
    double steps_to(double t) const;

private:
    // The grid of the negated times: forward where this one runs backward.
    Grid mirrored() const;

    double beg_ = 0;
    float stored_ = 1;
    double step_ = 1;
    std::int64_t rate_ = 0;  // the whole rate in hertz, or 0
    std::int64_t count_ = 0;
};

}  // namespace zulu::archive
