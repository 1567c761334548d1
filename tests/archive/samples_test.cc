// The command's sample transfers when the file system fails under them: a
// read that fails is a Failure naming the file, never zeros taken for data,
// and a write that fails is a Failure before the new bottle may replace
// anything.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "faults.h"
#include "files.h"
#include "samples.h"

namespace {

using zulu::archive::Failure;
using faults::FaultInjector;
using faults::Kind;

void write_counting(const std::string &path, int n) {
    zulu::archive::NewBottle bottle(path, path, 0, 1, 1);
    zulu::archive::SampleWriter<std::int32_t> writer(bottle.get());
    for (int i = 0; i < n; ++i) writer.push(i);
    writer.finish();
    bottle.finish();
}

TEST(CommandSamples, AFailedReadIsAFailureNamingTheFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("b.bot");
    write_counting(path, 1000);
    const zulu::archive::Series series = zulu::archive::Series::of_bottle(path);
    zulu::archive::SeriesReader reader(series);
    std::int32_t first = -1;
    reader.read(0, 1, &first);  // the file is open from here on
    ASSERT_EQ(first, 0);
    std::vector<std::int32_t> seen;
    const auto collect = [&](std::int64_t, const std::int32_t *v, std::size_t n) { seen.insert(seen.end(), v, v + n); };
    {
        FaultInjector f(Kind::kEIO, 1);  // the positioned read of the block
        try {
            zulu::archive::read_samples<std::int32_t>(reader, 0, 1000, collect);
            FAIL() << "no failure";
        } catch (const Failure &e) {
            EXPECT_EQ(std::string(e.what()), "cannot read " + path + ": Input/output error");
        }
        EXPECT_TRUE(f.fired());
    }
    EXPECT_TRUE(seen.empty()) << "nothing of a failed block is handed on";
}

TEST(CommandSamples, AFailedWriteIsAFailureAtFinish) {
    testsupport::TempDir dir;
    for (int n = 1; n <= 16; ++n) {
        const std::string path = dir.file("w" + std::to_string(n) + ".bot");
        FaultInjector f(Kind::kENOSPC, n);
        bool failed = false;
        try {
            write_counting(path, 200000);  // several blocks
        } catch (const Failure &e) {
            failed = true;
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        // fcntl only asks whether the descriptor is writable: its failure changes nothing.
        if (f.call() == "fcntl") continue;
        EXPECT_EQ(failed, f.fired()) << "call " << n << " (" << f.call() << ") failed unnoticed";
    }
}

}  // namespace
