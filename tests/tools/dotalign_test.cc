// Decimal-point alignment: padded columns, which entries get new blocks,
// and the measuring routines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dotalign.h"

extern "C" int c_caller_round_trip(void);

namespace {

using Entry = std::optional<std::string>;  // nullopt: a null pointer

struct Column {
    std::vector<Entry> in;
    std::vector<Entry> out;
    std::vector<bool> copied;  // entries that must point to a new block
};

void PrintTo(const Column &c, std::ostream *os) {
    if (c.in.empty()) *os << "empty column";
    for (const Entry &e : c.in) *os << (e ? "\"" + *e + "\" " : "null ");
}

class Align : public ::testing::TestWithParam<Column> {};

TEST_P(Align, PadsAndCopiesOnlyWhatItMust) {
    const Column &c = GetParam();
    std::vector<std::string> storage;  // the caller's strings, to check they are untouched
    storage.reserve(c.in.size());
    std::vector<char *> ptrs;
    for (const Entry &e : c.in) ptrs.push_back(e ? storage.emplace_back(*e).data() : nullptr);
    const std::vector<char *> before = ptrs;

    EXPECT_EQ(dotalign(ptrs.data(), static_cast<int>(ptrs.size())), 0);

    for (size_t i = 0; i < ptrs.size(); ++i) {
        EXPECT_EQ(ptrs[i] != before[i], c.copied[i]) << "entry " << i;
        if (c.out[i]) {
            ASSERT_NE(ptrs[i], nullptr);
            EXPECT_EQ(std::string(ptrs[i]), *c.out[i]) << "entry " << i;
        } else {
            EXPECT_EQ(ptrs[i], nullptr);
        }
        if (ptrs[i] != before[i]) std::free(ptrs[i]);
    }
    size_t k = 0;
    for (const Entry &e : c.in) {
        if (e) {
            EXPECT_EQ(storage[k++], *e);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Columns, Align,
    ::testing::Values(
        Column{{"12", "3.5", "0.125"}, {"12.000", "3.500", "0.125"}, {true, true, false}},
        Column{{"12", "34", "5"}, {"12", "34", "5"}, {false, false, false}},
        Column{{"5", "7."}, {"5.", "7."}, {true, false}},
        Column{{".5", "1.25"}, {".50", "1.25"}, {true, false}},
        Column{{"1.5", "1.2.3"}, {"1.500", "1.2.3"}, {true, false}},
        Column{{std::nullopt, "", "1.5", "2"}, {std::nullopt, "", "1.5", "2.0"}, {false, false, false, true}},
        Column{{"..", "1", "abc"}, {"..", "1.0", "abc.0"}, {false, true, true}},
        Column{{"3.14"}, {"3.14"}, {false}}, Column{{}, {}, {}}));

TEST(Align, NonPositiveCountOrNoArrayChangesNothing) {
    char a[] = "1", b[] = "2.5";
    char *col[] = {a, b};
    EXPECT_EQ(dotalign(col, 0), 0);
    EXPECT_EQ(dotalign(col, -3), 0);
    EXPECT_EQ(col[0], a);
    EXPECT_EQ(col[1], b);
    EXPECT_EQ(dotalign(nullptr, 2), 0);
}

TEST(Align, UsableFromC) { EXPECT_EQ(c_caller_round_trip(), 0); }

TEST(Measure, PlacesAndWhere) {
    struct {
        const char *s;
        int places, where;
    } const cases[] = {{"12.5", 2, 2}, {"12", 0, -1}, {"", 0, -1}, {".5", 2, 0}, {"7.", 1, 1},
                       {"1.2.3", 4, 1}, {"abc", 0, -1}, {nullptr, 0, -1}};
    for (const auto &c : cases) {
        EXPECT_EQ(places(c.s), c.places) << (c.s ? c.s : "(null)");
        EXPECT_EQ(where(c.s), c.where) << (c.s ? c.s : "(null)");
    }
}

}  // namespace
