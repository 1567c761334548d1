// The one time grid: nominal intervals from the stored floats, lookups
// within the stated tolerance, and bottles on one grid across days.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "format.h"
#include "grid.h"
#include "timetext.h"

namespace {

using Range = std::pair<std::int64_t, std::int64_t>;
using zulu::archive::Grid;
using zulu::archive::nominal_interval;

TEST(Grid, NominalIntervalsAreTheRecordersOwn) {
    const struct {
        double meant;
        double nominal;
    } cases[] = {
        {0.001, 0.001}, {0.01, 0.01}, {0.1, 0.1}, {1.0 / 3, 1.0 / 3}, {1.0 / 200, 0.005}, {1, 1},
        {60, 60},       {2.5, 2.5},   {0.3, 0.3}, {86400, 86400},     {0.25, 0.25},
    };
    for (const auto &c : cases)
        EXPECT_EQ(nominal_interval(zulu::format::narrow_to_float(c.meant)), c.nominal) << c.meant;
    EXPECT_EQ(nominal_interval(0), 1);  // as the C interface steps an interval of 0
}

TEST(Grid, UnusableGridsSayWhy) {
    EXPECT_EQ(Grid(0, 0, 5).problem(), "the interval is 0");
    EXPECT_EQ(Grid(NAN, 1, 5).problem(), "the begin time is not a finite number");
    EXPECT_EQ(Grid(0, INFINITY, 5).problem(), "the interval is not a finite number");
    EXPECT_FALSE(Grid(0, 0, 5).first_at_or_after(3));
    EXPECT_TRUE(Grid(0, 1, 5).problem().empty());
    // A backward grid selects by its falling times, and joins nothing.
    const Grid back(100, -10, 5);
    EXPECT_EQ(back.select(75, 95), Range(1, 3));
    EXPECT_EQ(back.select(75, 90, false), Range(2, 3));
    EXPECT_FALSE(back.offset_of(back));
    // A grid is at offset 0 of itself even where its step is below the
    // clock's resolution.
    const Grid tiny(2.04541015625, 6.12241312e-41f, 3);
    EXPECT_EQ(tiny.offset_of(tiny), 0);
}

// Every millisecond label of a sample finds that sample, and selections by
// labels keep exactly the samples labelled inside them.
TEST(Grid, PrintedLabelsFindTheirSamples) {
    const double midnight = 1435017600;
    for (const double meant : {0.001, 0.01, 0.1, 1.0 / 3, 60.0}) {
        const Grid g(midnight, zulu::format::narrow_to_float(meant), 100000);
        for (std::int64_t i = 0; i < g.count(); i += 997) {
            const double label = std::floor(g.time(i) * 1000 + 0.5) / 1000;
            ASSERT_EQ(g.index_at(label), i) << meant << " " << i;
            ASSERT_EQ(g.first_at_or_after(label), i);
            ASSERT_EQ(g.last_at_or_before(label), i);
            ASSERT_EQ(g.select(label, label), std::make_pair(i, i + 1));
        }
    }
}

TEST(Grid, BetweenSamplesStartsAfterAndEndsBefore) {
    const Grid g(0, 10, 5);
    EXPECT_FALSE(g.index_at(5));
    EXPECT_EQ(g.first_at_or_after(5), 1);
    EXPECT_EQ(g.last_at_or_before(5), 0);
    EXPECT_EQ(g.select(5, 25), Range(1, 3));
    EXPECT_EQ(g.select(-100, -50), Range(0, 0));
    EXPECT_EQ(g.select(100, 200), Range(5, 5));
    EXPECT_EQ(g.first_at_or_after(1e300), std::int64_t{1} << 62);
    EXPECT_FALSE(g.first_at_or_after(NAN));
}

// Ten days recorded one bottle a day from midnight lie on one grid, the
// first sample of each day exactly midnight, at every common rate.
TEST(Grid, ConsecutiveDaysShareOneGrid) {
    const double day0 = 1435017600;
    for (const double meant : {1.0 / 3, 1.0 / 20, 1.0 / 40, 0.01, 0.005, 0.001, 0.1, 2.5, 60.0}) {
        const float stored = zulu::format::narrow_to_float(meant);
        const auto per_day = static_cast<std::int64_t>(std::llround(86400 / meant));
        const Grid first(day0, stored, per_day);
        for (int day = 1; day < 10; ++day) {
            const Grid next(day0 + 86400.0 * day, stored, per_day);
            ASSERT_EQ(first.offset_of(next), per_day * day) << meant;
            EXPECT_EQ(first.time(per_day * day), day0 + 86400.0 * day) << meant;
        }
        EXPECT_FALSE(first.offset_of(Grid(day0 + meant * 0.3, stored, 1))) << meant;
    }
}

// Stamps are the exact nominal times rounded once: the begin time as the
// decimal the double was written from, then whole intervals.
TEST(Grid, StampsAreExactNominalTimes) {
    constexpr std::int64_t kBegin = 1435017600123;  // ms; no double holds 1435017600.123 exactly
    const double beg = 1435017600.123;
    struct Case {
        double meant;           // interval in seconds
        std::int64_t num, den;  // the same in ns, num / den exactly
    } cases[] = {{0.01, 10'000'000, 1}, {1.0 / 3, 1'000'000'000, 3}, {60, 60'000'000'000, 1}, {0.001, 1'000'000, 1},
                 {0.3, 300'000'000, 1}};
    for (const Case &c : cases) {
        const Grid g(beg, zulu::format::narrow_to_float(c.meant), 1000);
        const auto round = [](std::int64_t num, std::int64_t den) { return (2 * num + den) / (2 * den); };
        std::int64_t filled[1000];
        ASSERT_TRUE(g.stamps(0, 1000, zulu::archive::kNanoDigits, filled));
        for (std::int64_t i = 0; i < 1000; i += 7) {
            const std::int64_t ns = kBegin * 1'000'000 + round(i * c.num, c.den);
            ASSERT_EQ(g.stamp(i, zulu::archive::kNanoDigits), ns) << c.meant << " " << i;
            ASSERT_EQ(filled[i], ns);
            EXPECT_EQ(g.stamp(i, zulu::archive::kMilliDigits), kBegin + round(i * c.num, c.den * 1'000'000));
            EXPECT_EQ(g.stamp(i, zulu::archive::kSecondDigits), round(kBegin * 1'000'000 + i * c.num / c.den, 1'000'000'000))
                << c.meant << " " << i;
        }
    }
}

TEST(Grid, StampsRoundHalvesUpwardOnTheDecimal) {
    // As doubles, 1435017600.0005 lies below the half millisecond and -0.0005
    // above it; the decimals lie on it and round up.
    EXPECT_EQ(Grid(1435017600.0005, 1, 1).stamp(0, zulu::archive::kMilliDigits), 1435017600001);
    EXPECT_EQ(Grid(-0.0005, 1, 1).stamp(0, zulu::archive::kMilliDigits), 0);
    EXPECT_EQ(Grid(0.25, 0.5F, 3).stamp(2, zulu::archive::kSecondDigits), 1);  // 1.25 s
    EXPECT_EQ(Grid(0, 1.0F / 3, 3).stamp(-1, zulu::archive::kNanoDigits), -333'333'333);
    // Beyond int64 there is no stamp, and an unusable grid has none.
    EXPECT_FALSE(Grid(1e300, 1, 1).stamp(0, zulu::archive::kSecondDigits));
    EXPECT_FALSE(Grid(0, 3e38F, 2).stamp(1, zulu::archive::kNanoDigits));
    EXPECT_FALSE(Grid(0, 0, 2).stamp(0, zulu::archive::kNanoDigits));
    std::int64_t out[2];
    EXPECT_FALSE(Grid(9.3e9, 1, 2).stamps(0, 2, zulu::archive::kNanoDigits, out));
}

// A grid continues another exactly where its begin time is a whole number of
// nominal intervals later, with no tolerance.
TEST(Grid, ContinuesOnlyExactly) {
    const double day = 1435017600;
    for (const double meant : {0.01, 1.0 / 3, 0.3, 60.0}) {
        const float stored = zulu::format::narrow_to_float(meant);
        const auto per_day = static_cast<std::int64_t>(std::llround(86400 / meant));
        const Grid first(day, stored, per_day);
        EXPECT_TRUE(first.continues(Grid(day + 86400, stored, 1), per_day)) << meant;
        EXPECT_FALSE(first.continues(Grid(day + 86400, stored, 1), per_day + 1)) << meant;
        EXPECT_FALSE(first.continues(Grid(day + 86400.0001, stored, 1), per_day)) << meant;
    }
    EXPECT_FALSE(Grid(day, 0.01F, 1).continues(Grid(day + 1, 0.02F, 1), 100));
}

}  // namespace
