// The date library as compiled into julstamp, which has layouts 0 to 4.

#include <gtest/gtest.h>

#include "date.h"
#include "zone_guard.h"

namespace {

TEST(JulstampLayouts, LayoutFiveWritesNothing) {
    ZoneGuard guard(0, 4);
    char buf[40] = "untouched";
    EXPECT_STREQ(dtoa(0, buf), "00:00:00 01 Jan 1970 001");
    dtoa_fmt = 5;
    EXPECT_STREQ(dtoa(86400, buf), "00:00:00 01 Jan 1970 001");
}

}  // namespace
