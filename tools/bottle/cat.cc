// bottle cat: one bottle from several of the same type, interval and
// unusable value, in time order, with the gaps between them padded with
// the unusable value.  Where inputs overlap, an unusable sample gives way
// to a usable one; two usable samples must agree unless --overlap says
// which input wins.  Built a block of the output at a time, bytes as
// stored.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "core.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle cat OUT IN... [--overlap first|last] [--force]\n"
    "Joins the bottles IN into one bottle OUT, in time order whatever the order they\n"
    "are named in: OUT begins with the earliest sample, and the gaps between inputs\n"
    "hold the unusable value.  The inputs must have one type, interval and unusable\n"
    "value, and begin times a whole number of intervals apart (to within a millionth\n"
    "of an interval); an input that does not is named in the error.  Where inputs\n"
    "overlap, an unusable sample gives way to a usable one, and usable samples must\n"
    "be equal (byte for byte); the first time where they differ is an error, unless\n"
    "  --overlap first   the input named first on the command line wins\n"
    "  --overlap last    the input named last wins\n"
    "  --force           replace OUT if it exists\n"
    "Sample bytes are copied unchanged.  OUT is a regular file (a link is followed to\n"
    "the file it names, and stays); it changes only once it is complete, and is never\n"
    "one of the inputs.  The bottle library's messages go to standard error.\n";

enum class Overlap { kRefuse, kFirst, kLast };

Overlap read_overlap(const Args &args) {
    const auto v = args.value("overlap");
    if (!v) return Overlap::kRefuse;
    if (*v == "first") return Overlap::kFirst;
    if (*v == "last") return Overlap::kLast;
    throw UsageError("--overlap must be first or last, not " + quoted(*v));
}

// An input and where its samples go in the output.
struct Piece {
    std::unique_ptr<ViewedBottle> bottle;
    std::int64_t offset = 0;  // output index of its sample 0
    std::int64_t count = 0;
};

std::string type_name(int type) { return zulu::format::kTypes[static_cast<std::size_t>(type)].name; }

// A Failure unless `b` can be joined to `ref`: the same type, interval and
// unusable value, and times that run forward.
void check_joinable(const ViewedBottle &b, const ViewedBottle &ref) {
    bottle_hdr *h = b.get(), *r = ref.get();
    const std::string versus = " (" + ref.name() + " has ";
    if (bot_type(h) != bot_type(r))
        throw Failure(b.name() + " holds samples of type " + type_name(bot_type(h)) + versus + type_name(bot_type(r)) + ")");
    if (bot_ivl(h) != bot_ivl(r))
        throw Failure(b.name() + " has the interval " + value_text(bot_ivl(h)) + " s" + versus +
                      value_text(bot_ivl(r)) + " s)");
    if (bot_usym(h) != bot_usym(r))
        throw Failure(b.name() + " has the unusable value " + std::to_string(bot_usym(h)) + versus +
                      std::to_string(bot_usym(r)) + ")");
    const Timeline line = timeline_of(h);
    if (!line.finite() || line.step < 0)
        throw Failure(b.name() + ": the begin time and the interval must be finite, the interval not negative");
}

// The number of intervals from `ref`'s begin time to `b`'s; a Failure when
// it is not whole to within a millionth, or to within what the begin times
// resolve where that is coarser.
std::int64_t grid_offset(const ViewedBottle &b, const ViewedBottle &ref) {
    constexpr double kTolerance = 1e-6;
    constexpr double kFarthest = 0x1p52;  // whole numbers are exact below it
    const double beg = bot_beg(b.get()), ref_beg = bot_beg(ref.get()), step = timeline_of(ref.get()).step;
    const double q = (beg - ref_beg) / step;
    if (!(std::fabs(q) < kFarthest))
        throw Failure(b.name() + " begins too far from " + ref.name() + " to share a bottle with it");
    const double whole = std::nearbyint(q);
    if (std::fabs(q - whole) > std::max(kTolerance, time_resolution(beg, ref_beg) / step))
        throw Failure(b.name() + " does not begin on the grid of " + ref.name() + ": its begin time is " +
                      interval_fraction_text(std::fabs(q - whole)) + " of an interval off");
    return static_cast<std::int64_t>(whole);
}

