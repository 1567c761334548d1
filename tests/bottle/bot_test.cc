// Bottles on real files: created and read back through the library, and
// checked against bytes encoded and decoded by hand.

#include "bot.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bytes.h"
#include "capture.h"
#include "core.h"
#include "date.h"

extern "C" int bottle_c_roundtrip(const char *path);

using bytes::SampleType;
using testsupport::capture;
using testsupport::read_file;
using testsupport::write_file;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The number the next open() gets: a failed bopen must leave it unchanged.
int lowest_free_fd() {
    const int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return fd;
}

class Bottle : public ::testing::Test {
protected:
    void TearDown() override {
        Verbose = 0;
        dtoa_fmt = 0;
        zone = 0;
    }
    // A new bottle of `type` holding `values` at indices 0 onwards.
    bottle_hdr *make(const SampleType &type, const std::vector<double> &values, double beg = 0, double ivl = 1) {
        bottle_hdr *b = bcreat(path_.c_str(), beg, ivl, type.code);
        std::string slots;
        for (double v : values) slots += type.encode(v);
        bwrite(b, beg, static_cast<int>(values.size()), slots.data());
        return b;
    }
    std::string contents() const { return read_file(path_); }
    // Sample i of the closed bottle's file, decoded by hand.
    double stored(const SampleType &type, int i) const { return type.decode(contents(), 40 + i * type.width); }

    testsupport::TempDir dir_;
    std::string path_ = dir_.file("b.bot");
};

const SampleType &kInt = bytes::kTypes[0];
const SampleType &kLong = bytes::kTypes[1];
const SampleType &kFloat = bytes::kTypes[2];
const SampleType &kDouble = bytes::kTypes[3];

TEST_F(Bottle, NewFloatHeaderIsByteForByteTheFormatsExample) {
    bclose(bcreat(path_.c_str(), 0, 1, 2));
    const unsigned char expect[40] = {0x5D, 0x01, 0, 0, 0x28, 0, 0, 0, 0, 0, 0,    0,    0,    0, 0, 0, 0, 0, 0x80, 0x3F,
                                      0,    0,    0, 0, 2,    0, 0, 0, 0x3F, 0x42, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0,    0};
    EXPECT_EQ(contents(), std::string(reinterpret_cast<const char *>(expect), 40));
}

TEST_F(Bottle, TimesMapToIndicesByTruncationTowardZero) {
    struct Case {
        double beg, ivl, t;
        int index;
    } cases[] = {
        {0, 10, -9.9, 0}, {0, 10, 0, 0},      {0, 10, 9.9, 0},  {0, 10, 10, 1},
        {0, 10, -10, -1}, {0, 10, std::nextafter(30.0, 0.0), 2}, {5, 0, 7.9, 2}, {5, 0, 3.5, -1},
        {0, 1, 1e300, INT_MAX}, {0, 1, kInf, INT_MAX}, {0, 1, -kInf, INT_MIN}, {0, 1, kNaN, INT_MIN},
        {0, 1, 2147483647.9, INT_MAX}, {0, 1, -2147483648.9, INT_MIN},
    };
    for (const Case &c : cases) {
        bottle_hdr h{};
        sethead(&h, c.beg, c.ivl, 0, 2);
        EXPECT_EQ(bsamnum(&h, c.t), c.index) << c.beg << " " << c.ivl << " " << c.t;
    }
}

TEST_F(Bottle, SampleCountComesFromTheFileSize) {
    struct Case {
        int type, header_nsam;
        size_t sample_bytes;
        int nsam;
    } cases[] = {{3, 9, 0, 0}, {3, 0, 8 * 10 + 3, 10}, {0, 5, 2 * 7, 7}, {1, -4, 4 * 3 + 1, 3}};
    for (const Case &c : cases) {
        bytes::Header h;
        h.type = c.type;
        h.nsam = c.header_nsam;
        write_file(path_, bytes::encode(h) + std::string(c.sample_bytes, '\x11'));
        bottle_hdr *b = bopen(path_.c_str());
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(bot_nsam(b), c.nsam);
        EXPECT_EQ(statb.st_size, static_cast<off_t>(40 + c.sample_bytes));
        bclose(b);
    }
}

TEST_F(Bottle, FilesPastTheLargestPositionCountOnlyTheirAddressableSamples) {
    bclose(bcreat(path_.c_str(), 0, 1, 3));
    ASSERT_EQ(truncate(path_.c_str(), off_t{3} << 30), 0);  // 3 GiB, sparse
    bottle_hdr *b = bopen(path_.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bot_nsam(b), (INT_MAX - 40) / 8);
    bclose(b);
}

