#include "series.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <type_traits>

#include <sys/stat.h>

#include "core.h"
#include "format.h"
#include "samples.h"

namespace zulu::archive {
namespace {

std::string type_name(int type) { return format::kTypes[static_cast<std::size_t>(type)].name; }

// The bits of a sample, to compare two samples bit for bit (two NaN, or
// 0 and -0, are alike or not as their bits say).
template <class T>
auto bits_of(T v) {
    if constexpr (sizeof(T) == 2) return std::bit_cast<std::uint16_t>(v);
    else if constexpr (sizeof(T) == 4) return std::bit_cast<std::uint32_t>(v);
    else return std::bit_cast<std::uint64_t>(v);
}

template <class T>
bool same_bits(T a, T b) { return bits_of(a) == bits_of(b); }

Piece piece_of(const ViewedBottle &b) { return {b.name(), b.id(), b.stored_header(), b.count(), 0}; }

// What keeps `p` from joining `ref` (one type, interval and unusable
// value), as a clause after its name; nothing when they match.
std::optional<std::string> mismatch(const Piece &p, const Piece &ref) {
    const bottle_hdr &h = p.header, &r = ref.header;
    const std::string versus = " (" + ref.name + " has ";
    if (h.type != r.type) return "holds samples of type " + type_name(h.type) + versus + type_name(r.type) + ")";
    if (!same_bits(h.ivl, r.ivl)) return "has the interval " + interval_text(h.ivl) + versus + interval_text(r.ivl) + ")";
    if (h.usym != r.usym)
        return "has the unusable value " + std::to_string(h.usym) + versus + std::to_string(r.usym) + ")";
    return std::nullopt;
}

// A file of a survey before it has a place, and its own grid.
struct Candidate {
    Piece piece;
    Grid grid;
};

Outsider outsider(const Candidate &c, std::string reason, const char *joint) {
    std::string message = c.piece.name + joint + reason;
    return {c.piece.name, std::move(reason), std::move(message), c.grid, c.piece};
}

// Why a file whose begin time lies off the grid of `ref` stays out: how far
// off, by the fraction of an interval and by the time to the nearest
// sample time (exact, by stamps), and the snap that would place it.
std::string off_grid_reason(const Candidate &c, const Candidate &ref, std::int64_t nearest) {
    const Grid &g = ref.grid;
    std::string reason = "does not begin on the grid of " + ref.piece.name + ": its begin time is " +
                         interval_fraction_text(g.misalignment(c.grid)) + " of an interval off";
    const auto at = g.stamp(nearest, kNanoDigits), own = c.grid.stamp(0, kNanoDigits);
    std::int64_t off = 0;
    if (at && own && !__builtin_sub_overflow(*own, *at, &off) && off != 0) {
        const std::string d = duration_text(off).substr(off < 0 ? 1 : 0);  // its size
        reason += " (" + d + (off < 0 ? " before" : " after") + " a sample time)";
        if (2 * (off < 0 ? -static_cast<double>(off) : static_cast<double>(off)) < g.step() * 1e9)
            reason += "; a snap of " + d + " or more places it on the grid";
    }
    return reason;
}

Grid grid_of(const Piece &p) { return Grid(p.header.beg, p.header.ivl, p.count); }

// Where a name now leads to another file than the one planned, or to one
// whose header places its samples otherwise.
bool replaced(const Piece &p, const ViewedBottle &b) {
    const bottle_hdr &h = b.stored_header(), &was = p.header;
    return b.id().dev != p.id.dev || b.id().ino != p.id.ino || h.doff != was.doff || h.type != was.type ||
           h.usym != was.usym || !same_bits(h.beg, was.beg) || !same_bits(h.ivl, was.ivl);
}

// Merges n samples from `in` into `out`: a missing sample gives way to a
// usable one, equal ones (bit for bit) agree, and of two usable ones that
// differ the rule picks; returns the position of the first such pair that
// it picks none of, or n.
template <class T>
std::size_t merge(T *out, const T *in, std::size_t n, T unusable, Overlap rule) {
    std::size_t conflict = n;
    for (std::size_t k = 0; k < n; ++k) {
        const T a = out[k], b = in[k];
        if (format::missing(b, unusable) || same_bits(a, b)) continue;
        if (format::missing(a, unusable) || rule == Overlap::kLast)
            out[k] = b;
        else if (rule == Overlap::kRefuse && conflict == n)
            conflict = k;
    }
    return conflict;
}

// Samples per block of the conversions to values.
constexpr std::int64_t kValueBlock = std::int64_t{1} << 16;
// Wanted samples at most this many bytes apart are read together, in runs
// of at most kLongestRun samples.
constexpr std::int64_t kGapBytes = std::int64_t{1} << 14;
constexpr std::int64_t kLongestRun = std::int64_t{1} << 20;

}  // namespace

std::vector<InputFile> input_files(const std::vector<std::string> &names) {
    std::vector<InputFile> inputs;
    for (const std::string &name : names)
        if (auto f = input_file(name)) inputs.push_back(*f);
    return inputs;
}

// --- Planning -------------------------------------------------------------

Series Series::of_bottle(const std::string &name) {
    const ViewedBottle b(name);
    b.require_reachable();
    Series s;
    s.pieces_.push_back(piece_of(b));
    s.finish();
    return s;
}

SeriesSurvey Series::survey(const std::vector<std::string> &names, const JoinRules &rules) {
    if (names.empty()) throw Failure("no bottles to join", kUsage);
    if (!(rules.snap >= 0) || !std::isfinite(rules.snap)) throw Failure("a snap is a duration of 0 or more", kUsage);
    std::vector<Candidate> files;
    files.reserve(names.size());
    for (const std::string &name : names) {
        const ViewedBottle b(name);
        b.require_reachable();
        files.push_back({piece_of(b), b.grid()});
    }
    // Files on one grid, by type, interval, unusable value and begin time:
    // each group is named by its first file.
    const auto same_range = [](const Candidate &a, const Candidate &b) {
        return std::fabs(a.grid.steps_to(b.grid.begin())) < 0x1p52;
    };
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const Candidate &c = files[k];
        if (!c.grid.forward()) continue;
        const auto home = std::find_if(groups.begin(), groups.end(), [&](const std::vector<std::size_t> &g) {
            const Candidate &ref = files[g.front()];
            return !mismatch(c.piece, ref.piece) && same_range(ref, c) && ref.grid.offset_of(c.grid);
        });
        if (home != groups.end()) home->push_back(k);
        else groups.push_back({k});
    }
    SeriesSurvey survey;
    if (groups.empty()) {
        for (const Candidate &c : files) {
            const std::string problem = c.grid.problem();
            survey.outsiders.push_back(outsider(c, c.grid.usable() ? problem + "; bottles are joined only in time order"
                                                                   : problem + ", so no sample has a time", ": "));
        }
        return survey;
    }
    // The grid most files keep; of equals, the first named.
    const auto most = std::max_element(groups.begin(), groups.end(),
                                       [](const auto &a, const auto &b) { return a.size() < b.size(); });
    const Candidate &ref = files[most->front()];
    const Grid &grid = ref.grid;
    if (rules.snap > 0 && !(rules.snap < grid.step() / 2))
        throw Failure("a snap of " + duration_text(static_cast<std::int64_t>(std::fmin(rules.snap * 1e9, 9e18))) +
                          " is not less than half the interval (" + interval_text(grid.stored_interval()) + ")",
                      kUsage);
    Series s;
    s.overlap_ = rules.overlap;
    for (const Candidate &c : files) {
        Piece p = c.piece;
        if (const auto why = mismatch(p, ref.piece)) {
            survey.outsiders.push_back(outsider(c, *why, " "));
            continue;
        }
        if (!c.grid.forward()) {
            survey.outsiders.push_back(outsider(c, c.grid.problem() + ", so no sample has a time", ": "));
            continue;
        }
        if (!same_range(ref, c)) {
            survey.outsiders.push_back(outsider(c, "begins too far from " + ref.piece.name + " to share a series with it", " "));
            continue;
        }
        if (const auto offset = grid.offset_of(c.grid)) {
            p.offset = *offset;
        } else {
            const std::int64_t nearest = grid.nearest_index(c.grid.begin()).value_or(0);
            const double to = grid.time(nearest);
            if (!(rules.snap > 0 && std::fabs(to - c.grid.begin()) <= rules.snap)) {
                survey.outsiders.push_back(outsider(c, off_grid_reason(c, ref, nearest), " "));
                continue;
            }
            p.offset = nearest;
            p.moved = to - c.grid.begin();
        }
        s.pieces_.push_back(std::move(p));
    }
    // Index 0 is the earliest sample, or the earliest begin without samples.
    const bool any = std::any_of(s.pieces_.begin(), s.pieces_.end(), [](const Piece &p) { return p.count > 0; });
    std::int64_t base = INT64_MAX;
    for (const Piece &p : s.pieces_)
        if (p.count > 0 || !any) base = std::min(base, p.offset);
    for (Piece &p : s.pieces_) p.offset -= base;
    s.finish();
    survey.series = std::move(s);
    return survey;
}

