#include "samples.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>


namespace zulu::archive {
namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return trim(s.substr(1, s.size() - 2));
    return s;
}

bool is_nan_word(std::string_view s) {
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
    if (s.size() != 3) return false;
    return (s[0] | 0x20) == 'n' && (s[1] | 0x20) == 'a' && (s[2] | 0x20) == 'n';
}

// The first i in [0, n) for which holds(i) is false, where holds is true
// on a prefix of [0, n) and false after it.
template <class Pred>
std::int64_t partition_point(std::int64_t n, Pred holds) {
    std::int64_t lo = 0, hi = n;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (holds(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

}  // namespace

template <class T>
ValueText read_value(std::string_view field, T unusable, T &out) {
    field = unquote(trim(field));
    if (field.empty() || is_nan_word(field)) return ValueText::kUnusable;
    if (field.size() > 1 && field[0] == '+' && field[1] != '-') field.remove_prefix(1);
    const char *end = field.data() + field.size();
    if constexpr (std::is_integral_v<T>) {
        std::int64_t v = 0;
        const auto [ptr, ec] = std::from_chars(field.data(), end, v);
        if (ec == std::errc::invalid_argument || ptr != end) return ValueText::kNotNumber;
        if (ec != std::errc() || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
            return ValueText::kOutOfRange;
        out = static_cast<T>(v);
    } else {
        const auto [ptr, ec] = std::from_chars(field.data(), end, out);
        if (ec == std::errc::invalid_argument || ptr != end) return ValueText::kNotNumber;
        if (ec != std::errc()) return ValueText::kOutOfRange;
        if (std::isnan(out)) return ValueText::kUnusable;
    }
    return out == unusable ? ValueText::kIsUnusableValue : ValueText::kValue;
}

template ValueText read_value(std::string_view, std::int16_t, std::int16_t &);
template ValueText read_value(std::string_view, std::int32_t, std::int32_t &);
template ValueText read_value(std::string_view, float, float &);
template ValueText read_value(std::string_view, double, double &);

bool Timeline::finite() const { return std::isfinite(beg) && std::isfinite(step); }

std::pair<std::int64_t, std::int64_t> Timeline::select(std::optional<double> from, std::optional<double> to) const {
    std::int64_t first = 0, end = count;
    if (step > 0) {
        if (from) first = partition_point(count, [&](std::int64_t i) { return time(i) < *from; });
        if (to) end = partition_point(count, [&](std::int64_t i) { return time(i) < *to; });
    } else {
        if (from) end = partition_point(count, [&](std::int64_t i) { return time(i) >= *from; });
        if (to) first = partition_point(count, [&](std::int64_t i) { return time(i) >= *to; });
    }
    return {first, std::max(first, end)};
}

Timeline timeline_of(bottle_hdr *h) {
    const double ivl = bot_ivl(h);
    return Timeline{bot_beg(h), ivl == 0 ? 1.0 : ivl, std::max(bot_nsam(h), 0)};
}

double time_resolution(double a, double b) {
    constexpr double kUnits = 4;
    const double larger = std::max(std::fabs(a), std::fabs(b));
    return kUnits * (std::nextafter(larger, std::numeric_limits<double>::infinity()) - larger);
}

std::string interval_fraction_text(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", fraction);
    return text;
}

}  // namespace zulu::archive
