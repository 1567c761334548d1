// bottle plot: an SVG line plot of one bottle or of several overlaid,
// decimated to at most two points (the least and the greatest value) per
// pixel column, with breaks where samples are unusable.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "axes.h"
#include "command.h"
#include "files.h"
#include "follow.h"
#include "live.h"
#include "samples.h"
#include "subcommands.h"
#include "svg.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle plot FILE... -o OUT.svg [--from TIME] [--to TIME] [--width PX]\n"
    "                   [--height PX] [--title TEXT] [--ylabel TEXT]\n"
    "                   [-f | --follow[=HOW] [--window DURATION] [--every DURATION]]\n"
    "Draws the samples of the bottle FILE as an SVG line plot: time (GMT) across,\n"
    "value up, the line broken where samples are unusable.  Each pixel column shows\n"
    "the least and the greatest value of the samples that fall in it.  Several FILEs\n"
    "are drawn over each other on the same axes, each in a colour of its own, with a\n"
    "legend that names them.  With --follow, the picture is drawn again, replaced\n"
    "whole each time, as the writers flush more samples, until an interrupt (SIGINT,\n"
    "SIGTERM) ends it with status 0.\n";

constexpr Option kOutput{.name = "output",
                         .alias = 'o',
                         .value = "OUT.svg",
                         .help = "the file to write, - for standard output; a regular file is replaced once the plot "
                                 "is complete (through a link, the file it names), a device or FIFO written directly"};
constexpr Option kWidth{
    .name = "width", .value = "PX", .help = "width of the image", .fallback = "1000", .bounds = {200, 20000, true}};
constexpr Option kHeight{
    .name = "height", .value = "PX", .help = "height of the image", .fallback = "400", .bounds = {120, 20000, true}};
constexpr Option kTitle{.name = "title",
                        .value = "TEXT",
                        .help = "the title's first words",
                        .fallback = "the name FILE, or the number of FILEs"};
constexpr Option kYlabel{.name = "ylabel", .value = "TEXT", .help = "a label along the value axis, such as the units"};
constexpr Option kWindow{.name = "window",
                         .value = "DURATION",
                         .help = "with --follow, draw the samples of the last DURATION before the latest one "
                                 "(30s, 10min, 2h, 1d)",
                         .fallback = "all of them"};
constexpr Option kEvery{.name = "every",
                        .value = "DURATION",
                        .help = "with --follow, draw the picture again at most this often",
                        .fallback = "5s"};
constexpr const Option *kOptions[] = {&kOutput, &kStartAt, &kStopBefore, &kWidth,  &kHeight,
                                      &kTitle,  &kYlabel,  &kFollow,     &kWindow, &kEvery};

const char kNotes[] = "The bottle library's messages go to standard error.\n";

// --- Decimation ----------------------------------------------------------

// Reduces samples in index order to at most two points per pixel column:
// the least and the greatest usable value, in the order they occur.  A
// point starts a new line when unusable samples lie between it and the
// previous usable sample in an earlier column; a gap narrower than a
// column, inside one column, is not drawn.
class Decimator {
public:
    Decimator(const Grid &line, std::int64_t first, std::int64_t end, std::int64_t columns)
        : line_(line), first_(first), n_(end - first), columns_(std::clamp<std::int64_t>(columns, 1, n_)) {}

    void add(std::int64_t index, bool usable, double v) {
        const std::int64_t k = index - first_;
        if (k >= next_column_) start_column(k);
        if (!usable) {
            gap_ = true;
            return;
        }
        if (!column_.any) {
            column_ = {true, gap_ || !seen_usable_, v, v, index, index};
        } else if (v < column_.least) {
            column_.least = v;
            column_.least_at = index;
        } else if (v > column_.greatest) {
            column_.greatest = v;
            column_.greatest_at = index;
        }
        gap_ = false;
        seen_usable_ = true;
    }

    std::vector<PlotPoint> finish() {
        emit_column();
        return std::move(points_);
    }

private:
    struct Column {
        bool any = false;
        bool starts_line = false;
        double least = 0, greatest = 0;
        std::int64_t least_at = 0, greatest_at = 0;
    };

    void start_column(std::int64_t k) {
        emit_column();
        const std::int64_t c = k * columns_ / n_;
        next_column_ = ((c + 1) * n_ + columns_ - 1) / columns_;
        column_ = Column{};
    }

    void emit_column() {
        if (!column_.any) return;
        const bool least_first = column_.least_at <= column_.greatest_at;
        const std::int64_t a = least_first ? column_.least_at : column_.greatest_at;
        const std::int64_t b = least_first ? column_.greatest_at : column_.least_at;
        points_.push_back({line_.time(a), least_first ? column_.least : column_.greatest, column_.starts_line, a});
        if (a != b) points_.push_back({line_.time(b), least_first ? column_.greatest : column_.least, false, b});
    }

