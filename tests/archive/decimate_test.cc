// The texts and rules of an archive taken as one series: intervals named
// by their nominal values, durations, grids scaled by a factor, and the
// decimation of values with missing samples.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "decimate.h"
#include "format.h"
#include "grid.h"

namespace {

using namespace zulu::archive;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

float f(double d) { return zulu::format::narrow_to_float(d); }

TEST(SeriesTexts, IntervalsAndDurationsByTheirNominalValues) {
    const struct {
        float stored;
        const char *text;
    } intervals[] = {
        {f(0.02), "0.02 s, 50 Hz"}, {f(0.01), "0.01 s, 100 Hz"}, {f(1.0 / 3), "1/3 s, 3 Hz"},
        {60, "60 s"},               {f(0.3), "0.3 s"},            {2.5, "2.5 s"},
        {0, "0 s"},                 {-10, "-10 s"},               {NAN, "nan s"},
        {1, "1 s, 1 Hz"},           {f(0.001), "0.001 s, 1000 Hz"},
    };
    for (const auto &c : intervals) EXPECT_EQ(interval_text(c.stored), c.text);
    const struct {
        std::int64_t ns;
        const char *text;
    } durations[] = {{3000000, "3 ms"}, {2500, "2.5 us"}, {999, "999 ns"}, {1234567891, "1.234567891 s"},
                     {-3000000, "-3 ms"}, {0, "0 ns"}, {INT64_MIN, "-9223372036.854775808 s"}};
    for (const auto &c : durations) EXPECT_EQ(duration_text(c.ns), c.text);
    const struct {
        const char *text;
        std::optional<double> seconds;
    } read[] = {{"5ms", 0.005}, {" 5 ms ", 0.005}, {"0.005", 0.005}, {"2s", 2},   {"3us", 3e-6}, {"7ns", 7e-9},
                {"0", 0},       {"-1ms", {}},      {"ms", {}},       {"", {}},    {"nan", {}},   {"1e999", {}},
                {"5 m", {}},    {"5msms", {}}};
    for (const auto &c : read) {
        const auto got = read_duration(c.text);
        ASSERT_EQ(got.has_value(), c.seconds.has_value()) << c.text;
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.seconds) << c.text;
        }
    }
}

TEST(SeriesTexts, GridsScaledByAFactorKeepTheirTimesExactly) {
    const struct {
        double interval;
        std::int64_t factor;
        std::optional<float> scaled;
    } cases[] = {
        {0.01, 10, f(0.1)},  {0.01, 3, f(0.03)},  {0.01, 100, 1},     {1.0 / 3, 3, 1},     {1.0 / 3, 7, {}},
        {60, 60, 3600},      {0.3, 3, f(0.9)},    {0.02, 50, 1},      {0.01, 0, {}},       {0.01, -2, {}},
        {0.01, INT64_MAX, {}}, {1e38, 10, {}},
    };
    for (const auto &c : cases) {
        const Grid g(1435017600, f(c.interval), 1000);
        EXPECT_EQ(g.scaled_interval(c.factor), c.scaled) << c.interval << " x " << c.factor;
        if (!c.scaled) continue;
        // Sample j of the scaled grid lies at the time of sample j * factor.
        const Grid out(g.begin(), *c.scaled, 10);
        for (const std::int64_t j : {1, 7, 1000000})
            EXPECT_EQ(out.stamp(j, kNanoDigits), g.stamp(j * c.factor, kNanoDigits)) << c.interval << " x " << c.factor;
    }
    EXPECT_FALSE(Grid(0, -1, 5).scaled_interval(2));
    EXPECT_FALSE(Grid(0, 0, 5).scaled_interval(2));
}

// The positions of the NaNs among values.
std::vector<std::size_t> holes(const std::vector<double> &v) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (std::isnan(v[i])) at.push_back(i);
    return at;
}

TEST(Decimation, BlockStatisticsOfUsableSamples) {
    const std::vector<double> v{1, 2, kNaN, 4, kNaN, kNaN, 7, 8, 9, 10, 11};
    const struct {
        Reduction method;
        bool strict;
        std::vector<double> out;  // NaN for missing
    } cases[] = {
        {Reduction::kMean, false, {1.5, 4, kNaN, 7.5, 9.5, 11}},
        {Reduction::kMean, true, {1.5, kNaN, kNaN, 7.5, 9.5, 11}},
        {Reduction::kMin, false, {1, 4, kNaN, 7, 9, 11}},
        {Reduction::kMax, false, {2, 4, kNaN, 8, 10, 11}},
        {Reduction::kMax, true, {2, kNaN, kNaN, 8, 10, 11}},
    };
    for (const auto &c : cases) {
        const std::vector<double> got = decimate_values(v.data(), static_cast<std::int64_t>(v.size()), Decimator(2, c.method, c.strict));
        ASSERT_EQ(got.size(), c.out.size());
        for (std::size_t j = 0; j < got.size(); ++j) {
            if (std::isnan(c.out[j])) {
                EXPECT_TRUE(std::isnan(got[j])) << j;
            } else {
                EXPECT_EQ(got[j], c.out[j]) << j;
            }
        }
    }
    // A block with no usable sample is missing; a factor past the data one block.
    EXPECT_EQ(holes(decimate_values(v.data(), 11, Decimator(3, Reduction::kMean, false))), std::vector<std::size_t>{});
    EXPECT_EQ(holes(decimate_values(v.data() + 4, 2, Decimator(2, Reduction::kMin, false))), std::vector<std::size_t>{0});
    EXPECT_EQ(decimate_values(v.data(), 11, Decimator(INT64_MAX, Reduction::kMax, false)), std::vector<double>{11});
}

