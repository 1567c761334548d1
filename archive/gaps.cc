#include "gaps.h"

#include "samples.h"

namespace zulu::archive {
namespace {

template <class T>
void find_gaps_of(SeriesReader &reader, std::int64_t least,
                  const std::function<void(std::int64_t, std::int64_t)> &gap) {
    const T unusable = unusable_as<T>(reader.series().unusable());
    const std::int64_t count = reader.series().count();
    std::int64_t start = -1;  // of the run in hand, or -1
    read_samples<T>(reader, 0, count, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n;) {
            if (start < 0) {
                while (k + kChunk <= n && count_missing(values + k, unusable) == 0) k += kChunk;
                while (k < n && !format::missing(values[k], unusable)) ++k;
                if (k < n) start = index + static_cast<std::int64_t>(k);
            } else {
                while (k + kChunk <= n && count_missing(values + k, unusable) == static_cast<int>(kChunk)) k += kChunk;
                while (k < n && format::missing(values[k], unusable)) ++k;
                if (k < n) {
                    const std::int64_t end = index + static_cast<std::int64_t>(k);
                    if (end - start >= least) gap(start, end);
                    start = -1;
                }
            }
        }
    });
    if (start >= 0 && count - start >= least) gap(start, count);
}

}  // namespace

void find_gaps(SeriesReader &reader, std::int64_t least, const std::function<void(std::int64_t, std::int64_t)> &gap) {
    with_sample_type(reader.series().type(), [&](auto tag) { find_gaps_of<decltype(tag)>(reader, least, gap); });
}

GapFields gap_fields(const Grid &grid, std::int64_t first, std::int64_t end) {
    return {sample_time_text(grid, first), sample_time_text(grid, end - 1), end - first};
}

std::string gap_row(const std::string &file, const Grid &grid, std::int64_t first, std::int64_t end) {
    const GapFields f = gap_fields(grid, first, end);
    return csv_field(file) + "," + f.start + "," + f.end + "," + std::to_string(f.samples) + "\n";
}

}  // namespace zulu::archive
