// Times as the bottle command reads and writes them.

#include "timetext.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "date.h"

namespace {

using bottletool::iso_time;
using bottletool::parse_time;

struct Readable {
    const char *text;
    double t;
};

struct Written {
    double t;
    const char *text;
};

TEST(ParseTime, ReadsTheAcceptedForms) {
    zone = 0;
    const Readable cases[] = {
        // The date library's compact forms, as atod reads them.
        {"850704123456", 489328496},
        {"19850704123456", 489328496},
        {"85j185123456", 489328496},
        {"1985j185123456", 489328496},
        {"850704123456.5", 489328496.5},
        {"85070412", 489326400},
        {"85j001", 473385600},
        {"8507", 489283200 - 4 * 86400},  // day 0 of July: 30 June 1985
        {"490101000000", 2493072000},
        {"500101000000", -631152000},
        // ISO 8601.
        {"2015-06-23", 1435017600},
        {"2015-06-23T12:34:56.5Z", 1435062896.5},
        {"2015-06-23 12:34:56.5", 1435062896.5},
        {"2015-06-23T12Z", 1435060800},
        {"2015-06-23T12:34", 1435062840},
        {"2015-06-23T12:34:56+05:30", 1435062896 - 19800},
        {"2015-06-23T12:34:56-0100", 1435062896 + 3600},
        {"1969-12-31T23:59:59.75Z", -0.25},
        {"2000-02-29", 951782400},
        {"0000-01-01", -62167219200},
        {"-0001-12-31", -62167219200 - 86400},
        {"+10000-01-01", 253402300800},
        // Seconds since 1970.
        {"@0", 0},
        {"@-1.5", -1.5},
        {"@1e9", 1e9},
    };
    for (const Readable &c : cases) {
        const std::optional<double> t = parse_time(c.text);
        ASSERT_TRUE(t.has_value()) << c.text;
        EXPECT_DOUBLE_EQ(*t, c.t) << c.text;
    }
}

TEST(ParseTime, RejectsEverythingElse) {
    zone = 0;
    const char *cases[] = {
        "", "2015", "201506", "8513", "850230", "85j000", "85j366", "1985j366000000", "8507042",
        "19450101000000",  // atod would read 2045
        "20510101000000",  // and this 1951
        "850704246000", "850704125960", "85070412345", "850704123456.", "850704123456.5x", "85x704",
        "2015-02-29", "2015-13-01", "2015-06-31", "2015-6-23", "2015-06-23T", "2015-06-23T24:00",
        "2015-06-23T12:60", "2015-06-23T12:34:56.", "2015-06-23T12:34:56+24:00", "2015-06-23Z", "2015-06-23T12:34:56 ",
        "+123-01-01", "@", "@nan", "@inf", "@1x", "@ 1", "abc", "now",
    };
    for (const char *text : cases) EXPECT_FALSE(parse_time(text).has_value()) << text;
}

TEST(ParseTime, ErrorNamesTheOptionAndTheForms) {
    try {
        bottletool::read_time("from", "yesterday");
        FAIL() << "no error";
    } catch (const bottletool::UsageError &e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("--from"), std::string::npos) << what;
        EXPECT_NE(what.find("\"yesterday\""), std::string::npos) << what;
        EXPECT_NE(what.find("CCYYMMDDhhmmss"), std::string::npos) << what;
        EXPECT_NE(what.find("ISO 8601"), std::string::npos) << what;
        EXPECT_NE(what.find("@SECONDS"), std::string::npos) << what;
        EXPECT_EQ(e.status(), bottletool::kUsage);
    }
}

TEST(ParseTime, SaysWhatIsWrong) {
    zone = 0;
    const struct {
        const char *text, *problem;
        bool form;  // the accepted forms are listed
    } cases[] = {
        {"2015-13-01", "month 13 does not exist", false},
        {"2015-02-29", "February 2015 has no day 29", false},
        {"2015-06-23T25:00", "hour 25 does not exist", false},
        {"2015-06-23T12:34:56+24:00", "the offset \"+24:00\" is more than 23:59", false},
        {"2015-6-23", "the month needs two digits", true},
        {"2015-06-23Z", "a T or a space should follow the date, not \"Z\"", true},
        {"2015", "month 15 does not exist (read as YYMM)", false},
        {"85j366", "1985 has no day 366 of the year (read as YYjDDD)", false},
        {"850704126000", "minute 60 does not exist", false},
        {"19450101000000", "four-digit years are read only from 1950 to 2049", false},
        {"85130", "pairs of digits", true},
        {"@", "not a number after @", false},
        {"@1x", "not a number after @", false},
        {"@inf", "not a finite number after @", false},
        {"yesterday", "unknown form", true},
    };
    for (const auto &c : cases) {
        bottletool::TimeProblem problem;
        EXPECT_FALSE(parse_time(c.text, &problem).has_value()) << c.text;
        EXPECT_NE(problem.what.find(c.problem), std::string::npos) << c.text << ": " << problem.what;
        EXPECT_EQ(problem.form, c.form) << c.text;
    }
}

