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
                          .help = "write TEXT for an unusable sample",
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

// Writes the lines of samples [first, end) with values of type T.
template <class T>
void write_lines(const ViewedBottle &bottle, std::int64_t first, std::int64_t end, const DumpOptions &o,
                 OutputBuffer &out) {
    bottle_hdr *h = bottle.get();
    const T unusable = unusable_as<T>(bot_usym(h));
    const Grid line = bottle.grid();
    const std::size_t longest = kMaxTimeChars + std::max(kMaxValueChars, o.missing.size()) + 2;
    IsoTimeWriter iso;
    read_samples<T>(bottle, first, end, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            char *p = out.reserve(longest);
            const double t = line.time(index + static_cast<std::int64_t>(k));
            p = o.epoch ? write_epoch_time(p, t) : iso.write(p, t);
            *p++ = ',';
            if (values[k] == unusable) {
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
    const ViewedBottle bottle(file);
    bottle.require();
    bottle_hdr *h = bottle.get();
    const Grid grid = o.from || o.to ? bottle.grid_for_times() : bottle.grid();
    const auto selected = grid.select(o.from, o.to, false);
    const std::int64_t first = selected.first;
    const std::int64_t end = o.count ? first + std::min(*o.count, selected.second - first) : selected.second;
    OutputBuffer out(context.data_fd, "standard output");
    out.append("time,value\n");
    with_sample_type(bot_type(h), [&](auto tag) { write_lines<decltype(tag)>(bottle, first, end, o, out); });
    out.flush();
    return 0;
}

}  // namespace

const Subcommand kDump{.name = "dump", .summary = "write the samples of a bottle as CSV", .usage = kSynopsis,
                       .options = kOptions, .notes = kNotes, .takes_time = true, .needs_stdout = true, .reroutes = true,
                       .run = run_dump};

}  // namespace bottletool