TEST_F(Bottle, OpenRejectsWhatIsNotAUsableBottleAndKeepsNothing) {
    auto header = [](auto change) {
        bytes::Header h;
        change(h);
        return bytes::encode(h);
    };
    const std::string legal = header([](bytes::Header &) {});
    struct Case {
        const char *what;
        std::string file;
    } cases[] = {
        {"bad magic", header([](bytes::Header &h) { h.magic = 348; })},
        {"empty", ""},
        {"short header", legal.substr(0, 39)},
        {"type 4", header([](bytes::Header &h) { h.type = 4; })},
        {"type -1", header([](bytes::Header &h) { h.type = -1; })},
        {"negative doff", header([](bytes::Header &h) { h.doff = -1; })},
    };
    statb.st_size = 12345;
    const int free_fd = lowest_free_fd();
    for (const Case &c : cases) {
        write_file(path_, c.file);
        bottle_hdr *b = reinterpret_cast<bottle_hdr *>(1);
        auto io = capture([&] { b = bopen(path_.c_str()); });
        EXPECT_EQ(b, nullptr) << c.what;
        EXPECT_EQ(io.out, "bopen:  " + path_ + " is not a legal bottle\n") << c.what;
        EXPECT_EQ(lowest_free_fd(), free_fd) << c.what << ": descriptor left open";
    }
    auto io = capture([&] { EXPECT_EQ(bopen(dir_.file("none").c_str()), nullptr); });
    EXPECT_EQ(io.out, "bopen:  can't open file " + dir_.file("none") + "\n");
    io = capture([&] { EXPECT_EQ(bopen(dir_.path().c_str()), nullptr); });
    EXPECT_EQ(io.out, "bopen:  " + dir_.path() + " is not a legal bottle\n");
    EXPECT_EQ(statb.st_size, 12345) << "a failed open leaves statb alone";
    EXPECT_EQ(lowest_free_fd(), free_fd);
}

TEST_F(Bottle, AFifoIsRefusedWithoutWaitingForAWriterOrReader) {
    const std::string fifo = dir_.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto io = capture([&] {
        EXPECT_EQ(bopen(fifo.c_str()), nullptr);
        EXPECT_EQ(bcreat(fifo.c_str(), 0, 1, 0), nullptr);
    });
    EXPECT_EQ(io.out, "bopen:  " + fifo + " is not a legal bottle\nbcreat: can't create file " + fifo + "\n");
}

TEST_F(Bottle, IllegalTypesWriteNothing) {
    write_file(path_, "keep me");
    for (int type : {-1, 4, INT_MAX}) {
        auto io = capture([&] { EXPECT_EQ(bcreat(path_.c_str(), 0, 1, type), nullptr); });
        EXPECT_EQ(io.out.rfind("bcreat:", 0), 0u) << io.out;
        bottle_hdr h{};
        sethead(&h, 1, 2, 3, type);
        EXPECT_EQ(h.magic, 0);
        EXPECT_EQ(h.ivl, 0);
    }
    EXPECT_EQ(contents(), "keep me");
    auto io = capture([&] { EXPECT_EQ(bcreat(dir_.file("x/y").c_str(), 0, 1, 0), nullptr); });
    EXPECT_EQ(io.out, "bcreat: can't create file " + dir_.file("x/y") + "\n");
}

TEST_F(Bottle, CreatingOverAFileLeavesAnEmptyBottle) {
    write_file(path_, std::string(1000, 'j'));
    bottle_hdr *b = bcreat(path_.c_str(), 5, 0.1, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bot_nsam(b), 0);
    EXPECT_EQ(bot_type(b), 1);
    EXPECT_EQ(bot_usym(b), 999999);
    EXPECT_EQ(bot_ivl(b), 0.1f);
    EXPECT_EQ(bot_end(b), 5 - double{0.1f}) << "no samples: one interval before the start";
    bclose(b);
    EXPECT_EQ(contents().size(), 40u);
}

