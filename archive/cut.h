// Cutting: the samples of a bottle between two times, as a new bottle of
// the same type, interval and unusable value, sample bytes as stored.
#pragma once

#include <optional>
#include <string>

#include "files.h"

namespace zulu::archive {

struct CutRequest {
    std::optional<double> from, to;  // both included; a missing one does not limit
    Output output;
};

// Writes the samples of `src` from `from` to `to` to the new bottle `dst`,
// which begins at the time of its first sample (where the next sample
// after the times would be, when none lies in them).
void cut(const std::string &src, const std::string &dst, const CutRequest &request);

}  // namespace zulu::archive
