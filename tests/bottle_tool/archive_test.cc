// The archive commands of the bottle program: cut, cat and gaps, on
// bottles written here byte by byte and on bottles the program writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "bottle_run.h"

namespace {

using namespace bottletest;

// Samples of a type as stored: 16-bit for type 0, 32-bit for 1 and 2,
// 64-bit for 3, each from the given whole numbers (floats and doubles as
// their values).
std::string samples_of(int type, const std::vector<std::int64_t> &v) {
    std::string b;
    for (std::int64_t x : v) {
        if (type == 0) put(b, static_cast<std::uint16_t>(x), 2);
        if (type == 1) put(b, static_cast<std::uint32_t>(x), 4);
        if (type == 2) put(b, std::bit_cast<std::uint32_t>(static_cast<float>(x)), 4);
        if (type == 3) put(b, std::bit_cast<std::uint64_t>(static_cast<double>(x)), 8);
    }
    return b;
}

// A bottle as the library writes it: the header with the sample count.
std::string bottle_bytes(int type, double beg, float ivl, const std::vector<std::int64_t> &v) {
    return header(type, beg, ivl, static_cast<std::int32_t>(v.size())) + samples_of(type, v);
}

// --- cut -----------------------------------------------------------------

TEST(BottleCut, KeepsTheSamplesBetweenBothTimesIncludedWithTheirBytes) {
    // Ten samples, one every 10 s from time 100; -32768 and the unusable
    // value among them.
    const std::vector<std::int64_t> v{0, -32768, 32767, 3, 4, 5, 6, 7, 8, 9};
    const struct {
        std::vector<std::string> options;
        std::size_t first, end;  // the samples kept
        double beg;              // of the new bottle
    } cases[] = {
        {{}, 0, 10, 100},
        {{"--from", "@120", "--to", "@150"}, 2, 6, 120},  // both bounds on sample times
        {{"--from", "@119.9", "--to", "@150.1"}, 2, 6, 120},
        {{"--from", "@120.1"}, 3, 10, 130},
        {{"--to", "@100"}, 0, 1, 100},                  // one sample
        {{"--from", "@190"}, 9, 10, 190},
        {{"--from", "@121", "--to", "@129"}, 3, 3, 130},  // between two samples: none
        // Windows past the data, as --partial keeps them.
        {{"--from", "@500", "--partial"}, 10, 10, 200},    // after the last: none
        {{"--to", "@-1e300", "--partial"}, 0, 0, 100},     // far before the first
        {{"--from", "@-1e300", "--to", "@1e300", "--partial"}, 0, 10, 100},
    };
    for (int type = 0; type < 4; ++type) {
        TempDir dir;
        const std::string in = dir.file("in.bot"), out = dir.file("out.bot");
        write_file(in, bottle_bytes(type, 100, 10, v));
        for (const auto &c : cases) {
            std::vector<std::string> args{"cut", in, out, "--force"};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const RunResult r = bottle(args);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<std::int64_t> kept(v.begin() + static_cast<std::ptrdiff_t>(c.first),
                                                 v.begin() + static_cast<std::ptrdiff_t>(c.end));
            EXPECT_EQ(read_file(out), bottle_bytes(type, c.beg, 10, kept)) << "type " << type << " " << c.options.size();
        }
    }
}

TEST(BottleCut, KeepsAnUnusableValueOfItsOwnAndRefusesWhatItCannotUse) {
    TempDir dir;
    std::string odd = header(1, 0, 1, 3);
    odd.replace(28, 4, std::string("\x07\x00\x00\x00", 4));  // unusable value 7
    odd += long_samples({7, 1, 7});
    write_file(dir.file("odd.bot"), odd);
    ASSERT_EQ(bottle({"cut", dir.file("odd.bot"), dir.file("o.bot"), "--from", "@1"}).status, 0);
    EXPECT_EQ(read_file(dir.file("o.bot")).substr(28, 4), std::string("\x07\x00\x00\x00", 4));
    EXPECT_EQ(dump_column(bottle({"dump", dir.file("o.bot")}).out, 1), (std::vector<std::string>{"1", ""}));

    const struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"cut", dir.file("odd.bot")}, 2, "operand"},
        {{"cut", dir.file("odd.bot"), dir.file("o.bot"), "--from", "@5", "--to", "@1"}, 2, "later than --to"},
        {{"cut", dir.file("odd.bot"), dir.file("o.bot")}, 1, "already exists"},
        {{"cut", dir.file("odd.bot"), dir.file("odd.bot"), "--force"}, 1, "which this command reads"},
        {{"cut", dir.file("none.bot"), dir.file("n.bot")}, 1, "No such file"},
    };
    for (const auto &c : cases) {
        const RunResult r = bottle(c.args);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    EXPECT_EQ(read_file(dir.file("odd.bot")), odd);
}

// --- cat -----------------------------------------------------------------

