// bottle export: netCDF files read back with ncdump and compared with the
// bottle's own dump, its fill value and its header.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bottle_run.h"

namespace {

namespace fs = std::filesystem;
using namespace bottletest;

#if ZULU_WITH_NETCDF

RunResult ncdump(const std::vector<std::string> &args) { return testsupport::run(NCDUMP_PATH, args); }

// The values ncdump prints for variable `var` ("_" for a fill value), with
// 9 significant digits for floats and 17 for doubles, enough to be exact.
std::vector<std::string> dumped_values(const std::string &file, const std::string &var) {
    const RunResult r = ncdump({"-p", "9,17", "-v", var, file});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> values;
    const std::size_t start = r.out.find("\n " + var + " = ");
    if (start == std::string::npos) return values;
    const std::size_t from = start + var.size() + 5, end = r.out.find(';', from);
    std::string token;
    for (char c : r.out.substr(from, end - from)) {
        if (c == ',' || c == ' ' || c == '\n') {
            if (!token.empty()) values.push_back(token);
            token.clear();
        } else {
            token.push_back(c);
        }
    }
    if (!token.empty()) values.push_back(token);
    return values;
}

std::string header_of(const std::string &file) {
    const RunResult r = ncdump({"-hs", file});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A bottle of `type` at @1435103999.5 every 0.25 s, imported from `input`.
std::string imported(const TempDir &dir, const std::string &name, const char *type, const std::string &input) {
    const std::string file = dir.file(name);
    const RunResult r = bottle({"import", file, "--type", type, "--begin", "@1435103999.5", "--interval", "0.25"}, input);
    EXPECT_EQ(r.status, 0) << r.err;
    return file;
}

TEST(BottleExport, ValuesFillValuesAndTimesMatchTheDump) {
    const struct {
        const char *type, *nc_type, *fill;
        std::string input;
    } cases[] = {
        {"int", "short", "32767s", "-32768\n\n32766\n7\n"},
        {"long", "int", "999999", "-2147483648\n2147483647\n\n12\n"},
        {"float", "float", "999999.f", "0.1\n-3.4028235e38\n1e-45\n\ninf\n-0\n"},
        {"double", "double", "9999999.", "0.1\n1.7976931348623157e308\n4.9e-324\n\n-2.5\n"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string in = imported(dir, "t.bot", c.type, c.input), out = dir.file("t.nc");
        const RunResult r = bottle({"export", in, "-o", out});
        ASSERT_EQ(r.status, 0) << c.type << ": " << r.err;
        const std::string head = header_of(out);
        EXPECT_TRUE(contains(head, std::string("\t") + c.nc_type + " value(time) ;")) << head;
        EXPECT_TRUE(contains(head, std::string("value:_FillValue = ") + c.fill + " ;")) << head;

        const std::vector<std::string> expected = dump_column(bottle({"dump", in}).out, 1);
        const std::vector<std::string> values = dumped_values(out, "value");
        ASSERT_EQ(values.size(), expected.size()) << c.type;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (expected[i].empty()) {
                EXPECT_EQ(values[i], "_") << c.type << " sample " << i;
            } else {
                // Equal once both are read as the bottle's type.
                const double a = std::strtod(values[i].c_str(), nullptr), b = std::strtod(expected[i].c_str(), nullptr);
                if (std::string(c.type) == "float")
                    EXPECT_EQ(static_cast<float>(a), static_cast<float>(b)) << values[i] << " " << expected[i];
                else
                    EXPECT_EQ(a, b) << values[i] << " " << expected[i];
                EXPECT_EQ(std::signbit(a), std::signbit(b)) << c.type << " sample " << i;
            }
        }
        const std::vector<std::string> times = dumped_values(out, "time");
        ASSERT_EQ(times.size(), expected.size());
        // Whole milliseconds since the first sample's whole second.
        for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], std::to_string(500 + 250 * i));
    }
}

