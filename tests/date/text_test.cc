// Text to time and time to text.

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <cstring>
#include <string>

#include "date.h"
#include "zone_guard.h"

namespace {

TEST(Text, ReadsEveryForm) {
    struct Case {
        int zone;
        const char *text;
        double t;
    } cases[] = {
        {0, "850704123456", 489328496},
        {0, "19850704123456", 489328496},
        {0, "85j185123456", 489328496},
        {0, "1985j185123456", 489328496},
        {0, "850704123456.5", 489328496.5},
        {0, "850704123456.05", 489328496.05},
        {0, "850704123456.1239", 489328496.123},
        {0, "850704123456.", 489328496},
        {0, "85070412", 489326400},
        {0, "85j001", 473385600},
        {0, "1984j366000000", 473299200},
        {0, "490101000000", 2493072000},   // 2049: below the pivot
        {0, "500101000000", -631152000},   // 1950
        {0, "19450101000000", 2366841600},  // the century counts only from 50 up
        {0, "", 946598400},                // 31 December 1999
        {0, "85", 473299200},              // 31 December 1984
        {0, "8507", 488937600},            // 30 June 1985
        {0, ".5", 946598400.5},
        {0, "851301", 504921600},  // month 13 is January of the next year
        {-5, "850704123456", 489342896},
        // The weekday is derived, so the changeover Sunday is the true one:
        // Saturday 27 April 1985 is still standard time.
        {-5, "850427120000", 483469200},
        {-5, "850428030000", 483519600},
    };
    for (const auto &c : cases) {
        ZoneGuard guard(c.zone);
        EXPECT_EQ(atod(c.text), c.t) << '"' << c.text << "\" zone " << c.zone;
    }
}

TEST(Text, OddTextIsReadWithoutStrayingOutside) {
    ZoneGuard guard(0);
    // An odd date part ends in a pair with the terminator: "850" is 85 and
    // '0' with NUL, month -48, which like any month below 2 adds no days.
    EXPECT_EQ(atod("850"), atod("85"));
    // Pairs beyond the last field are ignored.
    EXPECT_EQ(atod("8507041234569999999999"), atod("850704123456"));
    // A day-of-year text cut short reads the terminator as a digit value.
    EXPECT_EQ(atod("85j1"), atod("85j100"));
    // Bytes above 127 count as their unsigned code minus '0' (255 - 48 = 207):
    // year 1900 + 2277 and month 2277, day 0, which is 31 August 4366.
    const char high[] = {'\xff', '\xff', '\xff', '\xff', 0};
    datevec v;
    dtov(atod(high), &v);
    EXPECT_EQ(v.yr, 4366);
    EXPECT_EQ(v.mo, 8);
    EXPECT_EQ(v.dm, 31);
    EXPECT_EQ(atod(nullptr), atod(""));
    std::string long_fraction = "850704123456." + std::string(5000, '9');
    EXPECT_EQ(atod(long_fraction.c_str()), 489328496.999);
}

TEST(Text, WritesEveryLayout) {
    const char *want[6] = {"Tue Jul 02 14:34:56.788 GMT 1985 183", "14:34 02 Jul 1985 183", "850702143456",
                           "85j183143456", "14:34:56 02 Jul 1985 183", "1985-07-02T14:34:00"};
    for (int layout = 0; layout < 6; ++layout) {
        ZoneGuard guard(0, layout);
        char buf[40];
        EXPECT_EQ(dtoa(489162896.789, buf), buf);
        EXPECT_STREQ(buf, want[layout]) << "layout " << layout;
    }
}

TEST(Text, LayoutZeroInZones) {
    struct Case {
        int zone;
        double t;
        const char *text;
    } cases[] = {
        {0, 0, "Thu Jan 01 00:00:00 GMT 1970 001"},
        {-5, 489342896, "Thu Jul 04 12:34:56 EDT 1985 185"},
        {-5, 0, "Wed Dec 31 19:00:00 EST 1969 365"},
        {-4, 0, "Wed Dec 31 20:00:00 *** 1969 365"},
        {-5, 499239000, "Sun Oct 27 01:30:00 EST 1985 300"},
        {-5, 499242600, "Sun Oct 27 01:30:00 EST 1985 300"},
        {0, -62135596800.0 - 86400, "Sun Dec 31 00:00:00 GMT 0000 366"},
        {0, -62167219200.0 - 86400, "Fri Dec 31 00:00:00 GMT -001 365"},
        {0, 253402300800.0, "Sat Jan 01 00:00:00 GMT 10000 001"},
        {0, std::nan(""), "Sun 000 00 00:00:00 GMT 0000 000"},
    };
    for (const auto &c : cases) {
        ZoneGuard guard(c.zone, 0);
        char buf[40];
        EXPECT_STREQ(dtoa(c.t, buf), c.text) << "zone " << c.zone << " t " << c.t;
    }
}

TEST(Text, StaticBuffersAlternate) {
    ZoneGuard guard(0, 2);
    char *first = dtoa(0, nullptr);
    const std::string first_text = first;
    char *second = dtoa(86400, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first_text, first);  // the last two texts stay intact
    char own[40];
    dtoa(0, own);  // a caller's buffer does not move the turn
    char *third = dtoa(2 * 86400, nullptr);
    EXPECT_EQ(third, first);
    EXPECT_STREQ(first, "700103000000");
    EXPECT_STREQ(second, "700102000000");
}

TEST(Text, UnknownLayoutLeavesBufferAlone) {
    for (int layout : {6, -1, 1000}) {
        ZoneGuard guard(0, layout);
        char buf[40] = "untouched";
        EXPECT_EQ(dtoa(0, buf), buf);
        EXPECT_STREQ(buf, "untouched");
    }
}

TEST(Text, ExtremeYearsStayWithinTheBuffer) {
    for (int layout = 0; layout < 6; ++layout) {
        ZoneGuard guard(-5, layout);
        for (double t : {-67768100567971200.0, 67767976233532792.0 - 86400}) {
            char buf[48];
            std::memset(buf, '#', sizeof buf);
            dtoa(t, buf);
            EXPECT_EQ(buf[40], '#') << "layout " << layout;
            EXPECT_NE(std::memchr(buf, '\0', 40), nullptr);
        }
    }
}

// Every layout of records whose fields print wider or narrower than their
// columns: negative and five-digit years, a text cut at 39 characters, and
// the all-zero record of a time without a date.
TEST(Text, EveryLayoutOfUnusualRecords) {
    struct Case {
        int zone;
        double t;
        const char *text[6];
    } cases[] = {
        {0, 0, {"Thu Jan 01 00:00:00 GMT 1970 001", "00:00 01 Jan 1970 001", "700101000000", "70j001000000",
                "00:00:00 01 Jan 1970 001", "1970-01-01T00:00:00"}},
        {-8, 473385600.25, {"Mon Dec 31 16:00:00.250 PST 1984 366", "16:00 31 Dec 1984 366", "841231160000",
                            "84j366160000", "16:00:00 31 Dec 1984 366", "1984-12-31T16:00:00"}},
        {0, -62004225599.5, {"Tue Mar 01 12:00:00.500 GMT 0005 060", "12:00 01 Mar 0005 060", "050301120000",
                             "05j060120000", "12:00:00 01 Mar 0005 060", "0005-03-01T12:00:00"}},
        {0, -62167301876.75, {"Fri Dec 31 01:02:03.250 GMT -001 365", "01:02 31 Dec -001 365", "-11231010203",
                              "-1j365010203", "01:02:03 31 Dec -001 365", "-001-12-31T01:02:00"}},
        {0, -451724169541, {"Mon Jun 07 00:00:59 GMT -12345 158", "00:00 07 Jun -12345 158", "-450607000059",
                            "-45j158000059", "00:00:59 07 Jun -12345 158", "-12345-06-07T00:00:00"}},
        {0, 327416947261, {"Thu Jun 07 00:01:01 GMT 12345 158", "00:01 07 Jun 12345 158", "450607000101",
                           "45j158000101", "00:01:01 07 Jun 12345 158", "12345-06-07T00:01:00"}},
        {0, -31619119219199.5, {"Sat Jan 01 00:00:00.500 GMT -1000000 00", "00:00 01 Jan -1000000 001",
                                "000101000000", "00j001000000", "00:00:00 01 Jan -1000000 001",
                                "-1000000-01-01T00:00:00"}},
        {0, 67767976233532792, {"Tue Dec 31 23:59:52 GMT 2147483647 365", "23:59 31 Dec 2147483647 365",
                                "471231235952", "47j365235952", "23:59:52 31 Dec 2147483647 365",
                                "2147483647-12-31T23:59:00"}},
        {0, std::nan(""), {"Sun 000 00 00:00:00 GMT 0000 000", "00:00 00 000 0000 000", "000000000000",
                           "00j000000000", "00:00:00 00 000 0000 000", "0000-00-00T00:00:00"}},
    };
    for (const auto &c : cases)
        for (int layout = 0; layout < 6; ++layout) {
            ZoneGuard guard(c.zone, layout);
            char buf[40];
            EXPECT_STREQ(dtoa(c.t, buf), c.text[layout]) << "t " << c.t << " layout " << layout;
        }
}

TEST(Text, TwoDigitLayoutsReadBackFrom1950To2049) {
    for (int layout : {2, 3}) {
        ZoneGuard guard(-5, layout);
        for (double t : {-631152000.0 + 5 * 3600, 0.0, 489342896.0, 2524607999.0 + 5 * 3600}) {
            char buf[40];
            EXPECT_EQ(atod(dtoa(t, buf)), t) << buf;
        }
    }
}

TEST(Text, WallClockIsNow) {
    const int now = wallclock();
    EXPECT_GT(now, 1700000000);  // after November 2023
    EXPECT_LE(now - static_cast<int>(std::time(nullptr)), 0);
}

}  // namespace