TEST(BottleCat, PiecesCutFromABottleJoinIntoItByteForByte) {
    const std::vector<std::int64_t> v{1, 2, 32767, 4, 5, 6, 32767, 32767, 9, 10, 11};
    // Pieces by --from and --to (empty for none); named in the order given.
    const std::vector<std::vector<std::pair<std::string, std::string>>> splits{
        {{"", "@30"}, {"@40", ""}},
        {{"@40", ""}, {"", "@30"}},                          // in the wrong order
        {{"@70", ""}, {"@20", "@60"}, {"", "@50"}},          // overlapping
        {{"", ""}, {"@1000", ""}, {"@-5", "@-1"}},           // empty pieces on the grid
        {{"", "@0"}, {"@10", "@10"}, {"@20", "@90"}, {"@100", ""}},
    };
    for (int type = 0; type < 4; ++type) {
        for (const auto &split : splits) {
            TempDir dir;
            const std::string original = bottle_bytes(type, 0, 10, v);
            write_file(dir.file("a.bot"), original);
            std::vector<std::string> cat{"cat", dir.file("joined.bot")};
            for (std::size_t i = 0; i < split.size(); ++i) {
                const std::string piece = dir.file("p" + std::to_string(i) + ".bot");
                std::vector<std::string> cut{"cut", dir.file("a.bot"), piece, "--partial"};
                if (!split[i].first.empty()) cut.insert(cut.end(), {"--from", split[i].first});
                if (!split[i].second.empty()) cut.insert(cut.end(), {"--to", split[i].second});
                ASSERT_EQ(bottle(cut).status, 0);
                cat.push_back(piece);
            }
            const RunResult r = bottle(cat);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_file(dir.file("joined.bot")), original) << "type " << type << ", " << split.size() << " pieces";
        }
    }
    // 100 samples a second in 2015: the begin times of the pieces resolve
    // coarser than a millionth of an interval.
    TempDir dir;
    const std::string original = bottle_bytes(2, 1435017600, 0.01f, v);
    write_file(dir.file("a.bot"), original);
    ASSERT_EQ(bottle({"cut", dir.file("a.bot"), dir.file("p.bot"), "--to", "2015-06-23T00:00:00.035"}).status, 0);
    ASSERT_EQ(bottle({"cut", dir.file("a.bot"), dir.file("q.bot"), "--from", "2015-06-23T00:00:00.035"}).status, 0);
    const RunResult r = bottle({"cat", dir.file("joined.bot"), dir.file("q.bot"), dir.file("p.bot")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("joined.bot")), original);
}

TEST(BottleCat, PadsGapsAndSettlesOverlaps) {
    const struct {
        std::vector<std::pair<double, std::vector<std::int64_t>>> inputs;  // begin time, samples
        std::vector<std::string> options;
        int status;
        std::vector<std::string> values;  // of the joined bottle, or the message
    } cases[] = {
        {{{30, {4, 5}}, {0, {1}}}, {}, 0, {"1", "", "", "4", "5"}},
        // Overlaps: equal samples, an unusable sample that gives way, and
        // differing samples.
        {{{0, {1, 2, 3}}, {10, {2, 3, 4}}}, {}, 0, {"1", "2", "3", "4"}},
        {{{0, {1, 32767, 3}}, {10, {2, 32767, 4}}}, {}, 0, {"1", "2", "3", "4"}},
        {{{0, {1, 2, 3}}, {10, {2, 9, 4}}}, {}, 1, {"differ, first at 1970-01-01T00:00:20.000Z"}},
        {{{0, {1, 2, 3}}, {10, {2, 9, 4}}}, {"--overlap", "first"}, 0, {"1", "2", "3", "4"}},
        {{{0, {1, 2, 3}}, {10, {2, 9, 4}}}, {"--overlap", "last"}, 0, {"1", "2", "9", "4"}},
        {{{10, {2, 9, 4}}, {0, {1, 2, 3}}}, {"--overlap", "first"}, 0, {"1", "2", "9", "4"}},
        {{{0, {1, 2}}, {0, {}}}, {}, 0, {"1", "2"}},
        {{{0, {}}, {50, {}}}, {}, 0, {}},
        {{{0, {1}}, {10.00000001, {2}}}, {}, 0, {"1", "2"}},  // on the grid within a millionth
        {{{0, {1}}, {10.5, {2}}}, {}, 1, {"does not begin on the grid of"}},
        {{{0, {1}}, {9.999, {2}}}, {}, 1, {"its begin time is 0.0001 of an interval off"}},
        {{{0, {1}}, {1e12, {2}}}, {}, 1, {"a bottle of type int holds at most"}},
        {{{0, {1}}, {1e300, {2}}}, {}, 1, {"too far"}},
        {{{0, {1}}}, {"--overlap", "both"}, 2, {"--overlap must be first or last"}},
    };
    for (const auto &c : cases) {
        TempDir dir;
        std::vector<std::string> args{"cat", dir.file("out.bot")};
        for (std::size_t i = 0; i < c.inputs.size(); ++i) {
            const std::string name = dir.file("in" + std::to_string(i) + ".bot");
            write_file(name, bottle_bytes(0, c.inputs[i].first, 10, c.inputs[i].second));
            args.push_back(name);
        }
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = bottle(args);
        ASSERT_EQ(r.status, c.status) << r.err;
        if (c.status != 0) {
            EXPECT_TRUE(contains(r.err, c.values[0])) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.bot")));
            continue;
        }
        EXPECT_EQ(dump_column(bottle({"dump", dir.file("out.bot")}).out, 1), c.values) << r.err;
    }
}

