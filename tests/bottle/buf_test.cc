// The page buffer against real files and real failing descriptors.

#include "buf.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "capture.h"

using testsupport::capture;
using testsupport::read_file;
using testsupport::write_file;

namespace {

constexpr int kLastPage = INT_MAX / 512;

// Trace lines with the page address replaced by "@", which keeps the test
// independent of where the buffer was allocated.
std::string loose(std::string out) {
    const std::string mark = "core[";
    for (size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at)) {
        at += mark.size();
        const size_t end = out.find_first_not_of("-0123456789", at);
        if (end == std::string::npos || end == at || out[end] != ' ') continue;
        out.replace(at, end - at, "@");
    }
    return out;
}

std::string trace(const char *arrow, int fd, int page, int count) {
    return "disk[" + std::to_string(fd) + " " + std::to_string(page) + "]" + arrow + "core[@ " +
           std::to_string(count) + "]\n";
}
std::string loaded(int fd, int page, int count) { return trace("->", fd, page, count); }
std::string written(int fd, int page, int count) { return trace("<-", fd, page, count); }

// 0..255 repeated: every byte tells its position modulo 256.
std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i & 0xff);
    return s;
}

class PageBuffer : public ::testing::Test {
protected:
    void TearDown() override {
        Verbose = 0;
        if (fd_ >= 0) close(fd_);
    }
    // Opens a scratch file holding `content`, with a buffer on it.
    pagebuf *open_file(const std::string &content = "", int flags = O_RDWR) {
        write_file(path_, content);
        if (fd_ >= 0) close(fd_);
        fd_ = open(path_.c_str(), flags);
        return openb(fd_);
    }
    std::string contents() const { return read_file(path_); }

    testsupport::TempDir dir_;
    std::string path_ = dir_.file("pages");
    int fd_ = -1;
};

TEST_F(PageBuffer, WritingPastTheEndExtendsTheFileToTheLastByteWritten) {
    pagebuf *pb = open_file();
    putb(pb, 0, 3, "abc");
    closeb(pb);
    EXPECT_EQ(contents(), "abc");

    pb = open_file();
    Verbose = 1;
    auto io = capture([&] {
        putb(pb, 1000, 1, "x");
        EXPECT_EQ(pb->page, 1);
        EXPECT_EQ(pb->dirty, 489);
        closeb(pb);
    });
    EXPECT_EQ(loose(io.out), loaded(fd_, 1, 0) + written(fd_, 1, 489));
    EXPECT_EQ(contents(), std::string(1000, '\0') + "x");
}

TEST_F(PageBuffer, TraceLinesFollowEveryTransferAcrossPageBoundaries) {
    pagebuf *pb = open_file(pattern(1100));
    const std::string address = std::to_string(reinterpret_cast<intptr_t>(pb->data));
    Verbose = 1;
    char got[700];
    auto io = capture([&] {
        putb(pb, 10, 1, "!");
        getb(pb, 500, 700, got);  // leaves dirty page 0, loads 1 at 512, 2 at 1024
    });
    EXPECT_EQ(loose(io.out), loaded(fd_, 0, 512) + written(fd_, 0, 11) + loaded(fd_, 1, 512) + loaded(fd_, 2, 76));
    EXPECT_NE(io.out.find("core[" + address + " 512]"), std::string::npos) << "address printed in full";
    EXPECT_EQ(std::string(got, 700), pattern(1100).substr(500, 600) + std::string(100, '\0'));
    EXPECT_EQ(contents()[10], '!');

    // The held page is served from memory: no transfer, no trace.
    io = capture([&] {
        getb(pb, 1030, 4, got);
        ptrb(pb, 2);
    });
    EXPECT_EQ(io.out, "");
    EXPECT_EQ(std::string(got, 4), pattern(1100).substr(1030, 4));
    closeb(pb);
}

TEST_F(PageBuffer, ChangesAreVisibleBeforeWriteBackAndDiscardedByClear) {
    pagebuf *pb = open_file("0123456789");
    putb(pb, 2, 3, "abc");
    char got[10];
    getb(pb, 0, 10, got);
    EXPECT_EQ(std::string(got, 10), "01abc56789");
    EXPECT_EQ(contents(), "0123456789") << "nothing written yet";

    clrb(pb);
    EXPECT_EQ(pb->page, -1);
    EXPECT_EQ(pb->dirty, 0);
    Verbose = 1;
    auto io = capture([&] { getb(pb, 0, 10, got); });
    EXPECT_EQ(loose(io.out), loaded(fd_, 0, 10)) << "the page is read again";
    EXPECT_EQ(std::string(got, 10), "0123456789");
    closeb(pb);
    EXPECT_EQ(contents(), "0123456789");
}