Series Series::joined(const std::vector<std::string> &names, const JoinRules &rules) {
    SeriesSurvey survey = Series::survey(names, rules);
    if (!survey.outsiders.empty()) throw Failure(survey.outsiders.front().message);
    return std::move(*survey.series);
}

Series Series::of_files(const std::vector<std::string> &names, const JoinRules &rules) {
    return names.size() == 1 ? of_bottle(names.front()) : joined(names, rules);
}

Series Series::from_pieces(std::vector<Piece> pieces, Overlap overlap) {
    if (pieces.empty()) throw Failure("a series needs at least one bottle");
    for (const Piece &p : pieces) {
        if (!format::valid_type(p.header.type) || p.header.doff < 0 || p.count < 0 || p.offset < 0 ||
            p.count > format::addressable_samples(p.header.type, p.header.doff) || p.offset > (std::int64_t{1} << 62))
            throw Failure(p.name + ": not a piece of a series");
        const Grid own = grid_of(p);
        if (!std::isfinite(p.moved) || (p.moved != 0 && !(std::fabs(p.moved) < std::fabs(own.step()) / 2)))
            throw Failure(p.name + ": not a piece of a series");
        if (const auto why = mismatch(p, pieces.front())) throw Failure(p.name + " " + *why);
    }
    Series s;
    s.pieces_ = std::move(pieces);
    s.overlap_ = overlap;
    s.finish();
    return s;
}

