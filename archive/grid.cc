#include "grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "format.h"

namespace zulu::archive {
namespace {

// Indices stand in for times this far out (about 4.6e18 steps): no
// window of samples reaches them, and they stay clear of overflow.
constexpr double kFar = 0x1p62;
constexpr std::int64_t kFarIndex = std::int64_t{1} << 62;

// Rates above this have periods that a float does not tell apart from
// their neighbours' well enough to name one.
constexpr double kHighestRate = 1e9;

}  // namespace

std::int64_t whole_rate(float stored) {
    if (!(stored > 0) || !std::isfinite(stored)) return 0;
    const double rate = std::nearbyint(1.0 / static_cast<double>(stored));
    if (rate < 1 || rate > kHighestRate) return 0;
    if (format::narrow_to_float(1.0 / rate) != stored) return 0;
    return static_cast<std::int64_t>(rate);
}

double nominal_interval(float stored) {
    if (stored == 0) return 1;
    if (!std::isfinite(stored) || stored < 0) return stored;
    if (const std::int64_t rate = whole_rate(stored)) return 1.0 / static_cast<double>(rate);
    // The shortest decimal that reads back as the float, read as a double.
    char text[32];
    const char *end = std::to_chars(text, text + sizeof text, stored).ptr;
    double d = stored;
    std::from_chars(text, end, d);
    return d;
}

Grid::Grid(double beg, float stored_interval, std::int64_t count)
    : beg_(beg), stored_(stored_interval), step_(nominal_interval(stored_interval)),
      rate_(whole_rate(stored_interval)), count_(count < 0 ? 0 : count) {}

Grid Grid::of(const bottle_hdr *b) { return Grid(b->beg, b->ivl, b->nsam); }

bool Grid::usable() const { return std::isfinite(beg_) && std::isfinite(step_) && stored_ != 0; }

std::string Grid::problem() const {
    if (!std::isfinite(beg_)) return "the begin time is not a finite number";
    if (!std::isfinite(step_)) return "the interval is not a finite number";
    if (stored_ == 0) return "the interval is 0";
    if (stored_ < 0) return "the interval is negative: sample times run backward";
    return "";
}

double Grid::time(std::int64_t i) const {
    const auto n = static_cast<double>(i);
    return rate_ != 0 ? beg_ + n / static_cast<double>(rate_) : beg_ + n * step_;
}

double Grid::tolerance() const { return usable() ? std::fmin(kLabelTolerance, std::fabs(step_) / 4) : 0; }

double Grid::steps_to(double t) const {
    return rate_ != 0 ? (t - beg_) * static_cast<double>(rate_) : (t - beg_) / step_;
}

std::optional<std::int64_t> Grid::first_at_or_after(double t) const {
    const double target = t - tolerance();
    const double q = steps_to(target);
    if (!forward() || std::isnan(q)) return std::nullopt;
    if (q >= kFar) return kFarIndex;
    if (q <= -kFar) return -kFarIndex;
    // The quotient may be off by a step where it rounds; the times decide.
    auto i = static_cast<std::int64_t>(std::ceil(q));
    if (time(i - 1) >= target) --i;
    if (time(i) < target) ++i;
    return i;
}

std::optional<std::int64_t> Grid::last_at_or_before(double t) const {
    const double limit = t + tolerance();
    const double q = steps_to(limit);
    if (!forward() || std::isnan(q)) return std::nullopt;
    if (q >= kFar) return kFarIndex;
    if (q <= -kFar) return -kFarIndex;
    auto i = static_cast<std::int64_t>(std::floor(q));
    if (time(i + 1) < limit) ++i;
    if (time(i) >= limit) --i;
    return i;
}

std::optional<std::int64_t> Grid::index_at(double t) const {
    const auto i = first_at_or_after(t);
    if (!i || *i == kFarIndex || *i == -kFarIndex || !(time(*i) < t + tolerance())) return std::nullopt;
    return i;
}

std::pair<std::int64_t, std::int64_t> Grid::select(std::optional<double> from, std::optional<double> to,
                                                  bool to_included) const {
    std::int64_t first = 0, end = count_;
    if ((from || to) && !usable()) return {0, 0};
    if (!forward() && (from || to)) {
        // Times from `from` to `to` are the negated ones from -to to -from;
        // those before `to` are the negated ones after -to.
        const Grid m = mirrored();
        std::optional<double> m_from, m_to;
        if (to) m_from = -*to;
        if (from) m_to = -*from;
        auto range = m.select(m_from, m_to, true);
        if (to && !to_included) {
            const auto at = m.index_at(*m_from);
            if (at && *at == range.first && range.first < range.second) ++range.first;
        }
        return range;
    }
    if (from) first = std::clamp<std::int64_t>(first_at_or_after(*from).value_or(count_), 0, count_);
    if (to) {
        // The end: one past the last sample at or before `to`, or the first
        // at or after it.
        const auto stop = to_included ? last_at_or_before(*to) : first_at_or_after(*to);
        end = std::clamp<std::int64_t>(stop ? *stop + (to_included ? 1 : 0) : 0, 0, count_);
    }
    return {first, std::max(first, end)};
}

Grid Grid::mirrored() const {
    Grid m = *this;
    m.beg_ = -beg_;
    m.stored_ = -stored_;
    m.step_ = -step_;
    return m;
}

std::optional<std::int64_t> Grid::offset_of(const Grid &other) const {
    constexpr double kWhole = 0x1p52;  // whole numbers of steps are exact below it
    if (!forward() || !other.forward() || stored_ != other.stored_) return std::nullopt;
    const double q = steps_to(other.beg_);
    if (!(std::fabs(q) < kWhole)) return std::nullopt;
    const auto k = static_cast<std::int64_t>(std::nearbyint(q));
    if (!(std::fabs(other.beg_ - time(k)) < tolerance())) return std::nullopt;
    return k;
}

double Grid::misalignment(const Grid &other) const {
    const double q = steps_to(other.beg_);
    return std::fabs(q - std::nearbyint(q));
}

}  // namespace zulu::archive