    Grid line_;
    std::int64_t first_, n_, columns_;
    std::int64_t next_column_ = 0;
    Column column_;
    bool gap_ = false, seen_usable_ = false;
    std::vector<PlotPoint> points_;
};

// The points of samples [first, end) of the grid `line`, read as values
// of type T from `reader` (a SeriesReader or a LiveBottle).
template <class T, class Reader>
std::vector<PlotPoint> decimate(Reader &reader, const Grid &line, std::int32_t usym, std::int64_t first,
                                std::int64_t end, std::int64_t columns) {
    const T unusable = unusable_as<T>(usym);
    Decimator d(line, first, end, columns);
    read_samples<T>(reader, first, end, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            const auto v = static_cast<double>(values[k]);  // infinities cannot be drawn either
            d.add(index + static_cast<std::int64_t>(k), !zulu::format::missing(values[k], unusable) && std::isfinite(v), v);
        }
    });
    return d.finish();
}

// The points of a decimation again, at most two per column of a narrower
// plot area.  A point that starts a line has unusable samples before it:
// one of them is added again, so that the break stays where it still falls
// between columns.
std::vector<PlotPoint> reduce(const std::vector<PlotPoint> &points, const Grid &line, std::int64_t first,
                              std::int64_t end, std::int64_t columns) {
    Decimator d(line, first, end, columns);
    for (const PlotPoint &p : points) {
        if (p.starts_line && p.index > first) d.add(p.index - 1, false, 0);
        d.add(p.index, true, p.v);
    }
    return d.finish();
}

// --- The command ---------------------------------------------------------

// One input as plotted: its samples [first, end) and their points.
struct Plotted {
    std::string name;
    Grid line;
    std::int64_t first = 0, end = 0;
    std::vector<PlotPoint> points;

    double first_time() const { return line.time(first); }
    double last_time() const { return line.time(end - 1); }
};

Plotted decimate_file(const std::string &file, const TimeRange &range, std::int64_t columns) {
    const zulu::archive::Series series = zulu::archive::Series::of_bottle(file);
    Plotted p{file, range.from || range.to ? series.grid_for_times() : series.grid(), 0, 0, {}};
    std::tie(p.first, p.end) = p.line.select(range.from, range.to, false);
    SeriesReader reader(series);
    if (p.first < p.end)
        p.points = with_sample_type(series.type(), [&](auto tag) {
            return decimate<decltype(tag)>(reader, series.grid(), series.unusable(), p.first, p.end, columns);
        });
    return p;
}

// The samples a followed file has published from `from` on, only the last
// `window` seconds of them where given.
Plotted decimate_live(const LiveBottle &live, std::optional<double> from, std::optional<double> window,
                      std::int64_t columns) {
    if (from || window) live.reach_for_times();  // a Failure where samples have no times
    Plotted p{live.name(), live.grid(), 0, live.count(), {}};
    if (p.end == 0) return p;
    if (window) from = std::max(from.value_or(-INFINITY), p.last_time() - *window);
    std::tie(p.first, p.end) = p.line.select(from, std::nullopt, false);
    if (p.first < p.end)
        p.points = with_sample_type(live.type(), [&](auto tag) {
            return decimate<decltype(tag)>(live, p.line, live.unusable(), p.first, p.end, columns);
        });
    return p;
}

// The pixel columns a series spans when `all` columns show the times of
// the frame: its share of them, at least one.
std::int64_t columns_of(const Plotted &p, const PlotFrame &frame, std::int64_t all) {
    const double span = std::fabs(p.last_time() - p.first_time()) + std::fabs(p.line.step());
    const double share = span / (frame.t1() - frame.t0());
    if (!(share < 1)) return all;
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(share * static_cast<double>(all))));
}

// The times, sample count and least step of the plotted series, into data.
void describe_series(const std::vector<Plotted> &plotted, PlotData &data) {
    bool any = false;
    for (const Plotted &p : plotted) {
        if (p.first == p.end) continue;
        const double lo = std::min(p.first_time(), p.last_time()), hi = std::max(p.first_time(), p.last_time());
        data.first_time = any ? std::min(data.first_time, lo) : lo;
        data.last_time = any ? std::max(data.last_time, hi) : hi;
        data.step = any ? std::min(data.step, std::abs(p.line.step())) : std::abs(p.line.step());
        data.count += p.end - p.first;
        any = true;
    }
}

// What a plot shows besides the samples, from the command line.
struct Picture {
    std::string title, ylabel;
    std::int64_t width, height;
};