void Series::finish() {
    const bottle_hdr &h = pieces_.front().header;
    type_ = h.type;
    usym_ = h.usym;
    std::int64_t count = 0;
    for (const Piece &p : pieces_)
        if (p.count > 0) count = std::max(count, p.offset + p.count);
    first_ = 0;
    for (std::size_t k = pieces_.size(); k-- > 0;) {
        const Piece &p = pieces_[k];
        const Piece &f = pieces_[first_];
        // The piece at index 0 that holds samples, else one at index 0.
        if (p.offset == 0 && (p.count > 0 || !(f.offset == 0 && f.count > 0))) first_ = k;
    }
    // A piece that a snap moved begins where the grid places it.
    const Piece &f = pieces_[first_];
    grid_ = Grid(f.header.beg + f.moved, f.header.ivl, count);
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    for (const Piece &p : pieces_)
        if (p.count > 0) spans.emplace_back(p.offset, p.offset + p.count);
    std::sort(spans.begin(), spans.end());
    overlapping_ = false;
    for (std::size_t k = 1; k < spans.size(); ++k) overlapping_ = overlapping_ || spans[k].first < spans[k - 1].second;
}

std::int64_t Series::move_ns(const Piece &p) const {
    if (p.moved == 0) return 0;
    const auto at = grid_.stamp(p.offset, kNanoDigits), own = grid_of(p).stamp(0, kNanoDigits);
    std::int64_t d = 0;
    if (at && own && !__builtin_sub_overflow(*at, *own, &d)) return d;
    // Beyond the stamps: as near as doubles go, within +-2^62.
    const double ns = std::clamp(std::nearbyint(p.moved * 1e9), -0x1p62, 0x1p62);
    return static_cast<std::int64_t>(ns);
}

