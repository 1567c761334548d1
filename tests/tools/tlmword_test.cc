// The packed word decoders: the programs' output byte for byte, their
// usage errors, and the sign handling of the decoders for every first byte.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "capture.h"
#include "packed.h"

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

class Misuse : public ::testing::TestWithParam<Case> {};

// Usage errors say what is wrong on standard error and exit 2.
TEST_P(Misuse, ExitsTwoWithMessage) {
    const Case &c = GetParam();
    const std::string name = "tlmword" + c.prog;
    const auto r = testsupport::run(path_of(c.prog), c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(name + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: " + name + " WORD\n"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Args, Misuse,
                         ::testing::Values(Case{"24", {}, 2, ""}, Case{"17", {}, 2, ""},
                                           Case{"24", {"--"}, 2, ""}, Case{"24", {"AAAA", "BBBB"}, 2, ""}));

TEST(ShortWord, IsRejected) {
    for (const auto &[prog, word] : std::vector<std::pair<std::string, std::string>>{
             {"24", "AAA"}, {"24", ""}, {"17", "AA"}, {"17", "?"}}) {
        const auto r = testsupport::run(path_of(prog), {word});
        EXPECT_EQ(r.status, 2) << prog << " " << word;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("at least"), std::string::npos) << r.err;
    }
}

TEST(Help, GoesToStandardOutput) {
    for (const char *opt : {"-h", "--help"}) {
        for (const std::string prog : {"24", "17"}) {
            const auto r = testsupport::run(path_of(prog), {opt});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out.rfind("usage: tlmword" + prog + " WORD\n", 0), 0u) << r.out;
            EXPECT_EQ(r.err, "");
        }
    }
}

// For every possible first byte: the sign follows bit 5 alone, and the value
// stays within the word's range (bit 22 forced on in negative 24-bit words).
TEST(Sign, EveryFirstByte) {
    for (int b = 0; b < 256; ++b) {
        const char w[4] = {static_cast<char>(b), '@', '@', '@'};
        const bool neg = (b & 0x20) != 0;
        const std::int32_t v24 = tlmword::decode24(w), v17 = tlmword::decode17(w);
        EXPECT_EQ(v24 < 0, neg) << b;
        EXPECT_EQ(v17 < 0, neg) << b;
        EXPECT_EQ(v24, neg ? static_cast<std::int32_t>(0xFFC00000u | (b & 0x1F) << 18) : (b & 0x1F) << 18) << b;
        EXPECT_EQ(v17, ((b & 0x1F) << 12) - (neg ? 1 << 17 : 0)) << b;
    }
}

}  // namespace