TEST(BottleExport, AttributesDescribeTheTimeTheFileAndTheOptions) {
    TempDir dir;
    const std::string in = imported(dir, "t.bot", "float", "1\n2\n"), out = dir.file("t.nc");
    ASSERT_EQ(bottle({"export", in, "-o", out, "--name", "temperature", "--units", "degC", "--title", "Mast \"A\""}).status, 0);
    const std::string head = header_of(out);
    for (const std::string &line : {
             std::string("float temperature(time) ;"),
             std::string("temperature:units = \"degC\" ;"),
             std::string("int time(time) ;"),
             std::string("time:units = \"milliseconds since 2015-06-23 23:59:59\" ;"),
             std::string("time:calendar = \"proleptic_gregorian\" ;"),
             std::string("time:standard_name = \"time\" ;"),
             std::string(":Conventions = \"CF-1.8\" ;"),
             std::string(":title = \"Mast \\\"A\\\"\" ;"),
             ":bottle_file = \"" + in + "\" ;",
             std::string(":bottle_type = \"float\" ;"),
             std::string(":bottle_begin = 1435103999.5 ;"),
             std::string(":bottle_interval = 0.25f ;"),
             std::string(":bottle_samples = 2 ;"),
             std::string(":bottle_unusable = 999999 ;"),
             std::string(":_Format = \"netCDF-4 classic model\" ;"),
         })
        EXPECT_TRUE(contains(head, line)) << line << "\n" << head;
    EXPECT_FALSE(contains(head, "_DeflateLevel")) << head;
}

TEST(BottleExport, EdgeBottles) {
    TempDir dir;
    // An int16 bottle whose unusable value is 70000: its slots hold the low
    // 16 bits, 4464, and that is the fill value.
    std::string int16 = header(0, 0, 1, 3) + std::string("\x01\x00\x70\x11\xff\xff", 6);
    int16[28] = '\x70', int16[29] = '\x11', int16[30] = '\x01', int16[31] = '\x00';
    write_file(dir.file("int16.bot"), int16);
    write_file(dir.file("empty.bot"), header(3, 0, 1, 0));
    write_file(dir.file("zero.bot"), header(1, -1e9, 0, 1) + long_samples({-5}));
    const struct {
        const char *file, *fill;
        std::vector<std::string> values, times;
    } cases[] = {
        {"int16.bot", "4464s", {"1", "_", "-1"}, {"0", "1", "2"}},
        {"empty.bot", "9999999.", {}, {}},
    };
    for (const auto &c : cases) {
        const std::string out = dir.file(std::string(c.file) + ".nc");
        const RunResult r = bottle({"export", dir.file(c.file), "-o", out});
        ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
        EXPECT_TRUE(contains(header_of(out), std::string("value:_FillValue = ") + c.fill + " ;")) << c.file;
        EXPECT_EQ(dumped_values(out, "value"), c.values) << c.file;
        EXPECT_EQ(dumped_values(out, "time"), c.times) << c.file;
    }
    EXPECT_TRUE(contains(header_of(dir.file("empty.bot.nc")), "time = UNLIMITED ; // (0 currently)"));
    // An interval of 0 gives the samples no times.
    const RunResult zero = bottle({"export", dir.file("zero.bot"), "-o", dir.file("zero.nc")});
    EXPECT_EQ(zero.status, 1);
    EXPECT_TRUE(contains(zero.err, "the interval is 0, so no sample has a time")) << zero.err;
    EXPECT_FALSE(fs::exists(dir.file("zero.nc")));
}

TEST(BottleExport, DeflateCompressesTheSameValues) {
    TempDir dir;
    std::string input;
    for (int i = 0; i < 20000; ++i) input += std::to_string(i % 7) + "\n";
    const std::string in = imported(dir, "t.bot", "double", input);
    ASSERT_EQ(bottle({"export", in, "-o", dir.file("plain.nc")}).status, 0);
    ASSERT_EQ(bottle({"export", in, "-o", dir.file("small.nc"), "--deflate", "9"}).status, 0);
    EXPECT_TRUE(contains(header_of(dir.file("small.nc")), "value:_DeflateLevel = 9 ;"));
    EXPECT_EQ(dumped_values(dir.file("small.nc"), "value"), dumped_values(dir.file("plain.nc"), "value"));
    EXPECT_EQ(dumped_values(dir.file("small.nc"), "time"), dumped_values(dir.file("plain.nc"), "time"));
    EXPECT_LT(fs::file_size(dir.file("small.nc")) * 10, fs::file_size(dir.file("plain.nc")));
}

