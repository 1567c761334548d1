// Every system call of a write and a read of a bottle made to fail in turn
// (call 1, 2, ... until the operation runs untouched), in each way a call
// can fail: the outcome must be defined every time.  Interrupted calls and
// short counts are finished as if nothing happened; any other failure is
// reported (through berror, bflush, the core's error state, or a message)
// and changes no byte outside the transfer that failed.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bot.h"
#include "bytes.h"
#include "capture.h"
#include "core.h"
#include "faults.h"

using faults::FaultInjector;
using faults::Kind;
using testsupport::capture;
using testsupport::read_file;

namespace {

constexpr Kind kKinds[] = {Kind::kEIO, Kind::kENOSPC, Kind::kShort, Kind::kEINTR};
constexpr int kWidth = 4;  // "long" samples
constexpr int kFirst = 300, kGapAt = 500, kSecond = 50, kRewriteAt = 120, kRewrite = 20;

std::vector<std::int32_t> samples(int n, std::int32_t from) {
    std::vector<std::int32_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = from + i;
    return v;
}

// How a fault that fired may end: unnoticed (the call was retried, or its
// failure changed nothing) or reported.
enum class Outcome { kUnnoticed, kReported, kEither };

Outcome expected_outcome(const FaultInjector &f, Kind k, bool reading) {
    const bool transfer = f.call() == "read" || f.call() == "write";
    if (transfer && (k == Kind::kShort || k == Kind::kEINTR)) return Outcome::kUnnoticed;
    if (f.call() == "fcntl") return Outcome::kEither;  // only asks whether the descriptor is writable
    // A bottle that cannot be opened for writing is opened for reading.
    if (f.call() == "open" && reading) return Outcome::kEither;
    return Outcome::kReported;
}

// Whether the failed call moved (or placed) bytes: only then is the damage
// confined to a range of the file.
bool aimed_at_bytes(const FaultInjector &f) { return f.from() >= 0; }

// Bytes of `got` that differ from `want` (a missing byte counts as
// different) all lie in [from, to).
::testing::AssertionResult differs_only_within(const std::string &got, const std::string &want, std::int64_t from,
                                               std::int64_t to, std::int64_t offset = 0) {
    const std::size_t n = std::max(got.size(), want.size());
    for (std::size_t i = 0; i < n; ++i) {
        const bool same = i < got.size() && i < want.size() && got[i] == want[i];
        const auto at = offset + static_cast<std::int64_t>(i);
        if (!same && (at < from || at >= to))
            return ::testing::AssertionFailure() << "byte " << at << " changed outside [" << from << ", " << to << ")";
    }
    return ::testing::AssertionSuccess();
}

struct WriteRun {
    bool created = false;
    bool fired_before_flush = false;
    int flushed = 0, error = 0;
    testsupport::Output io;
};

// Writes a window of a "long" bottle over several pages, another after a
// gap and a third over the first, flushes and closes it, through the C
// interface: into a new bottle, or with `reopened` into the file holding
// the first window already, opened by bopen.
WriteRun write_bottle(const std::string &path, const FaultInjector *f, bool reopened = false) {
    const auto first = samples(kFirst, 1), second = samples(kSecond, 100000);
    WriteRun run;
    run.io = capture([&] {
        bottle_hdr *b = reopened ? bopen(path.c_str()) : bcreat(path.c_str(), 0, 1, 1);
        run.created = b != nullptr;
        if (!b) return;
        if (!reopened) bwrite(b, 0, kFirst, first.data());
        bwrite(b, kGapAt, kSecond, second.data());
        // Back to earlier pages, so that a transfer in the wrong place shows.
        bwrite(b, kRewriteAt, kRewrite, second.data());
        run.flushed = bflush(b);
        run.error = berror(b);
        run.fired_before_flush = f && f->fired();
        bclose(b);
    });
    return run;
}

TEST(Faults, EveryCallOfAWriteFailsInEveryWayWithADefinedOutcome) {
    testsupport::TempDir dir;
    const std::string path = dir.file("w.bot");
    const WriteRun clean = write_bottle(path, nullptr);
    ASSERT_TRUE(clean.created);
    ASSERT_EQ(clean.flushed, 0);
    const std::string want = read_file(path);
    ASSERT_EQ(want.size(), 40u + (kGapAt + kSecond) * kWidth);

    for (const bool reopened : {false, true}) {
        for (Kind k : kKinds) {
            int n = 1;
            for (;; ++n) {
                SCOPED_TRACE(std::string(faults::name_of(k)) + " on call " + std::to_string(n) +
                             (reopened ? ", reopened" : ", created"));
                std::remove(path.c_str());
                if (reopened) {
                    bottle_hdr *b = bcreat(path.c_str(), 0, 1, 1);
                    bwrite(b, 0, kFirst, samples(kFirst, 1).data());
                    bclose(b);
                }
                FaultInjector f(k, n);
                const WriteRun run = write_bottle(path, &f, reopened);
                if (!f.fired()) {
                    EXPECT_EQ(read_file(path), want);
                    break;
                }
                const std::string got = read_file(path);
                const Outcome outcome = expected_outcome(f, k, false);
                const bool reported = !run.created || run.error != 0 || run.flushed != 0 || !run.io.err.empty();
                const bool untouched = run.created && got == want && run.io.err.empty() && run.io.out.empty();
                if (outcome == Outcome::kUnnoticed) {
                    EXPECT_TRUE(untouched) << f.call() << "\n" << run.io.err;
                }
                if (outcome == Outcome::kReported) {
                    EXPECT_TRUE(reported) << f.call();
                    // A failure before bflush shows in the error state, not only in a message.
                    if (run.created && run.fired_before_flush) {
                        EXPECT_EQ(run.error, 1) << f.call();
                        EXPECT_EQ(run.flushed, -1) << f.call();
                    }
                }
                if (run.created) {
                    // The header counts only samples the file holds; apart from
                    // a count lowered so, only the transfer that failed differs.
                    const auto count = static_cast<std::int32_t>(bytes::get(got, 20, 4));
                    EXPECT_LE(count, (static_cast<std::int64_t>(got.size()) - 40) / kWidth) << f.call();
                    const std::string same_count = got.substr(0, 20) + want.substr(20, 4) + got.substr(24);
                    if (aimed_at_bytes(f)) {
                        EXPECT_TRUE(differs_only_within(same_count, want, f.from(), f.to())) << f.call();
                    }
                } else {
                    EXPECT_TRUE(run.io.out.find("bcreat:") != std::string::npos ||
                                run.io.out.find("bopen:") != std::string::npos)
                        << f.call();
                }
            }
            EXPECT_GT(n, 8) << "the write made fewer calls than expected";
        }
    }
}

struct ReadRun {
    bool opened = false;
    bool fired_while_reading = false;
    int error = 0;
    std::vector<std::int32_t> window;
    float single = 0;
    testsupport::Output io;
};

constexpr int kWindowStart = 90, kWindow = 400;

ReadRun read_bottle(const std::string &path, const FaultInjector *f) {
    ReadRun run;
    run.window.assign(kWindow, 0);
    run.io = capture([&] {
        bottle_hdr *b = bopen(path.c_str());
        run.opened = b != nullptr;
        if (!b) return;
        bread(b, kWindowStart, kWindow, run.window.data());
        run.single = bread1(b, kGapAt + 1, 0);
        run.error = berror(b);
        run.fired_while_reading = f && f->fired();
        bclose(b);
    });
    return run;
}

TEST(Faults, EveryCallOfAReadFailsInEveryWayWithADefinedOutcome) {
    testsupport::TempDir dir;
    const std::string path = dir.file("r.bot");
    ASSERT_TRUE(write_bottle(path, nullptr).created);
    const std::string file = read_file(path);
    const ReadRun clean = read_bottle(path, nullptr);
    ASSERT_TRUE(clean.opened);
    ASSERT_EQ(clean.error, 0);
    const std::string want_window(reinterpret_cast<const char *>(clean.window.data()), kWindow * kWidth);

    for (Kind k : kKinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(faults::name_of(k)) + " on call " + std::to_string(n));
            FaultInjector f(k, n);
            const ReadRun run = read_bottle(path, &f);
            if (!f.fired()) break;
            EXPECT_EQ(read_file(path), file) << "reading changed the file";
            const Outcome outcome = expected_outcome(f, k, true);
            const bool reported = !run.opened || run.error != 0 || !run.io.err.empty();
            if (outcome == Outcome::kUnnoticed) {
                EXPECT_TRUE(run.opened && run.window == clean.window && run.single == clean.single &&
                            run.io.err.empty())
                    << f.call() << "\n" << run.io.err;
            }
            if (outcome == Outcome::kReported) {
                EXPECT_TRUE(reported) << f.call();
            }
            if (outcome == Outcome::kReported && run.fired_while_reading) {
                EXPECT_EQ(run.error, 1) << f.call();
            }
            if (!run.opened || !aimed_at_bytes(f)) continue;
            // Only slots that came from the failed transfer may differ.
            const std::string got(reinterpret_cast<const char *>(run.window.data()), kWindow * kWidth);
            EXPECT_TRUE(differs_only_within(got, want_window, f.from(), f.to(), 40 + kWindowStart * kWidth))
                << f.call();
        }
    }
}

