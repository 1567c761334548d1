// The julstamp command, run as a program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"

namespace {

using testsupport::run;

TEST(Julstamp, PrintsYearAndDayOfYear) {
    struct Case {
        const char *date, *printed;
    } cases[] = {
        {"2015-06-23", "2015.174"}, {"2016-12-31", "2016.366"}, {"2015-12-31", "2015.365"},
        {"1949-01-01", "2049.001"}, {"1950-03-01", "1950.060"}, {"2000-02-29", "2000.060"},
        {"2015-13-05", "2016.005"}, {"2015/06/23", "2015.174"}, {"1915.06.23", "2015.174"},
        {"2015-00-00", "2014.365"}, {"2015-02-99", "2015.130"},
        {"2015-06-23T12:00:00 and much more text besides", "2015.174"},
    };
    for (const auto &c : cases) {
        auto r = run(JULSTAMP_PATH, {c.date});
        EXPECT_EQ(r.status, 0) << c.date;
        EXPECT_EQ(r.out, c.printed) << c.date;
        EXPECT_EQ(r.err, "") << c.date;
    }
}

TEST(Julstamp, RejectsWhatItCannotRead) {
    for (const char *bad : {"2015-6-23", "", "20x5-06-23", "2015-06-2x", "2015-0 -23", "2015-14-01", "2015-99-01"}) {
        auto r = run(JULSTAMP_PATH, {bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find(std::string("\"") + bad + "\""), std::string::npos) << r.err;
    }
    auto none = run(JULSTAMP_PATH, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err.rfind("usage: julstamp DATE", 0), 0u) << none.err;
    for (auto extra : {std::vector<std::string>{"2015-06-23", "2016-01-01"}, {"--help", "x"}, {"--version", "x"}}) {
        auto r = run(JULSTAMP_PATH, extra);
        EXPECT_EQ(r.status, 2) << extra[0];
        EXPECT_EQ(r.out, "") << extra[0];
        EXPECT_EQ(r.err.rfind("julstamp: too many arguments\nusage: julstamp DATE", 0), 0u) << r.err;
    }
}

TEST(Julstamp, HelpAndVersion) {
    for (const char *flag : {"-h", "--help"}) {
        auto r = run(JULSTAMP_PATH, {flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: julstamp DATE", 0), 0u);
        EXPECT_NE(r.out.find("--version"), std::string::npos) << r.out;
    }
    auto v = run(JULSTAMP_PATH, {"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("julstamp ", 0), 0u);
}

}  // namespace