TEST_F(PageBuffer, WholePageMarkWritesAllBytesAndDirectWriteBackKeepsThePageDirty) {
    pagebuf *pb = open_file("short");
    wrib(pb);  // no page held: nothing to mark
    EXPECT_EQ(pb->dirty, 0);
    char *page = ptrb(pb, 0);
    ASSERT_EQ(page, pb->data);
    page[0] = 'S';
    wrib(pb);
    Verbose = 1;
    auto io = capture([&] {
        wripage(pb);
        ptrb(pb, 3);
    });
    EXPECT_EQ(loose(io.out), written(fd_, 0, 512) + written(fd_, 0, 512) + loaded(fd_, 3, 0));
    EXPECT_EQ(contents(), "Short" + std::string(507, '\0'));
    closeb(pb);
}

TEST_F(PageBuffer, LongTransfersRoundTripThroughTheFile) {
    const std::string data = pattern(2000);
    pagebuf *pb = open_file();
    putb(pb, 300, 2000, data.data());
    closeb(pb);
    EXPECT_EQ(contents(), std::string(300, '\0') + data);

    pb = open_file(contents());
    std::string got(2100, 'x');
    getb(pb, 250, 2100, got.data());
    EXPECT_EQ(got, std::string(50, '\0') + data + std::string(50, '\0'));
    closeb(pb);
}

TEST_F(PageBuffer, QuietWhenAllGoesWell) {
    pagebuf *pb = open_file(pattern(600));
    auto io = capture([&] {
        char got[100];
        putb(pb, 500, 100, pattern(100).data());
        getb(pb, 0, 100, got);
        closeb(pb);
    });
    EXPECT_EQ(io.out, "");
    EXPECT_EQ(io.err, "");
}

TEST_F(PageBuffer, PositionsOutsideTheFileRangeNeverReachMemoryOutsideThePage) {
    pagebuf *pb = open_file("wxyz");
    char got[10];
    getb(pb, -2, 4, got);
    EXPECT_EQ(std::string(got, 4), std::string("\0\0wx", 4));
    std::memset(got, 'x', sizeof got);
    getb(pb, -100, 10, got);
    EXPECT_EQ(std::string(got, 10), std::string(10, '\0'));
    putb(pb, -3, 5, "ABCDE");  // the three bytes before position 0 are dropped
    EXPECT_EQ(pb->dirty, 2);
    getb(pb, INT_MAX - 1, 4, got);
    EXPECT_EQ(pb->page, kLastPage) << "the dirty page was written back on the way";
    EXPECT_EQ(std::string(got, 4), std::string(4, '\0'));
    getb(pb, 0, INT_MIN, got);  // a negative length moves only to the start's page
    EXPECT_EQ(pb->page, 0);
    closeb(pb);
    EXPECT_EQ(contents(), "DEyz");
}

TEST_F(PageBuffer, BytesPastTheLastPositionAreDroppedOrReadAsZeros) {
    pagebuf *pb = open_file();
    putb(pb, INT_MAX - 1, 5, "abcde");
    EXPECT_EQ(pb->page, kLastPage);
    EXPECT_EQ(pb->dirty, 512);
    EXPECT_EQ(std::string(pb->data + 510, 2), "ab");
    char got[4];
    getb(pb, INT_MAX - 1, 4, got);
    EXPECT_EQ(std::string(got, 4), std::string("ab\0\0", 4));
    clrb(pb);
    closeb(pb);
    EXPECT_EQ(contents(), "");
}

TEST_F(PageBuffer, PagesOutsideTheFileRangeAreReportedAndHoldNothing) {
    pagebuf *pb = open_file("data");
    EXPECT_EQ(ptrb(pb, -1), pb->data) << "no page held is already page -1";
    for (int page : {-5, kLastPage + 1, INT_MIN}) {
        getb(pb, 0, 1, pb->data + 100);  // hold page 0 again
        auto io = capture([&] {
            char *p = ptrb(pb, page);
            EXPECT_EQ(p, pb->data);
        });
        EXPECT_EQ(io.err, "reapage lseek: Invalid argument\n") << page;
        EXPECT_EQ(loose(io.out), loaded(fd_, page, -1)) << page;
        EXPECT_EQ(pb->page, -1);
        EXPECT_EQ(std::string(pb->data, 512), std::string(512, '\0'));
    }
    auto io = capture([&] { reapage(pb, -3); });
    EXPECT_EQ(io.err, "reapage lseek: Invalid argument\n");
    closeb(pb);
    EXPECT_EQ(contents(), "data");
}

