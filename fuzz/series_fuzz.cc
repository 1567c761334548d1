// Series of two bottles made of arbitrary file bytes: each planned alone
// and both joined (and surveyed), with and without a snap, windows read as stored and as values, samples taken by
// index, and the grid's stamps of arbitrary samples in every unit.  Besides
// the sanitizers' checks: a window reads the same as the samples taken one
// by one, and the stamps of a forward grid never run backward.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format.h"
#include "grid.h"
#include "scratch_file.h"
#include "series.h"

using fuzzing::take;
using zulu::archive::Failure;
using zulu::archive::Grid;
using zulu::archive::Series;
using zulu::archive::SeriesReader;

namespace {

void write_file(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void check_stamps(const Grid &grid, std::int64_t i, int digits) {
    const auto a = grid.stamp(i, digits), b = grid.stamp(i + 1, digits);
    if (a && b && grid.forward() && *a > *b) std::abort();
    std::int64_t filled[2];
    if (grid.stamps(i, 2, digits, filled) && (filled[0] != a || filled[1] != b)) std::abort();
    grid.time(i);
    if (a) grid.last_stamp_at_or_before(*a, digits);
}

void read_series(const Series &s, std::int64_t first, std::int64_t count) {
    SeriesReader reader(s);
    const std::int64_t width = 8;
    std::vector<unsigned char> window(static_cast<std::size_t>(count * width)), one(width);
    reader.read(first, count, window.data());
    std::vector<std::int64_t> indices;
    for (std::int64_t k = 0; k < count; ++k) indices.push_back(first + (count - 1 - k));
    std::vector<unsigned char> taken(window.size());
    reader.take(indices.data(), count, taken.data());
    const std::int64_t w = zulu::format::width_of(s.type());
    for (std::int64_t k = 0; k < count; ++k)
        if (std::memcmp(taken.data() + k * w, window.data() + (count - 1 - k) * w, static_cast<std::size_t>(w)) != 0)
            std::abort();
    std::vector<double> values(static_cast<std::size_t>(count));
    reader.read_values(first, count, values.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzing::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::int64_t first = take<int32_t>(data, size);
    const std::int64_t count = std::clamp<int>(take<int16_t>(data, size), 0, 512);
    const std::int64_t i = take<int64_t>(data, size) >> 1;
    const int digits = static_cast<int>(take<uint8_t>(data, size) % 10);
    const uint8_t rule = take<uint8_t>(data, size);
    const zulu::archive::JoinRules rules{static_cast<zulu::archive::Overlap>(rule % 3), (rule / 3 % 4) * 0.002};
    const size_t split = size == 0 ? 0 : take<uint16_t>(data, size) % (size + 1);
    const std::string a = fuzzing::scratch_path() + "-a", b = fuzzing::scratch_path() + "-b";
    write_file(a, data, split);
    write_file(b, data + split, size - split);
    for (const std::vector<std::string> &names : {std::vector<std::string>{a}, std::vector<std::string>{a, b}}) {
        try {
            if (names.size() > 1) Series::survey(names, rules);
            const Series s = names.size() == 1 ? Series::of_bottle(a) : Series::joined(names, rules);
            check_stamps(s.grid(), i, digits);
            read_series(s, first, count);
        } catch (const Failure &) {
            // Files that are no bottles, bottles that do not join, and
            // overlaps that differ are refused with a message.
        }
    }
    return 0;
}
