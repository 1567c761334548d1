// Tick marks of plot axes, and text made safe for the SVG document.

#include "axes.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "date.h"
#include "svg.h"

namespace {

using bottletool::Tick;

std::vector<std::string> labels(const std::vector<Tick> &ticks) {
    std::vector<std::string> out;
    for (const Tick &t : ticks) out.push_back(t.label);
    return out;
}

std::vector<std::string> dates(const std::vector<Tick> &ticks) {
    std::vector<std::string> out;
    for (const Tick &t : ticks) out.push_back(t.date);
    return out;
}

TEST(ValueTicks, FallOnRoundNumbersWithMatchingLabels) {
    using V = std::vector<std::string>;
    EXPECT_EQ(labels(bottletool::value_ticks(0, 10, 5)), (V{"0", "2", "4", "6", "8", "10"}));
    EXPECT_EQ(labels(bottletool::value_ticks(0.11, 0.34, 5)), (V{"0.15", "0.20", "0.25", "0.30"}));
    EXPECT_EQ(labels(bottletool::value_ticks(-25, 25, 4)), (V{"-20", "0", "20"}));
    EXPECT_EQ(labels(bottletool::value_ticks(999990, 1000010, 2)), (V{"999990", "1000000", "1000010"}));
}

TEST(ValueTicks, StayBoundedForAnyRange) {
    const struct {
        double lo, hi;
    } cases[] = {{-DBL_MAX, DBL_MAX}, {0, 5e-324}, {1e10, 1e10 + 1e-5}, {-1e300, -1e299}, {3, 3}};
    for (const auto &c : cases) {
        const std::vector<Tick> ticks = bottletool::value_ticks(c.lo, c.hi, 8);
        EXPECT_FALSE(ticks.empty()) << c.lo << " " << c.hi;
        EXPECT_LE(ticks.size(), 1000u);
        for (const Tick &t : ticks) {
            EXPECT_GE(t.at, c.lo);
            EXPECT_LE(t.at, c.hi);
        }
    }
    EXPECT_TRUE(bottletool::value_ticks(NAN, 1, 5).empty());
    EXPECT_TRUE(bottletool::value_ticks(2, 1, 5).empty());
}

TEST(TimeTicks, LabelEachSpanWithReadableDates) {
    zone = 0;
    using V = std::vector<std::string>;
    const double day = 1435017600;  // 2015-06-23
    // A day in 3-hour steps: times of day, the date under the first and
    // under midnight.
    const std::vector<Tick> hours = bottletool::time_ticks(day - 3600, day + 86400, 9);
    EXPECT_EQ(labels(hours), (V{"00:00", "03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00", "00:00"}));
    EXPECT_EQ(dates(hours), (V{"2015-06-23", "", "", "", "", "", "", "", "2015-06-24"}));
    EXPECT_EQ(labels(bottletool::time_ticks(day, day + 2.5, 5)),
              (V{"00:00:00.0", "00:00:00.5", "00:00:01.0", "00:00:01.5", "00:00:02.0", "00:00:02.5"}));
    EXPECT_EQ(labels(bottletool::time_ticks(0, 1e-5, 2)), (V{"00:00:00.000000", "00:00:00.000005", "00:00:00.000010"}));
    EXPECT_EQ(labels(bottletool::time_ticks(day, day + 95 * 86400, 4)), (V{"2015-07", "2015-08", "2015-09"}));
    EXPECT_EQ(labels(bottletool::time_ticks(0, 30 * 365.25 * 86400, 4)), (V{"1970", "1980", "1990", "2000"}));
    EXPECT_EQ(labels(bottletool::time_ticks(-86400 * 3, 0, 3)), (V{"1969-12-29", "1969-12-30", "1969-12-31", "1970-01-01"}));
}

TEST(TimeTicks, StayWithinTheSpanInOrder) {
    zone = 0;
    const struct {
        double t0, t1;
    } spans[] = {{0, 1e-9}, {1e9, 1e9 + 0.003}, {-1e12, 1e12}, {0, 8e15}, {5, 5}, {-9e15, 9e15}, {1e17, 2e17}};
    for (const auto &s : spans) {
        const std::vector<Tick> ticks = bottletool::time_ticks(s.t0, s.t1, 10);
        EXPECT_LE(ticks.size(), 12u) << s.t0 << " " << s.t1;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_GE(ticks[i].at, s.t0);
            EXPECT_LE(ticks[i].at, s.t1);
            EXPECT_FALSE(ticks[i].label.empty());
            if (i > 0) {
                EXPECT_LT(ticks[i - 1].at, ticks[i].at);
            }
        }
    }
    EXPECT_TRUE(bottletool::time_ticks(NAN, 0, 5).empty());
}

TEST(XmlText, EscapesMarkupAndReplacesWhatXmlCannotHold) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"},
        {std::string("x\0y\x1b", 4), "x?y?"},
        {"\xff\xc3", "??"},
        {"\xc0\xaf", "??"},          // overlong
        {"\xed\xa0\x80", "???"},     // a surrogate
        {"\xef\xbf\xbe", "???"},     // U+FFFE
        {"tab\there", "tab\there"},
    };
    for (const auto &c : cases) EXPECT_EQ(bottletool::xml_text(c.in), c.out) << c.in;
}

// Advance widths of DejaVu Sans, the widest common sans-serif face, in em:
// the estimate must not fall below them.
TEST(TextWidth, NoCommonFaceDrawsWider) {
    const struct {
        const char *text;
        double em;
    } cases[] = {
        {"0123456789", 6.36}, {"-2000000000", 0.361 + 6.36}, {"W", 0.989}, {"m", 0.974},
        {"@%", 1.0 + 0.95},  {"2015-06-23T00:00:00.000Z", 13.8}, {"caf\xc3\xa9 \xe2\x82\xac", 3.2},
    };
    for (const auto &c : cases) EXPECT_GE(bottletool::text_width(c.text, 10), c.em * 10) << c.text;
    EXPECT_DOUBLE_EQ(bottletool::text_width("12", 22), 2 * bottletool::text_width("12", 11));
}

}  // namespace