std::string Series::move_text(const Piece &p) const {
    const std::int64_t d = move_ns(p);
    const std::string by = duration_text(d).substr(d < 0 ? 1 : 0);  // its size
    return "its begin time " + sample_time_text(grid_of(p), 0) + " is " + by + " off the grid; placed " + by +
           (d < 0 ? " earlier" : " later") + ", at " + sample_time_text(grid_, p.offset);
}

std::vector<std::string> Series::move_notes() const {
    std::vector<std::string> notes;
    for (const Piece &p : pieces_)
        if (p.moved != 0) notes.push_back(p.name + ": " + move_text(p));
    return notes;
}

const Grid &Series::grid_for_times() const {
    if (!grid_.usable()) throw Failure(first_piece().name + ": " + grid_.problem() + ", so no sample has a time");
    return grid_;
}

// --- Reading --------------------------------------------------------------

struct SeriesReader::OpenFile {
    std::size_t piece;
    std::unique_ptr<ViewedBottle> bottle;
    std::uint64_t used;
};

SeriesReader::SeriesReader(const Series &series, std::size_t open_files)
    : series_(series), most_open_(std::max<std::size_t>(open_files, 1)) {}

SeriesReader::~SeriesReader() = default;

bottle_hdr *SeriesReader::file(std::size_t k) {
    for (OpenFile &f : open_)
        if (f.piece == k) {
            f.used = ++clock_;
            return f.bottle->get();
        }
    if (open_.size() >= most_open_) {
        const auto oldest = std::min_element(open_.begin(), open_.end(),
                                             [](const OpenFile &a, const OpenFile &b) { return a.used < b.used; });
        open_.erase(oldest);
    }
    const Piece &p = series_.pieces()[k];
    auto b = std::make_unique<ViewedBottle>(p.name);
    // A name that leads to another file, bottle or not (a FIFO, say), is
    // not the file planned.
    struct stat st;
    const bool other = !*b && ::stat(p.name.c_str(), &st) == 0 && (st.st_dev != p.id.dev || st.st_ino != p.id.ino);
    if (other || (*b && replaced(p, *b)))
        throw Failure(p.name + ": the file was replaced since it was opened", kFailed, "", ESTALE);
    b->require();
    // Only the samples planned are read; those the file no longer holds
    // read as missing.
    b->get()->nsam = static_cast<std::int32_t>(std::min(b->count(), p.count));
    open_.push_back({k, std::move(b), ++clock_});
    return open_.back().bottle->get();
}

void SeriesReader::read_piece(std::size_t k, std::int64_t lo, std::int64_t hi, unsigned char *out) {
    const Piece &p = series_.pieces()[k];
    bottle_hdr *b = file(k);
    if (const int err = core::read_shared(b, lo - p.offset, hi - lo, out))
        throw Failure("cannot read " + p.name + ": " + std::strerror(err), kFailed, "", err);
}

