// Conversion between times and records.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "date.h"
#include "zone_guard.h"

namespace {

struct Fields {
    int yr, jl, mo, dm, dw, hr, mn, se, mi;
};

void expect_fields(const datevec &v, const Fields &f, double t) {
    const Fields got{v.yr, v.jl, v.mo, v.dm, v.dw, v.hr, v.mn, v.se, v.mi};
    EXPECT_EQ(got.yr, f.yr) << "t=" << t;
    EXPECT_EQ(got.jl, f.jl) << "t=" << t;
    EXPECT_EQ(got.mo, f.mo) << "t=" << t;
    EXPECT_EQ(got.dm, f.dm) << "t=" << t;
    EXPECT_EQ(got.dw, f.dw) << "t=" << t;
    EXPECT_EQ(got.hr, f.hr) << "t=" << t;
    EXPECT_EQ(got.mn, f.mn) << "t=" << t;
    EXPECT_EQ(got.se, f.se) << "t=" << t;
    EXPECT_EQ(got.mi, f.mi) << "t=" << t;
}

TEST(Conversion, TimeToRecord) {
    struct Case {
        int zone;
        double t;
        Fields want;
    } cases[] = {
        {0, 0, {1970, 1, 1, 1, 4, 0, 0, 0, 0}},
        {0, -1, {1969, 365, 12, 31, 3, 23, 59, 59, 0}},
        {0, 86399.5, {1970, 1, 1, 1, 4, 23, 59, 59, 500}},
        {0, 951782400, {2000, 60, 2, 29, 2, 0, 0, 0, 0}},
        {0, -31622400, {1968, 366, 12, 31, 2, 0, 0, 0, 0}},
        {0, 489162896.789, {1985, 183, 7, 2, 2, 14, 34, 56, 788}},  // milliseconds truncate
        {-5, 489342896, {1985, 185, 7, 4, 4, 12, 34, 56, 0}},
        {-5, 483519540, {1985, 118, 4, 28, 0, 1, 59, 0, 0}},  // spring: 01:59 ...
        {-5, 483519600, {1985, 118, 4, 28, 0, 3, 0, 0, 0}},   // ... then 03:00
        {-5, 499239000, {1985, 300, 10, 27, 0, 1, 30, 0, 0}},  // autumn: 01:30 twice
        {-5, 499242600, {1985, 300, 10, 27, 0, 1, 30, 0, 0}},
        // Past 2038 and before 1901 every field stays exact.
        {0, 2524607999, {2049, 365, 12, 31, 5, 23, 59, 59, 0}},
        {0, 4102444800.25, {2100, 1, 1, 1, 5, 0, 0, 0, 250}},
        {0, -2208988800, {1900, 1, 1, 1, 1, 0, 0, 0, 0}},
        {0, 253402300799, {9999, 365, 12, 31, 5, 23, 59, 59, 0}},
        // The year 2^31 - 1 and its neighbour below the first year.
        {0, 67767976233532792, {INT_MAX, 365, 12, 31, 2, 23, 59, 52, 0}},
        {0, -67768100567971200, {INT_MIN, 1, 1, 1, 2, 0, 0, 0, 0}},
        // A hair before midnight that rounds to midnight is the next day.
        {0, -1e-12, {1970, 1, 1, 1, 4, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        ZoneGuard guard(c.zone);
        datevec v;
        EXPECT_EQ(dtov(c.t, &v), &v);
        expect_fields(v, c.want, c.t);
    }
}

TEST(Conversion, TimesWithoutADateGiveTheZeroRecord) {
    const double times[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e300, -1e300, 67767976233532800.0,
                            -67768100567971200.0 - 16};
    for (double t : times) {
        datevec v{1, 2, 3, 4, 5, 6, 7, 8, 9};
        dtov(t, &v);
        expect_fields(v, {0, 0, 0, 0, 0, 0, 0, 0, 0}, t);
    }
    // A zone shift can carry the last representable day past the end.
    ZoneGuard guard(11);
    datevec v;
    dtov(67767976233532792.0 - 3600, &v);
    expect_fields(v, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
}

TEST(Conversion, RecordToTime) {
    struct Case {
        int zone;
        datevec v;
        double t;
        int jl_after;
    } cases[] = {
        {0, {1985, 0, 7, 4, 0, 12, 34, 56, 0}, 489328496, 185},
        {0, {1985, 0, 7, 4, 0, 24, 0, 0, 0}, 489369600, 185},  // hour 24 is next midnight
        {0, {1985, 186, 0, 0, 0, 0, 0, 0, 0}, 489369600, 186},
        {0, {1969, 365, 12, 31, 3, 23, 59, 59, 0}, -1, 365},
        {-5, {1985, 185, 7, 4, 4, 12, 34, 56, 0}, 489342896, 185},
        {-5, {1985, 300, 10, 27, 0, 1, 30, 0, 0}, 499242600, 300},  // repeated hour counts as standard
        // Months past December count on into the following years.
        {0, {1984, 0, 13, 1, 0, 0, 0, 0, 0}, 473385600, 367},          // 1 January 1985
        {0, {1984, 0, 14, 1, 0, 0, 0, 0, 0}, 476064000, 398},          // 1 February 1985
        {0, {1984, 0, 25, 1, 0, 0, 0, 0, 0}, 504921600, 732},          // 1 January 1986
        {0, {1985, 0, 0, 5, 0, 0, 0, 0, 0}, 473731200, 5},             // month 0 adds nothing
        {0, {1985, 0, -7, 5, 0, 0, 0, 0, 0}, 473731200, 5},
    };
    for (auto &c : cases) {
        ZoneGuard guard(c.zone);
        EXPECT_EQ(vtod(&c.v), c.t) << c.v.yr << " mo " << c.v.mo << " dm " << c.v.dm;
        EXPECT_EQ(c.v.jl, c.jl_after);
    }
}

TEST(Conversion, HugeFieldsGiveDefinedTimes) {
    ZoneGuard guard(-5);
    datevec far{INT_MAX, 0, INT_MAX, INT_MAX, 0, INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    const double t = vtod(&far);
    EXPECT_TRUE(std::isfinite(t));
    EXPECT_GT(t, 6.7e16);
    EXPECT_EQ(far.jl, INT_MAX);  // the day of the year saturates in the record
    datevec early{INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN};
    EXPECT_LT(vtod(&early), -6.7e16);
    // The year 2000000000 is converted at once, not walked year by year.
    datevec v{2000000000, 1, 1, 1, 0, 0, 0, 0, 0};
    datevec back;
    dtov(vtod(&v), &back);
    expect_fields(back, {2000000000, 1, 1, 1, back.dw, 0, 0, 0, 0}, 0);
}

TEST(Conversion, RoundTripOfWholeSecondsIsExactEverywhere) {
    ZoneGuard guard(0);
    const double times[] = {-6e16, -1e15, -62135596800.0, 0, 1e12, 3e15, 6e16};
    for (double t : times) {
        datevec v;
        dtov(t, &v);
        EXPECT_EQ(vtod(&v), t);
    }
}

TEST(Conversion, ReentrantFormsTakeTheirSettingsAsArgumentsAndLeaveTheProcessWideOnes) {
    // In and out of daylight time, before 1970 and far after it.
    const double times[] = {489162896.789, 1435017600, 1445734800, -1e9, 1e12};
    const char *const texts[] = {"850704123456", "15j175", "19850702143456.789"};
    for (const int z : {0, -5, -8}) {
        // The process-wide forms under the settings z and `layout`.
        const auto with_settings = [z](int layout, auto f) {
            const ZoneGuard settings(z, layout);
            return f();
        };
        const ZoneGuard elsewhere(-11, 3);  // what the reentrant forms must neither read nor change
        for (const double t : times) {
            for (int layout = 0; layout < 6; ++layout) {
                char want[40], got[40];
                with_settings(layout, [&] { return dtoa(t, want); });
                EXPECT_STREQ(dtoa_r(t, got, layout, z), want) << z << " " << t << " " << layout;
            }
            datevec want{}, got{};
            with_settings(0, [&] { return dtov(t, &want); });
            dtov_r(t, &got, z);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << z << " " << t;
            EXPECT_EQ(vtod_r(&got, z), with_settings(0, [&] { return vtod(&want); })) << z << " " << t;
        }
        for (const char *text : texts)
            EXPECT_EQ(atod_r(text, z), with_settings(0, [&] { return atod(text); })) << z << " " << text;
        EXPECT_EQ(zone, -11);
        EXPECT_EQ(dtoa_fmt, 3);
    }
}

}  // namespace
