// The option rows of the bottle command: parsing a command line by them and
// the --help text made from them.

#include "command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bottletool::Args;
using bottletool::Option;

constexpr Option kOut{.name = "output", .alias = 'o', .value = "OUT", .help = "the file to write"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr Option kWidth{.name = "width", .value = "PX", .help = "width", .fallback = "1000", .bounds = {200, 20000, true}};
constexpr Option kLong{.name = "long",
                       .help = "a help far longer than one line can hold, so that it wraps at a space and goes on "
                               "under the column where the help began, and again"};
constexpr const Option *kRows[] = {&kOut, &kForce, &kWidth};
constexpr const Option *kOther[] = {&kLong};

TEST(OptionRows, ParseByNameAliasAndInlineValue) {
    const Args args({"a", "-o", "x.svg", "--width=300", "--force", "--", "--b"}, kRows);
    EXPECT_EQ(args.value(kOut), "x.svg");
    EXPECT_EQ(args.count(kWidth), 300);
    EXPECT_TRUE(args.has(kForce));
    EXPECT_EQ(args.operands(), (std::vector<std::string>{"a", "--b"}));
    EXPECT_EQ(Args({}, kRows).count(kWidth), 1000);  // the row's default
}

TEST(OptionRows, RefusedCommandLines) {
    const std::vector<std::vector<std::string>> cases = {
        {"--nope"}, {"--=x"}, {"-x"}, {"--force=yes"}, {"-o"}, {"-o", "a", "--output", "b"},
        {"--width", "199"}, {"--width", "20001"}, {"--width", "3e2"},
    };
    for (const auto &words : cases) {
        EXPECT_THROW(
            {
                const Args args(words, kRows);
                (void)args.count(kWidth);
            },
            bottletool::UsageError)
            << words[0];
    }
}

TEST(OptionRows, ARowOfAnotherCommandIsAFault) {
    const Args args({}, kRows);
    EXPECT_THROW((void)args.has(kLong), std::logic_error);
}

TEST(OptionRows, HelpListsTheRowsInColumnsWithinTheWidth) {
    const std::string text = bottletool::help_text("usage: x\n", kRows, "notes\n", false) +
                             bottletool::help_text("", kOther, "", false);
    EXPECT_NE(text.find("  -o, --output OUT  the file to write\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  --force           replace OUT if it exists\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  --width PX        width, 200 to 20000 (default: 1000)\nnotes\n"), std::string::npos) << text;
    std::istringstream lines(text.substr(text.find("--long")));
    std::string line;
    std::getline(lines, line);
    int continued = 0;
    for (; std::getline(lines, line); ++continued) {
        EXPECT_LE(line.size(), 79u) << line;
        EXPECT_EQ(line.find_first_not_of(' '), 10u) << line;  // "  --long" and two spaces
    }
    EXPECT_GE(continued, 1);
}

}  // namespace
