// Cutting: the samples of a series between two times, as a new bottle of
// the same type, interval and unusable value, sample bytes as stored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "series.h"

namespace zulu::archive {

struct CutRequest {
    std::optional<double> from, to;  // both included; a missing one does not limit
    JoinRules rules;                 // how several inputs join
    bool partial = false;            // keep what the data holds of a window that runs past it
    Output output;
};

// Writes the samples of the series `srcs` make (one bottle as it is,
// several joined as Series::of_files joins them) from `from` to `to` to
// the new bottle `dst`, which begins at the time of its first sample
// (where the next sample after the times would be, when none lies in
// them).  A window that asks for samples before the first or after the
// last of the series is a Failure that says what the data covers, unless
// the request is partial: then the report notes how much was kept.  Only
// the samples kept are read.
JobReport cut(const std::vector<std::string> &srcs, const std::string &dst, const CutRequest &request);

}  // namespace zulu::archive
