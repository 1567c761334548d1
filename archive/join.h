// Joining: one bottle from several of the same type, interval and
// unusable value on one time grid, in time order, with the gaps between
// them padded with the unusable value: the series they make, written out.
#pragma once

#include <string>
#include <vector>

#include "files.h"
#include "series.h"

namespace zulu::archive {

struct JoinRequest {
    JoinRules rules;
    Output output;
};

// Writes the samples of `srcs` to the new bottle `dst`, which begins with
// the earliest sample on the grid of the series; an OverlapConflict where
// usable samples of overlapping inputs differ and the rules say none wins.
// Inputs are opened a few at a time, as their samples are needed, however
// many there are.  The report notes each input a snap moved.
JobReport join(const std::string &dst, const std::vector<std::string> &srcs, const JoinRequest &request);

}  // namespace zulu::archive
