// The packed word decoders: the programs' output byte for byte, and their
// usage errors.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "capture.h"

namespace {

struct Case {
    std::string prog;  // "24" or "17"
    std::vector<std::string> args;
    int status;
    std::string out;
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << "tlmword" << c.prog;
    for (const auto &a : c.args) {
        *os << " '";
        for (unsigned char ch : a) {
            if (ch >= 0x20 && ch < 0x7F) *os << ch;
            else *os << "\\x" << std::hex << int(ch) << std::dec;
        }
        *os << "'";
    }
}

std::string path_of(const std::string &prog) { return prog == "24" ? TLMWORD24_PATH : TLMWORD17_PATH; }

class Decode : public ::testing::TestWithParam<Case> {};

TEST_P(Decode, PrintsExactly) {
    const Case &c = GetParam();
    const auto r = testsupport::run(path_of(c.prog), c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Words, Decode,
    ::testing::Values(Case{"17", {"???"}, 0, "-1\n"}, Case{"17", {"AAA"}, 0, "4161\n"},
                      Case{"17", {"000"}, 0, "-62416\n"}, Case{"17", {"AAAxyz"}, 0, "4161\n"},
                      Case{"17", {" @@"}, 0, "-131072\n"}, Case{"17", {"\x1f??"}, 0, "131071\n"},
                      Case{"17", {"@@@"}, 0, "0\n"}, Case{"24", {"AAAA"}, 0, "AAAA\n266305\n"},
                      Case{"24", {"????"}, 0, "????\n-1\n"}, Case{"24", {" AAA"}, 0, " AAA\n-4190143\n"},
                      Case{"24", {"pAAA"}, 0, "pAAA\n-4190143\n"},
                      Case{"24", {"AAAAxyz"}, 0, "AAAAxyz\n266305\n"},
                      Case{"24", {"\xff\xff\xff\xff"}, 0, "\xff\xff\xff\xff\n-1\n"},
                      Case{"24", {"\x1f???"}, 0, "\x1f???\n8388607\n"},
                      Case{"24", {" @@@"}, 0, " @@@\n-4194304\n"},
                      Case{"24", {"--", "--help"}, 0, "--help\n-599515\n"},
                      Case{"24", {"--version"}, 0, "tlmword24 1.0.0\n"},
                      Case{"17", {"--version"}, 0, "tlmword17 1.0.0\n"}));

// Usage errors say what is wrong on standard error and exit 2; help goes to
// standard output.
TEST(CommandLine, UsageErrorsAndHelp) {
    struct {
        std::string prog;
        std::vector<std::string> args;
        int status;
        std::string out_start, err_part;
    } const cases[] = {
        {"24", {}, 2, "", "missing WORD"},        {"17", {}, 2, "", "missing WORD"},
        {"24", {"--"}, 2, "", "missing WORD"},    {"24", {"AAAA", "BBBB"}, 2, "", "too many"},
        {"24", {"AAA"}, 2, "", "at least 4"},     {"24", {""}, 2, "", "at least 4"},
        {"17", {"AA"}, 2, "", "at least 3"},      {"24", {"-h"}, 0, "usage: tlmword24 [--] WORD\n", ""},
        {"17", {"--help"}, 0, "usage: tlmword17 [--] WORD\n", ""},
        {"17", {"--bogus"}, 2, "", "unknown option \"--bogus\""},
        {"24", {"-AAA"}, 2, "", "put \"--\" before"},
    };
    for (const auto &c : cases) {
        const auto r = testsupport::run(path_of(c.prog), c.args);
        const std::string name = "tlmword" + c.prog;
        SCOPED_TRACE(name + " " + (c.args.empty() ? "" : c.args[0]));
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.starts_with(c.out_start)) << r.out;
        if (c.status == 0) {
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(c.args[0] != "--help" || r.out.find("--version") != std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.err.starts_with(name + ": ")) << r.err;
            EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
        }
    }
}

}  // namespace
