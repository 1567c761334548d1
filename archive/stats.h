// Statistics of a bottle's samples: how many are usable, unusable and not
// a number, and the least, greatest and mean of the usable ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "files.h"

namespace zulu::archive {

struct Stats {
    std::int64_t count = 0;     // stored samples
    std::int64_t usable = 0;    // neither the unusable value nor NaN
    std::int64_t unusable = 0;  // the unusable value
    std::int64_t nan = 0;       // NaN (floating types only), kept out of min, max and mean
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

// Of the samples the bottle reaches (jobs that must not leave samples out
// call require_reachable first).
Stats stats_of(const ViewedBottle &bottle);

}  // namespace zulu::archive
