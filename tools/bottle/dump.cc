// bottle dump: the samples of a bottle as CSV, one line per sample.

#include <algorithm>
#include <string>
#include <vector>

#include "command.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle dump FILE [--from TIME] [--to TIME | --count N] [--epoch]\n"
    "                        [--missing TEXT]\n"
    "Writes the samples of the bottle FILE as CSV on standard output: a header line\n"
    "\"time,value\", then one line per sample, oldest first.  Times are ISO 8601 in\n"
    "GMT with milliseconds; values are written so that they read back exactly.\n";

constexpr Option kCount{.name = "count", .value = "N", .help = "write at most N samples", .bounds = {0, INT64_MAX}};
constexpr Option kEpoch{.name = "epoch", .help = "write times as seconds since 1970-01-01 00:00:00 GMT"};
constexpr Option kMissing{.name = "missing",
                          .value = "TEXT",
                          .help = "write TEXT for a missing sample (the unusable value, or NaN)",
                          .fallback = "an empty field"};
constexpr const Option *kOptions[] = {&kStartAt, &kStopBefore, &kCount, &kEpoch, &kMissing};

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

// Writes the lines of samples [first, end) with values of type T.  The
// times are the samples' stamps in milliseconds (their nearest doubles
// with --epoch).
template <class T>
void write_lines(SeriesReader &reader, std::int64_t first, std::int64_t end, const DumpOptions &o,
                 OutputBuffer &out) {
    const T unusable = unusable_as<T>(reader.series().unusable());
    const Grid &line = reader.series().grid();
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

int run_dump(const Args &args, const Context &context) {
    const std::string file = args.operands(1, 1)[0];
    const DumpOptions o = read_options(args);
    if (const auto in = input_file(file), out = input_file(context.data_fd, "standard output"); in && out)
        refuse_input({*in}, out->id, out->name);
    const Series series = Series::of_bottle(file);
    const Grid &grid = o.from || o.to ? series.grid_for_times() : series.grid();
    const auto selected = grid.select(o.from, o.to, false);
    const std::int64_t first = selected.first;
    const std::int64_t end = o.count ? first + std::min(*o.count, selected.second - first) : selected.second;
    SeriesReader reader(series);
    OutputBuffer out(context.data_fd, "standard output");
    out.append("time,value\n");
    with_sample_type(series.type(), [&](auto tag) { write_lines<decltype(tag)>(reader, first, end, o, out); });
    out.flush();
    return 0;
}

}  // namespace

const Subcommand kDump{.name = "dump", .summary = "write the samples of a bottle as CSV", .usage = kSynopsis,
                       .options = kOptions, .notes = kNotes, .takes_time = true, .needs_stdout = true, .reroutes = true,
                       .run = run_dump};

}  // namespace bottletool
