// The bottle command run as a program: import, dump, info and plot, on
// bottles it writes and on files written here byte by byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "bottle_run.h"
#include "svg.h"

namespace {

namespace fs = std::filesystem;
using namespace bottletest;

// --- import, then dump ---------------------------------------------------

TEST(BottleImport, EachTypeReadsBackExactlyThroughDump) {
    const struct {
        const char *type;
        std::string input;
        std::vector<std::string> values;
    } cases[] = {
        {"int", "\xEF\xBB\xBF-32768\n\n32766\n+7\n nan \n", {"-32768", "", "32766", "7", ""}},
        {"long", "-2147483648\n2147483647\n\"12\"\n\nNaN\n", {"-2147483648", "2147483647", "12", "", ""}},
        {"float", "0.1\n-3.4028235e38\n1e-45\n\ninf\n-0\n", {"0.1", "-3.4028235e+38", "1e-45", "", "inf", "-0"}},
        {"double", "0.1\r\n1.7976931348623157e308\n4.9e-324\n,\n-nan\n2.5", {"0.1", "1.7976931348623157e+308", "5e-324", "", "", "2.5"}},
        // NA is an unusable sample, on the first line too (no header).
        {"float", "NA\n\n1\n \"na\"\n", {"", "", "1", ""}},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string out = dir.file("t.bot");
        const RunResult imported =
            bottle({"import", out, "--type", c.type, "--begin", "2015-06-23T23:59:59.5Z", "--interval", "0.25"}, c.input);
        ASSERT_EQ(imported.status, 0) << c.type << ": " << imported.err;
        const RunResult dumped = bottle({"dump", out});
        ASSERT_EQ(dumped.status, 0) << dumped.err;
        EXPECT_EQ(dump_column(dumped.out, 1), c.values) << c.type;
        const std::vector<std::string> times = dump_column(dumped.out, 0);
        ASSERT_GE(times.size(), 4u);
        EXPECT_EQ(times[0], "2015-06-23T23:59:59.500Z");
        EXPECT_EQ(times[3], "2015-06-24T00:00:00.250Z");
    }
}

TEST(BottleImport, ReadsItsOwnDumpBack) {
    TempDir dir;
    const std::string input = "a,b,1.5\nx,y,\n,,-2\n1e300\n";
    ASSERT_EQ(bottle({"import", dir.file("a.bot"), "--type", "double", "--begin", "@-10", "--interval", "3"}, input).status, 0);
    const RunResult first = bottle({"dump", dir.file("a.bot")});
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "time,value\n1969-12-31T23:59:50.000Z,1.5\n1969-12-31T23:59:53.000Z,\n"
                         "1969-12-31T23:59:56.000Z,-2\n1969-12-31T23:59:59.000Z,1e+300\n");
    const RunResult again = bottle({"import", dir.file("b.bot"), "--type", "double", "--begin", "@-10", "--interval", "3"}, first.out);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read_file(dir.file("b.bot")), read_file(dir.file("a.bot")));
}

TEST(BottleImport, FailuresLeaveTheTargetAsItWas) {
    const struct {
        const char *type;
        std::string input;
        const char *message;
    } cases[] = {
        {"int", "1\n2\nabc\n", "line 3: \"abc\" is not a whole number"},
        {"int", "1.5\n", "line 1: \"1.5\" is not a whole number"},
        {"int", "40000\n", "line 1: \"40000\" does not fit the type int"},
        {"int", "32767\n", "line 1: \"32767\" is the unusable value of the type int"},
        {"long", "1\n2147483648\n", "line 2: \"2147483648\" does not fit the type long"},
        {"float", "1e39\n", "line 1: \"1e39\" does not fit the type float"},
        {"float", "1\n1.5\n999999\n", "line 3: \"999999\" is the unusable value"},
        {"float", "time,value\nx,abc\n", "line 2: \"abc\" is not a number"},
        {"double", "1e400\n", "line 1: \"1e400\" does not fit the type double"},
        {"double", "1\n" + std::string(300, '1') + "\n", "line 2: the value is longer than 256 characters"},
        {"float", "2.5\n1,5\n", "line 2: \"1,5\" reads as a number with a comma in it"},
        {"long", "1,234,567\n", "line 1: \"234,567\" reads as a number with a comma in it"},
        {"double", "time,value\nx,1,5\n", "line 2: 3 fields where the header has 2"},
    };
    for (const auto &c : cases) {
        for (const bool existing : {false, true}) {
            TempDir dir;
            const std::string out = dir.file("t.bot");
            if (existing) write_file(out, "precious");
            std::vector<std::string> args{"import", out, "--type", c.type, "--begin", "@0", "--interval", "1"};
            if (existing) args.push_back("--force");
            const RunResult r = bottle(args, c.input);
            EXPECT_EQ(r.status, 1) << c.input;
            EXPECT_TRUE(contains(r.err, c.message)) << r.err;
            EXPECT_EQ(fs::exists(out), existing);
            if (existing) {
                EXPECT_EQ(read_file(out), "precious");
            }
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), existing ? 1 : 0)
                << "a temporary file was left behind";
        }
    }
}

