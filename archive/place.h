// Placing timestamped rows on the grid of a new bottle: the sample index
// of each row's time, which must lie on the grid and be later than the
// row before.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bot.h"

namespace zulu::archive {

// How the time of a row is written.
enum class RowTimes {
    kText,     // any TIME form; a bare number that both a compact date and seconds could be is refused
    kSeconds,  // seconds since 1970 (what dump --epoch writes), with or without "@"
};

class RowPlacer {
public:
    // `h` is the new bottle, with no sample yet; `begin_given`: its begin
    // time was given, otherwise it is the first row's time.
    RowPlacer(bottle_hdr *h, bool begin_given, RowTimes times) : h_(h), begin_known_(begin_given), times_(times) {}

    // The sample index of row `row`'s time text; a Failure naming the row
    // (as "line N: ") when the time is not one, lies off the grid, before
    // the begin time or beyond `limit` samples, or is not later than the
    // row before.
    std::int64_t index(std::string_view text, std::int64_t row, std::int64_t limit);

private:
    double read(std::string_view text, const std::string &where) const;

    bottle_hdr *h_;
    bool begin_known_;
    RowTimes times_;
    std::int64_t last_ = -1, last_row_ = 0;
};

}  // namespace zulu::archive
