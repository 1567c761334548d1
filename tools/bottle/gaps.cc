// bottle gaps: every run of missing samples in bottles, as CSV.

#include <string>
#include <vector>

#include "command.h"
#include "gaps.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle gaps FILE... [--min N]\n"
    "Writes on standard output, as CSV with the header line\n"
    "\"file,start,end,samples\", every run of missing samples (the unusable value,\n"
    "or NaN in a float or double bottle) in each bottle FILE: the times (GMT, ISO\n"
    "8601 with milliseconds, as dump writes them) of its first and its last sample,\n"
    "and how many samples it holds.  Only stored samples make gaps: the times before\n"
    "the first sample and after the last one are not gaps.\n";

constexpr Option kMin{.name = "min", .value = "N", .help = "leave out runs of fewer than N samples", .fallback = "1",
                      .bounds = {1, INT64_MAX}};
constexpr const Option *kOptions[] = {&kMin};

const char kNotes[] =
    "The exit status is 0 whether or not there are gaps; a FILE that is not a\n"
    "readable bottle gets a message on standard error, the other files are still\n"
    "read, and the exit status is 1.\n";

// Writes the gaps of one file; false when it is not a readable bottle.
bool write_gaps(const std::string &name, std::int64_t least, OutputBuffer &out) {
    const ViewedBottle bottle(name);
    if (!bottle) {
        report_unopened("gaps", bottle);
        return false;
    }
    const Series series = Series::of_bottle(name);
    SeriesReader reader(series);
    find_gaps(reader, least, [&](std::int64_t first, std::int64_t end) { out.append(gap_row(name, series.grid(), first, end)); });
    return true;
}

int run_gaps(const Args &args, const Context &context) {
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const std::int64_t least = *args.count(kMin);
    refuse_output_among(files, context.data_fd);
    OutputBuffer out(context.data_fd, "standard output");
    out.append(kGapsHeader);
    std::size_t unreadable = 0;
    for (const std::string &f : files)
        if (!write_gaps(f, least, out)) ++unreadable;
    out.flush();
    fail_for_unreadable(unreadable, files.size());
    return 0;
}

}  // namespace

const Subcommand kGaps{.name = "gaps", .summary = "list the runs of unusable samples in bottles as CSV",
                       .usage = kSynopsis, .options = kOptions, .notes = kNotes, .needs_stdout = true, .reroutes = true,
                       .run = run_gaps};

}  // namespace bottletool