TEST(BottleImport, UnreadableInputLeavesTheTargetAsItWas) {
    TempDir dir;
    const std::string out = dir.file("t.bot");
    write_file(out, "precious");
    // A directory opens for reading, but reading it fails.
    const RunResult r = testsupport::run(
        "/bin/sh", {"-c", "exec \"$0\" import \"$1\" --type int --begin @0 --interval 1 --force < \"$2\"", BOTTLE_PATH, out, dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "cannot read standard input")) << r.err;
    EXPECT_EQ(read_file(out), "precious");
}

TEST(BottleImport, ReplacesAnExistingTargetOnlyWithForce) {
    TempDir dir;
    const std::string out = dir.file("t.bot");
    write_file(out, "precious");
    const std::vector<std::string> args{"import", out, "--type", "long", "--begin", "@0", "--interval", "1"};
    const RunResult refused = bottle(args, "5\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "already exists")) << refused.err;
    EXPECT_EQ(read_file(out), "precious");

    std::vector<std::string> forced = args;
    forced.push_back("--force");
    ASSERT_EQ(bottle(forced, "5\n").status, 0);
    EXPECT_EQ(read_file(out), header(1, 0, 1, 1) + long_samples({5}));
}

// Runs a shell command line with the bottle program as $0 and `args` as
// $1 onwards.
bool is_link(const std::string &path) { return fs::is_symlink(fs::symlink_status(path)); }

TEST(BottleImport, WritesOnlyRegularFilesAndNeverItsInput) {
    TempDir dir;
    const std::string bot = dir.file("t.bot"), link = dir.file("link.bot"), fifo = dir.file("fifo");
    const std::string ten = header(1, 0, 1, 10) + long_samples({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    write_file(bot, ten);
    const std::string import = "exec \"$0\" import \"$1\" --type long --begin @0 --interval 1 --force";
    const struct {
        std::string line, out, message;
    } refused[] = {
        {import + " <&-", bot, "standard input is closed"},
        {import + " < \"$1\"", bot, "it is standard input, which this command reads"},
        {"echo 5 | " + import, fifo, "is a FIFO, not a regular file"},
        {"echo 5 | " + import, "-", "standard output (-) is not a regular file"},
    };
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const auto &c : refused) {
        const RunResult r = shell(c.line, {c.out});
        EXPECT_EQ(r.status, 1) << c.line;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    EXPECT_EQ(read_file(bot), ten);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // Through a link: the file it names is replaced, the link stays.
    fs::create_symlink("t.bot", link);
    ASSERT_EQ(shell("echo 5 | " + import, {link}).status, 0);
    EXPECT_TRUE(is_link(link));
    EXPECT_EQ(read_file(bot), header(1, 0, 1, 1) + long_samples({5}));
}

TEST(BottleImport, CommandLinesItCannotUseAreUsageErrors) {
    TempDir dir;
    const std::string out = dir.file("t.bot");
    const std::vector<std::vector<std::string>> cases{
        {"import", out, "--begin", "@0", "--interval", "1"},
        {"import", out, "--type", "short", "--begin", "@0", "--interval", "1"},
        {"import", out, "--type", "int", "--begin", "tomorrow", "--interval", "1"},
        {"import", out, "--type", "int", "--begin", "@0", "--interval", "-1"},
        {"import", out, "--type", "int", "--begin", "@0", "--interval", "1e-50"},
        {"import", out, "--type", "int", "--begin", "@0", "--interval", "nan"},
        {"import", "--type", "int", "--begin", "@0", "--interval", "1"},
        {"import", out, "--type", "int", "--begin", "@0", "--interval", "1", "--colour"},
    };
    for (const auto &args : cases) {
        const RunResult r = bottle(args, "1\n");
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(contains(r.err, "bottle import: ")) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// --- dump and info on files written here ---------------------------------

TEST(BottleDump, SelectsSamplesByTime) {
    TempDir dir;
    const std::string file = dir.file("t.bot");
    write_file(file, header(1, 100, 10, 10) + long_samples({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> values;
    } cases[] = {
        {{}, counting_text(0, 10)},
        {{"--from", "@125"}, counting_text(3, 10)},
        {{"--from", "@130"}, counting_text(3, 10)},
        {{"--to", "@150"}, counting_text(0, 5)},
        {{"--from", "@125", "--to", "@150"}, counting_text(3, 5)},
        {{"--count", "3"}, counting_text(0, 3)},
        {{"--from", "@135", "--count", "100"}, counting_text(4, 10)},
        {{"--from", "700101000140"}, counting_text(0, 10)},
        {{"--from", "1970-01-01T00:01:50Z"}, counting_text(1, 10)},
        {{"--from", "@500"}, {}},
        {{"--to", "@0"}, {}},
        {{"--count", "0"}, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"dump", file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = bottle(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dump_column(r.out, 1), c.values) << (c.options.empty() ? "" : c.options[1]);
    }
}

TEST(BottleDump, CommandLinesItCannotUseAreUsageErrors) {
    TempDir dir;
    const std::string file = dir.file("t.bot");
    write_file(file, header(1, 100, 10, 1) + long_samples({1}));
    const std::vector<std::vector<std::string>> cases{
        {"dump", file, "--to", "@1", "--count", "1"}, {"dump", file, "--count", "-1"},
        {"dump", file, "--from", "85130"},           {"dump", file, file},
        {"dump"},                                    {"dump", file, "--missing", "a\nb"},
        {"dump", file, "--from"},                    {"dump", file, "--epoch=yes"},
        {"dump", file, "--from", "@200", "--to", "@100"},
    };
    for (const auto &args : cases) {
        const RunResult r = bottle(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(contains(bottle({"dump", file, "--from", "85130"}).err, "ISO 8601"));
}

TEST(BottleDump, HandWrittenHeadersThatDisagreeWithTheirFiles) {
    TempDir dir;
    const struct {
        const char *name;
        std::string bytes;
        std::vector<std::string> dump_options;
        std::vector<std::string> times, values;
        std::vector<std::string> info;  // lines info must print
    } cases[] = {
        {"count", header(2, 0, 1, 5) + float_samples({0, 1, 2, 3, 4, 5, 6}), {"--epoch"},
         counting_text(0, 7), counting_text(0, 7),
         {" Thu Jan 01 00:00:00 GMT 1970 001 -> Thu Jan 01 00:00:06 GMT 1970 001  sec: 1  float: 7",
          "  samples:   7", "  warning: the header says 5 samples; the file holds 7"}},
        // Samples are counted from the data offset, by every job alike.
        {"offset", header(2, 0, 1, 2, 80) + std::string(40, '\xff') + float_samples({4, 5}), {"--epoch"}, {"0", "1"},
         {"4", "5"}, {"  samples:   2", "  warning: the header puts sample 0 at byte 80, not 40; programs that link the "
                                       "bottle library count 12 samples, from byte 40"}},
        {"nan", header(3, 0, 1, 2) + [] {
             std::string b;
             put(b, std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN()), 8);
             put(b, std::bit_cast<std::uint64_t>(2.0), 8);
             return b;
         }(), {"--epoch"}, {"0", "1"}, {"", "2"}, {"  samples:   2"}},
        {"trailing", header(3, 0, 1, 2) + std::string(16, '\0') + "abc", {"--epoch"}, {"0", "1"}, {"0", "0"},
         {"  samples:   2", "  file size: 59 bytes", "  warning: 3 bytes after the last whole sample are part of no sample"}},
        {"before1970", header(2, -86400.5, 0.25, 3) + float_samples({1, 999999, 3}), {"--missing", "NA"},
         {"1969-12-30T23:59:59.500Z", "1969-12-30T23:59:59.750Z", "1969-12-31T00:00:00.000Z"}, {"1", "NA", "3"},
         {"  begin:     1969-12-30T23:59:59.500Z", "  end:       1969-12-31T00:00:00.000Z"}},
        {"interval0", header(1, 100, 0, 3) + long_samples({7, 8, 9}), {"--epoch"}, {"100", "101", "102"},
         {"7", "8", "9"}, {"  interval:  0 s (sample times advance by 1 s)"}},
        {"empty", header(0, 0, 60, 9), {}, {}, {}, {"  samples:   0", "  end:       (no samples)",
                                                   "  warning: the header says 9 samples; the file holds 0"}},
        {"backward", header(2, 100, -10, 5) + float_samples({0, 1, 2, 3, 4}), {"--epoch", "--from", "@75", "--to", "@95"},
         {"90", "80"}, {"1", "2"}, {"  warning: the interval is negative: sample times run backward"}},
    };
    for (const auto &c : cases) {
        const std::string file = dir.file(c.name);
        write_file(file, c.bytes);
        std::vector<std::string> args{"dump", file};
        args.insert(args.end(), c.dump_options.begin(), c.dump_options.end());
        const RunResult dumped = bottle(args);
        ASSERT_EQ(dumped.status, 0) << c.name << ": " << dumped.err;
        EXPECT_EQ(dump_column(dumped.out, 0), c.times) << c.name;
        EXPECT_EQ(dump_column(dumped.out, 1), c.values) << c.name;
        const RunResult info = bottle({"info", file});
        EXPECT_EQ(info.status, 0) << c.name << ": " << info.err;
        const std::vector<std::string> lines = lines_of(info.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], file + ":");
        for (const std::string &line : c.info)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << c.name << ": " << line << "\n" << info.out;
        EXPECT_EQ(read_file(file), c.bytes) << c.name << ": looking at a bottle changed it";
    }
}

TEST(BottleDump, LookingWithStandardOutputClosedLeavesTheFileAlone) {
    // With standard output closed, the bottle would be opened as descriptor
    // 1 and the printed description written into it.
    TempDir dir;
    const std::string file = dir.file("t.bot"), bytes = header(2, 0, 1, 1) + float_samples({1});
    write_file(file, bytes);
    // Many files, so that printed text fills the output buffer while a
    // bottle is open.
    std::vector<std::string> args{"-c", "exec \"$0\" info \"$@\" >&-", BOTTLE_PATH};
    args.insert(args.end(), 50, file);
    EXPECT_EQ(testsupport::run("/bin/sh", args).status, 1) << "output that went nowhere is no success";
    EXPECT_EQ(read_file(file), bytes);
    EXPECT_EQ(testsupport::run("/bin/sh", {"-c", "exec \"$0\" dump \"$1\" >&-", BOTTLE_PATH, file}).status, 1);
    EXPECT_EQ(read_file(file), bytes);
}

TEST(BottleDump, FilesThatAreNotBottles) {
    TempDir dir;
    const std::string text = dir.file("text"), shortfile = dir.file("short"), badtype = dir.file("badtype");
    const std::string badmagic = dir.file("badmagic");
    write_file(text, "time,value\n1,2\n");
    write_file(shortfile, header(2, 0, 1, 0).substr(0, 10));
    write_file(badtype, header(7, 0, 1, 0) + "12345678");
    write_file(badmagic, "\x0c" + header(2, 0, 1, 0).substr(1));
    const struct {
        std::string file, message, reason;  // the library's message, then what is wrong
        std::string dump_says;              // between the file's name and the reason
    } cases[] = {
        {text, "bopen:  " + text + " is not a legal bottle", "the file is shorter than the 40-byte header",
         " is not a bottle: "},
        {shortfile, "bopen:  " + shortfile + " is not a legal bottle", "the file is shorter than the 40-byte header",
         " is not a bottle: "},
        {badtype, "bopen:  " + badtype + " is not a legal bottle", "the sample type is 7, not 0 to 3", " is not a bottle: "},
        {badmagic, "bopen:  " + badmagic + " is not a legal bottle", "the magic number is 268, not 349",
         " is not a bottle: "},
        {dir.file("missing"), "bopen:  can't open file " + dir.file("missing"), "No such file or directory", ": "},
        {dir.path(), "bopen:  " + dir.path() + " is not a legal bottle", "Is a directory", ": "},
    };
    for (const auto &c : cases) {
        const RunResult dumped = bottle({"dump", c.file});
        EXPECT_EQ(dumped.status, 1);
        EXPECT_EQ(dumped.out, "") << "standard output carries the CSV alone";
        EXPECT_EQ(dumped.err, "bottle dump: " + c.file + c.dump_says + c.reason + "\n") << "one message, the command's";
        const std::string reason = c.file + ": " + c.reason + "\n";
        // info prints the library's message as the file's description, and
        // goes on with the next file.
        const std::string good = dir.file("good");
        write_file(good, header(2, 0, 1, 1) + float_samples({1}));
        const RunResult info = bottle({"info", c.file, good});
        EXPECT_EQ(info.status, 1);
        EXPECT_TRUE(contains(info.out, c.file + ":\n" + c.message + "\n" + reason + "\n" + good + ":\n Thu Jan 01")) << info.out;
        EXPECT_TRUE(contains(info.err, "1 of 2")) << info.err;
    }
}

TEST(BottleDump, ReachesEverySampleWhateverItsTime) {
    // At 1e15 s, neighbouring doubles are 0.125 s apart and the interval is
    // 1e-7 s: a million samples share each time.  Samples are read by their
    // index, so every one is reached all the same.
    TempDir dir;
    const std::string file = dir.file("fine");
    std::vector<std::int32_t> values(140000);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int32_t>(i);
    write_file(file, header(1, 1e15, 1e-7f, 0) + long_samples(values));
    const RunResult r = bottle({"dump", file, "--epoch"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dump_column(r.out, 1), counting_text(0, 140000));

    // At 1e9 s neighbouring doubles are 1.2e-7 s apart: import and dump
    // move every sample, though only about every thousandth has a time of
    // its own.
    std::string input;
    for (int i = 0; i < 300000; ++i) input += std::to_string(i) + "\n";
    const std::string spaced = dir.file("spaced");
    ASSERT_EQ(bottle({"import", spaced, "--type", "long", "--begin", "@1e9", "--interval", "1.2e-10"}, input).status, 0);
    const RunResult back = bottle({"dump", spaced});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(dump_column(back.out, 1), counting_text(0, 300000));

    // An interval that is not a number gives times that are not numbers.
    write_file(file, header(2, 0, std::bit_cast<float>(0x7fc00000u), 0) + float_samples({1}));
    const RunResult nan_interval = bottle({"dump", file});
    EXPECT_EQ(nan_interval.status, 0) << nan_interval.err;
    EXPECT_EQ(nan_interval.out, "time,value\n@nan,1\n");
}

// --- plot ----------------------------------------------------------------

// Runs xmllint on a file: true when it is well-formed XML.
bool well_formed(const std::string &file) {
    const std::string xmllint = XMLLINT_PATH;
    EXPECT_TRUE(fs::exists(xmllint)) << "xmllint is needed (Debian package libxml2-utils)";
    const RunResult r = testsupport::run(xmllint, {"--noout", file});
    EXPECT_EQ(r.err, "");
    return r.status == 0;
}

std::vector<std::string> polylines(const std::string &svg) {
    std::vector<std::string> out;
    const std::string open = "<polyline points=\"";
    for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
        const std::size_t start = at + open.size();
        out.push_back(svg.substr(start, svg.find('"', start) - start));
    }
    return out;
}

// The y coordinates of a polyline's points.
std::vector<double> ys(const std::string &points) {
    std::vector<double> out;
    std::istringstream in(points);
    for (std::string xy; in >> xy;) out.push_back(std::stod(xy.substr(xy.find(',') + 1)));
    return out;
}

// The value of an attribute of an element's tag, or empty.
std::string attribute(std::string_view tag, const std::string &name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string_view::npos) return "";
    const std::size_t start = at + key.size();
    return std::string(tag.substr(start, tag.find('"', start) - start));
}

TEST(BottlePlot, BreaksTheLineAtUnusableSamples) {
    TempDir dir;
    const std::string file = dir.file("g.bot"), svg = dir.file("g.svg");
    ASSERT_EQ(bottle({"import", file, "--type", "float", "--begin", "2015-06-23", "--interval", "60"},
                     "1\n2\n3\n\n5\n6\n7\n\n\n9\n")
                  .status,
              0);
    const RunResult r = bottle({"plot", file, "-o", svg});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = read_file(svg);
    EXPECT_TRUE(well_formed(svg));
    const std::vector<std::string> lines = polylines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    EXPECT_EQ(ys(lines[0]).size(), 3u);
    EXPECT_EQ(ys(lines[1]).size(), 3u);
    EXPECT_EQ(count_of(text, "<circle"), 1u) << "the lone last sample is a dot";
    EXPECT_TRUE(contains(text, ">2015-06-23<")) << "the time axis shows the date";
}

TEST(BottlePlot, KeepsTheExtremesOfEachColumn) {
    TempDir dir;
    const std::string file = dir.file("d.bot"), svg = dir.file("d.svg");
    std::string input;
    for (int i = 0; i < 100000; ++i) input += i == 50000 ? "100\n" : (i >= 70000 && i < 80000) ? "\n" : "0\n";
    ASSERT_EQ(bottle({"import", file, "--type", "int", "--begin", "@0", "--interval", "1"}, input).status, 0);
    ASSERT_EQ(bottle({"plot", file, "-o", svg, "--width", "200"}).status, 0);
    const std::string text = read_file(svg);
    EXPECT_TRUE(well_formed(svg));
    const std::vector<std::string> lines = polylines(text);
    ASSERT_EQ(lines.size(), 2u);
    std::vector<double> all = ys(lines[0]);
    const std::vector<double> second = ys(lines[1]);
    all.insert(all.end(), second.begin(), second.end());
    const std::size_t frame = text.find("<rect class=\"frame\"");
    ASSERT_NE(frame, std::string::npos);
    const double columns = std::stod(attribute(std::string_view(text).substr(frame, text.find('>', frame) - frame), "width"));
    EXPECT_LE(static_cast<double>(all.size()), 2 * columns) << "at most two points per pixel column";
    const double baseline = all.back();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](double y) { return y != baseline; }), 1) << "one spike";
}

TEST(BottlePlot, WritesWellFormedXmlForAnyNameAndData) {
    TempDir dir;
    const std::string file = dir.file("a&b<\"c\">\xff.bot"), svg = dir.file("p.svg");
    write_file(file, header(3, 1e9, 0.001f, 0) + std::string(8 * 3, '\0'));
    ASSERT_EQ(bottle({"plot", file, "-o", svg, "--width", "300", "--height", "150"}).status, 0);
    EXPECT_TRUE(well_formed(svg));

    write_file(file, header(2, 0, 1, 0) + float_samples({999999, 999999}));
    write_file(svg, "old");
    ASSERT_EQ(bottle({"plot", file, "-o", svg}).status, 0);
    EXPECT_TRUE(contains(read_file(svg), "no usable samples"));
    EXPECT_TRUE(well_formed(svg));
}

TEST(BottlePlot, FailsWithoutSamplesOrUsableOptions) {
    TempDir dir;
    const std::string file = dir.file("t.bot"), svg = dir.file("t.svg");
    write_file(file, header(2, 0, 1, 0) + float_samples({1, 2}));
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"plot", file}, 2},
        {{"plot", file, "-o", svg, "--width", "10"}, 2},
        {{"plot", file, "-o", svg, "--height", "x"}, 2},
        {{"plot", file, "-o", svg, "--from", "@5"}, 1},
        {{"plot", dir.file("missing"), "-o", svg}, 1},
    };
    for (const auto &c : cases) {
        const RunResult r = bottle(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_FALSE(fs::exists(svg));
    }
}

TEST(BottlePlot, WritesThroughLinksAndIntoDevicesButNeverOverItsInput) {
    TempDir dir;
    const std::string bot = dir.file("t.bot"), bytes = header(2, 0, 60, 3) + float_samples({1, 2, 3});
    write_file(bot, bytes);
    fs::create_directory(dir.file("sub"));
    fs::create_symlink("t.bot", dir.file("to-input"));
    fs::create_hard_link(bot, dir.file("hard"));
    for (const char *out : {"t.bot", "to-input", "hard"}) {
        const RunResult r = bottle({"plot", bot, "-o", dir.file(out)});
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_TRUE(contains(r.err, "which this command reads")) << r.err;
        EXPECT_EQ(read_file(bot), bytes);
    }
    EXPECT_EQ(shell("exec \"$0\" plot \"$1\" -o - >> \"$1\"", {bot}).status, 1);
    EXPECT_EQ(read_file(bot), bytes);

    // A link, to a file or to none yet: the file it names gets the plot.
    write_file(dir.file("sub/old.svg"), "old");
    fs::create_symlink("sub/old.svg", dir.file("old.svg"));
    fs::create_symlink("sub/new.svg", dir.file("new.svg"));
    for (const char *name : {"old.svg", "new.svg"}) {
        ASSERT_EQ(bottle({"plot", bot, "-o", dir.file(name)}).status, 0) << name;
        EXPECT_TRUE(is_link(dir.file(name))) << name;
        EXPECT_TRUE(well_formed(dir.file(std::string("sub/") + name))) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("sub")), fs::directory_iterator()), 2) << "a temporary file was left";

    // What is not a regular file is written where it is.
    const std::string fifo = dir.file("fifo"), caught = dir.file("caught.svg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(shell("cat \"$2\" > \"$3\" & \"$0\" plot \"$1\" -o \"$2\"; s=$?; wait; exit $s", {bot, fifo, caught}).status, 0);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(well_formed(caught));
    const RunResult piped = bottle({"plot", bot, "-o", "-"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.rfind("<?xml", 0), 0u);
    EXPECT_EQ(shell("exec \"$0\" plot \"$1\" -o - >&-", {bot}).status, 1);
    if (geteuid() == 0) {  // device nodes of our own, like /dev/null and /dev/full
        const std::string null = dir.file("null"), full = dir.file("full");
        ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        EXPECT_EQ(bottle({"plot", bot, "-o", null}).status, 0);
        const RunResult r = bottle({"plot", bot, "-o", full});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
        EXPECT_TRUE(fs::is_character_file(null));
        EXPECT_TRUE(fs::is_character_file(full));
    }
}