TEST(BottleExport, SeveralFilesGoToADirectory) {
    TempDir dir;
    fs::create_directories(dir.file("in/sub"));
    fs::create_directories(dir.file("out"));
    const std::string a = imported(dir, "in/a.bot", "float", "1\n"), b = imported(dir, "in/sub/b", "long", "2\n");
    ASSERT_EQ(bottle({"export", a, b, "-o", dir.file("out")}).status, 0);
    EXPECT_EQ(files_in(dir.file("out")), (std::vector<std::string>{"a.nc", "b.nc"}));
    EXPECT_EQ(dumped_values(dir.file("out/b.nc"), "value"), std::vector<std::string>{"2"});
    EXPECT_TRUE(contains(header_of(dir.file("out/b.nc")), ":bottle_file = \"" + b + "\" ;"));
    // One file and a directory: the same naming.
    ASSERT_EQ(bottle({"export", a, "-o", dir.file("in/sub")}).status, 0);
    EXPECT_TRUE(fs::exists(dir.file("in/sub/a.nc")));
}

TEST(BottleExport, RefusalsLeaveNothingBehind) {
    TempDir dir;
    fs::create_directories(dir.file("out"));
    const std::string in = imported(dir, "t.bot", "float", "1\n"), other = dir.file("out/t.bot");
    fs::copy_file(in, other);
    write_file(dir.file("old.nc"), "old");
    write_file(dir.file("junk.bot"), "not a bottle");
    // Times no coordinate holds: a begin time of 1e300 s, or samples 3e38 s apart.
    write_file(dir.file("far.bot"), header(2, 1e300, 1, 2) + float_samples({1, 2}));
    write_file(dir.file("apart.bot"), header(2, 0, 3e38f, 2) + float_samples({1, 2}));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{in}, 2, "-o OUT is required"},
        {{in, "-o", dir.file("old.nc"), "--deflate", "10"}, 2, "deflate"},
        {{in, "-o", dir.file("old.nc"), "--name", "time"}, 2, "time coordinate"},
        {{in, "-o", dir.file("old.nc"), "--name", "a/b"}, 2, "NetCDF: Name contains illegal characters"},
        {{in, other, "-o", dir.file("out")}, 2, "two files would be written as " + dir.file("out/t.nc")},
        {{in, other, "-o", dir.file("old.nc")}, 2, "names a directory"},
        {{in, "-o", "-"}, 1, "not a regular file"},
        {{in, "-o", "/dev/null"}, 1, "not a regular file"},
        {{in, "-o", in}, 1, "which this command reads"},
        {{dir.file("junk.bot"), "-o", dir.file("old.nc"), "--force"}, 1, "shorter than the 40-byte header"},
        {{dir.file("missing.bot"), "-o", dir.file("old.nc"), "--force"}, 1, "No such file or directory"},
        {{dir.file("far.bot"), "-o", dir.file("old.nc"), "--force"}, 1, "far.bot: the sample times reach @1e+300"},
        {{dir.file("apart.bot"), "-o", dir.file("old.nc"), "--force"}, 1, "apart.bot: the sample times reach @3"},
        {{in, "-o", dir.file("old.nc")}, 1, "old.nc already exists (--force replaces it)"},
    };
    const std::vector<std::string> before = files_in(dir.path());
    for (const auto &c : cases) {
        std::vector<std::string> args{"export"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = bottle(args);
        EXPECT_EQ(r.status, c.status) << c.message << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(files_in(dir.path()), before) << c.message;
        EXPECT_EQ(files_in(dir.file("out")), std::vector<std::string>{"t.bot"}) << c.message;
    }
    EXPECT_EQ(read_file(dir.file("old.nc")), "old");
    EXPECT_EQ(read_file(in), read_file(other));
}

TEST(BottleExport, AWriteThatFailsIsAFailureAndLeavesNoFile) {
    TempDir dir;
    std::string input;
    for (int i = 0; i < 100000; ++i) input += std::to_string(i) + "\n";
    const std::string in = imported(dir, "t.bot", "float", input);
    // Files of at most 50 kB: the netCDF file (1.2 MB) cannot be written.
    const RunResult r = shell("trap '' XFSZ; ulimit -f 100; exec \"$0\" export \"$1\" -o \"$2\"", {in, dir.file("t.nc")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "bottle export: cannot write " + dir.file("t.nc") + ": File too large")) << r.err;
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"t.bot"});
}

#else

TEST(BottleExport, SaysItWasBuiltWithoutNetcdf) {
    TempDir dir;
    write_file(dir.file("t.bot"), header(2, 0, 1, 0));
    const RunResult r = bottle({"export", dir.file("t.bot"), "-o", dir.file("t.nc")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "built without netCDF")) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("t.nc")));
}

#endif

}  // namespace
