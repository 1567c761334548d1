// bottle cut: the samples of a bottle between two times, as a new bottle
// of the same type, interval and unusable value.  Sample bytes are copied
// as stored, never converted.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "command.h"
#include "core.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle cut IN OUT [--from TIME] [--to TIME] [--force]\n"
    "Writes to a new bottle OUT the samples of the bottle IN whose times lie from\n"
    "TIME to TIME, both included, with the type, interval and unusable value of IN.\n"
    "OUT begins at the time of the first sample it holds, and its sample bytes are\n"
    "those of IN, unchanged.  When no sample lies in the times, OUT holds none and\n"
    "begins where the next sample of IN after them would be.\n"
    "  --from TIME   the earliest time kept (default: the first sample)\n"
    "  --to TIME     the latest time kept (default: the last sample)\n"
    "  --force       replace OUT if it exists\n"
    "OUT is a regular file (a link is followed to the file it names, and stays); it\n"
    "changes only once it is complete, and is never IN.  The bottle library's\n"
    "messages go to standard error.\n";

// Copies samples [first, end) of `in` to `out` from index 0 on, bytes as
// stored, a block at a time, each sent on to the disk of `target` as it is
// written.
void copy_samples(const ViewedBottle &in, std::int64_t first, std::int64_t end, bottle_hdr *out,
                  const OutputTarget &target) {
    const std::int64_t width = zulu::format::width_of(bot_type(in.get())), per_block = kCopyBytes / width;
    std::vector<unsigned char> block(static_cast<std::size_t>(kCopyBytes));
    for (std::int64_t i = first; i < end;) {
        const std::int64_t n = std::min(end - i, per_block);
        zulu::core::read_at(in.get(), i, n, block.data());
        in.check_reads();
        zulu::core::write_at(out, i - first, n, block.data());
        target.start_writeback();
        i += n;
    }
}

int run_cut(const std::vector<std::string> &words) {
    const Args args(words, {{"from", 0, true}, {"to", 0, true}, {"force"}});
    const std::vector<std::string> &files = args.operands(2, 2);
    const std::string &in = files[0], &out = files[1];
    const TimeRange range = read_time_range(args);
    std::vector<InputFile> inputs;
    if (auto f = input_file(in)) inputs.push_back(*f);
    const StdoutToStderr route;  // the library's messages are errors here
    OutputTarget target(out, inputs, {args.has("force"), false, 0664});
    const ViewedBottle bottle(in);
    bottle.require();
    bottle_hdr *h = bottle.get();
    // Times up to and including --to: below the next double above it.
    std::optional<double> below;
    if (range.to) below = std::nextafter(*range.to, std::numeric_limits<double>::infinity());
    const auto [first, end] = timeline_of(h).select(range.from, below);
    NewBottle piece(target.temp_path(), out, zulu::core::time_of(h, first), bot_ivl(h), bot_type(h));
    piece.set_unusable(bot_usym(h));
    copy_samples(bottle, first, end, piece.get(), target);
    piece.finish();
    target.commit();
    return 0;
}

}  // namespace

const Subcommand kCut{"cut", "copy the samples between two times to a new bottle", kHelp, true, run_cut};

}  // namespace bottletool
