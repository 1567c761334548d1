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
    Overlap overlap = Overlap::kRefuse;
    Output output;
};

// Writes the samples of `srcs` to the new bottle `dst`, which begins with
// the earliest sample; an OverlapConflict where usable samples of
// overlapping inputs differ and the request says none wins.  Inputs are opened a few at a time, as their
// samples are needed, however many there are.
void join(const std::string &dst, const std::vector<std::string> &srcs, const JoinRequest &request);

}  // namespace zulu::archive
