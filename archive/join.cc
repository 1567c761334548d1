#include "join.h"

#include <vector>

#include "core.h"
#include "samples.h"

namespace zulu::archive {

JobReport join(const std::string &dst, const std::vector<std::string> &srcs, const JoinRequest &request) {
    if (srcs.empty()) throw Failure("no bottles to join", kUsage);
    OutputTarget target(dst, input_files(srcs), data_rules(request.output));
    const Series series = Series::joined(srcs, request.rules);
    const int type = series.type();
    const std::int64_t total = series.count(), most = format::addressable_samples(type, format::kHeaderSize);
    if (total > most)
        throw Failure("the inputs span " + std::to_string(total) + " samples; a bottle of type " +
                      format::kTypes[static_cast<std::size_t>(type)].name + " holds at most " + std::to_string(most));
    const Grid &grid = series.grid();
    NewBottle joined(target.temp_path(), dst, grid.begin(), grid.stored_interval(), type);
    joined.set_unusable(series.unusable());
    SeriesReader reader(series);
    const std::int64_t per_block = kCopyBytes / format::width_of(type);
    std::vector<unsigned char> block(static_cast<std::size_t>(kCopyBytes));
    for (std::int64_t b = 0; b < total; b += per_block) {
        const std::int64_t n = std::min(per_block, total - b);
        reader.read(b, n, block.data());
        core::write_at(joined.get(), b, n, block.data());
        target.start_writeback();
    }
    joined.finish();
    target.commit();
    return {total, series.move_notes()};
}

}  // namespace zulu::archive
