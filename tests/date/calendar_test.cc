// Month and year lengths, names, the record dump and the daylight rule.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "capture.h"
#include "date.h"
#include "zone_guard.h"

namespace {

TEST(Calendar, MonthAndYearLengths) {
    struct Case {
        int mo, yr, days;
    } cases[] = {
        {2, 1900, 28}, {2, 2000, 29}, {2, 1984, 29}, {2, 1985, 28}, {2, -4, 29}, {2, -100, 28},
        {0, 1985, 0},  {12, 1985, 31}, {1, 1984, 31}, {4, 2001, 30}, {13, 1985, 0}, {-1, 1985, 0},
        {INT_MIN, 2000, 0}, {INT_MAX, 2000, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(msize(c.mo, c.yr), c.days) << c.mo << "/" << c.yr;
    EXPECT_EQ(ysize(1900), 365);
    EXPECT_EQ(ysize(2000), 366);
    EXPECT_EQ(ysize(1984), 366);
    EXPECT_EQ(ysize(INT_MIN), 366);  // divisible by 400
    EXPECT_EQ(ysize(INT_MAX), 365);
}

TEST(Calendar, Names) {
    EXPECT_STREQ(dw_name(0), "Sun");
    EXPECT_STREQ(dw_name(7), "Sun");
    EXPECT_STREQ(dw_name(10), "Wed");
    EXPECT_STREQ(Dw_name(6), "Saturday");
    EXPECT_STREQ(dw_name(-1), "Sat");
    EXPECT_STREQ(Dw_name(-8), "Saturday");
    EXPECT_STREQ(dw_name(INT_MIN), dw_name(INT_MIN % 7 + 7));
    EXPECT_STREQ(mo_name(0), "000");
    EXPECT_STREQ(Mo_name(0), "000");
    EXPECT_STREQ(mo_name(12), "Dec");
    EXPECT_STREQ(Mo_name(9), "September");
    EXPECT_STREQ(mo_name(13), "000");
    EXPECT_STREQ(Mo_name(-1), "000");
}

TEST(Calendar, DumpPrintsHeaderAndFields) {
    const datevec v{1985, 185, 7, 4, 4, 12, 34, 56, 0};
    auto printed = testsupport::capture([&] { d_dump(&v); });
    EXPECT_EQ(printed.out,
              "   yr    jl    mo    dm    dw    hr    mn    se    mi\n"
              " 1985   185     7     4     4    12    34    56     0\n");
}

struct DaylightCase {
    int zone, yr, jl, dw, hr;
    int daylight;
    const char *name;
};

TEST(Daylight, Changeovers) {
    const DaylightCase cases[] = {
        // 1985 in EST: the last Sundays of April (day 118) and October (day 300).
        {-5, 1985, 117, 6, 12, 0, "EST"},
        {-5, 1985, 118, 0, 1, 0, "EST"},
        {-5, 1985, 118, 0, 2, 1, "EDT"},
        {-5, 1985, 200, 5, 0, 1, "EDT"},
        {-5, 1985, 300, 0, 0, 1, "EDT"},
        {-5, 1985, 300, 0, 1, 0, "EST"},
        {-5, 1985, 301, 1, 0, 0, "EST"},
        // The special years and a leap year whose end Sunday is the limit day.
        {-5, 1974, 6, 0, 2, 1, "EDT"},
        {-5, 1974, 328, 0, 0, 1, "EDT"},
        {-5, 1974, 328, 0, 1, 0, "EST"},
        {-5, 1975, 54, 0, 2, 1, "EDT"},
        {-5, 1975, 53, 6, 23, 0, "EST"},
        {-5, 1976, 305, 0, 0, 1, "EDT"},
        {-5, 1976, 305, 0, 1, 0, "EST"},
        {-8, 1984, 120, 0, 2, 1, "PDT"},
        {-8, 1984, 302, 0, 1, 0, "PST"},
        // The rule applies to every non-zero zone; unnamed zones print "***".
        {-4, 1985, 200, 5, 12, 1, "***"},
        {1, 1985, 200, 5, 12, 1, "***"},
        {-12, 1985, 200, 5, 12, 1, "***"},
        {-4, 1985, 15, 2, 12, 0, "***"},
        {-11, 1985, 200, 5, 12, 1, "BDT"},
        {-11, 1985, 15, 2, 12, 0, "BST"},
        {-6, 1985, 200, 5, 12, 1, "CDT"},
        {-7, 1985, 200, 5, 12, 1, "MDT"},
        {-9, 1985, 200, 5, 12, 1, "YDT"},
        {-10, 1985, 15, 2, 12, 0, "AST"},
        // GMT never has daylight time.
        {0, 1985, 200, 5, 12, 0, "GMT"},
        {0, 1985, 118, 0, 2, 0, "GMT"},
    };
    for (const auto &c : cases) {
        ZoneGuard guard(c.zone);
        const datevec v{c.yr, c.jl, 0, 0, c.dw, c.hr, 0, 0, 0};
        EXPECT_EQ(daylit(&v), c.daylight) << "zone " << c.zone << " " << c.yr << "/" << c.jl << " hour " << c.hr;
        EXPECT_STREQ(znam(&v), c.name) << "zone " << c.zone << " " << c.yr << "/" << c.jl;
    }
}

TEST(Daylight, WildFieldsAreDefined) {
    ZoneGuard guard(-5);
    const datevec extremes[] = {
        {INT_MAX, INT_MAX, 0, 0, INT_MAX, INT_MAX, 0, 0, 0},
        {INT_MIN, INT_MIN, 0, 0, INT_MIN, INT_MIN, 0, 0, 0},
        {1985, INT_MIN, 0, 0, INT_MAX, 3, 0, 0, 0},
    };
    EXPECT_EQ(daylit(&extremes[0]), 0);
    EXPECT_EQ(daylit(&extremes[1]), 0);
    EXPECT_EQ(daylit(&extremes[2]), 0);
}

}  // namespace

extern "C" int date_header_c_round_trip(void);

TEST(Calendar, UsableFromC) { EXPECT_EQ(date_header_c_round_trip(), 1); }
