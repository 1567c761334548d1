// bottle dump: the samples of a bottle as CSV, one line per sample.

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "command.h"
#include "files.h"
#include "follow.h"
#include "live.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle dump FILE [--from TIME] [--to TIME | --count N] [--epoch]\n"
    "                        [--missing TEXT] [-f | --follow[=HOW]]\n"
    "Writes the samples of the bottle FILE as CSV on standard output: a header line\n"
    "\"time,value\", then one line per sample, oldest first.  Times are ISO 8601 in\n"
    "GMT with milliseconds; values are written so that they read back exactly.\n"
    "With --follow, each sample the writer of FILE flushes is written as it comes,\n"
    "until --to, --count or an interrupt (SIGINT, SIGTERM) ends it, with status 0.\n";

constexpr Option kCount{.name = "count", .value = "N", .help = "write at most N samples", .bounds = {0, INT64_MAX}};
constexpr Option kEpoch{.name = "epoch", .help = "write times as seconds since 1970-01-01 00:00:00 GMT"};
constexpr Option kMissing{.name = "missing",
                          .value = "TEXT",
                          .help = "write TEXT for a missing sample (the unusable value, or NaN)",
                          .fallback = "an empty field"};
constexpr const Option *kOptions[] = {&kStartAt, &kStopBefore, &kCount, &kEpoch, &kMissing, &kFollow};

const char kNotes[] = "The bottle library's messages go to standard error.\n";

constexpr std::size_t kMaxMissingChars = 1000;

struct DumpOptions {
    std::optional<double> from, to;
    std::optional<std::int64_t> count;
    bool epoch = false;
    std::string missing;
};

DumpOptions read_options(const Args &args) {
    DumpOptions o;
    const TimeRange range = read_time_range(args, kStartAt, kStopBefore);
    o.from = range.from;
    o.to = range.to;
    o.count = args.count(kCount);
    if (o.to && o.count) throw UsageError("--to and --count cannot be used together");
    o.epoch = args.has(kEpoch);
    o.missing = args.value(kMissing).value_or("");
    if (o.missing.size() > kMaxMissingChars || o.missing.find_first_of("\r\n") != std::string::npos)
        throw UsageError("--missing needs a text of at most 1000 characters on one line");
    return o;
}

// Writes the lines of samples [first, end) of the grid `line`, read as
// values of type T from `reader` (a SeriesReader or a LiveBottle).  The
// times are the samples' stamps in milliseconds (their nearest doubles
// with --epoch).
template <class T, class Reader>
void write_lines(Reader &reader, const Grid &line, std::int32_t usym, std::int64_t first, std::int64_t end,
                 const DumpOptions &o, OutputBuffer &out) {
    const T unusable = unusable_as<T>(usym);
    const UnitClock clock = line.clock(kMilliDigits);
    const std::size_t longest = kMaxTimeChars + std::max(kMaxValueChars, o.missing.size()) + 2;
    IsoTimeWriter iso;
    std::vector<std::int64_t> stamps(static_cast<std::size_t>(kBlock));
    read_samples<T>(reader, first, end, [&](std::int64_t index, const T *values, std::size_t n) {
        const bool stamped = !o.epoch && clock.fill(index, static_cast<std::int64_t>(n), stamps.data());
        for (std::size_t k = 0; k < n; ++k) {
            char *p = out.reserve(longest);
            const std::int64_t i = index + static_cast<std::int64_t>(k);
            if (stamped)
                p = iso.write_milliseconds(p, stamps[k]);
            else
                p = o.epoch ? write_epoch_time(p, line.time(i)) : iso.write(p, line.time(i));
            *p++ = ',';
            if (zulu::format::missing(values[k], unusable)) {
                p = std::copy(o.missing.begin(), o.missing.end(), p);
            } else {
                p = write_value(p, values[k]);
            }
            *p++ = '\n';
            out.commit(p);
        }
    });
}

// Writes the samples of the followed file from --from on, and then each
// sample its writer publishes, until --to or --count is reached (true),
// the file is replaced (false, after its last samples), or a stop signal
// comes (true, after a last look).  `written` counts the samples written.
bool follow_file(Follower &follower, const DumpOptions &o, const StopSignals &stop, OutputBuffer &out,
                 std::int64_t &written, Follower::Event &ended) {
    const LiveBottle &live = follower.file();
    std::int64_t next = 0, end = INT64_MAX;
    if (o.from || o.to) std::tie(next, end) = live.reach_for_times().select(o.from, o.to, false);
    const auto write_new = [&] {
        std::int64_t upto = std::min(live.count(), end);
        if (o.count) upto = std::min(upto, next + (*o.count - written));
        if (upto > next) {
            with_sample_type(live.type(), [&](auto tag) {
                write_lines<decltype(tag)>(live, live.grid(), live.unusable(), next, upto, o, out);
            });
            written += upto - next;
            next = upto;
        }
        out.flush();
        return next >= end || (o.count && written >= *o.count);
    };
    if (write_new()) return true;
    for (;;) {
        const Watch::Woken woken = follower.wait(std::nullopt, stop.fd());
        const bool stopping = woken == Watch::Woken::kStop || stop.raised();
        ended = follower.look();
        if (write_new() || stopping) return true;
        if (ended == Follower::Event::kReplaced || ended == Follower::Event::kRewritten) return false;
    }
}

int follow_dump(const std::string &file, const DumpOptions &o, Follower::Mode mode, const Context &context) {
    const StopSignals stop;  // from here on, SIGINT ends the follow, not the program
    Follower follower(file, mode);
    OutputBuffer out(context.data_fd, "standard output");
    out.append("time,value\n");
    std::int64_t written = 0;
    Follower::Event ended = Follower::Event::kNone;
    while (!follow_file(follower, o, stop, out, written, ended) && follow_on("dump", follower, ended, stop)) {
    }
    return 0;
}

int run_dump(const Args &args, const Context &context) {
    const std::string file = args.operands(1, 1)[0];
    const DumpOptions o = read_options(args);
    const auto follow = follow_mode(args);
    if (const auto in = input_file(file), out = input_file(context.data_fd, "standard output"); in && out)
        refuse_input({*in}, out->id, out->name);
    if (follow) return follow_dump(file, o, *follow, context);
    const Series series = Series::of_bottle(file);
    const Grid &grid = o.from || o.to ? series.grid_for_times() : series.grid();
    const auto selected = grid.select(o.from, o.to, false);
    const std::int64_t first = selected.first;
    const std::int64_t end = o.count ? first + std::min(*o.count, selected.second - first) : selected.second;
    SeriesReader reader(series);
    OutputBuffer out(context.data_fd, "standard output");
    out.append("time,value\n");
    with_sample_type(series.type(), [&](auto tag) {
        write_lines<decltype(tag)>(reader, series.grid(), series.unusable(), first, end, o, out);
    });
    out.flush();
    return 0;
}

}  // namespace

const Subcommand kDump{.name = "dump", .summary = "write the samples of a bottle as CSV", .usage = kSynopsis,
                       .options = kOptions, .notes = kNotes, .takes_time = true, .needs_stdout = true, .reroutes = true,
                       .run = run_dump};

}  // namespace bottletool
