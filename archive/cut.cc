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

// What the series covers, for messages: "A to B", or that it holds none.
std::string covered(const Grid &grid) {
    if (grid.count() == 0) return "holds no sample";
    return "covers " + sample_time_text(grid, 0) + " to " + sample_time_text(grid, grid.count() - 1);
}

// The grid samples a window asks for, [first, last], and whether that
// reaches past the samples of the series.  An open end asks for the first
// or the last sample; a bound that lies past the data asks for samples
// there, so that a window wholly after the data runs past it too.
struct Window {
    std::int64_t first = 0, last = -1;
    bool past = false;
};
Window window_of(const Grid &grid, const CutRequest &request) {
    Window w{0, grid.count() - 1, false};
    if (!grid.forward()) return w;  // a single bottle whose times run backward: as selected
    if (request.from) w.first = grid.first_at_or_after(*request.from).value_or(0);
    if (request.to) w.last = grid.last_at_or_before(*request.to).value_or(-1);
    const std::int64_t n = grid.count();
    w.past = (request.from && (w.first < 0 || w.first >= n)) || (request.to && (w.last >= n || w.last < 0));
    return w;
}

}  // namespace

JobReport cut(const std::vector<std::string> &srcs, const std::string &dst, const CutRequest &request) {
    if (srcs.empty()) throw Failure("no bottles to cut", kUsage);
    OutputTarget target(dst, input_files(srcs), data_rules(request.output));
    const Series series = Series::of_files(srcs, request.rules);
    const Grid &grid = series.grid_for_times();
    const auto [first, end] = grid.select(request.from, request.to);
    JobReport report{end - first, series.move_notes()};
    const Window w = window_of(grid, request);
    if (w.past) {
        // The samples asked for, where their number fits.
        std::int64_t asked = 0;
        const bool counted = w.last >= w.first && !__builtin_sub_overflow(w.last, w.first, &asked) && asked < INT64_MAX;
        const std::string window =
            "the window from " + (request.from ? sample_time_text(grid, w.first) : "the first sample") + " to " +
            (request.to ? sample_time_text(grid, w.last) : "the last sample");
        if (!request.partial)
            throw Failure(window + " runs past the data, which " + covered(grid) +
                          (report.samples == 0 ? "; it holds none of the window's samples"
                                               : "; a partial cut keeps the " + std::to_string(report.samples) +
                                                     " samples of it that there are"));
        report.notes.push_back("kept " + std::to_string(report.samples) +
                               (counted ? " of the " + std::to_string(asked + 1) : "") + " samples of " + window +
                               ": the data " + covered(grid));
    }
    NewBottle piece(target.temp_path(), dst, grid.time(first), grid.stored_interval(), series.type());
    piece.set_unusable(series.unusable());
    SeriesReader reader(series);
    copy_samples(reader, first, end, piece.get(), target);
    piece.finish();
    target.commit();
    return report;
}

}  // namespace zulu::archive
