// The closed-form conversions against the year and month walks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "date.h"
#include "walk_reference.h"
#include "zone_guard.h"

namespace {

::testing::AssertionResult same_record(const datevec &got, const datevec &want) {
    if (std::memcmp(&got, &want, sizeof got) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.yr << ", " << got.jl << ", " << got.mo << ", " << got.dm
                                         << ", " << got.dw << ", " << got.hr << ", " << got.mn << ", " << got.se
                                         << ", " << got.mi << ") want (" << want.yr << ", " << want.jl << ", "
                                         << want.mo << ", " << want.dm << ", " << want.dw << ", " << want.hr << ", "
                                         << want.mn << ", " << want.se << ", " << want.mi << ")";
}

// dtov of t, and vtod of the record it gives, agree with the walks.
void expect_round_trip_matches(double t) {
    datevec fast, slow;
    dtov(t, &fast);
    walk::dtov(t, &slow);
    // The walk's day split rounds a time a hair before midnight to hour 24
    // of the day before; the library gives the midnight itself.
    if (slow.hr == 24) walk::dtov(std::ceil(t), &slow);
    ASSERT_TRUE(same_record(fast, slow)) << "dtov(" << t << ") zone " << zone;
    datevec a = fast, b = slow;
    ASSERT_EQ(vtod(&a), walk::vtod(&b)) << "vtod of dtov(" << t << ") zone " << zone;
}

constexpr double kDay = 86400;
// Day counts of 1 January 1700 and of 1 January 2301.
constexpr long kFirst1700 = -98615, kFirst2301 = 120895;

TEST(Differential, EveryDayFrom1700To2300) {
    for (int z : {0, -5}) {
        ZoneGuard guard(z);
        for (long d = kFirst1700; d < kFirst2301; ++d) {
            expect_round_trip_matches(d * kDay + 45296.789);  // 12:34:56.789
            expect_round_trip_matches(d * kDay + 86399.5);
            expect_round_trip_matches(d * kDay);  // midnight, and a hair either side
            expect_round_trip_matches(std::nextafter(d * kDay, -1e300));
            expect_round_trip_matches(std::nextafter(d * kDay, 1e300));
        }
    }
}

TEST(Differential, DaylightHourThatCrossesAPowerOfTwo) {
    // East of Greenwich, local standard times just below 2^k whose daylight
    // hour rounds into the next binade.
    {
        ZoneGuard guard(5);
        for (int k = 30; k <= 44; ++k)
            for (double before : {0.0, 1.0, 1800.0, 3599.0})
                expect_round_trip_matches(std::nextafter(std::ldexp(1.0, k) - before, 0.0) - 18000);
    }
    // Standard times late in a day whose daylight hour ends on the next.
    ZoneGuard guard(-5);
    for (long d = kFirst1700; d < kFirst2301; d += 29) expect_round_trip_matches(d * kDay + 4 * 3600 + 1800.25);
}

TEST(Differential, SampledDaysOfYearsMinus9999To9999) {
    // 1 January -9999 is day -4371587; 31 December 9999 is day 2932896.
    ZoneGuard guard(-8);
    int step = 0;
    for (long d = -4371587; d <= 2932896; d += 211, ++step) expect_round_trip_matches(d * kDay + (step % 86400) * 0.999);
}

TEST(Differential, OutOfRangeFieldsOfRecords) {
    std::vector<datevec> records;
    for (int yr : {1600, 1900, 1969, 1970, 1984, 2000, 2038, 2100})
        for (int mo = 0; mo <= 13; ++mo)
            for (int dm : {-40, 0, 1, 29, 31, 45}) records.push_back({yr, 0, mo, dm, 3, 12, 0, 0, 0});
    for (int yr : {1899, 1970, 1976, 1985, 2004})
        for (int jl : {-400, -1, 0, 1, 59, 60, 365, 366, 400, 800}) {
            records.push_back({yr, jl, 5, 5, 0, 24, 0, 0, 0});
            records.push_back({yr, jl, 0, 0, 6, 0, -90, -61, -1500});
            records.push_back({yr, jl, 0, 0, 2, -30, 125, 3600, 999});
        }
    for (int z : {0, -5, -8}) {
        ZoneGuard guard(z);
        for (const datevec &r : records) {
            datevec a = r, b = r;
            ASSERT_EQ(vtod(&a), walk::vtod(&b)) << "record " << r.yr << "/" << r.jl << "/" << r.mo << "/" << r.dm;
            ASSERT_TRUE(same_record(a, b));
        }
    }
}

TEST(Differential, EveryHourAroundEachChangeoverFrom1965To1990) {
    int changeovers = 0;
    for (int z : {-5, -8}) {
        ZoneGuard guard(z);
        for (int yr = 1965; yr <= 1990; ++yr) {
            // Find the changeover Sundays with the walks themselves: the days
            // on which the daylight decision flips.
            datevec jan1{yr, 1, 1, 1, 0, 0, 0, 0, 0};
            const double start = walk::vtod(&jan1);
            for (double t = start; t < start + 366 * kDay; t += kDay) {
                datevec at, next;
                walk::dtov(t, &at);
                walk::dtov(t + kDay, &next);
                if (walk::daylit(&at) == walk::daylit(&next)) continue;
                ++changeovers;
                for (double h = -48; h <= 48; h += 0.5) expect_round_trip_matches(t + h * 3600);
            }
        }
    }
    EXPECT_EQ(changeovers, 2 * 2 * 26);  // spring and autumn, two zones, 26 years
}

}  // namespace
