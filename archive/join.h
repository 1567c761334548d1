// Joining: one bottle from several of the same type, interval and
// unusable value on one time grid, in time order, with the gaps between
// them padded with the unusable value.  Where inputs overlap, an unusable
// sample gives way to a usable one; two usable samples must agree unless
// the overlap rule says which input wins.
#pragma once

#include <string>
#include <vector>

#include "files.h"

namespace zulu::archive {

enum class Overlap {
    kRefuse,  // usable samples that differ are an error
    kFirst,   // the input named first wins
    kLast,    // the input named last wins
};

struct JoinRequest {
    Overlap overlap = Overlap::kRefuse;
    Output output;
};

// Writes the samples of `srcs` to the new bottle `dst`, which begins with
// the earliest sample.  Inputs are opened a few at a time, as their
// samples are needed, however many there are.
void join(const std::string &dst, const std::vector<std::string> &srcs, const JoinRequest &request);

}  // namespace zulu::archive
