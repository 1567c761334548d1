// bottle info: the library's summary line and the header of each bottle,
// with warnings about what the file and its header disagree on.

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <unistd.h>

#include "command.h"
#include "files.h"
#include "samples.h"
#include "stats.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle info FILE... [--stats] [--csv]\n"
    "Describes each bottle FILE: the bottle library's summary line, then the sample\n"
    "type, sample count, interval, begin and end times (GMT), unusable value and\n"
    "file size, with a warning where the header's stored sample count differs from\n"
    "the count the file size gives, or where a partial sample trails the data.  A\n"
    "FILE that is not a bottle gets the library's message in its place; the other\n"
    "files are still described, and the exit status is 1.\n";

constexpr Option kStats{.name = "stats",
                        .help = "add the counts of usable and missing samples (missing: the unusable value, or "
                                "NaN in a float or double bottle), and the least, the greatest and the mean of the "
                                "usable ones"};
constexpr Option kCsv{.name = "csv",
                      .help = "write instead one CSV line per FILE after the header line "
                              "file,type,begin,end,interval,count,unusable,min,max,mean,nan (unusable is the count "
                              "of missing samples, nan how many of them are NaN; they and min, max and mean are "
                              "empty without --stats); a FILE that cannot be read gets a line with its name alone "
                              "and a message on standard error"};
constexpr const Option *kOptions[] = {&kStats, &kCsv};

const char kNotes[] = "";


constexpr std::int64_t kHeaderSize = zulu::format::kHeaderSize;

Stats stats_of_file(const std::string &name) {
    const Series series = Series::of_bottle(name);
    SeriesReader reader(series);
    return stats_of(reader);
}

void print_warning(const std::string &text) { std::printf("  warning: %s\n", text.c_str()); }

// What the file's size and stored header say beside the count of samples
// the file holds.
void print_warnings(const ViewedBottle &bottle) {
    const bottle_hdr &stored = bottle.stored_header();
    const std::int64_t size = bottle.file_size(), held = bottle.count();
    const std::int64_t width = zulu::format::width_of(stored.type);
    const std::int64_t data = size > stored.doff ? size - stored.doff : 0;
    if (stored.nsam != held)
        print_warning("the header says " + std::to_string(stored.nsam) + " samples; the file holds " + std::to_string(held));
    if (stored.doff != kHeaderSize) {
        const std::int64_t from_40 = zulu::format::count_from_size(stored.type, stored.doff, size);
        print_warning("the header puts sample 0 at byte " + std::to_string(stored.doff) + ", not 40" +
                      (from_40 != held ? "; programs that link the bottle library count " + std::to_string(from_40) +
                                             " samples, from byte 40"
                                       : ""));
    }
    if (data % width != 0)
        print_warning(std::to_string(data % width) + " bytes after the last whole sample are part of no sample");
    if (data / width > held)
        print_warning("a bottle reaches only the first " + std::to_string(held) + " samples of a file this large");
    if (const Grid grid = bottle.grid(); !grid.usable())
        print_warning(grid.problem() + "; jobs that turn times into samples refuse the file");
    else if (!grid.forward())
        print_warning("the interval is negative: sample times run backward");
}

void print_stats(const Stats &stats) {
    const auto or_none = [](const std::string &text) { return text.empty() ? "(no usable samples)" : text.c_str(); };
    std::printf("  counts:    %lld usable, %lld unusable", static_cast<long long>(stats.usable),
                static_cast<long long>(stats.unusable));
    if (stats.nan > 0) std::printf(" (%lld of them NaN)", static_cast<long long>(stats.nan));
    std::printf("\n  min:       %s\n", or_none(stats.min_text()));
    std::printf("  max:       %s\n", or_none(stats.max_text()));
    std::printf("  mean:      %s\n", or_none(stats.mean_text()));
}

