// bottle gaps: the runs of missing samples in bottles and, for the bottles
// as one series, the gaps and overlaps between them and the files off its
// grid, as one table of CSV.

#include <string>
#include <vector>

#include "command.h"
#include "gaps.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle gaps FILE... [--min N] [--snap DURATION] [--runs]\n"
    "Writes on standard output, as CSV with the header line\n"
    "\"kind,file,start,end,samples,other,detail\", what is missing from the series the\n"
    "bottles FILE make when joined as cat joins them, in time order of the files:\n"
    "  missing   a run of missing samples (the unusable value, or NaN in a float or\n"
    "            double bottle) inside the file;\n"
    "  gap       samples between two files that no file holds (file is the one\n"
    "            before, other the one after);\n"
    "  overlap   samples of the same times in two files (file and other), detail\n"
    "            \"agree\" or \"differ at TIME\", the first time where usable samples\n"
    "            differ;\n"
    "  off-grid  a file that does not join the series, the interval, type, unusable\n"
    "            value or begin time that keeps it off in detail;\n"
    "  snapped   a file that --snap placed on the grid, the move in detail.\n"
    "start and end are the times (GMT, ISO 8601 with milliseconds, as dump writes\n"
    "them) of the first and the last sample of the row, samples how many it spans.\n"
    "The grid of the series is the one most files keep.  The times before the first\n"
    "sample and after the last one are not gaps.\n";

constexpr Option kMin{.name = "min", .value = "N", .help = "leave out runs and gaps of fewer than N samples",
                      .fallback = "1", .bounds = {1, INT64_MAX}};
constexpr Option kRuns{.name = "runs",
                       .help = "only the runs inside each file, as the four columns file,start,end,samples of "
                               "zulukit 1.0"};
constexpr const Option *kOptions[] = {&kMin, &kSnapOption, &kRuns};

const char kNotes[] =
    "The exit status is 0 whether or not there are gaps; a FILE that is not a\n"
    "readable bottle gets a message on standard error, the other files are still\n"
    "read, and the exit status is 1.\n";

// Whether a file is a readable bottle, with a message where it is not.
bool readable(const std::string &name) {
    const ViewedBottle bottle(name);
    if (!bottle) {
        report_unopened("gaps", bottle);
        return false;
    }
    try {
        bottle.require_reachable();
    } catch (const Failure &e) {
        report_failure("gaps", e);
        return false;
    }
    return true;
}

// Writes the runs of one file on its own.
void write_runs(const std::string &name, std::int64_t least, OutputBuffer &out) {
    const Series series = Series::of_bottle(name);
    SeriesReader reader(series);
    find_gaps(reader, least, [&](std::int64_t first, std::int64_t end) { out.append(gap_row(name, series.grid(), first, end)); });
}

int run_gaps(const Args &args, const Context &context) {
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const std::int64_t least = *args.count(kMin);
    const JoinRules rules = read_join_rules(args, nullptr, kSnapOption);
    refuse_output_among(files, context.data_fd);
    std::vector<std::string> bottles;
    for (const std::string &f : files)
        if (readable(f)) bottles.push_back(f);
    OutputBuffer out(context.data_fd, "standard output");
    if (args.has(kRuns)) {
        out.append(kGapsHeader);
        for (const std::string &f : bottles) write_runs(f, least, out);
    } else {
        out.append(kSurveyHeader);
        if (!bottles.empty())
            survey(bottles, {least, rules.snap}, [&](const SurveyRow &row) { out.append(survey_row(row)); });
    }
    out.flush();
    fail_for_unreadable(files.size() - bottles.size(), files.size());
    return 0;
}

}  // namespace

const Subcommand kGaps{.name = "gaps", .summary = "list what is missing from bottles as one series, as CSV",
                       .usage = kSynopsis, .options = kOptions, .notes = kNotes, .needs_stdout = true, .reroutes = true,
                       .run = run_gaps};

}  // namespace bottletool
