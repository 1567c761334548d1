// Gap runs: the runs of unusable samples in bottles, as rows of CSV.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "files.h"

namespace zulu::archive {

// The header line of the rows.
inline constexpr char kGapsHeader[] = "file,start,end,samples\n";

// Calls gap(first, end) for each run [first, end) of unusable samples of at
// least `least` samples, in order.  Only stored samples make gaps.
void find_gaps(const ViewedBottle &bottle, std::int64_t least,
               const std::function<void(std::int64_t first, std::int64_t end)> &gap);

// The row of one run: the file as a CSV field, the times (ISO 8601 with
// milliseconds) of its first and last sample, and its length; with the
// line's newline.
std::string gap_row(const std::string &file, const Grid &grid, std::int64_t first, std::int64_t end);

}  // namespace zulu::archive
