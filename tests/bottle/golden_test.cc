// Bottles written by this build must be byte for byte the files checked in
// under golden/, which were written on x86-64: the same test on the 32-bit
// build proves the files do not depend on the host.  Setting
// ZULU_UPDATE_GOLDEN=1 rewrites the checked-in files instead.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bot.h"
#include "capture.h"
#include "date.h"

namespace {

struct Golden {
    const char *name;
    int type;
    double beg, ivl;
    const char *summary;  // what bshow prints, zone 0, layout 0
};

const Golden kBottles[] = {
    {"int.bot", 0, 489328496.5, 0.1,
     " Thu Jul 04 12:34:56.500 GMT 1985 185 -> Thu Jul 04 12:36:16.400 GMT 1985 185  sec: 0  int: 800\n"},
    {"long.bot", 1, -1e9, 0, " Sun Apr 24 22:13:20 GMT 1938 114 -> Sun Apr 24 22:13:20 GMT 1938 114  sec: 0  long: 800\n"},
    {"float.bot", 2, 0, 60, " Thu Jan 01 00:00:00 GMT 1970 001 -> Thu Jan 01 13:19:00 GMT 1970 001  sec: 60  float: 800\n"},
    {"double.bot", 3, 2524607999.25, 3600.5,
     " Fri Dec 31 23:59:59.250 GMT 2049 365 -> Thu Feb 03 07:06:38.750 GMT 2050 034  sec: 3600  double: 800\n"},
};

// A value of every sign and size that the type holds exactly.
template <typename T>
std::vector<T> pattern(int n, int seed) {
    std::vector<T> v(n);
    for (int i = 0; i < n; ++i) {
        const int64_t k = (int64_t{i} * 7919 + seed) % 65521 - 32760;
        if constexpr (sizeof(T) == 2)
            v[i] = static_cast<T>(k);
        else
            v[i] = static_cast<T>(k * 1000 + i) / static_cast<T>(sizeof(T) == 4 ? 1 : 7);
    }
    return v;
}

// Three windows: one across several pages, then one after a gap (padded
// with the unusable value), then one rewriting part of the first.
template <typename T>
void fill(bottle_hdr *b, double beg, double ivl) {
    const double step = ivl == 0 ? 1 : static_cast<float>(ivl);
    const auto first = pattern<T>(300, 1), second = pattern<T>(200, 2), third = pattern<T>(50, 3);
    bwrite(b, beg, 300, first.data());
    bwrite(b, beg + 600 * step + step / 2, 200, second.data());
    bwrite(b, beg + 100 * step + step / 2, 50, third.data());
}

std::string write_bottle(const Golden &g, const std::string &path) {
    zone = 0;
    dtoa_fmt = 0;
    bottle_hdr *b = bcreat(path.c_str(), g.beg, g.ivl, g.type);
    if (!b) return "";
    switch (g.type) {
    case 0: fill<int16_t>(b, g.beg, g.ivl); break;
    case 1: fill<int32_t>(b, g.beg, g.ivl); break;
    case 2: fill<float>(b, g.beg, g.ivl); break;
    default: fill<double>(b, g.beg, g.ivl); break;
    }
    const std::string summary = testsupport::capture([&] { bshow(b); }).out;
    bclose(b);
    return summary;
}

TEST(GoldenBottles, SameBytesOnEveryHost) {
    testsupport::TempDir dir;
    const bool update = std::getenv("ZULU_UPDATE_GOLDEN") != nullptr;
    for (const Golden &g : kBottles) {
        const std::string golden = std::string(GOLDEN_DIR) + "/" + g.name;
        const std::string path = update ? golden : dir.file(g.name);
        EXPECT_EQ(write_bottle(g, path), g.summary) << g.name;
        const std::string got = testsupport::read_file(path), want = testsupport::read_file(golden);
        EXPECT_EQ(got.size(), 40u + 800u * (g.type == 0 ? 2 : g.type == 3 ? 8 : 4)) << g.name;
        EXPECT_TRUE(got == want) << g.name << " differs from the checked-in file";
    }
}

}  // namespace
