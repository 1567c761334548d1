#include "grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "format.h"
#include "timetext.h"

namespace zulu::archive {
namespace {

// Indices stand in for times this far out (about 4.6e18 steps): no
// window of samples reaches them, and they stay clear of overflow.
constexpr double kFar = 0x1p62;
constexpr std::int64_t kFarIndex = std::int64_t{1} << 62;

// Rates above this have periods that a float does not tell apart from
// their neighbours' well enough to name one.
constexpr double kHighestRate = 1e9;

// Fractions of a unit are held over at most 10^9, so that every product
// of the clock's arithmetic fits 64 bits.
constexpr int kMostPlaces = 9;

constexpr std::int64_t power_of_ten(int n) {
    std::int64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// m * 10^n, or nothing where it does not fit int64.
std::optional<std::int64_t> scaled(std::int64_t m, int n) {
    for (; n > 0; --n)
        if (__builtin_mul_overflow(m, 10, &m)) return std::nullopt;
    return m;
}

// The decimal m * 10^-places as whole units and a fraction over a power of
// ten of at most kMostPlaces places (finer places rounded to them).
struct Split {
    std::int64_t whole, numerator, denominator;
    bool rounded;
};
Split split(std::int64_t m, int places) {
    if (places <= kMostPlaces) {
        const std::int64_t den = power_of_ten(places), whole = floor_div(m, den);
        return {whole, m - whole * den, den, false};
    }
    // Dropping the places beyond kMostPlaces, rounded to the nearest, moves
    // the value by at most half of 10^-kMostPlaces.
    const std::int64_t den = power_of_ten(kMostPlaces);
    const int dropped = places - kMostPlaces;
    std::int64_t kept = 0;
    if (dropped < 19) {
        const std::int64_t unit = power_of_ten(dropped), q = floor_div(m, unit);
        kept = q + (2 * (m - q * unit) >= unit ? 1 : 0);
    }
    const std::int64_t whole = floor_div(kept, den);
    return {whole, kept - whole * den, den, true};
}

template <class F>
Decimal decimal_of(F x) {
    char text[48];
    const char *end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific).ptr;
    const char *p = text;
    const bool negative = *p == '-';
    if (negative) ++p;
    std::int64_t m = 0;
    int after_point = 0;
    bool after = false;
    for (; p < end && *p != 'e'; ++p) {
        if (*p == '.') {
            after = true;
            continue;
        }
        m = m * 10 + (*p - '0');
        after_point += after ? 1 : 0;
    }
    int exponent = 0;
    if (p + 1 < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
    return {negative ? -m : m, exponent - after_point};
}

// The last k in [-kFarIndex, kFarIndex] for which holds(k), where holds is
// true up to some k and false after it, searched from a guess near the
// answer: outward in doubling steps, then by halves.
template <class Holds>
std::int64_t last_where(Holds holds, std::int64_t guess) {
    std::int64_t lo = guess, hi = guess;  // holds(lo), !holds(hi), once found
    std::int64_t step = 1;
    if (holds(guess)) {
        for (hi = guess + 1; hi < kFarIndex && holds(hi); step = std::min(step, kFarIndex / 2) * 2)
            lo = hi, hi = std::min(kFarIndex, hi + step);
        if (hi >= kFarIndex && holds(hi)) return kFarIndex;
    } else {
        for (lo = guess - 1; lo > -kFarIndex && !holds(lo); step = std::min(step, kFarIndex / 2) * 2)
            hi = lo, lo = std::max(-kFarIndex, lo - step);
        if (lo <= -kFarIndex && !holds(lo)) return -kFarIndex;
    }
    while (hi - lo > 1) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        (holds(mid) ? lo : hi) = mid;
    }
    return lo;
}

}  // namespace

Decimal shortest_decimal(double d) { return decimal_of(d); }
Decimal shortest_decimal(float f) { return decimal_of(f); }

UnitClock::UnitClock(Decimal begin, std::int64_t rate, Decimal step, int digits) {
    // The begin time in units: whole_ + frac_ / frac_den_.
    const int shift = begin.exponent + digits;
    if (shift >= 0) {
        const auto whole = scaled(begin.mantissa, shift);
        if (!whole) return;
        whole_ = *whole;
    } else {
        const Split b = split(begin.mantissa, -shift);
        whole_ = b.whole, frac_ = b.numerator, frac_den_ = b.denominator;
        rounded_ = b.rounded;
    }
    // The step in units: step_whole_ + step_rem_ / q_den_.
    if (rate > 0) {
        const std::int64_t per_second = power_of_ten(digits);
        step_whole_ = per_second / rate, step_rem_ = per_second % rate, q_den_ = rate;
    } else if (const int s = step.exponent + digits; s >= 0) {
        const auto whole = scaled(step.mantissa, s);
        huge_step_ = !whole;
        step_whole_ = whole.value_or(0);
    } else {
        const Split q = split(step.mantissa, -s);
        step_whole_ = q.whole, step_rem_ = q.numerator, q_den_ = q.denominator;
        rounded_ = rounded_ || q.rounded;
    }
    // The fraction of sample i is frac_ / frac_den_ + rem / q_den_, rem in
    // [0, q_den_); rounding adds 1 from where it reaches 1/2, 2 from 3/2:
    // from rem * 2 frac_den_ >= k L - 2 frac_ q_den_, L = frac_den_ q_den_
    // (at most 10^18, so 3L fits).
    const std::int64_t L = frac_den_ * q_den_, twice_frac = 2 * frac_ * q_den_;
    for (int k = 0; k < 2; ++k) {
        const std::int64_t need = (2 * k + 1) * L - twice_frac;
        round_at_[k] = need <= 0 ? 0 : (need + 2 * frac_den_ - 1) / (2 * frac_den_);
    }
    valid_ = true;
}

UnitClock::Parts UnitClock::parts(std::int64_t i) const {
    // i * step_rem_ / q_den_ without overflow: i = a q_den_ + b.
    const std::int64_t a = floor_div(i, q_den_), b = i - a * q_den_;
    const std::int64_t br = b * step_rem_;  // below 10^18
    const std::int64_t carry = a * step_rem_ + br / q_den_, rem = br % q_den_;
    std::int64_t whole = 0;
    const bool ok = !__builtin_mul_overflow(i, step_whole_, &whole) && !__builtin_add_overflow(whole, whole_, &whole) &&
                    !__builtin_add_overflow(whole, carry, &whole);
    return {ok, whole, rem};
}

std::optional<std::int64_t> UnitClock::at(std::int64_t i) const {
    if (!valid_ || (huge_step_ && i != 0)) return std::nullopt;
    const Parts p = parts(i);
    std::int64_t stamp = 0;
    if (!p.ok || __builtin_add_overflow(p.whole, rounding(p.rem), &stamp)) return std::nullopt;
    return stamp;
}

bool UnitClock::fill(std::int64_t first, std::int64_t n, std::int64_t *out) const {
    if (n <= 0) return true;
    // Stamps run monotonically, so the ends bound them all; they stay clear
    // of the int64 limits by the rounding's 2.
    constexpr std::int64_t kMost = INT64_MAX - 2;
    for (const std::int64_t i : {first, first + n - 1}) {
        const auto s = at(i);
        if (!s || *s > kMost || *s < -kMost) return false;
    }
    const Parts p = parts(first);
    if (step_rem_ == 0) {
        const std::int64_t base = p.whole + rounding(p.rem);
        for (std::int64_t k = 0; k < n; ++k) out[k] = base + k * step_whole_;
        return true;
    }
    std::int64_t whole = p.whole, rem = p.rem;
    for (std::int64_t k = 0; k < n; ++k) {
        out[k] = whole + rounding(rem);
        whole += step_whole_;
        rem += step_rem_;
        if (rem >= q_den_) {
            rem -= q_den_;
            ++whole;
        }
    }
    return true;
}

long double UnitClock::approximate(std::int64_t i) const {
    const Parts p = parts(i);
    return static_cast<long double>(p.whole) + static_cast<long double>(frac_) / static_cast<long double>(frac_den_) +
           static_cast<long double>(p.rem) / static_cast<long double>(q_den_);
}

std::int64_t whole_rate(float stored) {
    if (!(stored > 0) || !std::isfinite(stored)) return 0;
    const double rate = std::nearbyint(1.0 / static_cast<double>(stored));
    if (rate < 1 || rate > kHighestRate) return 0;
    if (format::narrow_to_float(1.0 / rate) != stored) return 0;
    return static_cast<std::int64_t>(rate);
}

double nominal_interval(float stored) {
    if (stored == 0) return 1;
    if (!std::isfinite(stored)) return stored;
    if (stored < 0) return -nominal_interval(-stored);  // a backward grid steps as far
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
      rate_(whole_rate(stored_interval)), count_(count < 0 ? 0 : count) {
    if (!usable()) return;
    begin_decimal_ = shortest_decimal(beg_);
    step_decimal_ = shortest_decimal(stored_);
    seconds_ = clock(kSecondDigits);
}

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
    if (seconds_.valid() && seconds_.at(i)) return static_cast<double>(seconds_.approximate(i));
    const auto n = static_cast<double>(i);  // beyond the clock's range: as near as doubles go
    return rate_ != 0 ? beg_ + n / static_cast<double>(rate_) : beg_ + n * step_;
}

UnitClock Grid::clock(int digits) const {
    if (!usable() || digits < 0 || digits > kNanoDigits) return {};
    return UnitClock(begin_decimal_, rate_, step_decimal_, digits);
}

std::optional<std::int64_t> Grid::stamp(std::int64_t i, int digits) const { return clock(digits).at(i); }

bool Grid::stamps(std::int64_t first, std::int64_t n, int digits, std::int64_t *out) const {
    return clock(digits).fill(first, n, out);
}

std::optional<std::int64_t> Grid::last_stamp_at_or_before(std::int64_t t, int digits) const {
    const UnitClock c = clock(digits);
    if (!forward() || !c.at(0)) return std::nullopt;
    // From the nearest index by doubles, stepped to the exact answer.
    double per_second = 1;
    for (int d = 0; d < digits; ++d) per_second *= 10;
    const double q = std::floor(steps_to(static_cast<double>(t) / per_second));
    auto i = static_cast<std::int64_t>(std::clamp(q, -kFar, kFar));
    const auto at_or_before = [&](std::int64_t k) {
        const auto s = c.at(k);
        return s ? *s <= t : k < 0;  // past the stamps' range: before them, or after
    };
    return last_where(at_or_before, i);
}

std::optional<std::int64_t> Grid::first_stamp_at_or_after(std::int64_t t, int digits) const {
    if (t == INT64_MIN) return -kFarIndex;
    const auto before = last_stamp_at_or_before(t - 1, digits);
    if (!before) return std::nullopt;
    return *before + 1;
}

bool Grid::continues(const Grid &other, std::int64_t offset) const {
    if (!usable() || !other.usable() || stored_ != other.stored_) return false;
    // other's begin - this begin = offset steps, in integers: both begin
    // times over 10^e, e the smaller exponent.
    const Decimal a = begin_decimal_, b = other.begin_decimal_;
    const int e = std::min(a.exponent, b.exponent);
    const auto ma = scaled(a.mantissa, a.exponent - e), mb = scaled(b.mantissa, b.exponent - e);
    std::int64_t diff = 0;  // (b - a) * 10^-e
    if (!ma || !mb || __builtin_sub_overflow(*mb, *ma, &diff)) return false;
    if (rate_ != 0) {
        // diff * 10^e == offset / rate, as diff * rate * 10^e == offset.
        std::int64_t lhs = 0;
        if (__builtin_mul_overflow(diff, rate_, &lhs)) return false;
        const auto l = scaled(lhs, std::max(e, 0)), r = scaled(offset, std::max(-e, 0));
        return l && r && *l == *r;
    }
    // diff * 10^e == offset * step.mantissa * 10^step.exponent.
    std::int64_t rhs = 0;
    if (__builtin_mul_overflow(offset, step_decimal_.mantissa, &rhs)) return false;
    const int f = std::min(e, step_decimal_.exponent);
    const auto l = scaled(diff, e - f), r = scaled(rhs, step_decimal_.exponent - f);
    return l && r && *l == *r;
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

Grid Grid::mirrored() const { return Grid(-beg_, -stored_, count_); }

std::optional<std::int64_t> Grid::offset_of(const Grid &other) const {
    constexpr double kWhole = 0x1p52;  // whole numbers of steps are exact below it
    if (!forward() || !other.forward() || stored_ != other.stored_) return std::nullopt;
    // The same begin is index 0 whatever the step: where the step is below
    // the clock's resolution, time(0) is the begin rounded to it.
    if (other.beg_ == beg_) return 0;
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

std::optional<std::int64_t> Grid::nearest_index(double t) const {
    const double q = steps_to(t);
    if (!forward() || !(std::fabs(q) < 0x1p52)) return std::nullopt;
    auto k = static_cast<std::int64_t>(std::floor(q));
    // The quotient may be off where it rounds; the times decide.
    if (time(k + 1) - t <= t - time(k)) ++k;
    return k;
}

namespace {

// Whether a * 10^x == b * 10^y, exactly; false where either side does not
// fit int64 at the smaller exponent.
bool equal_decimals(std::int64_t a, int x, std::int64_t b, int y) {
    const int e = std::min(x, y);
    if (x - e > 36 || y - e > 36) return false;
    const auto l = scaled(a, x - e), r = scaled(b, y - e);
    return l && r && *l == *r;
}

}  // namespace

std::optional<float> Grid::scaled_interval(std::int64_t factor) const {
    if (!forward() || factor < 1) return std::nullopt;
    const float f = format::narrow_to_float(static_cast<double>(factor) * step_);
    if (!std::isfinite(f) || !(f > 0)) return std::nullopt;
    // The nominal interval of f against factor times this one's, in
    // integers: each is 1 / rate or a decimal m * 10^e.
    const std::int64_t r = whole_rate(f);
    const Decimal d = shortest_decimal(f);
    std::int64_t lhs = 0;
    bool exact = false;
    if (rate_ != 0 && r != 0) {  // 1 / r == factor / rate_
        exact = !__builtin_mul_overflow(factor, r, &lhs) && lhs == rate_;
    } else if (rate_ != 0) {  // d == factor / rate_
        exact = !__builtin_mul_overflow(d.mantissa, rate_, &lhs) && equal_decimals(lhs, d.exponent, factor, 0);
    } else if (r != 0) {  // 1 / r == factor * step
        exact = !__builtin_mul_overflow(factor, step_decimal_.mantissa, &lhs) &&
                !__builtin_mul_overflow(lhs, r, &lhs) && equal_decimals(lhs, step_decimal_.exponent, 1, 0);
    } else {  // d == factor * step
        exact = !__builtin_mul_overflow(factor, step_decimal_.mantissa, &lhs) &&
                equal_decimals(d.mantissa, d.exponent, lhs, step_decimal_.exponent);
    }
    if (!exact) return std::nullopt;
    return f;
}

namespace {

// The magnitude of v, which -v may not hold.
std::uint64_t magnitude(std::int64_t v) { return v < 0 ? std::uint64_t(-(v + 1)) + 1 : std::uint64_t(v); }

// m * 10^e as decimal text without an exponent ("0.01", "60", "2.5").
std::string decimal_text(std::int64_t m, int e) {
    std::string digits = std::to_string(magnitude(m));
    if (e >= 0) {
        if (m != 0) digits.append(static_cast<std::size_t>(std::min(e, 400)), '0');
    } else {
        const auto places = static_cast<std::size_t>(-e);
        if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
        digits.insert(digits.end() - static_cast<std::ptrdiff_t>(places), '.');
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    if (m < 0) digits.insert(digits.begin(), '-');
    return digits;
}

}  // namespace

std::string interval_text(float stored) {
    if (!std::isfinite(stored)) return std::string(std::isnan(stored) ? "nan" : stored > 0 ? "inf" : "-inf") + " s";
    if (stored < 0) return std::string(1, '-').append(interval_text(-stored));
    if (stored == 0) return "0 s";
    if (const std::int64_t rate = whole_rate(stored)) {
        // The period as a decimal where it has one of at most nine places.
        std::int64_t places = 0, scale = 1;
        while (places < 9 && scale % rate != 0) ++places, scale *= 10;
        const std::string period = scale % rate == 0 ? decimal_text(scale / rate, static_cast<int>(-places))
                                                     : std::string("1/").append(std::to_string(rate));
        return period + " s, " + std::to_string(rate) + " Hz";
    }
    const Decimal d = shortest_decimal(stored);
    return decimal_text(d.mantissa, d.exponent) + " s";
}

std::string duration_text(std::int64_t ns) {
    struct Unit {
        std::int64_t size;
        int places;
        const char *name;
    };
    constexpr Unit kUnits[] = {{1000000000, 9, "s"}, {1000000, 6, "ms"}, {1000, 3, "us"}, {1, 0, "ns"}};
    for (const Unit &u : kUnits)
        if (magnitude(ns) >= static_cast<std::uint64_t>(u.size) || u.size == 1) {
            const std::uint64_t whole = magnitude(ns) / static_cast<std::uint64_t>(u.size),
                                part = magnitude(ns) % static_cast<std::uint64_t>(u.size);
            std::string text = ns < 0 ? "-" : "";
            text += std::to_string(whole);
            if (part != 0) {
                std::string fraction = std::to_string(part);
                fraction.insert(0, static_cast<std::size_t>(u.places) - fraction.size(), '0');
                while (fraction.back() == '0') fraction.pop_back();
                text += "." + fraction;
            }
            return text + " " + u.name;
        }
    return "";
}

std::optional<double> read_duration(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    double scale = 1;
    for (const auto &[unit, factor] : {std::pair{"ns", 1e-9}, {"us", 1e-6}, {"ms", 1e-3}, {"s", 1.0}}) {
        const std::string_view u(unit);
        if (text.size() > u.size() && text.ends_with(u)) {
            text.remove_suffix(u.size());
            scale = factor;
            break;
        }
    }
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v < 0)
        return std::nullopt;
    return v * scale;
}

std::string sample_time_text(const Grid &grid, std::int64_t i) {
    if (const auto ms = grid.stamp(i, kMilliDigits)) return timetext::iso_time_ms(*ms);
    return timetext::iso_time(grid.time(i));
}

}  // namespace zulu::archive
