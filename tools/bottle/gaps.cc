// bottle gaps: every run of unusable samples in bottles, as CSV.

#include <string>
#include <vector>

#include <unistd.h>

#include "command.h"
#include "gaps.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle gaps FILE... [--min N]\n"
    "Writes on standard output, as CSV with the header line \"file,start,end,samples\",\n"
    "every run of unusable samples in each bottle FILE: the times (GMT, ISO 8601 with\n"
    "milliseconds, as dump writes them) of its first and its last sample, and how\n"
    "many samples it holds.  Only stored samples make gaps: the times before the\n"
    "first sample and after the last one are not gaps.\n"
    "  --min N   leave out runs of fewer than N samples\n"
    "The exit status is 0 whether or not there are gaps; a FILE that is not a\n"
    "readable bottle gets a message on standard error, the other files are still\n"
    "read, and the exit status is 1.\n";

// Writes the gaps of one file; false when it is not a readable bottle.
bool write_gaps(const std::string &name, std::int64_t least, OutputBuffer &out) {
    const ViewedBottle bottle(name);
    if (!bottle) {
        std::fputs(bottle.library_line().c_str(), stdout);
        if (!bottle.problem().empty()) report("gaps", bottle.problem());
        return false;
    }
    const Grid grid = bottle.grid();
    find_gaps(bottle, least, [&](std::int64_t first, std::int64_t end) { out.append(gap_row(name, grid, first, end)); });
    return true;
}

int run_gaps(const std::vector<std::string> &words) {
    const Args args(words, {{"min", 0, true}});
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const std::int64_t least = args.has("min") ? read_count("min", *args.value("min"), 1, INT64_MAX) : 1;
    need_standard_stream(STDOUT_FILENO);
    const StdoutToStderr route;  // standard output carries the CSV alone
    refuse_output_among(files, route.data_fd());
    OutputBuffer out(route.data_fd(), "standard output");
    out.append(kGapsHeader);
    std::size_t unreadable = 0;
    for (const std::string &f : files)
        if (!write_gaps(f, least, out)) ++unreadable;
    out.flush();
    fail_for_unreadable(unreadable, files.size());
    return 0;
}

}  // namespace

const Subcommand kGaps{"gaps", "list the runs of unusable samples in bottles as CSV", kHelp, false, run_gaps};

}  // namespace bottletool