// Draws the plotted series as an SVG picture into `target` and commits
// it; a Failure when none of them has a sample to draw.
void draw(std::vector<Plotted> plotted, const Picture &look, OutputTarget &target) {
    PlotData data{look.title, look.ylabel, 0, 0, 1, 0, {}};
    describe_series(plotted, data);
    if (data.count == 0) {
        const Plotted &p = plotted.front();
        if (plotted.size() > 1) throw Failure("no sample of the inputs lies in the given times");
        throw Failure(p.line.count() == 0 ? p.name + " holds no samples" : "no sample of " + p.name + " lies in the given times");
    }
    if (plotted.size() == 1) {  // the times as the bottle runs, backward for a negative interval
        data.first_time = plotted[0].first_time();
        data.last_time = plotted[0].last_time();
    }
    data.series.reserve(plotted.size());
    for (Plotted &p : plotted) data.series.push_back({p.name, std::move(p.points)});
    const PlotFrame frame(look.width, look.height, data);
    for (std::size_t i = 0; i < plotted.size(); ++i) {
        const Plotted &p = plotted[i];
        if (p.first == p.end) continue;
        data.series[i].points = reduce(data.series[i].points, p.line, p.first, p.end, columns_of(p, frame, frame.columns()));
    }
    OutputBuffer buffer(target.fd(), target.name());
    buffer.append(svg_plot(frame, data));
    buffer.flush();
    target.commit();
}

// --follow: the picture drawn again, at most every --every, whenever a
// followed file has published more samples, until a stop signal comes or
// a file followed by descriptor is replaced.
int follow_plot(const Args &args, const std::vector<std::string> &files, const std::string &out,
                const TimeRange &range, const Picture &look, Follower::Mode mode) {
    if (out == "-") throw UsageError("--follow draws the picture again and again: name a file with -o OUT.svg");
    if (range.to) throw UsageError("--to and --follow cannot be used together");
    std::optional<double> window;
    if (const auto w = args.value(kWindow)) window = read_duration(kWindow.name, *w);
    const auto every = std::chrono::duration<double>(read_duration(kEvery.name, args.value(kEvery).value_or("5s")));
    std::vector<InputFile> inputs;
    for (const std::string &file : files)
        if (auto in = input_file(file)) inputs.push_back(*in);
    const StdoutToStderr route;  // the library's messages are errors here
    const StopSignals stop;      // from here on, SIGINT ends the follow, not the program
    std::vector<std::unique_ptr<Follower>> followers;
    followers.reserve(files.size());
    for (const std::string &file : files) followers.push_back(std::make_unique<Follower>(file, mode));
    bool redraw = true, ending = false;
    for (;;) {
        std::vector<Plotted> plotted;
        plotted.reserve(followers.size());
        if (redraw)
            for (const auto &f : followers) plotted.push_back(decimate_live(f->file(), range.from, window, look.width));
        // Until a sample to draw comes (after --from), there is no picture.
        if (std::any_of(plotted.begin(), plotted.end(), [](const Plotted &p) { return p.first < p.end; })) {
            OutputTarget target(out, inputs, {.direct = false});
            draw(std::move(plotted), look, target);
        }
        if (ending || stop.raised()) return 0;
        ending = stop.wait(std::chrono::ceil<std::chrono::milliseconds>(every));
        redraw = false;
        for (const auto &f : followers) {
            const Follower::Event event = f->look();
            redraw = redraw || event != Follower::Event::kNone;
            if ((event == Follower::Event::kReplaced || event == Follower::Event::kRewritten) &&
                !follow_on("plot", *f, event, stop))
                ending = true;
        }
    }
}

int run_plot(const Args &args, const Context &) {
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const auto out = args.value(kOutput);
    if (!out) throw UsageError("-o OUT.svg is required");
    const TimeRange range = read_time_range(args, kStartAt, kStopBefore);
    const std::string default_title = files.size() == 1 ? files[0] : std::to_string(files.size()) + " bottles";
    const Picture look{args.value(kTitle).value_or(default_title), args.value(kYlabel).value_or(""), *args.count(kWidth),
                    *args.count(kHeight)};
    if (const auto mode = follow_mode(args)) return follow_plot(args, files, *out, range, look, *mode);
    if (args.has(kWindow) || args.has(kEvery)) throw UsageError("--window and --every go with --follow");

    std::vector<InputFile> inputs;
    for (const std::string &file : files)
        if (auto in = input_file(file)) inputs.push_back(*in);
    OutputTarget target(*out, inputs, {});
    // The library's messages are errors here; the route comes after the
    // target, which for "-" takes standard output itself.
    const StdoutToStderr route;
    std::vector<Plotted> plotted;
    plotted.reserve(files.size());
    for (const std::string &file : files) plotted.push_back(decimate_file(file, range, look.width));
    draw(std::move(plotted), look, target);
    return 0;
}

}  // namespace

const Subcommand kPlot{.name = "plot", .summary = "draw a bottle as an SVG line plot", .usage = kSynopsis,
                       .options = kOptions, .notes = kNotes, .takes_time = true, .run = run_plot};

}  // namespace bottletool