void SeriesReader::read(std::int64_t first, std::int64_t count, void *out) {
    if (count <= 0) return;
    auto *bytes = static_cast<unsigned char *>(out);
    const std::int64_t end = first + count, width = format::width_of(series_.type());
    const auto &pieces = series_.pieces();
    // The pieces that reach the window.
    std::size_t reaching = 0, only = 0;
    bool whole = false;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const Piece &p = pieces[k];
        if (p.count == 0 || p.offset >= end || p.offset + p.count <= first) continue;
        ++reaching;
        only = k;
        whole = p.offset <= first && p.offset + p.count >= end;
    }
    if (reaching == 1 && whole) {
        read_piece(only, first, end, bytes);
        return;
    }
    const format::Slot u = format::unusable_slot(series_.type(), series_.unusable());
    for (std::int64_t i = 0; i < count; ++i) std::memcpy(bytes + i * width, u.bytes.data(), static_cast<std::size_t>(width));
    written_.clear();
    std::int64_t conflict = INT64_MAX;
    std::string conflicting;
    for (std::size_t k = 0; k < pieces.size() && reaching > 0; ++k) {
        const Piece &p = pieces[k];
        const std::int64_t lo = std::max(first, p.offset), hi = std::min(end, p.offset + p.count);
        if (p.count == 0 || lo >= hi) continue;
        unsigned char *at = bytes + (lo - first) * width;
        const bool overlaps = std::any_of(written_.begin(), written_.end(),
                                          [&](const auto &r) { return r.first < hi && lo < r.second; });
        if (!overlaps) {
            read_piece(k, lo, hi, at);
        } else {
            scratch_.resize(static_cast<std::size_t>((hi - lo) * width));
            read_piece(k, lo, hi, scratch_.data());
            const auto n = static_cast<std::size_t>(hi - lo);
            const std::size_t at_conflict = format::with_sample_type(series_.type(), [&](auto tag) {
                using T = decltype(tag);
                return merge(reinterpret_cast<T *>(at), reinterpret_cast<const T *>(scratch_.data()), n,
                             format::unusable_as<T>(series_.unusable()), series_.overlap());
            });
            if (at_conflict < n && lo + static_cast<std::int64_t>(at_conflict) < conflict) {
                conflict = lo + static_cast<std::int64_t>(at_conflict);
                conflicting = p.name;
            }
        }
        written_.emplace_back(lo, hi);
    }
    if (!conflicting.empty())
        throw OverlapConflict(conflict, conflicting,
                              "the inputs overlap and differ, first at " + sample_time_text(series_.grid(), conflict) +
                                  " (in " + conflicting + ")");
}

void SeriesReader::take(const std::int64_t *indices, std::int64_t n, void *out) {
    if (n <= 0) return;
    const std::int64_t width = format::width_of(series_.type());
    auto *bytes = static_cast<unsigned char *>(out);
    // Positions in the order of their indices.
    std::vector<std::int64_t> order;
    const bool sorted = std::is_sorted(indices, indices + n);
    if (!sorted) {
        order.resize(static_cast<std::size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) { return indices[a] < indices[b]; });
    }
    const auto at = [&](std::int64_t k) { return sorted ? k : order[static_cast<std::size_t>(k)]; };
    const std::int64_t gap = std::max<std::int64_t>(1, kGapBytes / width);
    std::vector<unsigned char> run;
    for (std::int64_t a = 0; a < n;) {
        // The run of wanted indices from position a: each near the last.
        std::int64_t z = a + 1;
        const std::int64_t lo = indices[at(a)];
        while (z < n && indices[at(z)] - indices[at(z - 1)] <= gap && indices[at(z)] - lo < kLongestRun) ++z;
        const std::int64_t hi = indices[at(z - 1)] + 1;
        run.resize(static_cast<std::size_t>((hi - lo) * width));
        read(lo, hi - lo, run.data());
        for (std::int64_t k = a; k < z; ++k)
            std::memcpy(bytes + at(k) * width, run.data() + (indices[at(k)] - lo) * width, static_cast<std::size_t>(width));
        a = z;
    }
}