// Block statistics of samples as stored, by the quick paths (blocks side by
// side, vector sums, the vector scan for missing samples) and the careful
// one, against the plain definition: whole-number samples, so that every
// sum is exact in any order.
template <class T>
void check_block_statistics(T unusable) {
    constexpr std::int64_t kCount = 70000;  // more than one read of the reducer
    std::vector<T> v(kCount);
    for (std::int64_t i = 0; i < kCount; ++i) v[i] = static_cast<T>((i * 7919) % 201 - 100);
    // The first read holds no missing sample, the second two.
    for (const std::int64_t at : {std::int64_t{65539}, kCount - 1}) v[at] = unusable;
    for (const std::int64_t factor : {3, 8, 10, 16, 100, 65537})
        for (const Reduction m : {Reduction::kMean, Reduction::kMin, Reduction::kMax}) {
            std::vector<double> got;
            Decimator(factor, m, false)
                .reduce<T>(
                    kCount, unusable,
                    [&](std::int64_t first, std::int64_t n, T *to) { std::copy_n(v.data() + first, n, to); },
                    [&](const double *out, std::int64_t n) { got.insert(got.end(), out, out + n); });
            ASSERT_EQ(got.size(), static_cast<std::size_t>((kCount + factor - 1) / factor)) << factor;
            for (std::size_t j = 0; j < got.size(); ++j) {
                double sum = 0, least = INFINITY, most = -INFINITY;
                std::int64_t usable = 0;
                for (std::int64_t i = j * factor; i < std::min<std::int64_t>((j + 1) * factor, kCount); ++i) {
                    if (zulu::format::missing(v[i], unusable)) continue;
                    const auto x = static_cast<double>(v[i]);
                    sum += x, least = std::min(least, x), most = std::max(most, x), ++usable;
                }
                if (usable == 0) {
                    ASSERT_TRUE(std::isnan(got[j])) << "factor " << factor << ", block " << j;
                    continue;
                }
                const double want = m == Reduction::kMean ? sum / static_cast<double>(usable)
                                    : m == Reduction::kMin ? least
                                                           : most;
                ASSERT_EQ(got[j], want) << "factor " << factor << ", block " << j << ", method " << static_cast<int>(m);
            }
        }
}

TEST(Decimation, BlockStatisticsOfStoredSamplesByEveryPath) {
    check_block_statistics<std::int16_t>(-32768);
    check_block_statistics<std::int32_t>(INT32_MIN);
    check_block_statistics<float>(std::numeric_limits<float>::quiet_NaN());
    check_block_statistics<double>(-1e30);
}

// Reads run ahead of the reduction on another thread: a read that fails
// is thrown where the reduction reaches it, after the blocks before it.
TEST(Decimation, AFailedReadStopsTheReductionWhereItFell) {
    constexpr std::int64_t kPerRead = std::int64_t{1} << 20, kFactor = 1024;  // 4 MiB of floats a read
    std::int64_t written = 0;
    try {
        Decimator(kFactor, Reduction::kMean, false)
            .reduce<float>(
                3 * kPerRead, NAN,
                [](std::int64_t first, std::int64_t n, float *to) {
                    if (first >= 2 * kPerRead) throw Failure("the third read failed");
                    std::fill_n(to, n, 1.0f);
                },
                [&](const double *out, std::int64_t n) {
                    for (std::int64_t k = 0; k < n; ++k) ASSERT_EQ(out[k], 1.0);
                    written += n;
                });
        ADD_FAILURE() << "a failed read went unreported";
    } catch (const Failure &failure) {
        EXPECT_STREQ(failure.what(), "the third read failed");
    }
    EXPECT_EQ(written, 2 * kPerRead / kFactor);
}

TEST(Decimation, TheFilterMissesWhatItsWindowCannotSee) {
    constexpr std::int64_t kFactor = 3, kHalf = 10 * kFactor;
    std::vector<double> v(600, 1.0);
    v[300] = kNaN;
    const std::vector<double> out = decimate_values(v.data(), 600, Decimator(kFactor, Reduction::kFilter, false));
    ASSERT_EQ(out.size(), 200u);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const auto at = static_cast<std::int64_t>(j) * kFactor;
        const bool blind = at < kHalf || at + kHalf >= 600 || std::llabs(at - 300) <= kHalf;
        EXPECT_EQ(std::isnan(out[j]), blind) << j;
        if (!blind) {
            EXPECT_NEAR(out[j], 1.0, 1e-12) << j;  // the taps sum to 1
        }
    }
    try {
        decimate_values(v.data(), 600, Decimator(kFactor, Reduction::kFilter, true));
        ADD_FAILURE() << "a strict filter took a missing sample";
    } catch (const MissingInput &missing) {
        EXPECT_EQ(missing.index(), 300);
    }
    EXPECT_TRUE(decimate_values(v.data(), 0, Decimator(kFactor, Reduction::kFilter, true)).empty());
}

TEST(Decimation, RefusesFactorsItCannotTake) {
    for (const std::int64_t factor : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-5}, INT64_MIN})
        for (const Reduction m : {Reduction::kFilter, Reduction::kMean})
            EXPECT_THROW(Decimator(factor, m, false), Failure) << factor;
    EXPECT_THROW(Decimator(kMostFilterFactor + 1, Reduction::kFilter, false), Failure);
    EXPECT_NO_THROW(Decimator(INT64_MAX, Reduction::kMean, false));
    EXPECT_EQ(Decimator(kMostFilterFactor, Reduction::kFilter, false).taps().size(),
              static_cast<std::size_t>(20 * kMostFilterFactor + 1));
    EXPECT_THROW(decimated_grid(Grid(0, f(1.0 / 3), 10), 7), Failure);
    EXPECT_EQ(decimated_grid(Grid(0, f(0.01), 10), 3).count(), 4);
}

}  // namespace