// The <text> elements drawn upright: anchor, position, font size, content.
struct SvgText {
    double x, y, size;
    std::string anchor, content;
};

// XML text with its five escapes undone.
std::string unescaped(std::string text) {
    const std::pair<const char *, char> escapes[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    for (const auto &[from, to] : escapes)
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
            text.replace(at, std::strlen(from), 1, to);
    return text;
}

std::vector<SvgText> upright_texts(const std::string &svg) {
    std::vector<SvgText> out;
    const std::string open = "<text x=";  // turned texts begin with their class
    for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
        const std::size_t close = svg.find('>', at), end = svg.find("</text>", close);
        const std::string_view tag(svg.data() + at, close - at);
        const std::string size = attribute(tag, "font-size");
        out.push_back({std::stod(attribute(tag, "x")), std::stod(attribute(tag, "y")), size.empty() ? 11 : std::stod(size),
                       attribute(tag, "text-anchor"), unescaped(svg.substr(close + 1, end - close - 1))});
    }
    return out;
}

TEST(BottlePlot, EveryTextLiesInsideThePicture) {
    TempDir dir;
    const std::string big = dir.file("big.bot"), fine = dir.file("fine.bot"), svg = dir.file("p.svg");
    write_file(big, header(1, 1435017600, 3600, 3) + long_samples({-2000000000, 1, 5}));
    const std::string fine_values = "1234567.001\n1234568\n";
    ASSERT_EQ(bottle({"import", fine, "--type", "double", "--begin", "2015-06-23T23:59:58", "--interval", "1"}, fine_values).status, 0);
    const struct {
        std::string file;
        std::vector<std::string> options;
        std::string must_show;
    } cases[] = {
        {big, {}, "-2000000000"},
        {big, {"--width", "200", "--height", "120", "--ylabel", "degrees Celsius"}, "02:00"},
        {fine, {"--title", "Mast 3 & 4 <north>"}, "1234567.2"},
        {fine, {"--width", "200", "--title", "A title far too long for a picture only two hundred pixels wide"}, "23:59:59"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"plot", c.file, "-o", svg};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(bottle(args).status, 0);
        const std::string text = read_file(svg);
        const double width = c.options.size() > 1 && c.options[0] == "--width" ? 200 : 1000;
        bool shown = false;
        for (const SvgText &t : upright_texts(text)) {
            const double w = bottletool::text_width(t.content, t.size);
            const double start = t.x - (t.anchor == "start" ? 0 : t.anchor == "middle" ? w / 2 : w);
            EXPECT_GE(start, 0) << t.content;
            EXPECT_LE(start + w, width) << t.content;
            EXPECT_GE(t.y - t.size, 0) << t.content;
            shown = shown || contains(t.content, c.must_show);
        }
        EXPECT_TRUE(shown) << c.must_show << " is not drawn\n" << text;
        for (std::size_t i = 0; i + 1 < c.options.size(); ++i) {
            if (c.options[i] == "--title" || c.options[i] == "--ylabel") {
                EXPECT_TRUE(contains(text, bottletool::xml_text(c.options[i + 1]))) << c.options[i];
            }
        }
    }
}

