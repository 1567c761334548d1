#include "cut.h"

#include <vector>

#include "core.h"
#include "samples.h"

namespace zulu::archive {
namespace {

// Copies samples [first, end) of a series to `out` from index 0 on, bytes
// as stored, a block at a time, each sent on to the disk of `target` as it
// is written.
void copy_samples(SeriesReader &in, std::int64_t first, std::int64_t end, bottle_hdr *out,
                  const OutputTarget &target) {
    const std::int64_t width = format::width_of(in.series().type()), per_block = kCopyBytes / width;
    std::vector<unsigned char> block(static_cast<std::size_t>(kCopyBytes));
    for (std::int64_t i = first; i < end;) {
        const std::int64_t n = std::min(end - i, per_block);
        in.read(i, n, block.data());
        core::write_at(out, i - first, n, block.data());
        target.start_writeback();
        i += n;
    }
}

}  // namespace

void cut(const std::string &src, const std::string &dst, const CutRequest &request) {
    std::vector<InputFile> inputs;
    if (auto f = input_file(src)) inputs.push_back(*f);
    OutputTarget target(dst, inputs, data_rules(request.output));
    const Series series = Series::of_bottle(src);
    const Grid &grid = series.grid_for_times();
    const auto [first, end] = grid.select(request.from, request.to);
    NewBottle piece(target.temp_path(), dst, grid.time(first), grid.stored_interval(), series.type());
    piece.set_unusable(series.unusable());
    SeriesReader reader(series);
    copy_samples(reader, first, end, piece.get(), target);
    piece.finish();
    target.commit();
}

}  // namespace zulu::archive