TEST_F(Bottle, AHandWrittenBottleOpensAndReads) {
    bytes::Header h;
    h.beg = 1000;
    h.ivl = 0.5;
    h.nsam = 2;  // stale: the file holds three
    h.type = 1;
    h.usym = -7;
    write_file(path_, bytes::encode(h) + kLong.encode(10) + kLong.encode(-20) + kLong.encode(16777217));
    bottle_hdr *b = bopen(path_.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bot_beg(b), 1000);
    EXPECT_EQ(bot_nsam(b), 3);
    EXPECT_EQ(bot_end(b), 1001);
    EXPECT_EQ(bread1(b, 1000.5, 0), -20.0f);
    EXPECT_EQ(bread1(b, 1000, 2), 16777216.0f) << "nearest float";
    EXPECT_EQ(bread1(b, 1000, 3), -7.0f) << "the header's unusable value";
    int32_t got[5];
    bread(b, 999.5, 5, got);
    EXPECT_EQ(std::vector<int32_t>(got, got + 5), (std::vector<int32_t>{-7, 10, -20, 16777217, -7}));
    bclose(b);
    EXPECT_EQ(bytes::get(contents(), 20, 4), 3u) << "the count is written back";
    EXPECT_EQ(bytes::get(contents(), 28, 4), static_cast<uint32_t>(-7)) << "the rest of the header as read";
}

TEST_F(Bottle, WindowsPartlyOrWhollyOutsideTheSamplesGetTheUnusableValue) {
    std::vector<double> values;
    for (int i = 0; i < 10; ++i) values.push_back(i + 0.5);
    bclose(make(kFloat, values));
    const float u = 999999.0f;
    struct Case {
        int start;
        std::vector<float> expect;
        bool reads;
    } cases[] = {
        {-2, {u, u, 0.5f, 1.5f, 2.5f}, true},
        {8, {8.5f, 9.5f, u, u, u}, true},
        {-10, {u, u, u, u, u}, false},
        {10, {u, u, u, u, u}, false},
    };
    for (const Case &c : cases) {
        bottle_hdr *b = bopen(path_.c_str());
        float got[5];
        Verbose = 1;
        auto io = capture([&] { bread(b, c.start, 5, got); });
        Verbose = 0;
        EXPECT_EQ(std::vector<float>(got, got + 5), c.expect) << c.start;
        EXPECT_EQ(io.out.empty(), !c.reads) << c.start << ": " << io.out;
        EXPECT_EQ(bread1(b, 0, c.start), c.start >= 0 && c.start < 10 ? c.start + 0.5f : u);
        bclose(b);
    }
}

