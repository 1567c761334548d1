// Decimation: a series brought to a rate a whole factor lower, on the grid
// of every factor-th sample.
//
// The filter ("fir") is the linear-phase low-pass of scipy's and ObsPy's
// decimate: 20 * factor + 1 taps of a Hamming-windowed sinc whose cutoff is
// the new Nyquist frequency (scipy.signal.firwin(20 * factor + 1,
// 1 / factor, window="hamming")), summing to 1.  It is applied centred on
// each kept sample, so its delay of 10 * factor samples is compensated:
// output j is the filter at input j * factor, and lies at its time.  Its
// gain is within 0.03 dB of 1 up to 0.8 of the new Nyquist frequency, 0.5
// (-6 dB) at it, and at most -52 dB from 1.2 times it on.  An output whose
// window touches a missing input, or reaches past either end of the
// series, is missing.
//
// The block statistics ("mean", "min", "max") take output j over the
// inputs j * factor to j * factor + factor - 1 (the last block may be
// short), without filtering: missing where the block holds no usable
// sample (or, strict, any missing one).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "files.h"
#include "series.h"

namespace zulu::archive {

enum class Reduction { kFilter, kMean, kMin, kMax };

// By the names the command and Python use: "fir", "mean", "min", "max".
std::optional<Reduction> reduction_named(std::string_view name);

// The most factor the filter takes: its taps and window grow with it.
inline constexpr std::int64_t kMostFilterFactor = 100000;

// The sample type of the output: the filter and the mean give float for
// int and float samples and double for long and double ones; min and max
// keep the type (and the unusable value) of the input.
int decimated_type(int type, Reduction method);

// A missing input that a strict decimation refuses: its index.
class MissingInput : public Failure {
public:
    explicit MissingInput(std::int64_t index) : Failure("a missing sample"), index_(index) {}
    std::int64_t index() const { return index_; }
    // The message for a missing sample found at `where` (a time, or a
    // position in an array).
    static std::string message(const std::string &where);

private:
    std::int64_t index_;
};

class Decimator {
public:
    // A Failure (kUsage) for a factor below 2, or above kMostFilterFactor
    // with the filter.  `strict`: with the filter, a missing input that a
    // window touches is refused (MissingInput); with the statistics, a
    // block that holds any missing sample is missing.
    Decimator(std::int64_t factor, Reduction method, bool strict);

    std::int64_t factor() const { return factor_; }
    Reduction method() const { return method_; }
    // The outputs of `count` inputs: count / factor, rounded up.
    std::int64_t outputs(std::int64_t count) const;
    const std::vector<double> &taps() const { return taps_; }

    // Reads samples [first, first + n) of the input into out: NaN where one
    // is missing and outside the input.
    using Reader = std::function<void(std::int64_t first, std::int64_t n, double *out)>;
    // Takes the next n outputs, NaN where missing.
    using Writer = std::function<void(const double *values, std::int64_t n)>;
    // Computes every output of an input of `count` samples, in order, a
    // block at a time: the memory it takes grows with the factor of the
    // filter only.
    void run(std::int64_t count, const Reader &read, const Writer &write) const;

    // Reads samples [first, first + n) as stored, of type T (int16_t,
    // int32_t, float or double): the unusable value or NaN where missing.
    template <class T>
    using StoredReader = std::function<void(std::int64_t first, std::int64_t n, T *out)>;
    // The block statistics (not the filter) of samples as stored, as run()
    // computes them from values.
    template <class T>
    void reduce(std::int64_t count, T unusable, const StoredReader<T> &read, const Writer &write) const;

private:
    void filter(std::int64_t count, const Reader &read, const Writer &write) const;

    std::int64_t factor_;
    Reduction method_;
    bool strict_;
    std::vector<double> taps_;  // the filter's, 20 * factor + 1
};

// The grid of every factor-th sample of a forward grid, from its sample 0:
// the interval factor times the nominal one, exactly, or a Failure where
// no float of a header holds that (3 Hz by 7).
Grid decimated_grid(const Grid &grid, std::int64_t factor);

// Decimates n values (NaN where missing) in memory: Python's arrays.
std::vector<double> decimate_values(const double *values, std::int64_t n, const Decimator &decimator);

struct DecimateRequest {
    std::int64_t factor = 0;
    Reduction method = Reduction::kFilter;
    bool strict = false;
    JoinRules rules;  // how several inputs join
    Output output;
};

// Writes the series that `srcs` make (one bottle as it is, several joined
// as Series::of_files joins them), decimated, to the new bottle `dst`:
// sample j at the time of input sample j * factor, the interval factor
// times the nominal one (refused where no float holds that exactly), the
// type decimated_type gives, missing outputs as its unusable value (a
// result equal to that value is stored as the nearest other one).
JobReport decimate(const std::vector<std::string> &srcs, const std::string &dst, const DecimateRequest &request);

}  // namespace zulu::archive