TEST(BottleCat, RefusesInputsThatDoNotMatch) {
    TempDir dir;
    write_file(dir.file("a.bot"), bottle_bytes(2, 0, 10, {1}));
    write_file(dir.file("long.bot"), bottle_bytes(1, 0, 10, {1}));
    write_file(dir.file("slow.bot"), bottle_bytes(2, 0, 20, {1}));
    write_file(dir.file("back.bot"), bottle_bytes(2, 0, -10, {1}));
    write_file(dir.file("text"), "not a bottle at all, really");
    const struct {
        std::string second, message;
    } cases[] = {
        {"long.bot", "long.bot holds samples of type long"},
        {"slow.bot", "slow.bot has the interval 20 s (" + dir.file("a.bot") + " has 10 s)"},
        {"back.bot", "back.bot has the interval -10 s"},
        {"text", "text is not a bottle: the file is shorter than the 40-byte header"},
        {"out.bot", "No such file"},
    };
    for (const auto &c : cases) {
        const RunResult r = bottle({"cat", dir.file("out.bot"), dir.file("a.bot"), dir.file(c.second)});
        EXPECT_EQ(r.status, 1) << c.second;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    const RunResult self = bottle({"cat", dir.file("a.bot"), dir.file("a.bot"), "--force"});
    EXPECT_TRUE(contains(self.err, "which this command reads")) << self.err;
    EXPECT_EQ(read_file(dir.file("a.bot")), bottle_bytes(2, 0, 10, {1}));
}

// --- the output of a job ------------------------------------------------

// Every job that writes a bottle takes -o OUT (or --output OUT), and its
// operands are then all inputs; the older positional forms write the same.
TEST(BottleOutput, DashONamesTheOutputOfEveryJob) {
    TempDir dir;
    const std::string a = dir.file("a.bot"), b = dir.file("b.bot");
    write_file(a, bottle_bytes(2, 0, 10, {1, 2}));
    write_file(b, bottle_bytes(2, 30, 10, {4}));
    const struct {
        std::vector<std::string> positional, named;  // OUT stands for the output
        std::string input;
    } cases[] = {
        {{"cut", a, "OUT", "--from", "@10"}, {"cut", a, "-o", "OUT", "--from", "@10"}, ""},
        {{"cat", "OUT", b, a}, {"cat", b, a, "--output", "OUT"}, ""},
        {{"import", "OUT", "--type", "long", "--begin", "@0", "--interval", "1"},
         {"import", "--type", "long", "--begin", "@0", "--interval", "1", "--output=OUT"}, "1\n2\n"},
    };
    for (const auto &c : cases) {
        std::string bytes[2];
        for (int named = 0; named < 2; ++named) {
            std::vector<std::string> args = named ? c.named : c.positional;
            const std::string out = dir.file(args[0] + std::to_string(named) + ".out");
            for (std::string &word : args)
                if (const std::size_t at = word.find("OUT"); at != std::string::npos) word.replace(at, 3, out);
            const RunResult r = bottle(args, c.input);
            ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
            bytes[named] = read_file(out);
        }
        EXPECT_GT(bytes[0].size(), 40u) << c.named[0];
        EXPECT_EQ(bytes[1], bytes[0]) << c.named[0];
    }
    // The mistake the positional form of cat invites is named as such.
    const RunResult r = bottle({"cat", a, b, dir.file("new.bot")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "without -o, cat writes its first operand")) << r.err;
    EXPECT_EQ(read_file(a), bottle_bytes(2, 0, 10, {1, 2}));
    // With -o, every operand is an input; without it, cut takes one.
    EXPECT_TRUE(contains(bottle({"cut", a, dir.file("x.bot"), "-o", dir.file("y.bot")}).err, "x.bot: No such file"));
    EXPECT_EQ(bottle({"cut", a, b, dir.file("y.bot")}).status, 2);
}

// --- gaps ----------------------------------------------------------------

TEST(BottleGaps, ListsEveryRunOfUnusableSamples) {
    constexpr std::int64_t U = 32767;
    const struct {
        std::vector<std::int64_t> samples;
        std::vector<std::string> options;
        std::vector<std::string> rows;  // start,end,samples (times as mm:ss after 2015-06-23)
    } cases[] = {
        {{}, {}, {}},
        {{1}, {}, {}},
        {{U}, {}, {"00:00,00:00,1"}},
        {{U, U, 1, 2, U, 3, U, U, U}, {}, {"00:00,00:10,2", "00:40,00:40,1", "01:00,01:20,3"}},
        {{U, U, 1, 2, U, 3, U, U, U}, {"--min", "2"}, {"00:00,00:10,2", "01:00,01:20,3"}},
        {{U, U, 1, 2, U, 3, U, U, U}, {"--min", "3"}, {"01:00,01:20,3"}},
        {{-32768, 32766}, {}, {}},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string file = dir.file("g,\"1\".bot");
        write_file(file, bottle_bytes(0, 1435017600, 10, c.samples));
        std::vector<std::string> args{"gaps", file, "--runs"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = bottle(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string expected = "file,start,end,samples\n";
        for (const std::string &row : c.rows)
            expected += "\"" + dir.path() + "/g,\"\"1\"\".bot\",2015-06-23T00:" + row.substr(0, 5) + ".000Z,2015-06-23T00:" +
                        row.substr(6, 5) + ".000Z," + row.substr(12) + "\n";
        EXPECT_EQ(r.out, expected);
    }
}

TEST(BottleGaps, ReadsEveryFileAndFailsForThoseThatAreNotBottles) {
    TempDir dir;
    write_file(dir.file("a.bot"), bottle_bytes(3, -1e13, 1, {9999999, 1}));
    write_file(dir.file("b.bot"), bottle_bytes(2, 0, 0, {1, 999999}));
    write_file(dir.file("bad"), "xx");
    const RunResult r = bottle({"gaps", dir.file("a.bot"), dir.file("bad"), dir.file("b.bot"), "--runs"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "file,start,end,samples\n" + dir.file("a.bot") + ",-314918-08-13T06:13:20.000Z,-314918-08-13T06:13:20.000Z,1\n" +
                         dir.file("b.bot") + ",1970-01-01T00:00:01.000Z,1970-01-01T00:00:01.000Z,1\n");
    EXPECT_TRUE(contains(r.err, "bad")) << r.err;
    EXPECT_EQ(bottle({"gaps", dir.file("a.bot"), "--min", "0"}).status, 2);
}

// --- info --stats and --csv ----------------------------------------------

TEST(BottleInfo, StatsOfTheUsableSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::string bytes;
        std::string row;  // after the file name
    } cases[] = {
        {bottle_bytes(0, 0, 10, {}), "int,1970-01-01T00:00:00.000Z,,10,0,0,,,,0"},
        {bottle_bytes(0, 0, 10, {32767, 32767}), "int,1970-01-01T00:00:00.000Z,1970-01-01T00:00:10.000Z,10,2,2,,,,0"},
        {bottle_bytes(0, 0, 10, {-32768, 32767, 32766, -32768}), "int,1970-01-01T00:00:00.000Z,1970-01-01T00:00:30.000Z,10,4,1,-32768,32766,-10923.333333333334,0"},
        {bottle_bytes(1, 0, 0.5, {2147483647, 2147483647, 999999}), "long,1970-01-01T00:00:00.000Z,1970-01-01T00:00:01.000Z,0.5,3,1,2147483647,2147483647,2147483647,0"},
        {header(2, 60, 1, 3) + float_samples({nan, -1.5f, 2.5f}), "float,1970-01-01T00:01:00.000Z,1970-01-01T00:01:02.000Z,1,3,1,-1.5,2.5,0.5,1"},
        {header(2, 60, 1, 1) + float_samples({0.1f}), "float,1970-01-01T00:01:00.000Z,1970-01-01T00:01:00.000Z,1,1,0,0.1,0.1,0.10000000149011612,0"},
        {header(3, 0, 1, 2) + [] {
             std::string b;
             put(b, std::bit_cast<std::uint64_t>(1.5e308), 8);
             put(b, std::bit_cast<std::uint64_t>(1.7e308), 8);
             return b;
         }(),
         "double,1970-01-01T00:00:00.000Z,1970-01-01T00:00:01.000Z,1,2,0,1.5e+308,1.7e+308,1.6e+308,0"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        write_file(dir.file("s.bot"), c.bytes);
        const RunResult r = bottle({"info", "--csv", "--stats", dir.file("s.bot")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "file,type,begin,end,interval,count,unusable,min,max,mean,nan\n" + dir.file("s.bot") + "," + c.row + "\n");
    }
}

TEST(BottleInfo, CsvHasALineForEveryFileAndStatsOnlyWhenAsked) {
    TempDir dir;
    write_file(dir.file("a.bot"), bottle_bytes(2, 0, 60, {1, 999999, 3}));
    write_file(dir.file("bad"), "not a bottle");
    const RunResult csv = bottle({"info", "--csv", dir.file("a.bot"), dir.file("bad"), dir.file("none")});
    EXPECT_EQ(csv.status, 1);
    EXPECT_EQ(csv.out, "file,type,begin,end,interval,count,unusable,min,max,mean,nan\n" + dir.file("a.bot") +
                           ",float,1970-01-01T00:00:00.000Z,1970-01-01T00:02:00.000Z,60,3,,,,,\n" + dir.file("bad") +
                           ",,,,,,,,,,\n" + dir.file("none") + ",,,,,,,,,,\n");
    EXPECT_TRUE(contains(csv.err, "bad is not a bottle")) << csv.err;
    EXPECT_TRUE(contains(csv.err, "No such file")) << csv.err;

    const RunResult text = bottle({"info", "--stats", dir.file("a.bot")});
    EXPECT_EQ(text.status, 0);
    EXPECT_TRUE(contains(text.out, "  file size: 52 bytes\n  counts:    2 usable, 1 unusable\n  min:       1\n"
                                   "  max:       3\n  mean:      2\n")) << text.out;
    EXPECT_FALSE(contains(bottle({"info", dir.file("a.bot")}).out, "counts:"));
}

// --- import --times ------------------------------------------------------

TEST(BottleImportTimes, ReadsItsDumpBackAsTheOriginalBottle) {
    constexpr std::int64_t U = 32767;
    const std::vector<std::vector<std::int64_t>> series{
        {}, {5}, {U, 1, U, U, -32768, U}, {1, 2, 3, 4},
    };
    for (const auto &v : series) {
        TempDir dir;
        const std::string original = bottle_bytes(0, 1435017600.25, 0.5, v);
        write_file(dir.file("a.bot"), original);
        const RunResult dumped = bottle({"dump", dir.file("a.bot")});
        ASSERT_EQ(dumped.status, 0);
        const RunResult r = bottle({"import", dir.file("b.bot"), "--times", "--type", "int", "--interval", "0.5",
                                    "--begin", "2015-06-23T00:00:00.25"}, dumped.out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir.file("b.bot")), original) << v.size();
    }
    // 100 samples a second for 1000 s: the dump's times, rounded to the
    // millisecond, drift from the float interval's grid by more than a
    // thousandth of an interval, but not by half a millisecond.
    TempDir dir;
    std::string values;
    for (int i = 0; i < 100000; ++i) values += std::to_string(i % 1000) + "\n";
    ASSERT_EQ(bottle({"import", dir.file("a.bot"), "--type", "long", "--begin", "2015-06-23", "--interval", "0.01"}, values).status, 0);
    const RunResult r = bottle({"import", dir.file("b.bot"), "--times", "--type", "long", "--interval", "0.01"},
                               bottle({"dump", dir.file("a.bot")}).out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("b.bot")), read_file(dir.file("a.bot")));
}

TEST(BottleImportTimes, PlacesEachValueAtTheSampleOfItsTime) {
    const struct {
        std::vector<std::string> options;
        std::string input;
        std::string dump;  // or, for a failure, the message
    } cases[] = {
        // Rows left out are unusable samples; --begin before the first row.
        {{}, "time,v\n@0,1\n@20,3\n@30,\n@40,5\n", "@0,1|@10,|@20,3|@30,|@40,5"},
        {{"--begin", "@-10"}, "@0,1\n@10,2\n", "@-10,|@0,1|@10,2"},
        {{"--begin", "@10"}, "1970-01-01T00:00:10.0004Z,1\n@20.0003,2\n\"@29.9996\",3\n", "@10,1|@20,2|@30,3"},  // within the tolerance
        {{}, "\xEF\xBB\xBF@5,7\n", "@5,7"},
        {{"--epoch"}, "0,1\n20.0,2\n", "@0,1|@10,|@20,2"},
        {{}, "0,1\n", "line 1: \"0\" is a bare number"},
        {{}, "@0,1\n@10.001,2\n", "line 2: \"@10.001\" is not on the grid"},
        {{}, "@0,1\n@10,2\n@10,3\n", "line 3: \"@10\" repeats the time of line 2"},
        {{}, "@0,1\n@20,2\n@10,3\n", "line 3: \"@10\" is earlier than the time of line 2"},
        {{}, "@0,1\n@15,2\n", "line 2: \"@15\" is not on the grid of the interval: it lies 0.5 of an interval"},
        {{}, "@0,1\n@10.02,2\n", "line 2: \"@10.02\" is not on the grid"},
        {{"--begin", "@10"}, "@0,1\n", "line 1: \"@0\" is before the begin time 1970-01-01T00:00:10.000Z"},
        {{}, "@0,1\n2015-13-01,2\n", "line 2: \"2015-13-01\" is not a time: month 13 does not exist"},
        {{}, "@0,1\n@1e300,2\n", "line 2: \"@1e300\" lies beyond the samples a bottle can hold"},
        {{}, "@0,1\n@1e11,2\n", "line 2: \"@1e11\" lies beyond the samples a bottle can hold"},
        {{}, "@0,1,5\n", "line 1: 3 fields where a TIME,VALUE line has 2"},
        {{}, "@0,1\n\n", "line 2: a TIME,VALUE line is expected"},
        {{}, "@0,32767\n", "line 1: \"32767\" is the unusable value of the type int"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        std::vector<std::string> args{"import", dir.file("t.bot"), "--times", "--type", "int"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        if (std::find(args.begin(), args.end(), "--interval") == args.end()) args.insert(args.end(), {"--interval", "10"});
        const RunResult r = bottle(args, c.input);
        if (c.dump.find("line ") == 0) {
            EXPECT_EQ(r.status, 1) << c.input;
            EXPECT_TRUE(contains(r.err, c.dump)) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dir.file("t.bot")));
            continue;
        }
        ASSERT_EQ(r.status, 0) << c.input << r.err;
        const RunResult dumped = bottle({"dump", dir.file("t.bot"), "--epoch"});
        std::string rows;
        for (const std::string &row : lines_of(dumped.out))
            if (row != "time,value") rows += (rows.empty() ? "@" : "|@") + row;
        EXPECT_EQ(rows, c.dump) << c.input;
    }
}

// --- plot with several inputs --------------------------------------------

TEST(BottlePlotSeveral, DrawsEachInputInItsOwnColourWithALegend) {
    TempDir dir;
    write_file(dir.file("a.bot"), bottle_bytes(1, 0, 60, {1, 2, 3, 999999, 5, 6}));
    write_file(dir.file("b&c.bot"), bottle_bytes(0, 120, 30, {7, 8, 9}));
    write_file(dir.file("late.bot"), bottle_bytes(2, 1e6, 1, {1}));
    const RunResult r = bottle({"plot", dir.file("a.bot"), dir.file("b&c.bot"), dir.file("late.bot"), "--to", "@1000", "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "<g class=\"samples\""), 3u);
    EXPECT_EQ(count_of(r.out, "<polyline "), 3u) << "a.bot broken at its unusable sample, and b&c.bot";
    EXPECT_TRUE(contains(r.out, "3 bottles: 1970-01-01T00:00:00.000Z to 1970-01-01T00:05:00.000Z, 9 samples")) << r.out;
    const std::size_t legend = r.out.find("<g class=\"legend\">");
    ASSERT_NE(legend, std::string::npos);
    for (const std::string &name : {dir.file("a.bot"), dir.file("b&amp;c.bot"), dir.file("late.bot")})
        EXPECT_TRUE(contains(r.out.substr(legend), name)) << name;
    // Each series's stroke differs from the others'.
    std::vector<std::string> strokes;
    for (std::size_t at = r.out.find("<g class=\"samples\""); at != std::string::npos; at = r.out.find("<g class=\"samples\"", at + 1))
        strokes.push_back(r.out.substr(r.out.find("stroke=\"", at), 17));
    ASSERT_EQ(strokes.size(), 3u);
    EXPECT_NE(strokes[0], strokes[1]);
    EXPECT_NE(strokes[1], strokes[2]);
    EXPECT_NE(strokes[0], strokes[2]);

    EXPECT_FALSE(contains(bottle({"plot", dir.file("a.bot"), "-o", "-"}).out, "legend"));
    const RunResult none = bottle({"plot", dir.file("a.bot"), dir.file("late.bot"), "--from", "@5000", "--to", "@6000", "-o", "-"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "no sample of the inputs lies in the given times")) << none.err;
    const RunResult self = bottle({"plot", dir.file("a.bot"), dir.file("late.bot"), "-o", dir.file("late.bot")});
    EXPECT_TRUE(contains(self.err, "which this command reads")) << self.err;
    EXPECT_EQ(read_file(dir.file("late.bot")), bottle_bytes(2, 1e6, 1, {1}));
}

// --- archives as one series ----------------------------------------------

// Rows of gaps after the header, times shown as seconds after 1970 (the
// "1970-01-01T00:0" before them dropped), names as their letters.
std::vector<std::string> table(const RunResult &r, const TempDir &dir) {
    std::vector<std::string> rows = lines_of(r.out);
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return rows;
    EXPECT_EQ(rows.front(), "kind,file,start,end,samples,other,detail");
    rows.erase(rows.begin());
    for (std::string &row : rows) {
        for (std::size_t at; (at = row.find(dir.path() + "/")) != std::string::npos;) row.erase(at, dir.path().size() + 1);
        for (std::size_t at; (at = row.find("1970-01-01T00:0")) != std::string::npos;) row.erase(at, 15);
        for (std::size_t at; (at = row.find(".bot")) != std::string::npos;) row.erase(at, 4);
    }
    return rows;
}

TEST(BottleSeries, GapsListsWhatIsMissingFromTheSeries) {
    // int samples 10 s apart: a from 0 s, b a gap later, c over a's end.
    const std::string a = bottle_bytes(0, 0, 10, {1, 32767, 3}), b = bottle_bytes(0, 60, 10, {7, 8});
    const struct {
        std::vector<std::pair<std::string, std::string>> files;  // name, bytes
        std::vector<std::string> options;
        std::vector<std::string> rows;
    } cases[] = {
        {{{"a", a}, {"b", b}}, {}, {"missing,a,0:10.000Z,0:10.000Z,1,,", "gap,a,0:30.000Z,0:50.000Z,3,b,"}},
        {{{"b", b}, {"a", a}}, {"--min", "2"}, {"gap,a,0:30.000Z,0:50.000Z,3,b,"}},
        {{{"a", a}, {"c", bottle_bytes(0, 10, 10, {2, 3, 4})}}, {},
         {"missing,a,0:10.000Z,0:10.000Z,1,,", "overlap,a,0:10.000Z,0:20.000Z,2,c,agree"}},
        {{{"a", a}, {"c", bottle_bytes(0, 10, 10, {2, 9, 4})}}, {"--min", "9"},
         {"overlap,a,0:10.000Z,0:20.000Z,2,c,differ at 0:20.000Z"}},
        // A day begun 3 ms late: off the grid, placed on it by a snap of
        // 5 ms, not by one of 2 ms.
        {{{"a", a}, {"j", bottle_bytes(0, 30.003, 10, {4})}}, {"--min", "9"},
         {"off-grid,j,0:30.003Z,0:30.003Z,1,,does not begin on the grid of a: its begin time is 0.0003 of an "
          "interval off (3 ms after a sample time); a snap of 3 ms or more places it on the grid"}},
        {{{"a", a}, {"j", bottle_bytes(0, 30.003, 10, {4})}}, {"--min", "9", "--snap", "5ms"},
         {"snapped,j,0:30.000Z,0:30.000Z,1,,\"its begin time 0:30.003Z is 3 ms off the grid; placed 3 ms earlier, "
          "at 0:30.000Z\""}},
        {{{"a", a}, {"j", bottle_bytes(0, 30.003, 10, {4})}}, {"--min", "9", "--snap", "0.002"}, {"off-grid,j,0:30.003Z,"
          "0:30.003Z,1,,does not begin on the grid of a: its begin time is 0.0003 of an interval off (3 ms after a "
          "sample time); a snap of 3 ms or more places it on the grid"}},
        // The grid most files keep: the late file is named, whatever the order.
        {{{"j", bottle_bytes(0, 0.003, 10, {4})}, {"a", a}, {"b", b}}, {"--min", "9"},
         {"off-grid,j,0:00.003Z,0:00.003Z,1,,does not begin on the grid of a: its begin time is 0.0003 of an "
          "interval off (3 ms after a sample time); a snap of 3 ms or more places it on the grid"}},
        // Another interval, type or unusable value; times that are none.
        {{{"a", a}, {"f", bottle_bytes(0, 0, 0.02f, {1})}, {"l", bottle_bytes(1, 0, 10, {1})}}, {"--min", "9"},
         {"off-grid,f,0:00.000Z,0:00.000Z,1,,\"has the interval 0.02 s, 50 Hz (a has 10 s)\"",
          "off-grid,l,0:00.000Z,0:00.000Z,1,,holds samples of type long (a has int)"}},
        {{{"a", a}, {"n", bottle_bytes(0, NAN, 10, {1})}, {"e", bottle_bytes(0, 1e300, 10, {})}}, {"--min", "9"},
         {"off-grid,e,,,0,,begins too far from a to share a series with it",
          "off-grid,n,@nan,@nan,1,,\"the begin time is not a finite number, so no sample has a time\""}},
    };
    for (const auto &c : cases) {
        TempDir dir;
        std::vector<std::string> args{"gaps"};
        for (const auto &[name, bytes] : c.files) {
            write_file(dir.file(name + ".bot"), bytes);
            args.push_back(dir.file(name + ".bot"));
        }
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = bottle(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(table(r, dir), c.rows) << args[1];
    }
    TempDir dir;
    write_file(dir.file("a.bot"), a);
    const RunResult snap = bottle({"gaps", dir.file("a.bot"), dir.file("a.bot"), "--snap", "5s"});
    EXPECT_EQ(snap.status, 2);
    EXPECT_TRUE(contains(snap.err, "a snap of 5 s is not less than half the interval (10 s)")) << snap.err;
    EXPECT_TRUE(contains(bottle({"gaps", dir.file("a.bot"), "--snap", "-1"}).err, "--snap needs a duration"));
}

TEST(BottleSeries, CutTakesItsWindowAcrossFilesAndRefusesOneThatRunsPast) {
    TempDir dir;
    const std::string a = dir.file("a.bot"), b = dir.file("b.bot"), out = dir.file("out.bot");
    write_file(a, bottle_bytes(0, 0, 10, {1, 2, 3}));
    write_file(b, bottle_bytes(0, 30, 10, {4, 5, 6}));
    RunResult r = bottle({"cut", b, a, "-o", out, "--from", "@10", "--to", "@40"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out), bottle_bytes(0, 10, 10, {2, 3, 4, 5}));
    const struct {
        std::vector<std::string> window;
        std::string message;
    } past[] = {
        {{"--from", "@-10"}, "the window from 1969-12-31T23:59:50.000Z to the last sample runs past the data, which "
                             "covers 1970-01-01T00:00:00.000Z to 1970-01-01T00:00:50.000Z; a partial cut keeps the 6"},
        {{"--to", "@60"}, "1970-01-01T00:01:00.000Z runs past the data"},
        {{"--from", "@70"}, "it holds none of the window's samples"},
        {{"--from", "@-1e300", "--to", "@1e300"}, "runs past the data"},
    };
    for (const auto &c : past) {
        std::vector<std::string> args{"cut", a, b, "-o", out, "--force"};
        args.insert(args.end(), c.window.begin(), c.window.end());
        const std::string before = read_file(out);
        r = bottle(args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(read_file(out), before);  // as it was
        args.push_back("--partial");
        r = bottle(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.err, "bottle cut: kept ")) << r.err;
    }
    r = bottle({"cut", a, b, "-o", out, "--force", "--from", "@40", "--to", "@60", "--partial"});
    EXPECT_TRUE(contains(r.err, "kept 2 of the 3 samples of the window from 1970-01-01T00:00:40.000Z to "
                                "1970-01-01T00:01:00.000Z: the data covers")) << r.err;
    EXPECT_EQ(read_file(out), bottle_bytes(0, 40, 10, {5, 6}));
}

TEST(BottleSeries, DecimateTakesAnyInputAndRefusesWhatItCannotDo) {
    TempDir dir;
    write_file(dir.file("a.bot"), bottle_bytes(0, 0, 10, {1, 32767, 3, 4, 5, 6, 7}));
    write_file(dir.file("third.bot"), bottle_bytes(2, 0, 1.0f / 3, {1, 2, 3}));
    write_file(dir.file("empty.bot"), bottle_bytes(1, 0, 10, {}));
    write_file(dir.file("nan.bot"), bottle_bytes(1, NAN, 10, {1}));
    write_file(dir.file("back.bot"), bottle_bytes(1, 0, -10, {1, 2}));
    write_file(dir.file("zero.bot"), bottle_bytes(1, 0, 0, {1, 2}));
    write_file(dir.file("fifty.bot"), bottle_bytes(0, 0, 0.02f, {1}));
    const std::string out = dir.file("out.bot");
    const struct {
        std::vector<std::string> args;  // after "decimate", before -o OUT --force
        int status;
        std::string message;  // on standard error, or the samples of OUT when 0
    } cases[] = {
        {{"2", dir.file("a.bot"), "--method", "mean"}, 0, "1,3.5,5.5,7"},
        {{"2", dir.file("a.bot"), "--method", "mean", "--strict"}, 0, ",3.5,5.5,7"},
        {{"3", dir.file("a.bot"), "--method", "min"}, 0, "1,4,7"},
        {{"3", dir.file("a.bot"), "--method", "max"}, 0, "3,6,7"},
        {{"9223372036854775807", dir.file("a.bot"), "--method", "max"}, 2, "no interval of a header holds"},
        {{"2", dir.file("empty.bot")}, 0, ""},
        {{"2", dir.file("a.bot"), "--strict"}, 1, "the input has a missing sample at 1970-01-01T00:00:10.000Z"},
        {{"7", dir.file("third.bot")}, 2, "makes the interval 7 times 1/3 s, 3 Hz"},
        {{"0", dir.file("a.bot")}, 2, "the factor must be a whole number of 2 or more, not 0"},
        {{"1", dir.file("a.bot"), "--method", "mean"}, 2, "of 2 or more, not 1"},
        {{"99999999999999999999", dir.file("a.bot")}, 2, "FACTOR must be a whole number"},
        {{"ten", dir.file("a.bot")}, 2, "FACTOR must be a whole number"},
        {{"200000", dir.file("a.bot")}, 2, "the filter takes factors up to 100000"},
        {{"2", dir.file("a.bot"), "--method", "median"}, 2, "--method must be fir, mean, min or max"},
        {{"2"}, 2, "missing operand"},
        {{"2", dir.file("nan.bot")}, 1, "the begin time is not a finite number"},
        {{"2", dir.file("zero.bot")}, 1, "the interval is 0"},
        {{"2", dir.file("back.bot")}, 1, "decimation needs times that run forward"},
        {{"2", dir.file("a.bot"), dir.file("fifty.bot")}, 1, "fifty.bot has the interval 0.02 s, 50 Hz ("},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"decimate"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", out, "--force"});
        const RunResult r = bottle(args);
        EXPECT_EQ(r.status, c.status) << c.message << ": " << r.err;
        if (c.status != 0) {
            EXPECT_TRUE(contains(r.err, c.message)) << r.err;
            continue;
        }
        std::string values;
        for (const std::string &v : dump_column(bottle({"dump", out}).out, 1)) values += v + ",";
        if (!values.empty()) values.pop_back();
        EXPECT_EQ(values, c.message) << c.args[0] << " " << c.args.back();
    }
    EXPECT_EQ(bottle({"decimate", "2", dir.file("a.bot")}).status, 2);  // -o is needed
}

}  // namespace
