// bottle gaps: every run of unusable samples in bottles, as CSV.

#include <string>
#include <vector>

#include <unistd.h>

#include "command.h"
#include "core.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

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

// Calls gap(first, end) for each run [first, end) of unusable samples of at
// least `least` samples, in order.
template <class T, class Fn>
void find_gaps(const ViewedBottle &bottle, std::int64_t least, Fn &&gap) {
    const T unusable = unusable_as<T>(bot_usym(bottle.get()));
    const std::int64_t count = timeline_of(bottle.get()).count;
    std::int64_t start = -1;  // of the run in hand, or -1
    read_samples<T>(bottle, 0, count, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n;) {
            if (start < 0) {
                while (k + kChunk <= n && count_equal(values + k, unusable) == 0) k += kChunk;
                while (k < n && values[k] != unusable) ++k;
                if (k < n) start = index + static_cast<std::int64_t>(k);
            } else {
                while (k + kChunk <= n && count_equal(values + k, unusable) == static_cast<int>(kChunk)) k += kChunk;
                while (k < n && values[k] == unusable) ++k;
                if (k < n) {
                    const std::int64_t end = index + static_cast<std::int64_t>(k);
                    if (end - start >= least) gap(start, end);
                    start = -1;
                }
            }
        }
    });
    if (start >= 0 && count - start >= least) gap(start, count);
}

// Writes the gaps of one file; false when it is not a readable bottle.
bool write_gaps(const std::string &name, std::int64_t least, OutputBuffer &out) {
    const ViewedBottle bottle(name);
    if (!bottle) {
        std::fputs(bottle.library_line().c_str(), stdout);
        if (!bottle.problem().empty()) report("gaps", bottle.problem());
        return false;
    }
    bottle_hdr *h = bottle.get();
    const std::string field = csv_field(name) + ",";
    with_sample_type(bot_type(h), [&](auto tag) {
        find_gaps<decltype(tag)>(bottle, least, [&](std::int64_t first, std::int64_t end) {
            out.append(field + iso_time(zulu::core::time_of(h, first)) + "," +
                       iso_time(zulu::core::time_of(h, end - 1)) + "," + std::to_string(end - first) + "\n");
        });
    });
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
    out.append("file,start,end,samples\n");
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