TEST_F(Bottle, SamplesCutOffAfterOpenReadAsTheUnusableValue) {
    const float u = 999999.0f;
    const std::vector<float> want{1, 2, 3, 4, 5, u, u, u, u, u};
    // Through the page buffer (bread) and straight from the file (the
    // core's direct reads, as the command and Python read).
    for (bool direct : {false, true}) {
        bclose(make(kFloat, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        const auto opened = zulu::core::open(path_.c_str(), {zulu::core::Access::kRead, true, direct});
        ASSERT_NE(opened.bottle, nullptr);
        ASSERT_EQ(truncate(path_.c_str(), 40 + 5 * 4 + 2), 0);  // five samples and half of one
        std::vector<float> got(10);
        bread(opened.bottle, 0, 10, got.data());
        EXPECT_EQ(got, want) << direct;
        EXPECT_EQ(bread1(opened.bottle, 9, 0), u) << direct;
        EXPECT_EQ(berror(opened.bottle), 0) << direct;
        bclose(opened.bottle);
    }
}

class GapPadding : public Bottle, public ::testing::WithParamInterface<SampleType> {};

TEST_P(GapPadding, PadsTheGapThenStoresAndReopensWithTheNewCount) {
    const SampleType &type = GetParam();
    bottle_hdr *b = bcreat(path_.c_str(), 0, 1, type.code);
    const std::string slots = type.encode(-3) + type.encode(4) + type.encode(125);
    bwrite(b, 5, 3, slots.data());
    EXPECT_EQ(bot_nsam(b), 8);
    bclose(b);

    ASSERT_EQ(contents().size(), 40u + 8 * type.width);
    EXPECT_EQ(bytes::get(contents(), 20, 4), 8u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(stored(type, i), type.unusable) << i;
    EXPECT_EQ(stored(type, 5), -3);
    EXPECT_EQ(stored(type, 6), 4);
    EXPECT_EQ(stored(type, 7), 125);

    b = bopen(path_.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bot_nsam(b), 8);
    EXPECT_EQ(bread1(b, 7, 0), 125.0f);
    EXPECT_EQ(bread1(b, 0, 0), static_cast<float>(type.unusable));
    bclose(b);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, GapPadding, ::testing::ValuesIn(bytes::kTypes),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Bottle, WritesDropNegativeIndicesOverwriteInPlaceAndPadOnEmptyWindows) {
    bottle_hdr *b = make(kInt, {1, 2, 3, 4, 5});
    const std::string four = kInt.encode(10) + kInt.encode(11) + kInt.encode(12) + kInt.encode(13);
    bwrite(b, -1, 4, four.data());  // 10 is dropped
    EXPECT_EQ(bot_nsam(b), 5);
    bwrite(b, 3, 1, kInt.encode(-9).data());
    EXPECT_EQ(bot_nsam(b), 5);
    bwrite(b, 7, 0, nullptr);
    EXPECT_EQ(bot_nsam(b), 7);
    bwrite(b, -1e15, 5, four.data());  // wholly before sample 0
    EXPECT_EQ(bot_nsam(b), 7);
    bclose(b);
    std::vector<double> got;
    for (int i = 0; i < 7; ++i) got.push_back(stored(kInt, i));
    EXPECT_EQ(got, (std::vector<double>{11, 12, 13, -9, 5, 32767, 32767}));
    EXPECT_EQ(contents().size(), 40u + 7 * 2);
}

TEST_F(Bottle, WindowsReadBackUnchangedBeforeCloseAndAcrossPages) {
    std::vector<double> values;
    for (int i = 0; i < 300; ++i) values.push_back(i * 0.1 - 7);
    Verbose = 1;
    std::string out = capture([&] { bclose(make(kDouble, values, 100, 2)); }).out;
    Verbose = 0;
    // 300 doubles from byte 40 span pages 0 to 4: each is loaded once and
    // written back once, the header page first.
    size_t loads = 0, writes = 0;
    for (size_t at = 0; (at = out.find("->core", at)) != std::string::npos; ++at) ++loads;
    for (size_t at = 0; (at = out.find("<-core", at)) != std::string::npos; ++at) ++writes;
    EXPECT_EQ(loads, 5u);
    EXPECT_EQ(writes, 5u);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(stored(kDouble, i), values[i]) << i;

    bottle_hdr *b = bopen(path_.c_str());
    std::vector<double> window(250);
    bread(b, 160, 250, window.data());
    EXPECT_EQ(window, std::vector<double>(values.begin() + 30, values.begin() + 280));
    const std::string changed = kDouble.encode(0.1) + kDouble.encode(1e300);
    bwrite(b, 200, 2, changed.data());
    bread(b, 198, 4, window.data());
    EXPECT_EQ(std::vector<double>(window.begin(), window.begin() + 4), (std::vector<double>{values[49], 0.1, 1e300, values[52]}));
    EXPECT_EQ(bread1(b, 200, 0), 0.1f);
    EXPECT_EQ(bread1(b, 200, 1), std::numeric_limits<float>::infinity());
    bclose(b);
}

TEST_F(Bottle, CountsAndTimesAtTheIntLimitsAreSafe) {
    bclose(make(kLong, {1, 2, 3}));
    const std::string before = contents();
    bottle_hdr *b = bopen(path_.c_str());
    int32_t got[3] = {7, 7, 7};
    bread(b, kNaN, 3, got);
    EXPECT_EQ(std::vector<int32_t>(got, got + 3), std::vector<int32_t>(3, 999999));
    got[0] = 7;
    bread(b, 1e300, 1, got);
    EXPECT_EQ(got[0], 999999);
    got[0] = 7;
    bread(b, 2, INT_MIN, got);
    EXPECT_EQ(got[0], 7) << "a negative count fills no slot";
    EXPECT_EQ(bread1(b, INT_MAX, INT_MAX), 999999.0f);
    EXPECT_EQ(bread1(b, 0, INT_MIN), 999999.0f);
    EXPECT_EQ(bread1(b, kNaN, 0), 999999.0f);

    struct Refusal {
        double t;
        int count;
        const char *message;
    } refusals[] = {
        {kNaN, 1, "bwrite: time nan has no sample index\n"},
        {1e12, 1, "bwrite: window ends past the largest file position\n"},
        {0, INT_MAX, "bwrite: window ends past the largest file position\n"},
        {kInf, 0, "bwrite: window ends past the largest file position\n"},
    };
    for (const Refusal &r : refusals) {
        auto io = capture([&] { bwrite(b, r.t, r.count, got); });
        EXPECT_EQ(io.out, r.message) << r.t;
        EXPECT_EQ(bot_nsam(b), 3);
    }
    bclose(b);
    EXPECT_EQ(read_file(path_), before);
}

TEST_F(Bottle, TheLastSampleOfTheLargestFileCanBeWrittenAndNoneAfterIt) {
    const int last = (INT_MAX - 40) / 2 - 1;  // its bytes end at position INT_MAX - 1
    bottle_hdr *b = bcreat(path_.c_str(), 0, 1, 0);
    b->nsam = last;  // as if the samples before it were there
    bwrite(b, last, 1, kInt.encode(42).data());
    EXPECT_EQ(bot_nsam(b), last + 1);
    auto io = capture([&] { bwrite(b, last + 1, 1, kInt.encode(43).data()); });
    EXPECT_EQ(io.out, "bwrite: window ends past the largest file position\n");
    bclose(b);
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, INT_MAX - 1);
    b = bopen(path_.c_str());
    EXPECT_EQ(bot_nsam(b), last + 1);
    EXPECT_EQ(bread1(b, last, 0), 42.0f);
    bclose(b);
}

TEST_F(Bottle, SummaryLineShowsBothTimesAndStartsFromEmptyTexts) {
    bottle_hdr *b = bcreat(path_.c_str(), 0, 60, 2);
    bwrite(b, 1439 * 60, 0, nullptr);  // pads to 1439 samples
    bwrite(b, 1439 * 60, 1, kFloat.encode(1).data());
    auto io = capture([&] { bshow(b); });
    EXPECT_EQ(io.out, " Thu Jan 01 00:00:00 GMT 1970 001 -> Thu Jan 01 23:59:00 GMT 1970 001  sec: 60  float: 1440\n");
    dtoa_fmt = 99;  // a layout dtoa does not have
    io = capture([&] { bshow(b); });
    EXPECT_EQ(io.out, "  ->   sec: 60  float: 1440\n");
    bclose(b);
}

TEST_F(Bottle, CloseReportsAFailedHeaderWrite) {
    bottle_hdr *b = make(kInt, {1});
    const int full = open("/dev/full", O_RDWR);
    ASSERT_GE(full, 0);
    dup2(full, getfdb(b->pbuf));
    close(full);
    auto io = capture([&] { bclose(b); });
    EXPECT_EQ(io.err, "wripage write: No space left on device\nbclose: header write: No space left on device\n");
}

TEST_F(Bottle, FlushPutsSamplesAndCountOnDiskAndTheBottleStaysOpen) {
    bottle_hdr *b = make(kLong, {1, 2, 3});
    EXPECT_EQ(bflush(b), 0);
    std::string file = contents();
    ASSERT_EQ(file.size(), 40u + 3 * 4);
    EXPECT_EQ(bytes::get(file, 20, 4), 3u);  // the header's count
    EXPECT_EQ(stored(kLong, 2), 3);
    bwrite(b, 3, 1, kLong.encode(4).data());
    EXPECT_EQ(bflush(b), 0);
    EXPECT_EQ(bytes::get(contents(), 20, 4), 4u);
    // A failure is kept: later flushes report it although they succeed.
    const int full = open("/dev/full", O_RDWR);
    const int saved = dup(getfdb(b->pbuf));
    dup2(full, getfdb(b->pbuf));
    bwrite(b, 4, 1, kLong.encode(5).data());
    auto io = capture([&] { EXPECT_EQ(bflush(b), -1); });
    EXPECT_EQ(io.err, "wripage write: No space left on device\nbflush: header write: No space left on device\n");
    EXPECT_EQ(berror(b), 1);
    dup2(saved, getfdb(b->pbuf));
    EXPECT_EQ(bflush(b), -1);
    EXPECT_EQ(berror(b), 1);
    close(full);
    close(saved);
    bclose(b);
}

TEST_F(Bottle, CreateReportsAHeaderThatCannotBeWritten) {
    auto io = capture([&] { EXPECT_EQ(bcreat("/dev/full", 0, 1, 0), nullptr); });
    EXPECT_EQ(io.err, "bcreat: header write: No space left on device\n");
    EXPECT_EQ(io.out, "bopen:  /dev/full is not a legal bottle\n");
}

TEST_F(Bottle, AReadOnlyBottleReadsAndClosesQuietlyButReportsLostWrites) {
    bclose(make(kInt, {1, 2, 3}));
    const std::string before = contents();
    for (bool write : {false, true}) {
        bottle_hdr *b = bopen(path_.c_str());
        const int ro = open(path_.c_str(), O_RDONLY);
        dup2(ro, getfdb(b->pbuf));
        close(ro);
        auto io = capture([&] {
            EXPECT_EQ(bread1(b, 2, 0), 3.0f);
            if (write) bwrite(b, 3, 1, kInt.encode(4).data());
            bclose(b);
        });
        EXPECT_EQ(io.err, write ? "wripage write: Bad file descriptor\n" : "");
        EXPECT_EQ(contents(), before);
    }
}

TEST(BottleHeaders, CompileAndWorkFromC) {
    testsupport::TempDir dir;
    EXPECT_EQ(bottle_c_roundtrip(dir.file("c.bot").c_str()), 0);
}

}  // namespace
