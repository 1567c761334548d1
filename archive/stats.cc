#include "stats.h"

#include <limits>
#include <type_traits>

#include "samples.h"

namespace zulu::archive {
namespace {

// How many of the kChunk values at v are NaN (none for integers).
template <class T>
int count_nan(const T *v) {
    if constexpr (std::is_integral_v<T>) {
        return 0;
    } else {
        int n = 0;
        for (std::size_t j = 0; j < kChunk; ++j) n += v[j] != v[j];
        return n;
    }
}

// The sum, least and greatest value of the usable samples.  Runs of
// kChunk samples without an unusable one or a NaN go through kChunk lanes
// that the compiler turns into vector instructions; the others sample by
// sample.  Integers sum exactly; floats sum as doubles; doubles sum scaled
// down by 2^64, so that no sum of a bottle's worth of them overflows (only
// magnitudes below 1e-288 lose digits to the scaling).
template <class T>
class Accumulator {
public:
    static constexpr bool kFloating = std::is_floating_point_v<T>;
    using Sum = std::conditional_t<kFloating, double, std::int64_t>;
    static constexpr Sum kScale = std::is_same_v<T, double> ? 0x1p-64 : 1;
    static constexpr T kHigh = kFloating ? std::numeric_limits<T>::infinity() : std::numeric_limits<T>::max();
    static constexpr T kLow = kFloating ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::lowest();

    explicit Accumulator(T unusable) : unusable_(unusable) {}

    // Adds the n samples at v.
    void add_block(const T *v, std::size_t n) {
        Sum sum[kChunk] = {};
        T least[kChunk], greatest[kChunk];
        for (std::size_t j = 0; j < kChunk; ++j) {
            least[j] = kHigh;
            greatest[j] = kLow;
        }
        std::size_t k = 0;
        for (; k + kChunk <= n; k += kChunk) {
            if (count_equal(v + k, unusable_) == 0 && count_nan(v + k) == 0) {
                for (std::size_t j = 0; j < kChunk; ++j) {
                    sum[j] += static_cast<Sum>(v[k + j]) * kScale;
                    least[j] = v[k + j] < least[j] ? v[k + j] : least[j];
                    greatest[j] = v[k + j] > greatest[j] ? v[k + j] : greatest[j];
                }
                usable_ += static_cast<std::int64_t>(kChunk);
                continue;
            }
            for (std::size_t j = k; j < k + kChunk; ++j) add_one(v[j]);
        }
        for (; k < n; ++k) add_one(v[k]);
        for (std::size_t j = 0; j < kChunk; ++j) {
            sum_ += static_cast<long double>(sum[j]);
            least_ = least[j] < least_ ? least[j] : least_;
            greatest_ = greatest[j] > greatest_ ? greatest[j] : greatest_;
        }
    }

    void finish(Stats &stats) const {
        stats.usable = usable_;
        stats.unusable = unusable_count_ + nan_;
        stats.nan = nan_;
        if (usable_ == 0) return;
        stats.mean = static_cast<double>(sum_ / static_cast<long double>(usable_) / kScale);
        stats.min = static_cast<double>(least_);
        stats.max = static_cast<double>(greatest_);
    }

private:
    void add_one(T x) {
        if (x == unusable_) {
            ++unusable_count_;
        } else if (x != x) {
            ++nan_;
        } else {
            ++usable_;
            sum_ += static_cast<long double>(static_cast<Sum>(x) * kScale);
            least_ = x < least_ ? x : least_;
            greatest_ = x > greatest_ ? x : greatest_;
        }
    }

    T unusable_;
    std::int64_t usable_ = 0, unusable_count_ = 0, nan_ = 0;
    long double sum_ = 0;
    T least_ = kHigh, greatest_ = kLow;
};

template <class T>
Stats stats_of_type(SeriesReader &reader) {
    Stats stats;
    stats.type = reader.series().type();
    stats.count = reader.series().count();
    Accumulator<T> sums(unusable_as<T>(reader.series().unusable()));
    read_samples<T>(reader, 0, stats.count, [&](std::int64_t, const T *values, std::size_t n) { sums.add_block(values, n); });
    sums.finish(stats);
    return stats;
}

std::string sample_text(int type, const std::optional<double> &v) {
    if (!v) return "";
    return with_sample_type(type, [&](auto tag) { return value_text(static_cast<decltype(tag)>(*v)); });
}

}  // namespace

Stats stats_of(SeriesReader &reader) {
    return with_sample_type(reader.series().type(), [&](auto tag) { return stats_of_type<decltype(tag)>(reader); });
}

std::string Stats::min_text() const { return sample_text(type, min); }
std::string Stats::max_text() const { return sample_text(type, max); }
std::string Stats::mean_text() const { return mean ? value_text(*mean) : ""; }

}  // namespace zulu::archive