TEST(IsoTime, WritesGmtWithMilliseconds) {
    zone = 0;
    const Written cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-0.001, "1969-12-31T23:59:59.999Z"},
        {489162896.789, "1985-07-02T14:34:56.789Z"},
        {0.0005, "1970-01-01T00:00:00.001Z"},
        {86399.9996, "1970-01-02T00:00:00.000Z"},
        {-62167219200, "0000-01-01T00:00:00.000Z"},
        {-62167219200 - 86400, "-0001-12-31T00:00:00.000Z"},
        {253402300800, "+10000-01-01T00:00:00.000Z"},
        {NAN, "@nan"},
        {1e300, "@1e+300"},
        {-INFINITY, "@-inf"},
    };
    for (const auto &c : cases) EXPECT_EQ(iso_time(c.t), c.text) << c.t;
}

// Far from 1970 a time in milliseconds no longer fits a double's digits;
// the milliseconds must still be those of the time, rounded half up, and
// so must they near a half millisecond.
TEST(IsoTime, ExactMillisecondsOfFarTimes) {
    const Written cases[] = {
        {1000000000000001, "+31690708-07-05T01:46:41.000Z"},
        {1000000000000000.125, "+31690708-07-05T01:46:40.125Z"},
        {-1000000000000000.125, "-31686769-06-29T22:13:19.875Z"},
        {17592186044416.0625, "+559444-03-08T09:40:16.063Z"},    // 62.5 ms
        {-17592186044416.0625, "-555505-10-25T14:19:43.938Z"},   // 937.5 ms
        {8999999999999999, "+285200616-07-24T15:59:59.000Z"},    // the last second written so
        {9e15, "@9e+15"},
        {865380.3335, "1970-01-11T00:23:00.333Z"},  // the double lies below the half
    };
    for (const auto &c : cases) EXPECT_EQ(iso_time(c.t), c.text) << c.t;
}

TEST(IsoTime, ReadsBackToTheNearestMillisecond) {
    zone = 0;
    // Times up to 8e10 s carry about 1e-5 s of rounding of their own.
    for (double t = -8e10; t < 8e10; t += 987654321.1234) {
        const auto back = parse_time(iso_time(t));
        ASSERT_TRUE(back.has_value()) << iso_time(t);
        EXPECT_NEAR(*back, t, 0.0005 + 2e-5) << iso_time(t);
    }
}

// One writer over consecutive times keeps the text of its last second and
// day: it must agree with a fresh writer at every change of either.
TEST(IsoTime, KeptSecondAndDayFollowTheTimes) {
    zone = 0;
    bottletool::IsoTimeWriter writer;
    const double times[] = {86399.998, 86399.999, 86400, 86400.001, 86401, -0.5, -0.001, 0, 1e9, 1e9 + 0.25, 86400};
    for (double t : times) {
        char text[bottletool::kMaxTimeChars];
        EXPECT_EQ(std::string(text, writer.write(text, t)), iso_time(t)) << t;
    }
}

// Seconds are written as the shortest number that reads back exactly: the
// text std::to_chars writes, which a faster path for whole milliseconds
// must match.
TEST(EpochTime, WritesTheShortestExactNumber) {
    std::vector<double> times = {0, -1.5, 0.001, -0.0005, 0.01, 0.1, 1e-300, 1e6, 1e22, 1435062896.5, -86400.125,
                                 8796093022207.999, 8796093022208.001, 1.7976931348623157e308};
    for (int i = 0; i < 20000; ++i) {
        times.push_back(1435017600 + i * static_cast<double>(0.01f));
        times.push_back(-1e9 + i * 0.001);
        times.push_back(i * 0.1);
    }
    for (double t : times) {
        char text[bottletool::kMaxTimeChars], expected[64];
        const std::string written(text, bottletool::write_epoch_time(text, t));
        EXPECT_EQ(written, std::string(expected, std::to_chars(expected, expected + sizeof expected, t).ptr));
        EXPECT_EQ(parse_time("@" + written), t) << written;
    }
}

}  // namespace
