// Gap runs: the runs of missing samples in bottles, as rows of CSV.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "series.h"

namespace zulu::archive {

// The header line of the rows.
inline constexpr char kGapsHeader[] = "file,start,end,samples\n";

// Calls gap(first, end) for each run [first, end) of missing samples
// (format::missing) of at least `least` samples, in order.  Only samples
// of the series make gaps: nothing before its first or after its last.
void find_gaps(SeriesReader &reader, std::int64_t least,
               const std::function<void(std::int64_t first, std::int64_t end)> &gap);

// The fields of the row of one run: the times (ISO 8601 with
// milliseconds) of its first and last sample, and its length.
struct GapFields {
    std::string start, end;
    std::int64_t samples = 0;
};
GapFields gap_fields(const Grid &grid, std::int64_t first, std::int64_t end);

// The row of one run as a line of CSV: the file as a field, then the
// fields above; with the line's newline.
std::string gap_row(const std::string &file, const Grid &grid, std::int64_t first, std::int64_t end);

}  // namespace zulu::archive
