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

std::string interval_fraction_text(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", fraction);
    return text;
}

}  // namespace zulu::archive