// The core's direct transfers, as the bottle command and the Python
// package use them: the same rules, with nothing printed.
TEST(Faults, DirectTransfersRecordEveryFailureAndPrintNothing) {
    testsupport::TempDir dir;
    const std::string path = dir.file("d.bot");
    const auto values = samples(kFirst, 7);
    const zulu::core::CreateOptions options{{zulu::core::Access::kReadWrite, true, true}};
    const auto write_and_read = [&](std::vector<std::int32_t> &back) {
        const auto created = zulu::core::create(path.c_str(), 0, 1, 1, options);
        if (!created.bottle) return false;
        zulu::core::write_at(created.bottle, kGapAt, kFirst, values.data());
        zulu::core::read_at(created.bottle, kGapAt, kFirst, back.data());
        const bool failed_before_close = zulu::core::error(created.bottle) != 0;
        return zulu::core::close(created.bottle) && !failed_before_close;
    };
    std::vector<std::int32_t> back(kFirst);
    ASSERT_TRUE(write_and_read(back));
    ASSERT_EQ(back, values);
    const std::string want = read_file(path);

    for (Kind k : kKinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(faults::name_of(k)) + " on call " + std::to_string(n));
            std::remove(path.c_str());
            FaultInjector f(k, n, kGapAt * kWidth);
            bool ok = false;
            const auto io = capture([&] { ok = write_and_read(back); });
            if (!f.fired()) break;
            EXPECT_EQ(io.out + io.err, "");
            const Outcome outcome = expected_outcome(f, k, false);
            if (outcome == Outcome::kUnnoticed) {
                EXPECT_TRUE(ok && back == values && read_file(path) == want) << f.call();
            }
            if (outcome == Outcome::kReported) {
                EXPECT_FALSE(ok) << f.call();
            }
        }
    }
}

}  // namespace
