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
// The time of sample i is exact: the begin time taken as the shortest
// decimal that reads back as the stored double (1435017600.123, not the
// double's 1435017600.12299990654), plus i nominal intervals, in exact
// arithmetic.  stamp() gives it in whole seconds, milliseconds,
// microseconds or nanoseconds, rounded once to the unit (halves upward);
// every job and every printed or returned time takes its times from there,
// so that a 100 Hz series has its samples exactly 10 ms apart in any unit.
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
#include <string_view>
#include <utility>

#include "bot.h"

namespace zulu::archive {

// The units of stamps: whole units of 10^-digits s.
inline constexpr int kSecondDigits = 0;
inline constexpr int kMilliDigits = 3;
inline constexpr int kMicroDigits = 6;
inline constexpr int kNanoDigits = 9;

// A number as a decimal: mantissa * 10^exponent.  Decimals of doubles
// have at most 17 digits, of floats 9.
struct Decimal {
    std::int64_t mantissa = 0;
    int exponent = 0;
};
// The shortest decimals that read back as d and as f (both finite).
Decimal shortest_decimal(double d);
Decimal shortest_decimal(float f);

// The exact time of sample i of a grid in whole units of 10^-digits s:
// begin + i * step, each exact, with the sum rounded once (halves upward).
// Held as whole units, a fraction over a power of ten, and a step of whole
// units plus a fraction over its own denominator (the rate, or a power of
// ten), all in 64-bit integers, so that nothing is rounded on the way and
// every host computes the same stamps.  Exact for begin times and
// intervals with at most nine decimal places below the unit (any double
// from 1 s on has at most seven below the second); finer places are
// rounded to nine.  Sample indices lie within +-2^62.
class UnitClock {
public:
    UnitClock() = default;
    UnitClock(Decimal begin, std::int64_t rate, Decimal step, int digits);

    // The stamp of sample i; nothing where it falls outside int64.
    std::optional<std::int64_t> at(std::int64_t i) const;
    // The stamps of samples [first, first + n); false where one falls
    // outside int64.
    bool fill(std::int64_t first, std::int64_t n, std::int64_t *out) const;
    // The time of sample i in units, as the nearest long double.
    long double approximate(std::int64_t i) const;
    // Whether the clock holds its begin time at all (not beyond int64 units).
    bool valid() const { return valid_; }
    // The interval in whole units, where it is one (and fits int64).
    std::optional<std::int64_t> whole_step() const {
        if (!valid_ || huge_step_ || step_rem_ != 0 || rounded_) return std::nullopt;
        return step_whole_;
    }
    // Whether every stamp is the exact time, with nothing rounded: the
    // begin time and the interval are whole numbers of units.
    bool exact() const { return valid_ && frac_ == 0 && step_rem_ == 0 && !rounded_; }

private:
    struct Parts {
        bool ok;            // whole fits int64
        std::int64_t whole; // whole units, before rounding
        std::int64_t rem;   // the step fractions summed, over q_den_
    };
    Parts parts(std::int64_t i) const;
    // 0, 1 or 2: what rounding adds to the whole units for a remainder.
    int rounding(std::int64_t rem) const { return (rem >= round_at_[0]) + (rem >= round_at_[1]); }

    bool valid_ = false;
    bool rounded_ = false;           // places beyond nine were rounded off
    std::int64_t whole_ = 0;         // of the begin time
    std::int64_t frac_ = 0;          // the begin time's fraction, over frac_den_
    std::int64_t frac_den_ = 1;
    std::int64_t step_whole_ = 0;    // whole units per step
    bool huge_step_ = false;         // more than any int64: only sample 0 has a stamp
    std::int64_t step_rem_ = 0;      // and the step's fraction, over q_den_
    std::int64_t q_den_ = 1;
    std::int64_t round_at_[2] = {};  // remainders from which rounding adds 1, and 2
};

// The interval the recorder meant, from the float the header holds; 1 for
// an interval of 0.  Not finite or negative intervals are kept as they are.
double nominal_interval(float stored);

// The whole rate in hertz whose period the stored float holds, or 0.
std::int64_t whole_rate(float stored);

// The nominal interval of a stored float as messages name it, never the
// float itself: "0.01 s, 100 Hz", "1/3 s, 3 Hz", "60 s", "0 s".
std::string interval_text(float stored);

// A span of whole nanoseconds as messages name it, in the largest of s,
// ms, us and ns that is not more than it, exactly: "3 ms", "2.5 us".
std::string duration_text(std::int64_t ns);

// A duration as options give it: a number of seconds, or a number and one
// of the units s, ms, us and ns ("0.005", "5ms", "5 ms"); nothing for any
// other text, a negative number or one that is not finite.
std::optional<double> read_duration(std::string_view text);

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

    // The time of sample i: the nearest double to its exact nominal time.
    double time(std::int64_t i) const;
    // The exact time of sample i in whole units of 10^-digits s (digits 0
    // to 9), rounded once (halves upward); nothing on an unusable grid or
    // outside the int64 range of the unit.
    std::optional<std::int64_t> stamp(std::int64_t i, int digits) const;
    // The stamps of the n samples from `first` on; false (out undefined)
    // where the grid is unusable or one falls outside int64.
    bool stamps(std::int64_t first, std::int64_t n, int digits, std::int64_t *out) const;
    // The clock of stamps in a unit, for callers that take many.
    UnitClock clock(int digits) const;
    // On a forward grid, exactly by stamps in units of 10^-digits s: the
    // last index whose stamp is at or before t, and the first whose stamp
    // is at or after it (any index, stored or not; nothing where no stamp
    // of the unit is).
    std::optional<std::int64_t> last_stamp_at_or_before(std::int64_t t, int digits) const;
    std::optional<std::int64_t> first_stamp_at_or_after(std::int64_t t, int digits) const;
    // Whether `other` keeps this grid's clock exactly from sample `offset`
    // on: one interval, and its begin time exactly `offset` nominal
    // intervals after this one's (no tolerance), so that its samples' times
    // are this grid's times of samples offset, offset + 1, ...
    bool continues(const Grid &other, std::int64_t offset) const;
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
    // The index of the sample nearest to the time t (the later of two
    // equally near), on a forward grid; nothing beyond +-2^52 steps.
    std::optional<std::int64_t> nearest_index(double t) const;

    // The stored interval whose nominal interval is exactly `factor` times
    // this grid's, so that sample j of a grid stepped by it lies at the time
    // of sample j * factor of this one; nothing where no float is read so
    // (a rate that does not divide, as 3 Hz by 7) or on a grid that is not
    // forward.
    std::optional<float> scaled_interval(std::int64_t factor) const;

    // (t - beg) in steps, as a double.
    double steps_to(double t) const;

private:
    // The grid of the negated times: forward where this one runs backward.
    Grid mirrored() const;

    double beg_ = 0;
    Decimal begin_decimal_{};
    Decimal step_decimal_{1, 0};  // the nominal interval, where rate_ is 0
    UnitClock seconds_{};         // for time()
    float stored_ = 1;
    double step_ = 1;
    std::int64_t rate_ = 0;  // the whole rate in hertz, or 0
    std::int64_t count_ = 0;
};

// The time of sample i as the jobs print it: ISO 8601 in GMT with
// milliseconds, from its stamp in milliseconds ("@SECONDS" beyond them).
std::string sample_time_text(const Grid &grid, std::int64_t i);

}  // namespace zulu::archive
