#include "join.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "core.h"
#include "samples.h"
#include "timetext.h"

namespace zulu::archive {
namespace {

// An input and where its samples go in the output.  The file is open only
// while a block of the output needs its samples.
struct Piece {
    std::string name;
    Grid grid;
    int type = 0;
    std::int32_t usym = 0;
    std::int64_t offset = 0;  // output index of its sample 0
    std::int64_t count = 0;
    std::unique_ptr<ViewedBottle> bottle;

    const ViewedBottle &open() {
        if (!bottle) {
            bottle = std::make_unique<ViewedBottle>(name);
            bottle->require_reachable();
            if (bot_type(bottle->get()) != type || bottle->count() < count)
                throw Failure(name + " changed while it was being joined");
        }
        return *bottle;
    }
};

std::string type_name(int type) { return format::kTypes[static_cast<std::size_t>(type)].name; }

// The input as a piece not yet placed; a Failure unless it can be joined to
// `ref` (the first input): the same type, interval and unusable value.
Piece examine(const std::string &name, const Piece *ref) {
    const ViewedBottle b(name);
    b.require_reachable();
    Piece p{name, b.grid_for_times(), bot_type(b.get()), bot_usym(b.get()), 0, b.count(), nullptr};
    if (!ref) return p;
    const std::string versus = " (" + ref->name + " has ";
    if (p.type != ref->type)
        throw Failure(name + " holds samples of type " + type_name(p.type) + versus + type_name(ref->type) + ")");
    if (p.grid.stored_interval() != ref->grid.stored_interval())
        throw Failure(name + " has the interval " + value_text(p.grid.stored_interval()) + " s" + versus +
                      value_text(ref->grid.stored_interval()) + " s)");
    if (p.usym != ref->usym)
        throw Failure(name + " has the unusable value " + std::to_string(p.usym) + versus + std::to_string(ref->usym) +
                      ")");
    return p;
}

// Examines the inputs and places them on one grid, the earliest sample at
// output index 0 (the earliest begin time when none holds samples).
std::vector<Piece> place_inputs(const std::vector<std::string> &names) {
    std::vector<Piece> pieces;
    pieces.reserve(names.size());
    for (const std::string &name : names) {
        Piece p = examine(name, pieces.empty() ? nullptr : &pieces.front());
        if (pieces.empty() && !p.grid.forward())
            throw Failure(name + ": the interval is negative; bottles are joined only in time order");
        if (!pieces.empty()) {
            const Grid &ref = pieces.front().grid;
            if (!(std::fabs(ref.steps_to(p.grid.begin())) < 0x1p52))
                throw Failure(name + " begins too far from " + pieces.front().name + " to share a bottle with it");
            const auto offset = ref.offset_of(p.grid);
            if (!offset)
                throw Failure(name + " does not begin on the grid of " + pieces.front().name + ": its begin time is " +
                              interval_fraction_text(ref.misalignment(p.grid)) + " of an interval off");
            p.offset = *offset;
        }
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
    Joiner(std::vector<Piece> &pieces, const Grid &grid, bottle_hdr *out, const OutputTarget &target, Overlap overlap)
        : pieces_(pieces), grid_(grid), out_(out), target_(target),
          slot_(format::unusable_slot(bot_type(out), bot_usym(out))), merger_(slot_.bytes.data(), overlap),
          block_(static_cast<std::size_t>(kCopyBytes)), scratch_(block_.size()) {}

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
        for (Piece &p : pieces_) {
            const std::int64_t lo = std::max(b, p.offset), hi = std::min(b + n, p.offset + p.count);
            if (lo >= hi) continue;
            unsigned char *at = block_.data() + (lo - b) * static_cast<std::int64_t>(sizeof(U));
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
            if (hi == p.offset + p.count) p.bottle.reset();  // its last samples: close it
        }
        if (conflicting)
            throw Failure::hinted("the inputs overlap and differ, first at " + timetext::iso_time(grid_.time(conflict)) +
                                      " (in " + conflicting->name + ")",
                                  "; --overlap first or --overlap last says which input wins");
        core::write_at(out_, b, n, block_.data());
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

    static void read(Piece &p, std::int64_t lo, std::int64_t hi, unsigned char *to) {
        const ViewedBottle &b = p.open();
        core::read_at(b.get(), lo - p.offset, hi - lo, to);
        b.check_reads();
    }

    std::vector<Piece> &pieces_;
    const Grid &grid_;
    bottle_hdr *out_;
    const OutputTarget &target_;
    format::Slot slot_;
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

}  // namespace

void join(const std::string &dst, const std::vector<std::string> &srcs, const JoinRequest &request) {
    if (srcs.empty()) throw Failure("no bottles to join", kUsage);
    std::vector<InputFile> inputs;
    for (const std::string &name : srcs)
        if (auto f = input_file(name)) inputs.push_back(*f);
    OutputTarget target(dst, inputs, data_rules(request.output));
    std::vector<Piece> pieces = place_inputs(srcs);
    std::int64_t total = 0;
    for (const Piece &p : pieces)
        if (p.count > 0) total = std::max(total, p.offset + p.count);
    const Piece &ref = first_piece(pieces);
    const std::int64_t most = format::addressable_samples(ref.type, format::kHeaderSize);
    if (total > most)
        throw Failure("the inputs span " + std::to_string(total) + " samples; a bottle of type " + type_name(ref.type) +
                      " holds at most " + std::to_string(most));
    NewBottle joined(target.temp_path(), dst, ref.grid.begin(), ref.grid.stored_interval(), ref.type);
    joined.set_unusable(ref.usym);
    const Grid grid = ref.grid;
    with_sample_bits(ref.type, [&](auto tag) {
        Joiner<decltype(tag)>(pieces, grid, joined.get(), target, request.overlap).write(total);
    });
    joined.finish();
    target.commit();
}

}  // namespace zulu::archive