// Real descriptors that fail: each report goes to standard error, the
// failed transfer's trace line to standard output, and the buffer goes on.

TEST_F(PageBuffer, WriteBackToAFullDeviceIsReportedAndTheChangeLost) {
    const int full = open("/dev/full", O_RDWR);
    ASSERT_GE(full, 0);
    pagebuf *pb = openb(full);
    putb(pb, 0, 3, "abc");
    auto io = capture([&] { closeb(pb); });
    EXPECT_EQ(io.err, "wripage write: No space left on device\n");
    EXPECT_EQ(loose(io.out), written(full, 0, -1));
    close(full);
}

TEST_F(PageBuffer, AWriteBackCutShortIsFinishedOrReportedNotTakenForDone) {
    // A file size limit of 100 bytes: the write-back's first call stops at
    // the limit, the rest fails the way a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    pagebuf *pb = open_file();
    putb(pb, 0, 300, pattern(300).data());
    auto io = capture([&] { closeb(pb); });
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(io.err, "wripage write: File too large\n");
    EXPECT_EQ(loose(io.out), written(fd_, 0, -1));
    EXPECT_EQ(contents(), pattern(100));
}

TEST_F(PageBuffer, WriteBackThroughAReadOnlyDescriptorFailsAndTheNextPageLoads) {
    pagebuf *pb = open_file(pattern(1024), O_RDONLY);
    putb(pb, 0, 1, "X");
    char got = 0;
    auto io = capture([&] { getb(pb, 600, 1, &got); });
    EXPECT_EQ(io.err, "wripage write: Bad file descriptor\n");
    EXPECT_EQ(loose(io.out), written(fd_, 0, -1));
    EXPECT_EQ(got, pattern(1024)[600]);
    EXPECT_EQ(pb->page, 1);
    EXPECT_EQ(pb->dirty, 0);
    closeb(pb);
    EXPECT_EQ(contents(), pattern(1024));
}

TEST_F(PageBuffer, OnAPipePositioningFailsAndTheTransferHappensAllTheSame) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);  // an extra read fails instead of waiting
    ASSERT_EQ(write(ends[1], "abcdefghij", 10), 10);
    pagebuf *reader = openb(ends[0]);
    char got[12];
    auto io = capture([&] { getb(reader, 0, 12, got); });
    EXPECT_EQ(io.err, "reapage lseek: Illegal seek\n");
    EXPECT_EQ(io.out, "");
    EXPECT_EQ(std::string(got, 12), std::string("abcdefghij\0\0", 12));
    EXPECT_EQ(reader->page, 0);
    closeb(reader);

    pagebuf *writer = openb(ends[1]);
    io = capture([&] {
        putb(writer, 0, 5, "hello");
        closeb(writer);
    });
    EXPECT_EQ(io.err, "reapage lseek: Illegal seek\nreapage read: Bad file descriptor\nwripage lseek: Illegal seek\n");
    EXPECT_EQ(loose(io.out), loaded(ends[1], 0, -1));
    char sent[5];
    ASSERT_EQ(read(ends[0], sent, 5), 5);
    EXPECT_EQ(std::string(sent, 5), "hello");
    close(ends[0]);
    close(ends[1]);
}

TEST_F(PageBuffer, AFailedReadLeavesTheRequestedPageHeldCleanAndZeroFilled) {
    pagebuf *pb = open_file(pattern(1024));
    char got[4];
    getb(pb, 0, 4, got);  // page 0 holds the pattern
    const int dirfd = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirfd, 0);
    pb->fd = dirfd;
    std::memset(got, 'x', sizeof got);
    auto io = capture([&] { getb(pb, 520, 4, got); });
    EXPECT_EQ(io.err, "reapage read: Is a directory\n");
    EXPECT_EQ(loose(io.out), loaded(dirfd, 1, -1));
    EXPECT_EQ(std::string(got, 4), std::string(4, '\0'));
    EXPECT_EQ(std::string(pb->data, 512), std::string(512, '\0')) << "no bytes of the page before";
    EXPECT_EQ(pb->page, 1);
    EXPECT_EQ(pb->dirty, 0);
    io = capture([&] { getb(pb, 600, 4, got); });
    EXPECT_EQ(io.err + io.out, "") << "the failed page counts as held";
    closeb(pb);
    close(dirfd);
}

}  // namespace
