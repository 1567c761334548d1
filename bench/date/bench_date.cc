// The date conversions beside the C library's on the same inputs:
//   dtov ~ gmtime_r (localtime_r), vtod ~ timegm (mktime),
//   atod ~ strptime + timegm (mktime), dtoa ~ gmtime_r + strftime.
// The zone -5 runs compare with the C library under TZ=EST5EDT.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "date.h"

namespace {

// Times spread over 1902 to 2037, where both sides are valid.
const std::vector<double> &sample_times() {
    static const std::vector<double> times = [] {
        std::vector<double> t(4096);
        unsigned x = 12345;
        for (double &v : t) {
            x = x * 1103515245u + 12345u;
            v = -2100000000.0 + (x % 4200000000u);
        }
        return t;
    }();
    return times;
}

void set_zone(int z) {
    zone = z;
    setenv("TZ", z == 0 ? "GMT0" : "EST5EDT", 1);
    tzset();
}

// The C library's counterpart of dtov: gmtime_r in GMT, localtime_r in a zone.
void libc_broken_down(time_t t, struct tm *tm, bool local) {
    if (local)
        localtime_r(&t, tm);
    else
        gmtime_r(&t, tm);
}

void BM_dtov(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto &times = sample_times();
    size_t i = 0;
    datevec v;
    for (auto _ : state) {
        dtov(times[i++ & 4095], &v);
        benchmark::DoNotOptimize(v);
    }
}

void BM_libc_gmtime_localtime(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto &times = sample_times();
    size_t i = 0;
    struct tm tm;
    for (auto _ : state) {
        libc_broken_down(static_cast<time_t>(times[i++ & 4095]), &tm, state.range(0) != 0);
        benchmark::DoNotOptimize(tm);
    }
}

void BM_vtod(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto &times = sample_times();
    std::vector<datevec> records(4096);
    for (size_t k = 0; k < records.size(); ++k) dtov(times[k], &records[k]);
    size_t i = 0;
    for (auto _ : state) {
        datevec v = records[i++ & 4095];
        benchmark::DoNotOptimize(vtod(&v));
    }
}

void BM_libc_timegm_mktime(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto &times = sample_times();
    std::vector<struct tm> records(4096);
    for (size_t k = 0; k < records.size(); ++k) {
        time_t t = static_cast<time_t>(times[k]);
        localtime_r(&t, &records[k]);
    }
    size_t i = 0;
    for (auto _ : state) {
        struct tm tm = records[i++ & 4095];
        benchmark::DoNotOptimize(state.range(0) == 0 ? timegm(&tm) : mktime(&tm));
    }
}

std::vector<std::array<char, 40>> sample_texts(int layout) {
    std::vector<std::array<char, 40>> texts(4096);
    dtoa_fmt = layout;
    for (size_t k = 0; k < texts.size(); ++k) dtoa(sample_times()[k] * 0.5 + 7e8, texts[k].data());
    dtoa_fmt = 0;
    return texts;
}

void BM_atod(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto texts = sample_texts(2);  // YYMMDDhhmmss
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(atod(texts[i++ & 4095].data()));
}

void BM_libc_strptime(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const auto texts = sample_texts(2);
    size_t i = 0;
    for (auto _ : state) {
        struct tm tm {};
        tm.tm_isdst = -1;
        strptime(texts[i++ & 4095].data(), "%y%m%d%H%M%S", &tm);
        benchmark::DoNotOptimize(state.range(0) == 0 ? timegm(&tm) : mktime(&tm));
    }
}

void BM_dtoa(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    dtoa_fmt = static_cast<int>(state.range(1));
    const auto &times = sample_times();
    size_t i = 0;
    char buf[40];
    for (auto _ : state) {
        dtoa(times[i++ & 4095], buf);
        benchmark::DoNotOptimize(buf);
    }
    dtoa_fmt = 0;
}

void BM_libc_strftime(benchmark::State &state) {
    set_zone(static_cast<int>(state.range(0)));
    const char *format = state.range(1) == 0 ? "%a %b %d %H:%M:%S %Z %Y %j" : "%y%m%d%H%M%S";
    const auto &times = sample_times();
    size_t i = 0;
    char buf[40];
    struct tm tm;
    for (auto _ : state) {
        libc_broken_down(static_cast<time_t>(times[i++ & 4095]), &tm, state.range(0) != 0);
        strftime(buf, sizeof buf, format, &tm);
        benchmark::DoNotOptimize(buf);
    }
}

}  // namespace

// Besides the mean and median of repetitions, their least time: the run
// least disturbed by other work on the machine (bench/date/ratios.py).
static double least(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }
#define DATE_BENCHMARK(f) BENCHMARK(f)->ComputeStatistics("min", least)

DATE_BENCHMARK(BM_dtov)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_libc_gmtime_localtime)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_vtod)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_libc_timegm_mktime)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_atod)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_libc_strptime)->Arg(0)->Arg(-5);
DATE_BENCHMARK(BM_dtoa)->Args({0, 0})->Args({0, 2})->Args({-5, 0})->Args({-5, 2});
DATE_BENCHMARK(BM_libc_strftime)->Args({0, 0})->Args({0, 2})->Args({-5, 0})->Args({-5, 2});

BENCHMARK_MAIN();