// Opens the inputs and places them on one grid, the earliest sample at
// output index 0 (the earliest begin time when none holds samples).
std::vector<Piece> place_inputs(const std::vector<std::string> &names) {
    std::vector<Piece> pieces;
    for (const std::string &name : names) {
        Piece p;
        p.bottle = std::make_unique<ViewedBottle>(name);
        p.bottle->require();
        const ViewedBottle &ref = pieces.empty() ? *p.bottle : *pieces.front().bottle;
        check_joinable(*p.bottle, ref);
        p.offset = grid_offset(*p.bottle, ref);
        p.count = timeline_of(p.bottle->get()).count;
        pieces.push_back(std::move(p));
    }
    const bool any_samples = std::any_of(pieces.begin(), pieces.end(), [](const Piece &p) { return p.count > 0; });
    std::int64_t base = INT64_MAX;
    for (const Piece &p : pieces)
        if (p.count > 0 || !any_samples) base = std::min(base, p.offset);
    for (Piece &p : pieces) p.offset -= base;
    return pieces;
}

// The piece whose begin time the output takes: the one at output index 0.
const Piece &first_piece(const std::vector<Piece> &pieces) {
    for (const Piece &p : pieces)
        if (p.offset == 0 && p.count > 0) return p;
    for (const Piece &p : pieces)
        if (p.offset == 0) return p;
    return pieces.front();
}

// Merges samples into a block of the output, one sample of W bytes (held
// as the unsigned integer U of that width) at a time.
template <class U>
class Merger {
public:
    Merger(const void *unusable, Overlap overlap) : overlap_(overlap) { std::memcpy(&unusable_, unusable, sizeof(U)); }

    // Merges n samples from `in` into `out`; returns the position of the
    // first pair of usable samples that differ when that is an error, or n.
    std::size_t merge(unsigned char *out, const unsigned char *in, std::size_t n) const {
        std::size_t conflict = n;
        for (std::size_t k = 0; k < n; ++k) {
            U a, b;
            std::memcpy(&a, out + k * sizeof(U), sizeof(U));
            std::memcpy(&b, in + k * sizeof(U), sizeof(U));
            if (b == unusable_ || a == b) continue;
            if (a == unusable_ || overlap_ == Overlap::kLast) {
                std::memcpy(out + k * sizeof(U), &b, sizeof(U));
            } else if (overlap_ == Overlap::kRefuse && conflict == n) {
                conflict = k;
            }
        }
        return conflict;
    }

private:
    U unusable_{};
    Overlap overlap_;
};

template <class U>
class Joiner {
    static constexpr std::int64_t kPerBlock = kCopyBytes / static_cast<std::int64_t>(sizeof(U));

public:
    Joiner(const std::vector<Piece> &pieces, bottle_hdr *out, const OutputTarget &target, Overlap overlap)
        : pieces_(pieces), out_(out), target_(target), slot_(zulu::format::unusable_slot(bot_type(out), bot_usym(out))),
          merger_(slot_.bytes.data(), overlap), block_(static_cast<std::size_t>(kCopyBytes)),
          scratch_(block_.size()) {}

    // Writes the output samples [0, total).
    void write(std::int64_t total) {
        for (std::int64_t b = 0; b < total; b += kPerBlock) write_block(b, std::min(kPerBlock, total - b));
    }

private:
    struct Range {
        std::int64_t lo, hi;
    };

