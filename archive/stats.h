// Statistics of a series' samples: how many are usable and missing (and of
// those how many are NaN), and the least, greatest and mean of the usable
// ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "series.h"

namespace zulu::archive {

struct Stats {
    std::int64_t count = 0;     // samples of the series
    std::int64_t usable = 0;    // not missing
    std::int64_t unusable = 0;  // missing: the unusable value or NaN (format::missing)
    std::int64_t nan = 0;       // of those, how many are NaN (floating types only)
    // Of the usable samples; nothing when there is none.  The least and
    // greatest are exact (every sample type fits a double).
    std::optional<double> min, max, mean;
    int type = 0;

    // The texts the command writes: min and max as the shortest text that
    // reads back as the sample, the mean as a double; empty for nothing.
    std::string min_text() const;
    std::string max_text() const;
    std::string mean_text() const;
};

// Of every sample of the series the reader reads.
Stats stats_of(SeriesReader &reader);

}  // namespace zulu::archive
