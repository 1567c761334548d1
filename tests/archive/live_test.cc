// Bottles while a writer appends to them: followers count what the writer
// published (never a page the library wrote back ahead of bflush, never a
// torn sample), notice a file cut short or replaced under its name, and
// wait for changes with inotify or by polling.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bot.h"
#include "capture.h"
#include "live.h"

namespace {

using namespace zulu::archive;
using std::chrono::milliseconds;

bottle_hdr long_header(std::int32_t nsam, std::int32_t doff = 40) {
    bottle_hdr h{};
    h.magic = 349;
    h.doff = doff;
    h.beg = 1000;
    h.ivl = 1;
    h.nsam = nsam;
    h.type = 1;
    h.usym = 999999;
    return h;
}

TEST(Published, IsWhatTheHeaderCountsThatTheFileHoldsWhole) {
    const struct {
        std::int32_t nsam, doff;
        std::int64_t size, published;
    } cases[] = {
        {10, 40, 80, 10},  // the count and the file agree
        {10, 40, 60, 5},   // the header ahead of the file: what the file holds
        {10, 40, 62, 5},   // ... of whole samples only
        {3, 40, 80, 3},    // a page written back ahead of bflush: not yet
        {-4, 40, 80, 0},   // a count that is no count
        {10, 48, 80, 8},   // samples begin at the data offset
        {10, 40, 30, 0},   // shorter than a header
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.nsam) + " counted, " + std::to_string(c.size) + " bytes");
        EXPECT_EQ(published_samples(long_header(c.nsam, c.doff), c.size), c.published);
    }
}

// A C writer's windows of 37 long samples (148 bytes) cross page ends, so
// the page buffer writes pages back between flushes.
struct Writer {
    bottle_hdr *b;
    std::int64_t written = 0;
    explicit Writer(const std::string &path) : b(bcreat(path.c_str(), 1000.0, 1.0, 1)) {}
    ~Writer() { bclose(b); }
    void window() {
        std::int32_t v[37];
        for (int k = 0; k < 37; ++k) v[k] = static_cast<std::int32_t>(3 * (written + k) + 1);
        bwrite(b, 1000.0 + static_cast<double>(written), 37, v);
        written += 37;
    }
};

TEST(LiveBottle, SeesWhatTheWriterFlushedExactlyAndNothingAhead) {
    testsupport::TempDir dir;
    const std::string path = dir.file("live.bot");
    Writer w(path);
    LiveBottle live(path);
    EXPECT_EQ(live.count(), 0);
    std::int64_t flushed = 0;
    for (int round = 0; round < 12; ++round) {
        for (int k = 0; k <= round % 4; ++k) w.window();
        // The file may hold more than was flushed; its header, written
        // back with page 0 too, counts the flush, and so does the follower.
        std::int32_t stored = -1;
        std::memcpy(&stored, testsupport::read_file(path).data() + 20, sizeof stored);
        EXPECT_EQ(stored, flushed);
        EXPECT_EQ(live.look(), LiveBottle::Look::kSame);
        EXPECT_EQ(live.count(), flushed);
        ASSERT_EQ(bflush(w.b), 0);
        flushed = w.written;
        EXPECT_EQ(live.look(), LiveBottle::Look::kGrown);
        EXPECT_EQ(live.count(), flushed);
    }
    EXPECT_GT(std::filesystem::file_size(path), 40u);
    std::vector<std::int32_t> got(static_cast<std::size_t>(flushed + 2));
    live.read(0, flushed + 2, got.data());
    for (std::int64_t i = 0; i < flushed; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], 3 * i + 1) << i;
    EXPECT_EQ(got[static_cast<std::size_t>(flushed)], 999999) << "past the count: missing, not a sample";
}

TEST(Follower, SeesTheFileCutShortReplacedOrRenamedAway) {
    testsupport::TempDir dir;
    const std::string path = dir.file("f.bot"), next = dir.file("next.bot"), away = dir.file("away.bot");
    {
        Writer w(path);
        w.window();
    }
    Follower by_fd(path, Follower::Mode::kDescriptor), by_name(path, Follower::Mode::kName);
    EXPECT_EQ(by_fd.file().count(), 37);
    EXPECT_EQ(by_fd.look(), Follower::Event::kNone);

    // Renamed away: the file is followed on, and its writer's samples come.
    std::filesystem::rename(path, away);
    {
        bottle_hdr *b = bopen(away.c_str());
        std::int32_t v = 7;
        bwrite(b, 1037.0, 1, &v);
        bclose(b);
    }
    EXPECT_EQ(by_fd.look(), Follower::Event::kGrown);
    EXPECT_EQ(by_fd.file().count(), 38);

    // Another file takes the name: replaced, by either follower.
    { Writer w(next); }
    std::filesystem::rename(next, path);
    EXPECT_EQ(by_fd.look(), Follower::Event::kReplaced);
    EXPECT_EQ(by_name.look(), Follower::Event::kReplaced);
    EXPECT_EQ(by_name.file().count(), 38) << "the last look at the old file";
    ASSERT_TRUE(by_name.reopen());
    EXPECT_EQ(by_name.file().count(), 0);
    EXPECT_EQ(by_name.look(), Follower::Event::kNone);

    // Written anew in place (bcreat empties the file): rewritten.
    {
        Writer w(path);
        w.window();
        bflush(w.b);
        EXPECT_EQ(by_name.look(), Follower::Event::kGrown);
    }
    { Writer w(path); }
    EXPECT_EQ(by_name.look(), Follower::Event::kRewritten);

    // While nothing is under the name, there is nothing to reopen.
    std::filesystem::remove(path);
    EXPECT_FALSE(by_name.reopen());
}

TEST(Watch, WakesOnAFlushOnAStopAndAfterATimeout) {
    for (const bool notify : {true, false}) {
        SCOPED_TRACE(notify ? "inotify" : "polling");
        testsupport::TempDir dir;
        const std::string path = dir.file("w.bot");
        Writer w(path);
        Follower f(path, Follower::Mode::kDescriptor, {.notify = notify, .poll = milliseconds(20)});
        int stop[2];
        ASSERT_EQ(pipe(stop), 0);

        std::thread writer([&] {
            std::this_thread::sleep_for(milliseconds(50));
            w.window();
            bflush(w.b);
        });
        // Woken as often as it likes, the follower sees the flush well before the timeout.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (f.file().count() == 0 && std::chrono::steady_clock::now() < give_up) {
            const Watch::Woken woken = f.wait(std::chrono::seconds(20), stop[0]);
            ASSERT_TRUE(woken == Watch::Woken::kChange || woken == Watch::Woken::kInterrupted);
            f.look();
        }
        writer.join();
        EXPECT_EQ(f.file().count(), 37);

        EXPECT_EQ(f.wait(milliseconds(0), stop[0]), Watch::Woken::kTimeout);
        ASSERT_EQ(write(stop[1], "x", 1), 1);
        EXPECT_EQ(f.wait(std::nullopt, stop[0]), Watch::Woken::kStop);
        close(stop[0]);
        close(stop[1]);
    }
}

}  // namespace