    void write_block(std::int64_t b, std::int64_t n) {
        if (!held_by_one(b, n)) fill_unusable(n);
        written_.clear();
        std::int64_t conflict = INT64_MAX;
        const Piece *conflicting = nullptr;
        for (const Piece &p : pieces_) {
            const std::int64_t lo = std::max(b, p.offset), hi = std::min(b + n, p.offset + p.count);
            if (lo >= hi) continue;
            unsigned char *at = block_.data() + (lo - b) * sizeof(U);
            const bool overlaps = std::any_of(written_.begin(), written_.end(),
                                              [&](const Range &r) { return r.lo < hi && lo < r.hi; });
            // Samples where no other input has been: read straight into place.
            read(p, lo, hi, overlaps ? scratch_.data() : at);
            if (overlaps) {
                const auto k = static_cast<std::int64_t>(merger_.merge(at, scratch_.data(), static_cast<std::size_t>(hi - lo)));
                if (k < hi - lo && lo + k < conflict) {
                    conflict = lo + k;
                    conflicting = &p;
                }
            }
            written_.push_back({lo, hi});
        }
        if (conflicting)
            throw Failure("the inputs overlap and differ, first at " + iso_time(zulu::core::time_of(out_, conflict)) +
                          " (in " + conflicting->bottle->name() +
                          "); --overlap first or --overlap last says which input wins");
        zulu::core::write_at(out_, b, n, block_.data());
        target_.start_writeback();
    }

    // Whether one input holds every sample of the block and no other input
    // reaches it: the block then needs no padding.
    bool held_by_one(std::int64_t b, std::int64_t n) const {
        int reaching = 0;
        bool whole = false;
        for (const Piece &p : pieces_) {
            if (p.offset >= b + n || p.offset + p.count <= b || p.count == 0) continue;
            ++reaching;
            whole = whole || (p.offset <= b && p.offset + p.count >= b + n);
        }
        return reaching == 1 && whole;
    }

    void fill_unusable(std::int64_t n) {
        for (std::int64_t k = 0; k < n; ++k)
            std::memcpy(block_.data() + k * static_cast<std::int64_t>(sizeof(U)), slot_.bytes.data(), sizeof(U));
    }

    static void read(const Piece &p, std::int64_t lo, std::int64_t hi, unsigned char *to) {
        zulu::core::read_at(p.bottle->get(), lo - p.offset, hi - lo, to);
        p.bottle->check_reads();
    }

    const std::vector<Piece> &pieces_;
    bottle_hdr *out_;
    const OutputTarget &target_;
    zulu::format::Slot slot_;
    Merger<U> merger_;
    std::vector<unsigned char> block_, scratch_;
    std::vector<Range> written_;
};

// The unsigned integer as wide as a sample of the type.
template <class F>
void with_sample_bits(int type, F &&f) {
    with_sample_type(type, [&](auto tag) {
        if constexpr (sizeof tag == 2) f(std::uint16_t{});
        else if constexpr (sizeof tag == 4) f(std::uint32_t{});
        else f(std::uint64_t{});
    });
}

int run_cat(const std::vector<std::string> &words) {
    const Args args(words, {{"overlap", 0, true}, {"force"}});
    const std::vector<std::string> &files = args.operands(2, SIZE_MAX);
    const Overlap overlap = read_overlap(args);
    const std::string &out = files[0];
    const std::vector<std::string> names(files.begin() + 1, files.end());
    std::vector<InputFile> inputs;
    for (const std::string &name : names)
        if (auto f = input_file(name)) inputs.push_back(*f);
    const StdoutToStderr route;  // the library's messages are errors here
    OutputTarget target(out, inputs, {args.has("force"), false, 0664});
    const std::vector<Piece> pieces = place_inputs(names);
    std::int64_t total = 0;
    for (const Piece &p : pieces)
        if (p.count > 0) total = std::max(total, p.offset + p.count);
    bottle_hdr *ref = first_piece(pieces).bottle->get();
    const std::int64_t most = zulu::format::addressable_samples(bot_type(ref), zulu::format::kHeaderSize);
    if (total > most)
        throw Failure("the inputs span " + std::to_string(total) + " samples; a bottle of type " +
                      type_name(bot_type(ref)) + " holds at most " + std::to_string(most));
    NewBottle joined(target.temp_path(), out, bot_beg(ref), bot_ivl(ref), bot_type(ref));
    joined.set_unusable(bot_usym(ref));
    with_sample_bits(bot_type(ref), [&](auto tag) { Joiner<decltype(tag)>(pieces, joined.get(), target, overlap).write(total); });
    joined.finish();
    target.commit();
    return 0;
}

}  // namespace

const Subcommand kCat{"cat", "join bottles of one type and interval in time order", kHelp, false, run_cat};

}  // namespace bottletool