// --- the command line as a whole -----------------------------------------

TEST(BottleCommand, HelpForEachCommandAndItsManPageAgree) {
    const std::string man = read_file(BOTTLE_MAN_PATH);
    ASSERT_FALSE(man.empty());
    for (const char *command : {"info", "dump", "import", "plot", "cut", "cat", "gaps", "decimate", "export"}) {
        const RunResult r = bottle({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("usage: bottle ") + command, 0), 0u) << r.out;
        EXPECT_TRUE(contains(man, std::string(".SS ") + command)) << command;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << command << ": " << line;
        std::istringstream words(r.out);
        for (std::string word; words >> word;) {
            if (word.rfind("--", 0) != 0 || word.size() < 3) continue;
            std::string option = word.substr(2, word.find_first_not_of("abcdefghijklmnopqrstuvwxyz", 2) - 2);
            EXPECT_TRUE(contains(man, "\\-\\-" + option)) << command << " --" << option << " is not in the man page";
        }
    }
    EXPECT_EQ(bottle({}).status, 2);
    const RunResult general = bottle({"--help"});
    EXPECT_EQ(general.status, 0);
    EXPECT_TRUE(contains(general.out, "--version")) << general.out;
    for (const std::string command : {"cat", "cut"}) {  // "bottle help COMMAND" is "bottle COMMAND --help"
        const RunResult r = bottle({"help", command});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_TRUE(r.out.starts_with("usage: bottle " + command)) << r.out;
        EXPECT_EQ(r.out, bottle({command, "--help"}).out);
    }
}

