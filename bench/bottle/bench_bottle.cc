// Sequential bottle writes and reads of 10^6 samples, beside two baselines
// on a file of the same size: the floor for 512-byte pages (plain write or
// read calls, one per page) and the system calls the page buffer has to
// make, done bare (per page: position and read the next page, position and
// write it back; or position and read).
//
// read, write and lseek are wrapped at link time (-Wl,--wrap) so that every
// call made by the library and by the baselines is counted.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "bot.h"

namespace {
long syscalls = 0;
}

extern "C" {
ssize_t __real_read(int fd, void *buf, size_t n);
ssize_t __real_write(int fd, const void *buf, size_t n);
off_t __real_lseek(int fd, off_t offset, int whence);

ssize_t __wrap_read(int fd, void *buf, size_t n) {
    ++syscalls;
    return __real_read(fd, buf, n);
}
ssize_t __wrap_write(int fd, const void *buf, size_t n) {
    ++syscalls;
    return __real_write(fd, buf, n);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
    ++syscalls;
    return __real_lseek(fd, offset, whence);
}
}

namespace {

constexpr int kSamples = 1'000'000;
constexpr int kPage = 512;
constexpr int kHeader = 40;
constexpr int kWidth[] = {2, 4, 4, 8};

int64_t file_bytes(int type) { return kHeader + int64_t{kSamples} * kWidth[type]; }
int64_t pages(int type) { return (file_bytes(type) + kPage - 1) / kPage; }

// A scratch directory for the bench's files, removed at exit.
const std::string &scratch() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/bench-bottle-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        std::atexit([] { std::system(("rm -rf " + scratch()).c_str()); });
        return pattern;
    }();
    return dir;
}

std::string path_of(int type) { return scratch() + "/samples" + std::to_string(type) + ".bot"; }

// The bottle of 10^6 samples of the type that the reads read, written
// once through the library.  The read baselines read the same file: how
// a file was written (page by page, or in one piece) changes how the page
// cache holds it, and so what reading it costs.
const std::string &samples_file(int type) {
    static std::string paths[4];
    if (paths[type].empty()) {
        paths[type] = path_of(type);
        const std::vector<char> all(static_cast<size_t>(kSamples) * kWidth[type], 1);
        bottle_hdr *b = bcreat(paths[type].c_str(), 0, 1, type);
        bwrite(b, 0, kSamples, all.data());
        bclose(b);
    }
    return paths[type];
}

// Empties the file, writes a header's worth of bytes and opens the file
// again for the page transfers, as bcreat and bopen do, so that the file
// system treats the baselines' files and the bottles alike (a file that
// was emptied may be flushed when the descriptor that wrote it closes).
int fresh_file(const std::string &path) {
    const char header[kHeader] = {};
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0664);
    if (fd < 0 || write(fd, header, kHeader) != kHeader) std::abort();
    close(fd);
    return open(path.c_str(), O_RDWR);
}

void report(benchmark::State &state, int type, long calls) {
    // Seconds per sample (shown as e.g. "7.1ns"), from the wall-clock time.
    state.counters["per_sample"] =
        benchmark::Counter(kSamples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["calls_per_page"] =
        static_cast<double>(calls) / static_cast<double>(state.iterations()) / static_cast<double>(pages(type));
}

// Times body once per benchmark iteration and reports the system calls it
// made per page.
template <typename Body>
void measure(benchmark::State &state, int type, Body body) {
    long calls = 0;
    for (auto _ : state) {
        const long before = syscalls;
        body();
        calls += syscalls - before;
    }
    report(state, type, calls);
}

void BottleWrite(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0)), window = static_cast<int>(state.range(1));
    const std::vector<char> slots(static_cast<size_t>(window) * kWidth[type], 1);
    const std::string path = path_of(type) + ".written";
    measure(state, type, [&] {
        bottle_hdr *b = bcreat(path.c_str(), 0, 1, type);
        for (int i = 0; i < kSamples; i += window) bwrite(b, i, std::min(window, kSamples - i), slots.data());
        bclose(b);
    });
}

void BottleRead(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0)), window = static_cast<int>(state.range(1));
    std::vector<char> slots(static_cast<size_t>(window) * kWidth[type]);
    // Opened once: closing rewrites the header, and a file changed just
    // before it is read may cost its reads a time stamp update each.
    bottle_hdr *b = bopen(samples_file(type).c_str());
    measure(state, type, [&] {
        for (int i = 0; i < kSamples; i += window) bread(b, i, std::min(window, kSamples - i), slots.data());
        benchmark::DoNotOptimize(slots.data());
    });
    bclose(b);
}

// The floor: one plain write (or read) per page of a file of the same size.
void FloorWrite(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    const std::string path = path_of(type) + ".floor";
    char page[kPage] = {1};
    measure(state, type, [&] {
        const int fd = fresh_file(path);
        for (int64_t p = 0; p < pages(type); ++p) benchmark::DoNotOptimize(write(fd, page, kPage));
        close(fd);
    });
}

void FloorRead(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    char page[kPage];
    const int fd = open(samples_file(type).c_str(), O_RDONLY);
    measure(state, type, [&] {
        lseek(fd, 0, SEEK_SET);
        for (int64_t p = 0; p < pages(type); ++p) benchmark::DoNotOptimize(read(fd, page, kPage));
    });
    close(fd);
}

// The page buffer's own calls, bare: writing, each page is loaded (past
// the end, so nothing comes) and written back; reading, each is loaded.
void BareWrite(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    const std::string path = path_of(type) + ".bare";
    char page[kPage] = {1};
    measure(state, type, [&] {
        const int fd = fresh_file(path);
        for (int64_t p = 0; p < pages(type); ++p) {
            lseek(fd, p * kPage, SEEK_SET);
            benchmark::DoNotOptimize(read(fd, page, kPage));
            lseek(fd, p * kPage, SEEK_SET);
            benchmark::DoNotOptimize(write(fd, page, kPage));
        }
        close(fd);
    });
}

void BareRead(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    char page[kPage];
    const int fd = open(samples_file(type).c_str(), O_RDONLY);
    measure(state, type, [&] {
        for (int64_t p = 0; p < pages(type); ++p) {
            lseek(fd, p * kPage, SEEK_SET);
            benchmark::DoNotOptimize(read(fd, page, kPage));
        }
    });
    close(fd);
}

// The least of the repetitions: on a shared machine the time least
// disturbed by other work.
double least(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

void Windows(benchmark::internal::Benchmark *b) {
    b->ArgNames({"type", "window"});
    for (int type = 0; type < 4; ++type)
        for (int window : {1, 100, 10000}) b->Args({type, window});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", least);
}

void Types(benchmark::internal::Benchmark *b) {
    b->ArgNames({"type"});
    for (int type = 0; type < 4; ++type) b->Args({type});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", least);
}

BENCHMARK(FloorWrite)->Apply(Types);
BENCHMARK(FloorRead)->Apply(Types);
BENCHMARK(BareWrite)->Apply(Types);
BENCHMARK(BareRead)->Apply(Types);
BENCHMARK(BottleWrite)->Apply(Windows);
BENCHMARK(BottleRead)->Apply(Windows);

}  // namespace

BENCHMARK_MAIN();