std::optional<std::int64_t> SeriesReader::first_difference(std::size_t a, std::size_t b, std::int64_t lo,
                                                          std::int64_t hi) {
    const std::int64_t width = format::width_of(series_.type());
    std::vector<unsigned char> mine(static_cast<std::size_t>(kValueBlock * width)),
        theirs(static_cast<std::size_t>(kValueBlock * width));
    for (std::int64_t i = lo; i < hi; i += kValueBlock) {
        const std::int64_t n = std::min(kValueBlock, hi - i);
        read_piece(a, i, i + n, mine.data());
        read_piece(b, i, i + n, theirs.data());
        const auto count = static_cast<std::size_t>(n);
        const std::size_t at = format::with_sample_type(series_.type(), [&](auto tag) {
            using T = decltype(tag);
            return merge(reinterpret_cast<T *>(mine.data()), reinterpret_cast<const T *>(theirs.data()), count,
                         format::unusable_as<T>(series_.unusable()), Overlap::kRefuse);
        });
        if (at < count) return i + static_cast<std::int64_t>(at);
    }
    return std::nullopt;
}

template <class F>
void SeriesReader::to_values(const unsigned char *stored, std::int64_t n, F *out) const {
    format::with_sample_type(series_.type(), [&](auto tag) {
        using T = decltype(tag);
        const T unusable = format::unusable_as<T>(series_.unusable());
        constexpr F kNaN = std::numeric_limits<F>::quiet_NaN();
        const auto *in = reinterpret_cast<const T *>(stored);  // in place where T is F
        // format::missing, in the form that vector instructions take: a NaN
        // sample converts to NaN by itself.  Chunks of a fixed count go
        // through a local array, as `in` may be `out`.
        const auto value = [&](T v) { return v == unusable ? kNaN : static_cast<F>(v); };
        std::int64_t i = 0;
        for (; i + static_cast<std::int64_t>(kChunk) <= n; i += static_cast<std::int64_t>(kChunk)) {
            F chunk[kChunk];
            for (std::size_t j = 0; j < kChunk; ++j) chunk[j] = value(in[i + static_cast<std::int64_t>(j)]);
            std::memcpy(out + i, chunk, sizeof chunk);
        }
        for (; i < n; ++i) out[i] = value(in[i]);
    });
}

template <class F>
void SeriesReader::read_values(std::int64_t first, std::int64_t count, F *out) {
    const std::int64_t width = format::width_of(series_.type());
    if (width == static_cast<std::int64_t>(sizeof(F)) && series_.type() >= 2) {
        // Stored as F already: each block read straight into place, then
        // marked where missing while it is in the cache.
        for (std::int64_t done = 0; done < count; done += kValueBlock) {
            const std::int64_t n = std::min(kValueBlock, count - done);
            read(first + done, n, out + done);
            to_values(reinterpret_cast<const unsigned char *>(out + done), n, out + done);
        }
        return;
    }
    std::vector<unsigned char> block(static_cast<std::size_t>(kValueBlock * width));
    for (std::int64_t done = 0; done < count; done += kValueBlock) {
        const std::int64_t n = std::min(kValueBlock, count - done);
        read(first + done, n, block.data());
        to_values(block.data(), n, out + done);
    }
}

template <class F>
void SeriesReader::take_values(const std::int64_t *indices, std::int64_t n, F *out) {
    const std::int64_t width = format::width_of(series_.type());
    std::vector<unsigned char> block(static_cast<std::size_t>(kValueBlock * width));
    for (std::int64_t done = 0; done < n; done += kValueBlock) {
        const std::int64_t k = std::min(kValueBlock, n - done);
        take(indices + done, k, block.data());
        to_values(block.data(), k, out + done);
    }
}

template void SeriesReader::read_values(std::int64_t, std::int64_t, float *);
template void SeriesReader::read_values(std::int64_t, std::int64_t, double *);
template void SeriesReader::take_values(const std::int64_t *, std::int64_t, float *);
template void SeriesReader::take_values(const std::int64_t *, std::int64_t, double *);

}  // namespace zulu::archive