// Each mistake at the prompt is one message on standard error (with a
// pointer to the help where the command line is wrong) and status 2, or 1
// for a file that cannot be opened.
TEST(BottleCommand, MistakesGetOneClearMessage) {
    const std::string help = "Run \"bottle --help\" for the commands.\n";
    const auto usage = [](const std::string &command) { return "Run \"bottle " + command + " --help\" for its usage.\n"; };
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"dupm", "x.bot"}, 2, "bottle: unknown command \"dupm\"; did you mean \"dump\"?\n" + help},
        {{"ct"}, 2, "bottle: unknown command \"ct\"; did you mean \"cut\" or \"cat\"?\n" + help},
        {{"frobnicate"}, 2, "bottle: unknown command \"frobnicate\"\n" + help},
        {{"--bogus"}, 2, "bottle: unknown option \"--bogus\"\n" + help},
        {{"help", "imprt"}, 2, "bottle: unknown command \"imprt\"; did you mean \"import\"?\n" + help},
        {{"help", "dump", "cut"}, 2, "bottle help: too many arguments\nusage: bottle help [COMMAND]\n"},
        {{"dump", "/nonexistent/nope.bot"}, 1, "bottle dump: /nonexistent/nope.bot: No such file or directory\n"},
        {{"gaps", "/nonexistent/nope.bot"}, 1,
         "bottle gaps: /nonexistent/nope.bot: No such file or directory\n"
         "bottle gaps: files that are not readable bottles: 1 of 1\n"},
        {{"dump", "x.bot", "--follow=tail"}, 2,
         "bottle dump: --follow takes descriptor or name, not \"tail\"\n" + usage("dump")},
        {{"plot", "x.bot", "-o", "-", "-f"}, 2,
         "bottle plot: --follow draws the picture again and again: name a file with -o OUT.svg\n" + usage("plot")},
        {{"plot", "x.bot", "-o", "x.svg", "--window", "10min"}, 2,
         "bottle plot: --window and --every go with --follow\n" + usage("plot")},
        {{"plot", "x.bot", "-o", "x.svg", "-f", "--every", "10 min"}, 2,
         "bottle plot: --every needs a length of time such as 30, 30s, 10min, 2h or 1d, not \"10 min\"\n" +
             usage("plot")},
    };
    for (const auto &c : cases) {
        const RunResult r = bottle(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(BottleCommand, OutputThatCannotBeWrittenIsAFailure) {
    TempDir dir;
    const std::string file = dir.file("t.bot"), bytes = header(2, 0, 1, 1) + float_samples({1});
    write_file(file, bytes);
    const struct {
        std::string line, message;
    } cases[] = {
        {"exec \"$0\" --help >&-", "standard output is closed"},
        {"exec \"$0\" dump --help >&-", "standard output is closed"},
        {"exec \"$0\" --version > /dev/full", "cannot write standard output"},
        {"exec \"$0\" info \"$1\" >> \"$1\"", "which this command reads"},
        {"exec \"$0\" dump \"$1\" 1<> \"$1\"", "which this command reads"},
    };
    for (const auto &c : cases) {
        const RunResult r = shell(c.line, {file});
        EXPECT_EQ(r.status, 1) << c.line;
        EXPECT_TRUE(contains(r.err, c.message)) << c.line << ": " << r.err;
        EXPECT_EQ(read_file(file), bytes) << c.line;
    }
}

}  // namespace