// Prints the description of one file; false when it is not a bottle.
bool describe(const std::string &name, bool with_stats) {
    std::printf("%s:\n", name.c_str());
    const ViewedBottle bottle(name);
    if (!bottle) {
        std::fputs(bottle.library_line().c_str(), stdout);
        if (!bottle.problem().empty()) std::printf("%s\n", bottle.problem().c_str());
        return false;
    }
    bottle_hdr *h = bottle.get();
    const std::int64_t size = bottle.file_size();
    bshow(h);
    const zulu::format::SampleType &type = zulu::format::kTypes[static_cast<std::size_t>(bot_type(h))];
    const Grid line = bottle.grid();
    std::printf("  type:      %s (%d bytes per sample)\n", type.name, type.width);
    std::printf("  samples:   %lld\n", static_cast<long long>(bottle.count()));
    std::printf("  interval:  %s s%s\n", value_text(bot_ivl(h)).c_str(),
                bot_ivl(h) == 0 ? " (sample times advance by 1 s)" : "");
    std::printf("  begin:     %s\n", sample_time_text(line, 0).c_str());
    std::printf("  end:       %s\n", line.count() > 0 ? sample_time_text(line, line.count() - 1).c_str() : "(no samples)");
    std::printf("  unusable:  %d\n", bot_usym(h));
    std::printf("  file size: %lld bytes\n", static_cast<long long>(size));
    if (with_stats) print_stats(stats_of_file(name));
    print_warnings(bottle);
    return true;
}

constexpr const char kCsvHeader[] = "file,type,begin,end,interval,count,unusable,min,max,mean,nan\n";

// The CSV line of one file; its name alone, with a message, when it is not
// a readable bottle.
std::string csv_line(const std::string &name, bool with_stats, bool &readable) {
    const ViewedBottle bottle(name);
    readable = bool(bottle);
    if (!bottle) {
        report_unopened("info", bottle);
        return csv_field(name) + ",,,,,,,,,,\n";
    }
    bottle_hdr *h = bottle.get();
    const Grid line = bottle.grid();
    std::string text = csv_field(name) + "," + zulu::format::kTypes[static_cast<std::size_t>(bot_type(h))].name + "," +
                       sample_time_text(line, 0) + "," + (line.count() > 0 ? sample_time_text(line, line.count() - 1) : "") + "," +
                       value_text(bot_ivl(h)) + "," + std::to_string(line.count()) + ",";
    if (with_stats) {
        const Stats stats = stats_of_file(name);
        text += std::to_string(stats.unusable) + "," + stats.min_text() + "," + stats.max_text() + "," +
                stats.mean_text() + "," + std::to_string(stats.nan);
    } else {
        text += ",,,,";
    }
    return text + "\n";
}

// The CSV lines alone on standard output; the library's messages go to
// standard error.
int write_csv(const std::vector<std::string> &files, bool with_stats) {
    const StdoutToStderr route;
    refuse_output_among(files, route.data_fd());
    OutputBuffer out(route.data_fd(), "standard output");
    out.append(kCsvHeader);
    std::size_t unreadable = 0;
    for (const std::string &f : files) {
        bool readable = false;
        out.append(csv_line(f, with_stats, readable));
        if (!readable) ++unreadable;
    }
    out.flush();
    fail_for_unreadable(unreadable, files.size());
    return 0;
}

int run_info(const Args &args, const Context &) {
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    if (args.has(kCsv)) return write_csv(files, args.has(kStats));
    refuse_output_among(files, STDOUT_FILENO);
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) std::putchar('\n');
        if (!describe(files[i], args.has(kStats))) ++unreadable;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw Failure("cannot write standard output");
    fail_for_unreadable(unreadable, files.size());
    return 0;
}

}  // namespace

const Subcommand kInfo{.name = "info", .summary = "describe bottle files: summary line, header, warnings",
                       .usage = kSynopsis, .options = kOptions, .notes = kNotes, .needs_stdout = true, .run = run_info};

}  // namespace bottletool
